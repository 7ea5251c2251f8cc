// MTL material libraries, as OBJ files name them with mtllib.
//
// Per material (newmtl NAME, the rest of the line, blanks inside kept):
//   Kd r g b         diffuse colour (default white under a diffuse texture, else 0.8 grey)
//   Ks r g b, Ns n   specular colour and exponent
//   Ke r g b         emission
//   d a / Tr t       opacity a, or transparency t = 1 - a; d wins when both are given. An
//                    opacity of 0 or less is read as opaque: exporters that write Tr 1 or
//                    d 0 for solid materials are common, an invisible material is not.
//                    Below 1 the material is blended.
//   illum n          0: unlit (constant), 1: Lambert, 2 and up: Blinn
//   Pr r, Pm m       roughness and metalness; either one makes the material physically based
//   map_Kd, map_Ke   diffuse and emission textures: options (-s, -o with up to three numbers,
//                    -clamp on/off; -blendu, -blendv, -bm, -boost, -cc, -imfchan, -mm,
//                    -t, -texres, -type skipped with their arguments), then the file name:
//                    the rest of the line, so names with blanks work. It is resolved
//                    relative to the library file (Windows separators accepted).
// Ka (ambient) has nothing to drive in the scene graph; other statements are skipped.
// Keywords are matched in any letter case. The first definition of a name wins.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"
#include "platform/ModelIO/TextureReferences.h"
#include "platform/SceneKit/Material.h"

namespace kelvo {

// Appends the materials of the library text `text`, read from `libraryFile`, to
// `materials` (each named by Material::name).
void readMaterialLibrary(ByteSpan text, const std::filesystem::path& libraryFile,
                         TextureReferences& textures,
                         std::vector<std::shared_ptr<Material>>& materials);

}  // namespace kelvo
