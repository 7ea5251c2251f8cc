// The scene graph of a VOX file, reduced to what the loader draws: one integer translation per
// model.
//
// Transform nodes ("nTRN") carry a translation and one child; group nodes ("nGRP") list
// children; shape nodes ("nSHP") name a model. Only the first frame's "_t" of a transform is
// read: rotations, layers, later frames and all other attributes are ignored. Translations are
// in voxel units in the file's axes (z up); the loader turns them y-up.
//
// The decoders read nothing at or past the end of their chunk's content and yield nothing when
// a required field is missing. The resolver ends on every input: see resolveVOXTransforms.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

struct VOXTranslation {
    std::int64_t x = 0, y = 0, z = 0;
    friend bool operator==(const VOXTranslation&, const VOXTranslation&) = default;
};

struct VOXTransformNode {
    std::int64_t nodeId = 0;
    std::int64_t childNodeId = 0;
    VOXTranslation translation;  // (0, 0, 0) when the chunk gives none
};

struct VOXShapeNode {
    std::int64_t nodeId = 0;
    std::int64_t modelId = 0;  // position in the file's model list
};

struct VOXGroupNode {
    std::int64_t nodeId = 0;
    std::vector<std::int64_t> childIds;
};

// Node tables by node id; a later chunk with the same id replaces the entry. Ordered maps:
// their cost cannot be driven up by ids chosen to collide.
using VOXTransformTable = std::map<std::int64_t, VOXTransformNode>;
using VOXShapeTable = std::map<std::int64_t, std::int64_t>;               // node id -> model id
using VOXGroupTable = std::map<std::int64_t, std::vector<std::int64_t>>;  // node id -> children
using VOXTranslationTable = std::map<std::int64_t, VOXTranslation>;       // model id -> sum

// The chunk decoders. `at` is the absolute offset of the chunk's content in `data` and `size`
// its declared content size; the end is clamped to the data.
//   nTRN: node id, attributes (skipped), child id, reserved id, layer id, frame count, then
//         frame 0's attributes, of which "_t" is read.
//   nSHP: node id, attributes (skipped), model count (0 yields nothing), first model's id.
//   nGRP: node id, attributes (skipped), child count n, then at most n child ids, as many as
//         the chunk holds (an empty list is a valid group).
std::optional<VOXTransformNode> parseNTRN(ByteSpan data, std::uint64_t at, std::uint64_t size);
std::optional<VOXShapeNode> parseNSHP(ByteSpan data, std::uint64_t at, std::uint64_t size);
std::optional<VOXGroupNode> parseNGRP(ByteSpan data, std::uint64_t at, std::uint64_t size);

// A "_t" value: pieces separated by spaces (runs of spaces separate nothing), each an optional
// sign and base-10 digits fitting 64 bits; other pieces are dropped. Exactly three integers
// are x, y and z; any other number gives (0, 0, 0).
VOXTranslation parseVOXTranslation(std::string_view text);

// Limits of the descent. A well-formed file is a tree a few dozen levels deep, visited once per
// node, far inside them; they exist so that no file can make the descent endless or
// exponential.
//   - A transform node already on the current path is not entered again (cycles end there).
//   - At most voxMaxTransformDepth transforms are nested; deeper branches end.
//   - At most voxTransformVisitsPerNode times the number of transform nodes, plus
//     voxExtraTransformVisits, transform nodes are entered per call: groups that share children
//     can reach a node along exponentially many paths. When the visits are spent the descent
//     stops; models placed until then keep their translations.
inline constexpr int voxMaxTransformDepth = 256;
inline constexpr std::int64_t voxTransformVisitsPerNode = 4;
inline constexpr std::int64_t voxExtraTransformVisits = 1024;

// Depth first from transform node `nodeId`: adds its translation to `parentTranslation`,
// records the sum for the model of its child shape (replacing an earlier sum), then descends
// into the children of its child group in list order. A node id the tables do not hold ends
// that branch. Sums saturate at the 64-bit limits instead of overflowing.
void resolveVOXTransforms(std::int64_t nodeId, VOXTranslation parentTranslation,
                          const VOXTransformTable& transforms, const VOXShapeTable& shapes,
                          const VOXGroupTable& groups, VOXTranslationTable& result);

}  // namespace kelvo
