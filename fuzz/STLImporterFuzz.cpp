// Any byte string is an STL file to the importer: it must return, never crash, and never
// allocate beyond what the bytes can justify.
#include <cstddef>
#include <cstdint>

#include "platform/ModelIO/STLImporter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvo::ModelAsset asset = kelvo::importSTL(kelvo::ByteSpan(data, size));
    // Touch the output so the buffers' sizes are checked against their counts.
    for (const kelvo::AssetMesh& mesh : asset.meshes) {
        if (mesh.positions.size() != static_cast<size_t>(mesh.vertexCount) * 12) __builtin_trap();
        if (mesh.indices.size() != static_cast<size_t>(mesh.triangleCount) * 12) __builtin_trap();
    }
    return 0;
}
