// The text people read about a failure, the same from kelvo-thumbnailer, kelvo-preview and
// kelvo-inspect. The error values themselves (HostError.h) are never changed for it.
//
//   errorMessage      MESSAGE: the error's description; for an error converted from another
//                     type that carries no description of its own (a ZIPError reaches the
//                     hosts with empty user info), that type's case and payload instead, such
//                     as `entryNotFound("3D/3dmodel.model")`
//   errorSummary      "DOMAIN CODE: MESSAGE"
//   errorLine         "PROGRAM: FILE: DOMAIN CODE: MESSAGE\n", the one line each executable
//                     prints on standard error
//   errorExplanation  one or two sentences for a person, for a window: "The 3MF package has
//                     no model part 3D/3dmodel.model."
#pragma once

#include <string>
#include <string_view>

#include "platform/Foundation/Error.h"

namespace kelvo {

std::string errorMessage(const Error& error);

std::string errorSummary(const Error& error);

std::string errorLine(std::string_view program, std::string_view file, const Error& error);

std::string errorExplanation(const Error& error);

}  // namespace kelvo
