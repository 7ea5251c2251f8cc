#include "extensions/Shared/VOX/VOXSceneGraph.h"

#include <algorithm>
#include <limits>

#include "extensions/Shared/VOX/VOXReader.h"

namespace kelvo {

namespace {

// Where the content ends, never past the data: the decoders are public and may be handed any
// offset, not only the walk's checked ones.
std::uint64_t contentEnd(ByteSpan data, std::uint64_t at, std::uint64_t size) {
    if (at > data.size()) return at;
    return std::min<std::uint64_t>(data.size(), at + std::min<std::uint64_t>(size, data.size()));
}

bool fits(std::uint64_t at, std::uint64_t bytes, std::uint64_t end) {
    return at <= end && end - at >= bytes;
}

// The node id and the offset just past the attributes that follow it, or nothing.
std::optional<std::pair<std::int64_t, std::uint64_t>> readNodeHeader(ByteSpan data,
                                                                     std::uint64_t at,
                                                                     std::uint64_t end) {
    if (!fits(at, 4, end)) return std::nullopt;
    std::int64_t nodeId = readVOXUInt32(data, at);
    std::uint64_t consumed = walkVOXDict(data, at + 4, end, [](auto, auto) {});
    return std::make_pair(nodeId, at + 4 + consumed);
}

// One piece of a "_t" value as a 64-bit integer: an optional sign and at least one digit.
std::optional<std::int64_t> parseInteger(std::string_view piece) {
    bool negative = false;
    if (!piece.empty() && (piece[0] == '+' || piece[0] == '-')) {
        negative = piece[0] == '-';
        piece.remove_prefix(1);
    }
    if (piece.empty()) return std::nullopt;
    // Accumulate towards the negative side, which holds one value more than the positive.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (char c : piece) {
        if (c < '0' || c > '9') return std::nullopt;
        int digit = c - '0';
        if (value < (lowest + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest) return std::nullopt;
        value = -value;
    }
    return value;
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

struct Descent {
    const VOXTransformTable& transforms;
    const VOXShapeTable& shapes;
    const VOXGroupTable& groups;
    VOXTranslationTable& result;
    std::vector<std::int64_t> path;  // transform ids from the start down to the current one
    std::int64_t visitsLeft = 0;

    void visit(std::int64_t nodeId, VOXTranslation parent) {
        auto transform = transforms.find(nodeId);
        if (transform == transforms.end()) return;
        if (visitsLeft <= 0 || path.size() >= static_cast<size_t>(voxMaxTransformDepth)) return;
        if (std::find(path.begin(), path.end(), nodeId) != path.end()) return;
        --visitsLeft;

        const VOXTransformNode& node = transform->second;
        VOXTranslation sum{saturatingAdd(parent.x, node.translation.x),
                           saturatingAdd(parent.y, node.translation.y),
                           saturatingAdd(parent.z, node.translation.z)};
        if (auto shape = shapes.find(node.childNodeId); shape != shapes.end()) {
            result[shape->second] = sum;
        }
        auto group = groups.find(node.childNodeId);
        if (group == groups.end()) return;
        path.push_back(nodeId);
        for (std::int64_t child : group->second)
            visit(child, sum);
        path.pop_back();
    }
};

}  // namespace

VOXTranslation parseVOXTranslation(std::string_view text) {
    std::int64_t values[3];
    int count = 0;
    while (!text.empty()) {
        size_t space = text.find(' ');
        std::string_view piece = text.substr(0, space);
        text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
        if (piece.empty()) continue;
        std::optional<std::int64_t> value = parseInteger(piece);
        if (!value) continue;
        if (count == 3) return {};  // a fourth integer: not a translation
        values[count++] = *value;
    }
    if (count != 3) return {};
    return {values[0], values[1], values[2]};
}

std::optional<VOXTransformNode> parseNTRN(ByteSpan data, std::uint64_t at, std::uint64_t size) {
    const std::uint64_t end = contentEnd(data, at, size);
    auto header = readNodeHeader(data, at, end);
    if (!header) return std::nullopt;
    const std::uint64_t p = header->second;
    if (!fits(p, 4, end)) return std::nullopt;
    VOXTransformNode node;
    node.nodeId = header->first;
    node.childNodeId = readVOXUInt32(data, p);
    // Reserved id and layer id at p + 4 and p + 8 are not used.
    if (!fits(p, 16, end)) return std::nullopt;
    if (readVOXUInt32(data, p + 12) == 0) return node;

    ByteSpan lastT;
    bool haveT = false;
    walkVOXDict(data, p + 16, end, [&](ByteSpan key, ByteSpan value) {
        if (key.size() == 2 && key[0] == '_' && key[1] == 't') {
            lastT = value;
            haveT = true;
        }
    });
    // An invalid UTF-8 value decodes to the empty string, which holds no integer.
    if (haveT && isValidUTF8(lastT)) {
        node.translation = parseVOXTranslation(
            std::string_view(reinterpret_cast<const char*>(lastT.data()), lastT.size()));
    }
    return node;
}

std::optional<VOXShapeNode> parseNSHP(ByteSpan data, std::uint64_t at, std::uint64_t size) {
    const std::uint64_t end = contentEnd(data, at, size);
    auto header = readNodeHeader(data, at, end);
    if (!header) return std::nullopt;
    const std::uint64_t p = header->second;
    if (!fits(p, 4, end) || readVOXUInt32(data, p) == 0) return std::nullopt;
    if (!fits(p, 8, end)) return std::nullopt;
    return VOXShapeNode{header->first, readVOXUInt32(data, p + 4)};
}

std::optional<VOXGroupNode> parseNGRP(ByteSpan data, std::uint64_t at, std::uint64_t size) {
    const std::uint64_t end = contentEnd(data, at, size);
    auto header = readNodeHeader(data, at, end);
    if (!header) return std::nullopt;
    const std::uint64_t p = header->second;
    if (!fits(p, 4, end)) return std::nullopt;
    VOXGroupNode group;
    group.nodeId = header->first;
    // Reserve only what the chunk can hold, whatever the count claims.
    const std::uint64_t present = (end - p - 4) / 4;
    const std::uint64_t count = std::min<std::uint64_t>(readVOXUInt32(data, p), present);
    group.childIds.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i)
        group.childIds.push_back(readVOXUInt32(data, p + 4 + 4 * i));
    return group;
}

void resolveVOXTransforms(std::int64_t nodeId, VOXTranslation parentTranslation,
                          const VOXTransformTable& transforms, const VOXShapeTable& shapes,
                          const VOXGroupTable& groups, VOXTranslationTable& result) {
    Descent descent{transforms,
                    shapes,
                    groups,
                    result,
                    {},
                    voxTransformVisitsPerNode * static_cast<std::int64_t>(transforms.size()) +
                        voxExtraTransformVisits};
    descent.path.reserve(voxMaxTransformDepth);
    descent.visit(nodeId, parentTranslation);
}

}  // namespace kelvo
