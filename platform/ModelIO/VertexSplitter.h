// One drawn vertex per distinct (position, attributes) pair of a mesh whose corners index
// their attributes separately: OBJ's v/vt/vn, PLY's per-face texture coordinates. The
// scene graph has one index per corner, so a position used with two different texture
// coordinates becomes two vertices, and corners that agree share one.
//
// Each position keeps a short chain of the vertices made from it, newest first. A chain
// is searched at most maxChainSearch deep: a hostile file that pairs one position with
// millions of different attributes gets more vertices than needed, never a quadratic
// search. No allocation per corner beyond the amortised growth of three arrays.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvo {

class VertexSplitter {
public:
    static constexpr std::uint32_t none = 0xFFFFFFFF;
    static constexpr int maxChainSearch = 32;

    explicit VertexSplitter(std::size_t positionCount = 0) : newest_(positionCount, none) {}

    // Makes room for positions up to `positionCount` (never less than before), expecting
    // about one vertex per position.
    void growPositions(std::size_t positionCount) {
        if (positionCount <= newest_.size()) return;
        newest_.resize(positionCount, none);
        keys_.reserve(positionCount);
        older_.reserve(positionCount);
        positions_.reserve(positionCount);
    }

    // The vertex for `position` (< positionCount) with attributes `key`: an existing one or
    // the next new number.
    std::uint32_t vertexFor(std::uint32_t position, std::uint64_t key) {
        std::uint32_t v = newest_[position];
        for (int depth = 0; v != none && depth < maxChainSearch; ++depth, v = older_[v]) {
            if (keys_[v] == key) return v;
        }
        const std::uint32_t made = static_cast<std::uint32_t>(keys_.size());
        keys_.push_back(key);
        older_.push_back(newest_[position]);
        positions_.push_back(position);
        newest_[position] = made;
        return made;
    }

    std::size_t vertexCount() const { return keys_.size(); }
    // For each vertex made, in order: its position and attribute key.
    const std::vector<std::uint32_t>& positions() const { return positions_; }
    const std::vector<std::uint64_t>& keys() const { return keys_; }

private:
    std::vector<std::uint32_t> newest_;  // per position
    std::vector<std::uint32_t> older_;   // per vertex: the previous vertex of its position
    std::vector<std::uint64_t> keys_;
    std::vector<std::uint32_t> positions_;
};

}  // namespace kelvo
