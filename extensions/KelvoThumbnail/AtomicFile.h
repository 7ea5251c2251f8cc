// Writing a result file so that readers see either nothing or the whole file.
#pragma once

#include <filesystem>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo {

// Writes `bytes` to `path` so that no reader ever sees a partial file and a failure leaves
// `path` as it was:
//   - Usually through a new hidden file beside `path` (same directory, so the same file
//     system), renamed over `path` once complete.
//   - When `path` is an existing empty regular file, into that very file instead. A host may
//     create the output file itself and read the result through the descriptor it kept
//     (tumbler does), and a renamed file would never reach it. A failed write truncates the
//     file back to empty.
// Throws the operating system's error (domain "POSIX"); no temporary file is left behind.
// A new file gets the usual permissions (0666 less the umask).
void writeFileAtomically(const std::filesystem::path& path, ByteSpan bytes);

}  // namespace kelvo
