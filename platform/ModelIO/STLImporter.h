// STL import, binary and ASCII, written for speed.
//
// Which kind a file is: binary when its size is exactly 84 + 50 x (the header's triangle
// count), even when the header starts with "solid"; otherwise ASCII when it starts with
// "solid" (after white space); otherwise binary again, reading only the whole triangles the
// file holds (a truncated or padded file shows what it has). The header's count is never
// used for an allocation beyond what the file can hold.
//
// Output: one object per binary file, one per ASCII solid that has at least one facet (named
// after it), each with a geometry of three unshared vertices per triangle with the facet
// normal on each, so hard edges stay hard, and no material.
// A facet normal that is zero or not finite is recomputed from the vertices. Non-finite
// vertices are kept as read (the renderers skip their triangles).
#pragma once

#include <filesystem>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/ModelIO.h"

namespace kelvo {

ModelAsset importSTL(ByteSpan bytes);

// Reads the file, then importSTL.
ModelAsset importSTLFile(const std::filesystem::path& url);

}  // namespace kelvo
