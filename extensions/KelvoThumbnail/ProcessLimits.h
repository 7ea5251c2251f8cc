// Limits a thumbnailer sets on itself, since no file manager sets any: GNOME waits for it
// forever on its one thumbnail thread, tumbler likewise, and neither caps its memory. The
// time limit and crashes are the broker's business (ThumbnailWorker.h); memory is capped in
// the worker itself.
#pragma once

#include <cstdint>

namespace kelvo {

// Caps the memory the process can write to (heap, anonymous mappings, thread stacks; not
// code or read-only mappings) at `bytes`, through RLIMIT_DATA: unlike RLIMIT_AS it does not
// count address space that the allocator merely reserves, so the budget means what it says.
// Allocations beyond it fail, which C++ code sees as std::bad_alloc. A lower limit that is
// already in force stays. False when the limit could not be set, and always in builds with
// AddressSanitizer, whose shadow memory alone exceeds any budget.
bool limitMemory(std::uint64_t bytes);

}  // namespace kelvo
