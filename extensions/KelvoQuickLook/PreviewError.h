// The error object the preview hands to its completion: whatever the loader threw, as one
// kelvo::Error. Errors that already are one pass unchanged.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "platform/Foundation/Error.h"

namespace kelvo {

// The domain under which the ZIP reader's errors leave the previewer; the code is the
// error's case number.
inline constexpr std::string_view previewZIPErrorDomain = "KelvoQuickLook.ZIPReader.ZIPError";

// The one conversion of everything a load can throw:
//   kelvo::Error                    unchanged;
//   the ZIP reader's error          zipReaderError(code, message);
//   std::bad_alloc                  POSIX ENOMEM;
//   any other std::exception        domain "Kelvo", code -1, its what();
//   anything else                   domain "Kelvo", code -1, "Unknown error".
Error previewError(std::exception_ptr thrown);

// A ZIP reader error (its case number and message) in the previewer's domain.
Error zipReaderError(long code, std::string message);

}  // namespace kelvo
