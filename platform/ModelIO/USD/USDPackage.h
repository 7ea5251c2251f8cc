// USDZ packages: a ZIP archive (entries stored, each 64-byte aligned, though neither is
// required here) whose first entry is the root layer. The layers and textures it holds
// name each other by paths relative to their own entry; such paths are resolved inside the
// package and never leave it, whatever ".." they hold, so a package reads nothing beside
// it on disk.
//
// A package file is named by the package's own path followed by the entry's name
// ("/models/chair.usdz/0/albedo.png"), which is how composition and the scene builder keep
// layers and textures apart, and how they tell that a layer came from a package.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extensions/Shared/ZIP/ZIPReader.h"
#include "platform/Foundation/ByteBuffer.h"

namespace kelvo::usd {

struct Package {
    std::filesystem::path path;  // the package file
    ByteBuffer data;
    std::vector<CentralEntry> entries;
};

// True when the bytes start as a ZIP archive does.
bool looksLikePackage(ByteSpan bytes);

// Lists the package `bytes` read from `path`. Nothing, with the reason in `*reason`, when
// it is no ZIP archive or its first entry is not a USD layer.
std::optional<Package> openPackage(const std::filesystem::path& path, ByteBuffer bytes,
                                   std::string* reason);

// The path of the package's first entry, its root layer.
std::filesystem::path rootLayerPath(const Package& package);

// True when `file` names an entry of the package (is below its path).
bool insidePackage(const Package& package, const std::filesystem::path& file);

struct PackageFile {
    std::filesystem::path path;  // package path / entry name; empty when refused
    ByteBuffer contents;
    std::string reason;  // why nothing was read; empty when read
};

// The entry that `reference` names from the entry `referringFile`: relative to the
// referring entry's folder, "\" taken as "/", a name that differs only in ASCII letter
// case accepted. Refused: absolute paths, URIs, paths that leave the package, entries
// larger than `sizeLimit` or that cannot be extracted.
PackageFile readPackageFile(const Package& package, const std::filesystem::path& referringFile,
                            std::string_view reference, std::uint64_t sizeLimit);

}  // namespace kelvo::usd
