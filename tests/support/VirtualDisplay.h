// Test-only: a private X server (Xvfb, with Mesa's software OpenGL) for tests that need a
// real display, child processes to run on it, and screenshots of it.
//
// Xvfb takes a free display number (other programs may be running theirs). Test programs
// use DisplayTestMain.h as their main(); the benchmarks use this header alone.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Imaging/RGBAImage.h"

extern char** environ;

namespace kelvo::test {

// The environment of this process with `changes` applied; an empty value removes a variable.
inline std::vector<std::string> environmentWith(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> result;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (!changes.count(name)) result.push_back(entry);
    }
    for (const auto& [name, value] : changes) {
        if (!value.empty()) result.push_back(name + "=" + value);
    }
    return result;
}

// A child process: its arguments, environment and files for its output.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment = {},
                 const std::string& stdoutFile = "/dev/null",
                 const std::string& stderrFile = "/dev/null") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        for (const auto& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> env = environmentWith(environment);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
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
    // The exit status once the process has ended within `timeout` (-1 for a signal), or
    // nothing when it is still running.
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        auto end = std::chrono::steady_clock::now() + timeout;
        while (!status_ && pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() > end) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status_;
    }
    void terminate() {
        if (pid_ > 0 && !status_) ::kill(pid_, SIGTERM);
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The exit status of a command run to its end (-1 when it could not run or was killed).
inline int runCommand(const std::vector<std::string>& arguments,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    ChildProcess child(arguments);
    return child.wait(timeout).value_or(-1);
}

inline bool programExists(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string candidate = path.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

class VirtualDisplay {
public:
    // Starts Xvfb with one 24-bit screen; false when it is not installed or does not come up.
    bool start(int width = 1280, int height = 1024) {
        if (!programExists("Xvfb")) return false;
        int fds[2];
        if (::pipe(fds) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        // -displayfd: the server picks a free display number and writes it to fd 3.
        const char* argv[] = {"Xvfb",         "-displayfd", "3",   "-screen",  "0",
                              screen.c_str(), "-nolisten",  "tcp", "-noreset", nullptr};
        int spawned =
            posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (spawned != 0) {
            ::close(fds[0]);
            pid_ = -1;
            return false;
        }
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty()) return false;
        name_ = ":" + number;
        return true;
    }
    ~VirtualDisplay() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
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

// A screenshot of the whole screen of `display`, taken with xwd and decoded here (ZPixmap,
// 24 or 32 bits per pixel, as Xvfb's screens are). Nothing when xwd fails.
inline std::optional<RGBAImage> screenshot(const std::string& display) {
    std::string command = "xwd -root -silent -display " + display;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::vector<std::uint8_t> data;
    std::uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    if (::pclose(pipe) != 0 || data.size() < 100) return std::nullopt;
    auto field = [&](int i) {
        const std::uint8_t* p = data.data() + 4 * i;
        return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    };
    std::uint32_t headerSize = field(0), format = field(2), width = field(4), height = field(5),
                  byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12),
                  redMask = field(14), greenMask = field(15), blueMask = field(16),
                  colours = field(19);
    size_t pixels = headerSize + 12 * static_cast<size_t>(colours);
    if (format != 2 || (bitsPerPixel != 32 && bitsPerPixel != 24) || width > 16384 ||
        height > 16384 || pixels + static_cast<size_t>(bytesPerLine) * height > data.size()) {
        return std::nullopt;
    }
    auto shift = [](std::uint32_t mask) {
        int s = 0;
        while (mask && !(mask & 1))
            mask >>= 1, ++s;
        return s;
    };
    RGBAImage image(static_cast<int>(width), static_cast<int>(height));
    int bytes = static_cast<int>(bitsPerPixel / 8);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p =
                data.data() + pixels + static_cast<size_t>(y) * bytesPerLine + x * bytes;
            std::uint32_t v = 0;
            for (int k = 0; k < bytes; ++k) {
                v |= static_cast<std::uint32_t>(p[k])
                     << (byteOrder == 0 ? 8 * k : 8 * (bytes - 1 - k));
            }
            std::uint8_t* out = image.pixel(static_cast<int>(x), static_cast<int>(y));
            out[0] = static_cast<std::uint8_t>((v & redMask) >> shift(redMask));
            out[1] = static_cast<std::uint8_t>((v & greenMask) >> shift(greenMask));
            out[2] = static_cast<std::uint8_t>((v & blueMask) >> shift(blueMask));
            out[3] = 255;
        }
    }
    return image;
}

}  // namespace kelvo::test
