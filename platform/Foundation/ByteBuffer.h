// Byte buffers shared by every layer: file contents, geometry sources, index data.
//
// The allocator leaves new elements default-initialised (for bytes: not written), so
// resizing a buffer that is about to be overwritten in full costs no memset. A buffer
// that must start zero-filled is made with resize(n, 0) or ByteBuffer(n, 0).
//
// Large buffers ask the kernel for transparent huge pages: a model of a million triangles
// fills about 100 MB of fresh buffers, and faulting that in 4 KiB pages costs more than
// parsing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace kelvo {

// Allocations from this size on are advised to use huge pages.
inline constexpr std::size_t hugePageAdviceThreshold = std::size_t{4} << 20;
// Advises the kernel to back the whole 2 MiB pages inside [p, p + bytes) with huge pages.
void adviseHugePages(void* p, std::size_t bytes) noexcept;

template <class T>
struct DefaultInitAllocator : std::allocator<T> {
    using std::allocator<T>::allocator;
    template <class U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <class U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        T* p = std::allocator<T>::allocate(n);
        if (n * sizeof(T) >= hugePageAdviceThreshold) adviseHugePages(p, n * sizeof(T));
        return p;
    }

    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using ByteBuffer = std::vector<std::uint8_t, DefaultInitAllocator<std::uint8_t>>;
using ByteSpan = std::span<const std::uint8_t>;

}  // namespace kelvo
