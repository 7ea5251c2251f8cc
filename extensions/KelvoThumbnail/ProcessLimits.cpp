#include "extensions/KelvoThumbnail/ProcessLimits.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define KELVO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVO_ADDRESS_SANITIZER 1
#endif
#endif

namespace kelvo {

namespace {

// Read by the signal handler: written once before the timer is armed.
char expiryMessage[4096];
size_t expiryMessageLength = 0;
int expiryStatus = 1;

void onWallClockExpired(int) {
    // Only async-signal-safe calls: the time may run out inside malloc.
    ssize_t ignored = ::write(STDERR_FILENO, expiryMessage, expiryMessageLength);
    (void)ignored;
    ::_exit(expiryStatus);
}

#ifndef KELVO_ADDRESS_SANITIZER
// Likewise for a crash, which may come from a corrupted heap or an exhausted stack: the
// handler runs on a stack of its own and touches nothing but these.
char crashMessage[4096];
size_t crashMessageLength = 0;
int crashStatus = 1;
alignas(16) char crashStack[64 * 1024];

void onCrash(int) {
    ssize_t ignored = ::write(STDERR_FILENO, crashMessage, crashMessageLength);
    (void)ignored;
    ::_exit(crashStatus);
}
#endif

}  // namespace

bool limitMemory(std::uint64_t bytes) {
#ifdef KELVO_ADDRESS_SANITIZER
    (void)bytes;
    return false;
#else
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_DATA, &limit) != 0) return false;
    // Never raise a limit someone else set lower.
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= bytes) return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < bytes) bytes = limit.rlim_max;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    return ::setrlimit(RLIMIT_DATA, &limit) == 0;
#endif
}

void armWallClockLimit(double seconds, std::string message, int exitStatus) {
    expiryMessageLength = std::min(message.size(), sizeof expiryMessage);
    std::memcpy(expiryMessage, message.data(), expiryMessageLength);
    expiryStatus = exitStatus;

    struct sigaction action {};
    action.sa_handler = onWallClockExpired;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);

    struct itimerval timer {};
    const double whole = std::floor(seconds);
    timer.it_value.tv_sec = static_cast<time_t>(whole);
    timer.it_value.tv_usec = static_cast<suseconds_t>((seconds - whole) * 1e6);
    if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0) timer.it_value.tv_usec = 1;
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

bool exitOnCrash(std::string message, int exitStatus) {
#ifdef KELVO_ADDRESS_SANITIZER
    (void)message;
    (void)exitStatus;
    return false;
#else
    crashMessageLength = std::min(message.size(), sizeof crashMessage);
    std::memcpy(crashMessage, message.data(), crashMessageLength);
    crashStatus = exitStatus;
    stack_t stack{};
    stack.ss_sp = crashStack;
    stack.ss_size = sizeof crashStack;
    if (::sigaltstack(&stack, nullptr) != 0) return false;
    struct sigaction action {};
    action.sa_handler = onCrash;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    bool all = true;
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        all &= ::sigaction(signal, &action, nullptr) == 0;
    }
    return all;
#endif
}

void disarmWallClockLimit() {
    struct itimerval off {};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    // Ignoring the signal also discards one that was raised just before the timer stopped.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGALRM, &ignore, nullptr);
}

}  // namespace kelvo
