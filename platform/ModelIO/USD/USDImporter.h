// USD import: a layer (".usda", ".usdc", ".usd") or a USDZ package (".usdz") composed with
// the layers it names (USDComposition.h) and turned into nodes (USDSceneBuilder.h).
//
// What a file is follows from its first bytes, whatever its extension: "#usda" is a text
// layer, "PXR-USDC" a binary one (USDCrateReader.h), "PK" a package whose first entry is
// the root layer (USDPackage.h). Anything else is refused with a ModelIO error.
//
// A text layer that breaks the grammar is drawn as far as it was read; when nothing at all
// can be drawn, the error names the reason (the line where reading stopped, or the first
// layer or reference that was skipped).
#pragma once

#include <filesystem>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

// Imports the USD layer `bytes`, read from `url` (the layers and textures it names are
// found from there).
ModelAsset importUSD(ByteBuffer bytes, const std::filesystem::path& url);

// Reads the file, then importUSD.
ModelAsset importUSDFile(const std::filesystem::path& url);

}  // namespace kelvo
