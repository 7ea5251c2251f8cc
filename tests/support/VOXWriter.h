// A test-only VOX writer: builds files chunk by chunk, so a test can give any chunk a lying size
// or count, cut it short or put it where it does not belong.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestFiles.h"

namespace kelvo::test {

// Appends `more`; chains on a named buffer and on a temporary alike.
inline Bytes& operator<<(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
    return b;
}
inline Bytes operator<<(Bytes&& b, const Bytes& more) {
    b << more;
    return std::move(b);
}

inline Bytes u32s(const std::vector<std::uint32_t>& values) {
    Bytes b;
    for (std::uint32_t v : values)
        appendUInt32(b, v);
    return b;
}

inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A dictionary: pair count (`declaredCount` when not negative), then length-prefixed keys and
// values.
inline Bytes voxDict(const std::vector<std::pair<std::string, std::string>>& pairs,
                     long long declaredCount = -1) {
    Bytes b = u32s({static_cast<std::uint32_t>(declaredCount >= 0 ? declaredCount : pairs.size())});
    for (const auto& [key, value] : pairs) {
        b << u32s({static_cast<std::uint32_t>(key.size())}) << text(key);
        b << u32s({static_cast<std::uint32_t>(value.size())}) << text(value);
    }
    return b;
}

class VOXWriter {
public:
    using Voxels = std::vector<std::array<std::uint8_t, 4>>;  // {x, y, z, colour}

    // Any chunk; `declaredSize` overrides the content size field when not negative.
    VOXWriter& chunk(const std::string& id, const Bytes& content, long long declaredSize = -1) {
        chunks_ << text(id.substr(0, 4))
                << u32s({static_cast<std::uint32_t>(declaredSize >= 0 ? declaredSize
                                                                      : content.size()),
                         0})
                << content;
        return *this;
    }
    VOXWriter& size(std::uint32_t sx, std::uint32_t sy, std::uint32_t sz) {
        return chunk("SIZE", u32s({sx, sy, sz}));
    }
    // `declaredCount` overrides the voxel count when not negative.
    VOXWriter& xyzi(const Voxels& voxels, long long declaredCount = -1) {
        Bytes content =
            u32s({static_cast<std::uint32_t>(declaredCount >= 0 ? declaredCount : voxels.size())});
        for (const auto& v : voxels)
            content.insert(content.end(), v.begin(), v.end());
        return chunk("XYZI", content);
    }
    VOXWriter& model(std::uint32_t sx, std::uint32_t sy, std::uint32_t sz, const Voxels& voxels) {
        return size(sx, sy, sz).xyzi(voxels);
    }
    VOXWriter& rgba(const std::vector<std::uint32_t>& entries) {
        return chunk("RGBA", u32s(entries));
    }
    // A transform with its translation given as the "_t" text of frame 0 (none when empty).
    VOXWriter& transform(std::uint32_t id, std::uint32_t child, const std::string& t = "") {
        return chunk("nTRN", u32s({id}) << voxDict({}) << u32s({child, 0xFFFFFFFF, 0, 1})
                                        << (t.empty() ? voxDict({}) : voxDict({{"_t", t}})));
    }
    VOXWriter& group(std::uint32_t id, const std::vector<std::uint32_t>& children) {
        return chunk("nGRP", u32s({id}) << voxDict({})
                                        << u32s({static_cast<std::uint32_t>(children.size())})
                                        << u32s(children));
    }
    VOXWriter& shape(std::uint32_t id, std::uint32_t model) {
        return chunk("nSHP", u32s({id}) << voxDict({}) << u32s({1, model}) << voxDict({}));
    }

    // The whole file: signature, version, a MAIN header as a writer sets it, then the chunks.
    Bytes file(std::uint32_t version = 150) const {
        return text("VOX ") << u32s({version}) << text("MAIN")
                            << u32s({0, static_cast<std::uint32_t>(chunks_.size())}) << chunks_;
    }

private:
    Bytes chunks_;
};

}  // namespace kelvo::test
