// The one place where whatever a load threw becomes the error a thumbnail host hands on.
//
//   kelvo::Error                       itself, unchanged
//   std::bad_alloc                     "POSIX" ENOMEM
//   std::system_error (errno category) "POSIX" with its errno value
//   any other std::exception           "Kelvo" -1 with its what() text
//   anything else                      "Kelvo" -1 "Unknown error"
//
// Error types of the library that are not kelvo::Error get their own conversion here,
// ahead of the std::exception fallback; the ZIP reader's ZIPError, for one, becomes the
// domain "KelvoThumbnail.ZIPReader.ZIPError" with its case's number as the code and an
// empty user info.
#pragma once

#include <exception>
#include <string_view>

#include "platform/Foundation/Error.h"

namespace kelvo {

// The name under which this deliverable qualifies the error types it hands on.
inline constexpr std::string_view thumbnailModuleName = "KelvoThumbnail";

// Domain of failures with no domain of their own.
inline constexpr std::string_view genericErrorDomain = "Kelvo";

// Converts the exception held by `thrown` (not null).
Error hostError(std::exception_ptr thrown);

}  // namespace kelvo
