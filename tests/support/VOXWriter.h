// A test-only VOX writer: builds files chunk by chunk, so a test can give any chunk a lying size
// or count, cut it short or put it where it does not belong.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestFiles.h"

namespace kelvo::test {

using VOXPairs = std::vector<std::pair<std::string, std::string>>;

// A dictionary: pair count, then per pair a length-prefixed key and value. `declaredCount`
// overrides the count when not negative.
inline Bytes voxDict(const VOXPairs& pairs, long long declaredCount = -1) {
    Bytes b;
    appendUInt32(b, declaredCount >= 0 ? static_cast<std::uint32_t>(declaredCount)
                                       : static_cast<std::uint32_t>(pairs.size()));
    for (const auto& [key, value] : pairs) {
        appendUInt32(b, static_cast<std::uint32_t>(key.size()));
        b.insert(b.end(), key.begin(), key.end());
        appendUInt32(b, static_cast<std::uint32_t>(value.size()));
        b.insert(b.end(), value.begin(), value.end());
    }
    return b;
}

// Appends `more`; chains on a named buffer and on a temporary alike.
inline Bytes& operator<<(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
    return b;
}
inline Bytes operator<<(Bytes&& b, const Bytes& more) {
    b << more;
    return std::move(b);
}

inline Bytes u32s(std::initializer_list<std::uint32_t> values) {
    Bytes b;
    for (std::uint32_t v : values)
        appendUInt32(b, v);
    return b;
}

class VOXWriter {
public:
    // Any chunk; `declaredSize` overrides the content size field when not negative.
    VOXWriter& chunk(const std::string& id, const Bytes& content, long long declaredSize = -1) {
        chunks_.insert(chunks_.end(), id.begin(), id.begin() + 4);
        appendUInt32(chunks_, declaredSize >= 0 ? static_cast<std::uint32_t>(declaredSize)
                                                : static_cast<std::uint32_t>(content.size()));
        appendUInt32(chunks_, 0);
        chunks_ << content;
        return *this;
    }
    VOXWriter& size(std::uint32_t sx, std::uint32_t sy, std::uint32_t sz) {
        return chunk("SIZE", u32s({sx, sy, sz}));
    }
    // Voxels as {x, y, z, colour}; `declaredCount` overrides n when not negative.
    VOXWriter& xyzi(const std::vector<std::array<std::uint8_t, 4>>& voxels,
                    long long declaredCount = -1) {
        Bytes content = u32s({declaredCount >= 0 ? static_cast<std::uint32_t>(declaredCount)
                                                 : static_cast<std::uint32_t>(voxels.size())});
        for (const auto& v : voxels)
            content.insert(content.end(), v.begin(), v.end());
        return chunk("XYZI", content);
    }
    // A model: SIZE and XYZI.
    VOXWriter& model(std::uint32_t sx, std::uint32_t sy, std::uint32_t sz,
                     const std::vector<std::array<std::uint8_t, 4>>& voxels) {
        return size(sx, sy, sz).xyzi(voxels);
    }
    VOXWriter& rgba(const std::vector<std::uint32_t>& entries) {
        Bytes content;
        for (std::uint32_t e : entries)
            appendUInt32(content, e);
        return chunk("RGBA", content);
    }
    // A transform with its translation given as the "_t" text of frame 0 (none when empty).
    VOXWriter& transform(std::uint32_t id, std::uint32_t child, const std::string& t = "") {
        Bytes content = u32s({id});
        content << voxDict({}) << u32s({child, 0xFFFFFFFF, 0, 1})
                << voxDict(t.empty() ? VOXPairs{} : VOXPairs{{"_t", t}});
        return chunk("nTRN", content);
    }
    VOXWriter& group(std::uint32_t id, const std::vector<std::uint32_t>& children) {
        Bytes content = u32s({id});
        content << voxDict({}) << u32s({static_cast<std::uint32_t>(children.size())});
        for (std::uint32_t c : children)
            appendUInt32(content, c);
        return chunk("nGRP", content);
    }
    VOXWriter& shape(std::uint32_t id, std::uint32_t model) {
        Bytes content = u32s({id});
        content << voxDict({}) << u32s({1, model}) << voxDict({});
        return chunk("nSHP", content);
    }

    // The whole file: signature, version, a MAIN header whose sizes are as a writer sets them,
    // then the chunks.
    Bytes file(std::uint32_t version = 150) const {
        Bytes b{'V', 'O', 'X', ' '};
        appendUInt32(b, version);
        b << Bytes{'M', 'A', 'I', 'N'};
        appendUInt32(b, 0);
        appendUInt32(b, static_cast<std::uint32_t>(chunks_.size()));
        return b << chunks_;
    }

private:
    Bytes chunks_;
};

}  // namespace kelvo::test
