// Peak resident memory of one run in a process of its own: the benchmark program starts
// itself again with the given arguments, and the child prints its own high-water mark (a
// spawned child's rusage would also count the parent's pages it started with).
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace kelvo::bench {

// This process's high-water mark of resident memory, in KiB.
inline long ownPeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Runs this program again with `arguments`; what it prints (its ownPeakKiB) when it exits
// with status 0, else -1.
inline long childPeakKiB(std::vector<std::string> arguments) {
    char self[] = "/proc/self/exe";
    std::vector<char*> argv{self};
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    char text[64] = {};
    long got = 0;
    for (ssize_t n; started && (n = ::read(out[0], text + got, sizeof text - 1 - got)) > 0;)
        got += n;
    ::close(out[0]);
    int status = 0;
    if (started) ::waitpid(pid, &status, 0);
    return started && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::atol(text) : -1;
}

}  // namespace kelvo::bench
