// A model file too large to load as a scene, open for drawing straight from the file
// (SceneLoader::openStreamed). Only STL streams so far.
#pragma once

#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/STLStream.h"

namespace kelvo {

struct StreamedModel {
    MappedFile file;
    STLStreamSummary summary;  // the first pass: count, bounds, pieces
};

}  // namespace kelvo
