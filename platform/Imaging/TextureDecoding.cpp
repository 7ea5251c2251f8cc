#include "platform/Imaging/TextureDecoding.h"

#include <atomic>
#include <map>
#include <mutex>
#include <new>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/DispatchSemaphore.h"
#include "platform/Imaging/ImageDecoding.h"

namespace kelvo {

namespace {

// The slots the renderers sample. Normal and occlusion maps are not drawn by either, and a
// model's normal map is often its largest image: decoding it would only cost time.
TextureSlot* slotsOf(Material& m, size_t i) {
    TextureSlot* slots[] = {&m.diffuseTexture, &m.metalnessRoughnessTexture, &m.emissionTexture};
    return i < std::size(slots) ? slots[i] : nullptr;
}

// Work shared between the calling thread and queue workers: each claims the next texture
// until none is left. The caller waits for the textures to be done, not for the workers to
// start, so a queue whose workers are all busy (with loads waiting here, say) only means the
// caller decodes everything itself. Workers that start late find nothing left and touch
// nothing but this state, which they keep alive.
struct SharedWork {
    std::vector<const Texture*> sources;
    std::vector<Texture> results;
    std::atomic<size_t> next{0};
    std::atomic<size_t> remaining;
    DispatchSemaphore allDone;

    explicit SharedWork(std::vector<const Texture*> s)
        : sources(std::move(s)), results(sources.size()), remaining(sources.size()) {}

    void run() {
        for (size_t i; (i = next.fetch_add(1)) < sources.size();) {
            try {
                results[i] = decodedTexture(*sources[i]);
            } catch (...) {
                results[i].found = false;  // out of memory for the path, even
            }
            if (remaining.fetch_sub(1) == 1) allDone.signal();
        }
    }
};

}  // namespace

Texture decodedTexture(const Texture& texture) {
    Texture out;
    out.path = texture.path;
    out.mimeType = texture.mimeType;
    out.encoded = texture.encoded;
    out.found = false;
    if (!texture.found || !texture.encoded) return out;
    const ByteSpan bytes(texture.encoded->data(), texture.encoded->size());
    try {
        std::optional<RGBAImage> image = decodeImage(
            bytes, imageFormatOf(bytes, texture.mimeType, texture.path), maximumTextureSide());
        if (!image) return out;
        out.levels = makeMipChain(std::move(*image));
        out.found = true;
    } catch (const std::bad_alloc&) {
        out.levels.clear();
    }
    return out;
}

void decodeTextures(Scene& scene) {
    // Every slot that names a texture still to decode, by texture.
    std::map<const Texture*, std::vector<TextureSlot*>> uses;
    auto visit = [&](Node& node) {
        if (!node.geometry) return;
        for (const std::shared_ptr<Material>& material : node.geometry->materials) {
            if (!material) continue;
            for (size_t i = 0; TextureSlot* slot = slotsOf(*material, i); ++i) {
                const Texture* texture = slot->texture.get();
                if (texture && texture->found && texture->levels.empty())
                    uses[texture].push_back(slot);
            }
        }
    };
    visit(*scene.rootNode);
    scene.rootNode->enumerateChildNodes([&](Node& node, bool&) { visit(node); });
    if (uses.empty()) return;

    std::vector<const Texture*> sources;
    for (const auto& [texture, slots] : uses)
        sources.push_back(texture);
    auto work = std::make_shared<SharedWork>(std::move(sources));
    DispatchQueue& queue = DispatchQueue::global(QoSClass::userInitiated);
    const size_t helpers = std::min(work->sources.size(), std::max<size_t>(queue.width(), 1)) - 1;
    for (size_t i = 0; i < helpers; ++i) {
        try {
            queue.async([work] { work->run(); });
        } catch (const std::exception&) {
            break;  // no worker to be had: this thread does it all
        }
    }
    work->run();
    work->allDone.wait();

    for (size_t i = 0; i < work->sources.size(); ++i) {
        auto decoded = std::make_shared<const Texture>(std::move(work->results[i]));
        for (TextureSlot* slot : uses[work->sources[i]])
            slot->texture = decoded;
    }
}

}  // namespace kelvo
