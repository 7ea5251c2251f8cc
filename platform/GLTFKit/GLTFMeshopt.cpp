// EXT_meshopt_compression: buffer views decoded with meshoptimizer's decoders and filters,
// which are written to be safe on untrusted input (they may produce garbage, never read or
// write outside the buffers they are given).
#include <meshoptimizer.h>

#include "platform/GLTFKit/GLTFReading.h"

namespace kelvo::gltf {

void decodeMeshopt(const GLTFMeshoptCompression& m, ByteSpan compressed, std::uint8_t* out,
                   const std::string& what) {
    const size_t count = static_cast<size_t>(m.count);
    const size_t stride = static_cast<size_t>(m.byteStride);
    int result = -1;
    switch (m.mode) {
        case GLTFMeshoptMode::attributes:
            if (stride % 4 != 0) {
                fail(gltfErrorInvalidAsset, what +
                                                ": meshopt ATTRIBUTES need a byteStride that "
                                                "is a multiple of 4, not " +
                                                std::to_string(stride));
            }
            result = meshopt_decodeVertexBuffer(out, count, stride, compressed.data(),
                                                compressed.size());
            break;
        case GLTFMeshoptMode::triangles:
            if ((stride != 2 && stride != 4) || count % 3 != 0) {
                fail(gltfErrorInvalidAsset, what +
                                                ": meshopt TRIANGLES need a byteStride of 2 or "
                                                "4 and a count divisible by 3");
            }
            result =
                meshopt_decodeIndexBuffer(out, count, stride, compressed.data(), compressed.size());
            break;
        case GLTFMeshoptMode::indices:
            if (stride != 2 && stride != 4) {
                fail(gltfErrorInvalidAsset, what + ": meshopt INDICES need a byteStride of 2 or 4");
            }
            result = meshopt_decodeIndexSequence(out, count, stride, compressed.data(),
                                                 compressed.size());
            break;
    }
    if (result != 0) {
        fail(gltfErrorDecompressionFailed,
             what + ": the meshopt data does not decode (error " + std::to_string(result) + ")");
    }
    if (m.mode != GLTFMeshoptMode::attributes) return;
    switch (m.filter) {
        case GLTFMeshoptFilter::none:
            break;
        case GLTFMeshoptFilter::octahedral:
            if (stride != 4 && stride != 8) {
                fail(gltfErrorInvalidAsset,
                     what + ": the OCTAHEDRAL filter needs a byteStride of 4 or 8");
            }
            meshopt_decodeFilterOct(out, count, stride);
            break;
        case GLTFMeshoptFilter::quaternion:
            if (stride != 8) {
                fail(gltfErrorInvalidAsset,
                     what + ": the QUATERNION filter needs a byteStride of 8");
            }
            meshopt_decodeFilterQuat(out, count, stride);
            break;
        case GLTFMeshoptFilter::exponential:
            meshopt_decodeFilterExp(out, count, stride);  // stride is a multiple of 4
            break;
    }
}

}  // namespace kelvo::gltf
