// A model file too large to load as a scene, open for drawing straight from the file
// (SceneLoader::openStreamed). STL streams; a 3MF package's XML is read in pieces into a
// scene of its meshes alone.
#pragma once

#include <memory>

#include "platform/Foundation/FileReading.h"
#include "platform/ModelIO/STLStream.h"
#include "platform/SceneKit/Node.h"

namespace kelvo {

struct StreamedModel {
    MappedFile file;
    STLStreamSummary summary;  // the first pass: count, bounds, pieces
    // A 3MF package: its scene, drawn as a loaded one is (the file is not kept then;
    // summary holds the triangle count only).
    std::shared_ptr<Scene> scene;
};

}  // namespace kelvo
