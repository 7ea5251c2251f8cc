// Byte buffers shared by every layer: file contents, geometry sources, index data.
//
// The allocator leaves new elements default-initialised (for bytes: not written), so
// resizing a buffer that is about to be overwritten in full costs no memset. A buffer
// that must start zero-filled is made with resize(n, 0) or ByteBuffer(n, 0).
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace kelvo {

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
