#include "platform/ModelIO/USD/USDImporter.h"

#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Text.h"
#include "platform/ModelIO/USD/USDATextReader.h"
#include "platform/ModelIO/USD/USDComposition.h"
#include "platform/ModelIO/USD/USDSceneBuilder.h"

namespace kelvo {

namespace {

constexpr std::string_view binaryNotRead =
    "binary USD (crate layers, .usdc and .usdz packages) is not read yet";

}  // namespace

ModelAsset importUSD(ByteBuffer bytes, const std::filesystem::path& url) {
    if (usd::isBinaryLayer(bytes)) {
        throw modelIOError("The file is a binary USD layer; " + std::string(binaryNotRead));
    }
    if (!usd::looksLikeUSDA(bytes)) {
        throw modelIOError("The file is not a USD layer: it starts neither with #usda nor with PXR-USDC");
    }
    usd::Stage stage = usd::composeStage(url, std::move(bytes));
    ModelAsset asset = usd::buildModelAsset(stage);
    if (asset.objects.empty() && !stage.messages.empty()) {
        throw modelIOError("Nothing in the USD stage can be drawn: " + stage.messages.front());
    }
    return asset;
}

ModelAsset importUSDFile(const std::filesystem::path& url) {
    const std::string extension = pathExtension(url);
    if (equalsIgnoringASCIICase(extension, "usdc") || equalsIgnoringASCIICase(extension, "usdz")) {
        throw modelIOError("The file is binary USD (." + asciiLowercase(extension) + "); " +
                           std::string(binaryNotRead));
    }
    return importUSD(readFileContents(url, usd::layerFileSizeLimit), url);
}

}  // namespace kelvo
