// The JSON description of a scene that kelvo-inspect prints: the one place that turns a
// scene graph into text.
#pragma once

#include <string>

#include "platform/SceneKit/Node.h"

namespace kelvo {

// {"file", "totals", "boundingBox", "root"} as the tool's --help describes. `file` is
// written as given (invalid UTF-8 bytes become U+FFFD).
std::string sceneToJSON(const Scene& scene, const std::string& file);

}  // namespace kelvo
