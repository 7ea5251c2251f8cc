// Any byte string is an STL file to the importer: it must return, never crash, and never
// allocate beyond what the bytes can justify.
#include <cstddef>
#include <cstdint>

#include "platform/ModelIO/STLImporter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvo::ModelAsset asset = kelvo::importSTL(kelvo::ByteSpan(data, size));
    // Touch the output so the buffers' sizes are checked against their counts.
    for (const auto& object : asset.objects) {
        const kelvo::Geometry& g = *object->geometry;
        if (g.sources[0].usableVectorCount() != g.vertexCount()) __builtin_trap();
        if (g.elements[0].usableTriangleCount() != g.triangleCount()) __builtin_trap();
    }
    return 0;
}
