#include "platform/ModelIO/USD/USDImporter.h"

#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/USD/USDATextReader.h"
#include "platform/ModelIO/USD/USDComposition.h"
#include "platform/ModelIO/USD/USDPackage.h"
#include "platform/ModelIO/USD/USDSceneBuilder.h"

namespace kelvo {

namespace {

ModelAsset build(usd::Stage stage) {
    ModelAsset asset = usd::buildModelAsset(stage);
    if (asset.objects.empty() && !stage.messages.empty()) {
        throw modelIOError("Nothing in the USD stage can be drawn: " + stage.messages.front());
    }
    return asset;
}

}  // namespace

ModelAsset importUSD(ByteBuffer bytes, const std::filesystem::path& url) {
    if (usd::looksLikePackage(bytes)) {
        std::string reason;
        std::optional<usd::Package> opened = usd::openPackage(url, std::move(bytes), &reason);
        if (!opened) throw modelIOError("The file is not a USD package: " + reason);
        auto package = std::make_shared<const usd::Package>(std::move(*opened));
        const std::filesystem::path root = usd::rootLayerPath(*package);
        usd::PackageFile file = usd::readPackageFile(*package, root, root.filename().string(),
                                                     usd::layerFileSizeLimit);
        if (file.path.empty()) throw modelIOError("The USD package's root layer " + file.reason);
        return build(usd::composeStage(root, std::move(file.contents), std::move(package)));
    }
    if (!usd::isBinaryLayer(bytes) && !usd::looksLikeUSDA(bytes)) {
        throw modelIOError("The file is not a USD layer: it starts neither with #usda nor with PXR-USDC");
    }
    return build(usd::composeStage(url, std::move(bytes)));
}

ModelAsset importUSDFile(const std::filesystem::path& url) {
    return importUSD(readFileContents(url, usd::layerFileSizeLimit), url);
}

}  // namespace kelvo
