// What the streaming readers' passes over the pieces of a file share: running on the two
// cores a thumbnailer may use, handing triangles on in batches, and the bounds of the
// vertices kept.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace kelvo {

// Runs work(i) for i in [0, count) on this thread and, for more than one, a second one
// taking every other index; where no thread can be started this one does all. What work
// throws (out of memory, say) on either thread is thrown here once both have stopped.
template <class Work>
void onTwoThreads(std::size_t count, const Work& work) {
    std::optional<std::thread> second;
    std::exception_ptr failure;
    if (count > 1) {
        try {
            second.emplace([&] {
                try {
                    for (std::size_t i = 1; i < count; i += 2)
                        work(i);
                } catch (...) {
                    failure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
        }
    }
    try {
        for (std::size_t i = 0; i < count; i += second ? 2 : 1)
            work(i);
    } catch (...) {
        if (second) second->join();
        throw;
    }
    if (second) second->join();
    if (failure) std::rethrow_exception(failure);
}

// Corners of triangles gathered into batches (nine floats a triangle) for a sink, numbered
// on from the first triangle's number.
class TriangleBatches {
public:
    using Sink = std::function<void(std::uint64_t first, const float* corners, std::size_t count)>;

    explicit TriangleBatches(const Sink& sink) : sink_(sink), corners_(batchTriangles * 9) {}

    // Triangles come numbered on by one; flush() before a gap in the numbers, and at the end.
    void add(std::uint64_t ordinal, const float* a, const float* b, const float* c) {
        if (filled_ == 0) first_ = ordinal;
        float* out = corners_.data() + filled_ * 9;
        std::memcpy(out, a, 12);
        std::memcpy(out + 3, b, 12);
        std::memcpy(out + 6, c, 12);
        if (++filled_ == batchTriangles) flush();
    }

    void flush() {
        if (filled_ > 0) sink_(first_, corners_.data(), filled_);
        filled_ = 0;
    }

private:
    // Triangles handed to a sink at once: small enough to stay in the cache.
    static constexpr std::size_t batchTriangles = 4096;

    const Sink& sink_;
    std::vector<float> corners_;
    std::size_t filled_ = 0;
    std::uint64_t first_ = 0;
};

// The box of the finite ones of `count` positions (x y z each) for which keep(i) holds:
// whether there is one, and then lo and hi.
template <class Keep>
bool boundsOfPositions(const float* positions, std::size_t count, const Keep& keep, float lo[3],
                       float hi[3]) {
    const float inf = INFINITY;
    float l[3] = {inf, inf, inf}, h[3] = {-inf, -inf, -inf};
    for (std::size_t v = 0; v < count; ++v) {
        const float* p = positions + 3 * v;
        if (!keep(v) || !(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2])))
            continue;
        for (int a = 0; a < 3; ++a) {
            l[a] = std::min(l[a], p[a]);
            h[a] = std::max(h[a], p[a]);
        }
    }
    if (!(l[0] <= h[0])) return false;
    std::memcpy(lo, l, 12);
    std::memcpy(hi, h, 12);
    return true;
}

}  // namespace kelvo
