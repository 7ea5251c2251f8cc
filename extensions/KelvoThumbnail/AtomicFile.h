// Writing a result file so that readers see either nothing or the whole file.
#pragma once

#include <filesystem>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

// Writes `bytes` to a new hidden file beside `path` (same directory, so the same file
// system), then renames it over `path`. On any failure the temporary file is removed, what
// was at `path` before is left as it was, and the operating system's error (domain "POSIX")
// is thrown. The file gets the usual permissions (0666 less the umask).
void writeFileAtomically(const std::filesystem::path& path, ByteSpan bytes);

}  // namespace kelvo
