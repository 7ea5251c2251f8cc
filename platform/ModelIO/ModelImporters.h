// The table of Kelvo's own importers: which extension is read by which function. An
// extension without a row goes to the Open Asset Import Library when it lists it
// (AssimpImporter.h), so a new format of our own is one row here and nothing else.
#pragma once

#include <filesystem>
#include <span>
#include <string_view>

#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

struct ModelImporter {
    std::string_view extension;  // lower-case, without the dot
    // Reads the file at the path; throws as importModelAsset does (ModelIO.h).
    ModelAsset (*importFile)(const std::filesystem::path& url);
};

std::span<const ModelImporter> modelImporters();

// The row for `extension` (ASCII letter case ignored), or null.
const ModelImporter* findModelImporter(std::string_view extension);

}  // namespace kelvo
