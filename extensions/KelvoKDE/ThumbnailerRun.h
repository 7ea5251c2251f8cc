// Runs kelvo-thumbnailer for one thumbnail on behalf of a host that must survive whatever the
// file does: KDE's thumbnail worker loads its plugins unsandboxed, in one process that also
// serves every other file in the folder, so the model is read in a child process instead.
// A hostile file can then cost a child, never the worker.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace kelvo {

struct ThumbnailerRun {
    std::string thumbnailer;  // the kelvo-thumbnailer executable, an absolute path
    std::string input;        // the model file, a local path
    std::string output;       // where the PNG goes; nothing is there unless the run succeeds
    int pixels = 256;         // each side of the square thumbnail, 1 to 4096
    // The limits the thumbnailer sets on itself (--time-limit, --memory-limit), the same
    // defaults GNOME and Thunar get. Both must be greater than 0: a host without a limit of
    // its own must never wait forever.
    double timeLimitSeconds = 20;
    int memoryLimitMiB = 2048;
};

// How long the host waits before it kills the child: the thumbnailer's own limit ends a slow
// file with a message, so this only has to catch a child that cannot act on it (stopped,
// wedged in the kernel). A quarter more, and at least two seconds, covers start and exit.
std::chrono::milliseconds thumbnailerDeadline(double timeLimitSeconds);

// Starts the thumbnailer in a process group of its own (so that anything it starts goes with
// it), waits for it until thumbnailerDeadline() and kills the whole group when it is late.
// Nothing when it exited with status 0; otherwise why not, in one line: its own error line
// from standard error, or what became of the process.
std::optional<std::string> runThumbnailer(const ThumbnailerRun& run);

}  // namespace kelvo
