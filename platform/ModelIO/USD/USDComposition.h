// Composing USD layers into a stage: the tree of prims a still picture needs, each with
// the opinions that make it, strongest first.
//
// Arcs followed, in this order of strength for each prim: the local opinions of its layer
// stack (the root layer, then its sub-layers depth first, stronger before weaker),
// inherits and specializes to classes in the same layer stack, the selected variant of
// each variant set (the strongest authored selection, else the set's first variant;
// variants may hold variant sets of their own), references and payloads (to another
// layer's default prim or a named prim, or inside the same layer stack). Paths written in a
// referenced or inherited layer are mapped into the referencing prim's namespace, so
// relationships and connections name stage prims. "over" opinions merge onto what they
// refine; a prim is defined when any opinion defines it. An arc that leads back to a prim
// already composed for the same prim, or to one of its ancestors, closes a cycle.
//
// Files: other layers are opened through the referenced-file rules
// (platform/Foundation/ReferencedFile.h: relative, ".." allowed, absolute paths and URIs
// refused), each at most once per stage. A layer that cannot be found, refused, or read is
// skipped, and so is an arc that would close a cycle; each such skip leaves a sentence in
// `Stage::messages`. Limits keep hostile files finite: sub-layer depth, layers per stage,
// opinions per prim and per stage, prims per stage and namespace depth.
//
// Layers are read by readLayer, text or binary alike. A stage made from a USDZ package
// (USDPackage.h) reads the layers its package layers name from inside the package only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/USD/USDLayer.h"
#include "platform/ModelIO/USD/USDPackage.h"

namespace kelvo::usd {

inline constexpr std::uint64_t layerFileSizeLimit = std::uint64_t{1} << 30;
inline constexpr std::size_t maxLayersPerStage = 1024;
inline constexpr int maxSubLayerDepth = 64;
inline constexpr std::size_t maxOpinionsPerPrim = 1024;
inline constexpr std::size_t maxOpinionsPerStage = std::size_t{1} << 22;
inline constexpr std::size_t maxPrimsPerStage = std::size_t{1} << 20;
inline constexpr int maxNamespaceDepth = 256;

struct LayerFile {
    std::filesystem::path path;
    Layer layer;
    std::string error;  // why reading stopped early; empty when the whole file was read
};

// Reads a layer in whichever form its bytes are, text or binary; returns why it stopped
// (empty when all was read).
std::string readLayer(ByteSpan bytes, Layer& layer);

// True when the bytes are a binary (crate) layer.
bool isBinaryLayer(ByteSpan bytes);

// Layers in the order of their strength, strongest first.
struct LayerStack {
    std::vector<const LayerFile*> layers;
};

// How paths written in one layer's namespace become stage paths: the prefix `from` is
// replaced by `to`, then the outer map applies.
struct PathMap {
    std::string from, to;
    std::shared_ptr<const PathMap> outer;
};

std::string mapPath(const PathMap* map, std::string path);

// One prim opinion that contributes to a stage prim.
struct Opinion {
    const PrimOpinion* opinion = nullptr;
    const LayerFile* layer = nullptr;
    const LayerStack* stack = nullptr;
    std::shared_ptr<const PathMap> map;
    std::string opinionPath;  // the opinion's path in its own layer's namespace
};

struct Prim {
    std::string name;
    std::string path;  // "/A/B"; "/" for the pseudo-root
    std::string typeName;
    Specifier specifier = Specifier::over;
    bool active = true;
    bool instanceable = false;
    std::vector<Opinion> opinions;  // strongest first
    std::uint32_t parent = 0;
    std::vector<std::uint32_t> children;
};

// The strongest opinion of a property (with the opinion it came from).
struct ResolvedProperty {
    const Property* property = nullptr;
    const Opinion* opinion = nullptr;
    explicit operator bool() const { return property != nullptr; }
};

struct Stage {
    std::vector<Prim> prims;  // prims[0] is the pseudo-root
    std::string upAxis;       // of the root layer; empty when not given
    double metersPerUnit = 0;
    std::string defaultPrim;
    std::vector<std::string> messages;  // what was skipped, and why

    std::vector<std::unique_ptr<LayerFile>> layers;
    // The package the root layer came from; null for a stage of loose files.
    std::shared_ptr<const Package> package;
    std::vector<std::unique_ptr<LayerStack>> stacks;
    std::unordered_map<std::string, std::uint32_t> byPath;

    const Prim* primAtPath(std::string_view path) const;

    // The strongest opinion of an attribute that gives it a value; nothing when the
    // strongest one blocks it (None).
    ResolvedProperty attribute(const Prim& prim, std::string_view name) const;
    // The strongest opinion that gives targets (connections or relationship targets).
    ResolvedProperty targeted(const Prim& prim, std::string_view name) const;
    // Those targets as absolute stage paths ("/Mat/Shader.outputs:rgb").
    std::vector<std::string> targets(const Prim& prim, std::string_view name) const;
    // The strongest "interpolation" written for the attribute; empty when none is.
    std::string interpolation(const Prim& prim, std::string_view name) const;
};

// Composes the stage whose root layer is `bytes`, read from `rootFile`. Throws nothing for
// bad layers: a root layer that cannot be read leaves its reason as the first message and
// a stage without prims.
Stage composeStage(const std::filesystem::path& rootFile, ByteBuffer bytes,
                   std::shared_ptr<const Package> package = nullptr);

// An absolute path of `target` written at the prim `anchor` ("/A/B"): relative targets
// ("../C", "Shader.outputs:rgb", ".outputs:x") resolved, "." and ".." removed.
std::string absolutePath(std::string_view anchor, std::string_view target);

}  // namespace kelvo::usd
