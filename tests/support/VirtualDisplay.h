// Test-only: a private X server (Xvfb, with Mesa's software OpenGL) for tests that need a
// real display, child processes to run on it, and screenshots of it. Test programs use
// DisplayTestMain.h as their main(); the benchmarks use this header alone.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Imaging/RGBAImage.h"

extern char** environ;

namespace kelvo::test {

// A child process, killed when it is still running at the end of its scope.
class ChildProcess {
public:
    // `environment` changes this process's (an empty value removes a variable); `fd3`, when
    // given, becomes the child's file descriptor 3.
    ChildProcess(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment = {},
                 const std::string& stdoutFile = "/dev/null",
                 const std::string& stderrFile = "/dev/null", int fd3 = -1) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            if (!environment.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
        }
        for (const auto& [name, value] : environment) {
            if (!value.empty()) env.push_back(name + "=" + value);
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        for (auto [fd, file] : {std::pair{1, &stdoutFile}, std::pair{2, &stderrFile}})
            posix_spawn_file_actions_addopen(&actions, fd, file->c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd3 >= 0) posix_spawn_file_actions_adddup2(&actions, fd3, 3);
        std::vector<char*> argv = pointers(arguments), envp = pointers(env);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The exit status once the process has ended within `timeout` (-1 for a signal), or
    // nothing when it is still running.
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        for (auto end = std::chrono::steady_clock::now() + timeout; !status_ && pid_ > 0;) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            } else if (std::chrono::steady_clock::now() > end) {
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        return status_;
    }
    void terminate() {
        if (pid_ > 0 && !status_) ::kill(pid_, SIGTERM);
    }

private:
    static std::vector<char*> pointers(const std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (const auto& s : strings)
            result.push_back(const_cast<char*>(s.c_str()));
        result.push_back(nullptr);
        return result;
    }
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The exit status of a command run to its end (-1 when it could not run or was killed).
inline int runCommand(const std::vector<std::string>& arguments,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return ChildProcess(arguments).wait(timeout).value_or(-1);
}

inline bool programExists(const std::string& name) {
    return runCommand({"sh", "-c", "command -v " + name}) == 0;
}

class VirtualDisplay {
public:
    // Starts Xvfb with one 24-bit screen on a free display number, which it writes to fd 3;
    // false when it is not installed or does not come up.
    bool start(int width = 1280, int height = 1024) {
        int fds[2];
        if (!programExists("Xvfb") || ::pipe(fds) != 0) return false;
        std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        server_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten",
                                     "tcp", "-noreset"},
            std::map<std::string, std::string>{}, "/dev/null", "/dev/null", fds[1]);
        ::close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (server_->started() && ::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 &&
               c != '\n')
            number += c;
        ::close(fds[0]);
        name_ = ":" + number;
        return !number.empty();
    }
    ~VirtualDisplay() {
        if (server_) server_->terminate(), server_->wait(std::chrono::seconds(5));
    }
    const std::string& name() const { return name_; }

private:
    std::unique_ptr<ChildProcess> server_;
    std::string name_;
};

// Points this process (and the children it starts) at `display`, with GTK on X11, software
// OpenGL, no accessibility bus, in-memory settings and no session bus to start.
inline void useDisplay(const std::string& display) {
    ::setenv("DISPLAY", display.c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("GDK_BACKEND", "x11", 1);
    ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    ::setenv("GTK_A11Y", "none", 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent-kelvo-test-bus", 1);
    ::setenv("NO_AT_BRIDGE", "1", 1);
}

// A screenshot of the whole screen of `display`, taken with xwd. Xvfb's 24-bit screens come
// as little-endian 0xRRGGBB pixels of 3 or 4 bytes; nothing when xwd sends anything else.
inline std::optional<RGBAImage> screenshot(const std::string& display) {
    FILE* pipe = ::popen(("xwd -root -silent -display " + display).c_str(), "r");
    if (!pipe) return std::nullopt;
    std::vector<std::uint8_t> data;
    std::uint8_t buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        data.insert(data.end(), buffer, buffer + n);
    if (::pclose(pipe) != 0 || data.size() < 100) return std::nullopt;
    auto field = [&](int i) {
        const std::uint8_t* p = &data[4 * i];
        return std::uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3];
    };
    size_t width = field(4), height = field(5), bytesPerLine = field(12), bytes = field(11) / 8;
    size_t start = field(0) + 12 * size_t{field(19)};
    if (field(2) != 2 || field(7) != 0 || (field(11) != 24 && field(11) != 32) ||
        field(14) != 0xFF0000 || field(16) != 0xFF || width > 16384 ||
        start + bytesPerLine * height > data.size()) {
        return std::nullopt;
    }
    RGBAImage image(static_cast<int>(width), static_cast<int>(height));
    for (size_t y = 0; y < height; ++y) {
        for (size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = &data[start + y * bytesPerLine + bytes * x];
            std::uint8_t* out = image.pixel(static_cast<int>(x), static_cast<int>(y));
            out[0] = p[2], out[1] = p[1], out[2] = p[0], out[3] = 255;
        }
    }
    return image;
}

}  // namespace kelvo::test
