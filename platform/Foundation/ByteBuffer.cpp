#include "platform/Foundation/ByteBuffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace kelvo {

void adviseHugePages(void* p, std::size_t bytes) noexcept {
    constexpr std::uintptr_t hugePage = std::uintptr_t{2} << 20;
    std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(p) + hugePage - 1) & ~(hugePage - 1);
    std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(hugePage - 1);
    // Only advice: where the kernel has no huge pages to give, nothing changes.
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

}  // namespace kelvo
