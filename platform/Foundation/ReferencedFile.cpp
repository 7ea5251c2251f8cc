#include "platform/Foundation/ReferencedFile.h"

#include <dirent.h>

#include <cerrno>

#include "platform/Foundation/Error.h"
#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Text.h"

namespace kelvo {

namespace {

// RFC 3986: scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
bool hasScheme(std::string_view text) {
    size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!alpha(text[0])) return false;
    for (size_t i = 1; i < colon; ++i) {
        char c = text[i];
        if (!alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

std::optional<std::filesystem::path> refuse(std::string* reason, std::string text) {
    if (reason) *reason = std::move(text);
    return std::nullopt;
}

// The entry of `folder` whose name equals `name` ignoring ASCII case, if exactly one does.
std::optional<std::filesystem::path> caseInsensitiveMatch(const std::filesystem::path& folder,
                                                          const std::string& name) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::filesystem::path> found;
    int matches = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (equalsIgnoringASCIICase(entry->d_name, name)) {
            found = folder / entry->d_name;
            ++matches;
        }
    }
    ::closedir(dir);
    return matches == 1 ? found : std::nullopt;
}

}  // namespace

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = hexDigitValue(text[i + 1]), lo = hexDigitValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::optional<std::filesystem::path> resolveReference(const std::filesystem::path& referringFile,
                                                      std::string_view reference,
                                                      ReferenceSyntax syntax, std::string* reason) {
    const std::string quoted = "\"" + std::string(reference) + "\"";
    if (reference.empty()) return refuse(reason, "an empty file reference");
    // A drive letter ("C:") reads as a scheme too; both are refused.
    if (hasScheme(reference)) {
        return refuse(reason, "the reference " + quoted + " is a URI or an absolute path");
    }
    std::string name =
        syntax == ReferenceSyntax::uri ? percentDecode(reference) : std::string(reference);
    if (name.find('\0') != std::string::npos) {
        return refuse(reason, "the reference " + quoted + " holds a zero byte");
    }
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    if (name.front() == '/') {
        return refuse(reason, "the reference " + quoted + " is an absolute path");
    }
    return referringFile.parent_path() / name;
}

ReferencedFile readReferencedFile(const std::filesystem::path& referringFile,
                                  std::string_view reference, ReferenceSyntax syntax,
                                  std::uint64_t sizeLimit) {
    ReferencedFile result;
    std::string reason;
    std::optional<std::filesystem::path> path =
        resolveReference(referringFile, reference, syntax, &reason);
    if (!path) {
        result.outcome = ReferenceOutcome::refused;
        result.reason = reason;
        return result;
    }
    result.path = *path;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            result.contents = readFileContents(result.path, sizeLimit);
            result.outcome = ReferenceOutcome::read;
            result.reason.clear();
            return result;
        } catch (const Error& e) {
            const std::string where = "\"" + result.path.string() + "\"";
            switch (e.code()) {
                case ENOENT:
                case ENOTDIR:
                    result.outcome = ReferenceOutcome::missing;
                    result.reason = "the referenced file " + where + " does not exist";
                    break;
                case EISDIR:
                case EINVAL:
                    result.outcome = ReferenceOutcome::refused;
                    result.reason = "the referenced file " + where + " is not a regular file";
                    return result;
                case EFBIG:
                    result.outcome = ReferenceOutcome::tooLarge;
                    result.reason = "the referenced file " + where + " is larger than " +
                                    std::to_string(sizeLimit) + " bytes";
                    return result;
                default:
                    result.outcome = ReferenceOutcome::unreadable;
                    result.reason = "the referenced file " + where +
                                    " cannot be read: " + e.localizedDescription();
                    return result;
            }
        }
        if (attempt == 0) {
            std::optional<std::filesystem::path> other = caseInsensitiveMatch(
                result.path.parent_path(), result.path.filename().string());
            if (!other) break;
            result.path = *other;
        }
    }
    return result;
}

}  // namespace kelvo
