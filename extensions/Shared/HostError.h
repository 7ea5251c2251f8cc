// The one place where whatever a load threw becomes the error a host hands on.
//
//   kelvo::Error                       itself, unchanged
//   the ZIP reader's ZIPError          "<deliverable>.ZIPReader.ZIPError", its case's number
//                                      as the code, empty user info
//   std::bad_alloc                     "POSIX" ENOMEM
//   std::system_error (errno category) "POSIX" with its errno value
//   any other std::exception           "Kelvo" -1 with its what() text
//   anything else                      "Kelvo" -1 "Unknown error"
#pragma once

#include <exception>
#include <string_view>

#include "platform/Foundation/Error.h"

namespace kelvo {

// Domain of failures with no domain of their own.
inline constexpr std::string_view genericErrorDomain = "Kelvo";

// Converts the exception held by `thrown` (not null) for the deliverable named
// `deliverable` ("KelvoThumbnail", "KelvoQuickLook", ...), which qualifies the error types
// it hands on.
Error hostError(std::exception_ptr thrown, std::string_view deliverable);

}  // namespace kelvo
