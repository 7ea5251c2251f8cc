// Limits a thumbnailer sets on itself, since no file manager sets any: GNOME waits for it
// forever on its one thumbnail thread, tumbler likewise, and neither caps its memory.
//
// Both are process-wide and meant for a process that makes one thumbnail and exits.
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {

// Caps the memory the process can write to (heap, anonymous mappings, thread stacks; not
// code or read-only mappings) at `bytes`, through RLIMIT_DATA: unlike RLIMIT_AS it does not
// count address space that the allocator merely reserves, so the budget means what it says.
// Allocations beyond it fail, which C++ code sees as std::bad_alloc. A lower limit that is
// already in force stays. False when the limit could not be set, and always in builds with
// AddressSanitizer, whose shadow memory alone exceeds any budget.
bool limitMemory(std::uint64_t bytes);

// From now on, after `seconds` of wall-clock time (> 0) the process writes `message` to
// standard error and ends at once with `exitStatus`, whatever its threads are doing. Call
// once; `message` is copied first, since nothing may be allocated when the time is up.
void armWallClockLimit(double seconds, std::string message, int exitStatus);

// From now on, a crash (segmentation fault, bus error, abort, illegal instruction,
// arithmetic fault), such as a model import library may suffer on a damaged file, writes
// `message` to standard error and ends the process at once with `exitStatus`, instead of
// leaving a core dump and a signal the caller cannot explain. False when the handlers could
// not be set, and always in builds with AddressSanitizer, which reports crashes itself.
bool exitOnCrash(std::string message, int exitStatus);

// Cancels the limit: the work that follows is short and must not be cut off halfway.
void disarmWallClockLimit();

}  // namespace kelvo
