// Where the freedesktop thumbnail cache keeps a file's thumbnail, and what makes one valid.
//
// $XDG_CACHE_HOME/thumbnails (else ~/.cache/thumbnails) holds one folder per flavour:
// normal (128 pixels), large (256), x-large (512) and xx-large (1024). A thumbnail's name is
// the MD5 of the file's URI, as lower-case hex, plus ".png"; the URI is the absolute path,
// symbolic links not resolved, escaped as GLib escapes it (what file managers compare). The
// PNG carries Thumb::URI and Thumb::MTime (whole seconds) and here also Thumb::Size and
// Thumb::Mimetype. An application's failures go to fail/NAME-VERSION/ under the same name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

struct ThumbnailFlavour {
    std::string_view name;  // the folder
    int pixels;             // the longest edge
};
inline constexpr ThumbnailFlavour thumbnailFlavours[] = {
    {"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}};

// The flavour called `name`, or nothing.
std::optional<ThumbnailFlavour> flavourNamed(std::string_view name);

// $XDG_CACHE_HOME/thumbnails when that is an absolute path, else $HOME/.cache/thumbnails;
// nothing when neither is set.
std::optional<std::filesystem::path> thumbnailCacheDirectory();

// The file:// URI of `path` made absolute against the working directory (symbolic links are
// kept as they are), escaped the way GLib escapes it; nothing for a path GLib refuses.
std::optional<std::string> fileURI(const std::filesystem::path& path);

// The cache's name for the thumbnail of `uri`: MD5 of the URI in lower-case hex, ".png".
std::string thumbnailFileName(std::string_view uri);

// What the cache's text chunks say about a file, and what its state is now.
struct ThumbnailFacts {
    std::string uri;
    std::int64_t mtime = 0;  // whole seconds since the epoch
    std::int64_t size = -1;  // bytes; -1 when not recorded
};

// The facts of the file at `path` as the cache records them; nothing when it cannot be
// examined.
std::optional<ThumbnailFacts> currentFacts(const std::filesystem::path& path,
                                           const std::string& uri);

// Whether the PNG at `thumbnail` was made from the file as it is now: its Thumb::URI and
// Thumb::MTime match and its Thumb::Size, where it has one, too.
bool thumbnailIsValid(const std::filesystem::path& thumbnail, const ThumbnailFacts& now);

}  // namespace kelvo
