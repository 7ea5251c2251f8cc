#include "extensions/KelvoCache/CacheLayout.h"

#include <glib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

#include "extensions/KelvoCache/PNGText.h"
#include "platform/Foundation/FileReading.h"

namespace kelvo {

namespace {

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
using GString = std::unique_ptr<char, GFreeDeleter>;

std::int64_t parseInteger(const std::string& text) {
    if (text.empty() || text.size() > 19) return -2;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -2;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::optional<ThumbnailFlavour> flavourNamed(std::string_view name) {
    for (const ThumbnailFlavour& f : thumbnailFlavours)
        if (f.name == name) return f;
    return std::nullopt;
}

std::optional<std::filesystem::path> thumbnailCacheDirectory() {
    // An XDG variable that is not an absolute path is to be ignored.
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
        return std::filesystem::path(xdg) / "thumbnails";
    }
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return std::filesystem::path(home) / ".cache" / "thumbnails";
    }
    return std::nullopt;
}

std::optional<std::string> fileURI(const std::filesystem::path& path) {
    std::error_code error;
    // absolute() joins the working directory without touching links; lexically_normal()
    // drops "." and ".." the way a file manager's paths never hold them.
    std::filesystem::path absolute = std::filesystem::absolute(path, error).lexically_normal();
    if (error) return std::nullopt;
    std::string text = absolute.string();
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    GString uri(g_filename_to_uri(text.c_str(), nullptr, nullptr));
    if (!uri) return std::nullopt;
    return std::string(uri.get());
}

std::string thumbnailFileName(std::string_view uri) {
    GString md5(g_compute_checksum_for_data(
        G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(uri.data()), uri.size()));
    return std::string(md5.get()) + ".png";
}

std::optional<ThumbnailFacts> currentFacts(const std::filesystem::path& path,
                                           const std::string& uri) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return ThumbnailFacts{uri, static_cast<std::int64_t>(info.st_mtime),
                          static_cast<std::int64_t>(info.st_size)};
}

bool thumbnailIsValid(const std::filesystem::path& thumbnail, const ThumbnailFacts& now) {
    ByteBuffer bytes;
    try {
        // Text chunks sit before the image data; a thumbnail is small anyway.
        bytes = readFileContents(thumbnail, std::uint64_t{64} << 20);
    } catch (...) {
        return false;
    }
    const std::map<std::string, std::string> text = readPNGText(bytes);
    auto value = [&](const char* key) -> const std::string* {
        auto it = text.find(key);
        return it == text.end() ? nullptr : &it->second;
    };
    const std::string* uri = value("Thumb::URI");
    const std::string* mtime = value("Thumb::MTime");
    if (!uri || !mtime || *uri != now.uri || parseInteger(*mtime) != now.mtime) return false;
    const std::string* size = value("Thumb::Size");
    return !size || now.size < 0 || parseInteger(*size) == now.size;
}

}  // namespace kelvo
