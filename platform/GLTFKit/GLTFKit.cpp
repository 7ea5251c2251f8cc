// The load itself: the steps of GLTFReading.h in order, and the asynchronous front that runs
// them on a worker and reports the outcome exactly once.
#include "platform/GLTFKit/GLTFKit.h"

#include <simdjson.h>

#include <new>
#include <system_error>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Foundation/FileReading.h"
#include "platform/GLTFKit/GLTFReading.h"

namespace kelvo {

int gltfComponentSize(int componentType) {
    switch (componentType) {
        case gltfByte:
        case gltfUnsignedByte:
            return 1;
        case gltfShort:
        case gltfUnsignedShort:
            return 2;
        case gltfUnsignedInt:
        case gltfFloat:
            return 4;
        default:
            return 0;
    }
}

std::int64_t gltfAttribute(const GLTFAttributes& attributes, std::string_view semantic) {
    for (const auto& [name, accessor] : attributes) {
        if (name == semantic) return accessor;
    }
    return -1;
}

namespace gltf {

void fail(GLTFErrorCode code, std::string message) {
    throw makeError(std::string(gltfErrorDomain), code, std::move(message));
}

}  // namespace gltf

GLTFAsset readGLTFAsset(ByteBuffer contents, const std::filesystem::path& url) {
    using namespace gltf;
    GLTFAsset asset;
    asset.url = url;
    auto file = std::make_shared<ByteBuffer>(std::move(contents));
    GLBChunks glb;
    const bool isGLB = looksLikeGLB(*file);
    if (isGLB) {
        glb = splitGLB(*file);
        // The JSON parser reads up to SIMDJSON_PADDING bytes past the text, so the chunk is
        // copied into a padded string (it is small beside the binary chunk).
        simdjson::padded_string json(reinterpret_cast<const char*>(glb.json.data()),
                                     glb.json.size());
        parseGLTFDocument(json.data(), json.size(), json.size() + simdjson::SIMDJSON_PADDING,
                          asset);
    } else {
        const size_t length = file->size();
        file->resize(length + simdjson::SIMDJSON_PADDING, 0);
        parseGLTFDocument(reinterpret_cast<const char*>(file->data()), length, file->size(), asset);
        file->resize(length);
    }
    resolveBuffers(asset, file, isGLB ? &glb : nullptr);
    validateReferences(asset);
    resolveBufferViews(asset);
    validateAccessors(asset);
    decodeDracoPrimitives(asset);
    resolveImages(asset);
    return asset;
}

namespace {

// Runs one load to its end and reports it once. Every failure becomes an error: the handler
// must be invoked whatever happens, or the caller waits for ever.
void runLoad(const std::filesystem::path& url, const GLTFAssetLoadHandler& handler) {
    std::shared_ptr<const GLTFAsset> asset;
    std::optional<Error> error;
    try {
        asset = std::make_shared<const GLTFAsset>(readGLTFAsset(readFileContents(url), url));
    } catch (const Error& e) {
        error = e;
    } catch (const std::bad_alloc&) {
        error = makeError(std::string(gltfErrorDomain), gltfErrorTooLarge,
                          "the model needs more memory than is available");
    } catch (const std::exception& e) {
        error = makeError(std::string(gltfErrorDomain), gltfErrorInvalidAsset, e.what());
    }
    bool stop = false;
    if (error) {
        handler(1, GLTFAssetStatus::error, nullptr, &*error, &stop);
    } else {
        handler(1, GLTFAssetStatus::complete, std::move(asset), nullptr, &stop);
    }
}

}  // namespace

void loadAsset(const std::filesystem::path& url, const GLTFAssetLoadingOptions& /*options*/,
               GLTFAssetLoadHandler handler) {
    auto shared = std::make_shared<GLTFAssetLoadHandler>(std::move(handler));
    try {
        DispatchQueue::global(QoSClass::userInitiated).async([url, shared] {
            runLoad(url, *shared);
        });
    } catch (const std::system_error&) {
        // No worker could be started (threads exhausted): the load runs here instead, which
        // the contract allows, rather than never reporting.
        runLoad(url, *shared);
    }
}

}  // namespace kelvo
