// Files that a model file names: glTF buffers and images, OBJ's material libraries and
// textures, PLY texture files, USD layers. Every loader resolves such a reference here, so
// they all follow one rule about what a model file may make us open:
//
//   - relative to the folder of the referring file; `..` is allowed (assets often share a
//     textures folder beside their own);
//   - Windows separators are accepted as folder separators;
//   - for URI references (glTF, USD asset paths written as URIs) percent escapes are
//     decoded; a reference with a scheme (`file:`, `http:`, ...) is refused;
//   - absolute paths (`/etc/passwd`, `C:\...`, `\\server\share`) are refused: a model
//     names files that travel with it, never arbitrary places on the reader's machine;
//   - only regular files are opened, never directories, FIFOs or devices, and only up to
//     a size limit;
//   - when the exact name is missing, a name in the same folder that differs only in ASCII
//     letter case is taken (files made on case-insensitive systems name "Tex.PNG" for
//     "tex.png").
// A missing file is not an error here: the caller decides (a missing texture is skipped, a
// missing glTF buffer fails the load).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

enum class ReferenceSyntax {
    path,  // a file path as written (OBJ, MTL, PLY comments)
    uri,   // a relative URI reference: percent escapes decoded, schemes refused
};

enum class ReferenceOutcome {
    read,        // `contents` holds the file
    missing,     // no such file (also: a folder on the way is missing)
    refused,     // absolute, with a scheme, empty, or naming something not a regular file
    unreadable,  // the file exists but could not be read (permissions, I/O error)
    tooLarge,    // larger than the size limit
};

struct ReferencedFile {
    ReferenceOutcome outcome = ReferenceOutcome::missing;
    std::filesystem::path path;  // where the file was looked for; empty when refused early
    ByteBuffer contents;
    std::string reason;  // for messages: why it was not read, naming the reference
};

// Where `reference`, made by the file `referringFile`, points; nothing when the rules above
// refuse it (with the reason in `*reason` when given). Looks at no file.
std::optional<std::filesystem::path> resolveReference(const std::filesystem::path& referringFile,
                                                      std::string_view reference,
                                                      ReferenceSyntax syntax,
                                                      std::string* reason = nullptr);

// Resolves and reads the referenced file whole, by the rules above.
ReferencedFile readReferencedFile(const std::filesystem::path& referringFile,
                                  std::string_view reference, ReferenceSyntax syntax,
                                  std::uint64_t sizeLimit);

// Percent-decodes a URI reference; a '%' not followed by two hex digits stays as it is.
std::string percentDecode(std::string_view text);

}  // namespace kelvo
