// ThumbnailProvider: answers a host's request for a still image of a model file.
//
// provideThumbnail() returns at once. The file is loaded on the global concurrent queue of
// class userInitiated, and the handler is called exactly once, from that queue (never from
// the calling thread):
//   - with a reply and no error: the reply's context size is the request's maximum size and
//     its drawing block holds the loaded scene; or
//   - with no reply and the load's error, converted by hostError() (a kelvo::Error reaches
//     the handler unchanged).
//
// The drawing block renders the scene with SceneLoader::renderThumbnailFrame (a streamed
// model with renderStreamedThumbnailFrame) at maximum
// size x scale pixels, draws the image stretched over (0, 0, width, height) of the current
// graphics context and returns true. It returns false when no image results or no context
// is current, and throws the thumbnailer's nothingToDraw error (ThumbnailerError.h) when
// the model covers no pixel even with its back faces shown. Each run stages the scene again: a second run renders from a second camera
// with a second light rig added to the first, and the first run's image is unaffected.
//
// Threads: any number of requests may be in flight at once, from any threads; they share
// the provider's stateless SceneLoader. A request keeps what it needs alive by itself, so
// the provider may be destroyed while requests are still loading. The drawing block touches
// only its own scene; the host calls it on any thread, one call at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "extensions/KelvoThumbnail/ThumbnailReply.h"
#include "extensions/Shared/SceneLoader.h"
#include "platform/Foundation/Error.h"

namespace kelvo {

// The name under which this deliverable qualifies the error types it hands on.
inline constexpr std::string_view thumbnailModuleName = "KelvoThumbnail";

class ThumbnailProvider {
public:
    // Receives either a reply or an error, never both, never neither. Must not throw.
    using CompletionHandler =
        std::function<void(std::optional<ThumbnailReply> reply, std::optional<Error> error)>;

    // A step run on the loading queue after a load succeeded and before the reply is made.
    // It may change the scene (the thumbnailer fits huge models to a budget here) or throw
    // to fail the request exactly as a load error would.
    using ScenePreparation = std::function<void(Scene& scene)>;

    ThumbnailProvider();
    // `streamingThreshold` > 0: files that SceneLoader::openStreamed takes at that threshold
    // (models too large to load) are drawn from the file instead of loaded; `prepare` is
    // not run for them, and one that holds no triangle fails as nothingToDraw.
    explicit ThumbnailProvider(ScenePreparation prepare, std::int64_t streamingThreshold = 0);

    // Starts loading request.fileURL and returns. Throws std::system_error only when the
    // queue has no thread and none can be started; the handler is then never called.
    void provideThumbnail(const ThumbnailRequest& request, CompletionHandler handler) const;

private:
    std::shared_ptr<const SceneLoader> loader_;
    std::shared_ptr<const ScenePreparation> prepare_;
    std::int64_t streamingThreshold_ = 0;
};

}  // namespace kelvo
