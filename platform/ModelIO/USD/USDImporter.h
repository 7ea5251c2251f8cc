// USD import: a text layer (".usda", or ".usd" holding text) composed with the layers it
// names (USDComposition.h) and turned into nodes (USDSceneBuilder.h).
//
// A ".usd" file is told apart by its first bytes: "#usda" is text, "PXR-USDC" a binary
// layer. Binary layers and ".usdc"/".usdz" files are refused with a ModelIO error saying
// that binary USD is not read yet; so is a file that is neither.
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
