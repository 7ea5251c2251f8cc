// Any byte string is an OBJ file to the importer, and an MTL library to its material reader:
// they must return consistent geometry (or, for UTF-16 text, the ModelIO error), never
// crash, hang or allocate beyond what the bytes justify. The file names lead nowhere, so
// no material library or texture is read from disk.
#include <cstddef>
#include <cstdint>

#include "fuzz/ModelAssetCheck.h"
#include "platform/ModelIO/MTLReader.h"
#include "platform/ModelIO/OBJImporter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kelvo::ByteSpan bytes(data, size);
    try {
        kelvo::fuzz::checkAsset(kelvo::importOBJ(bytes, "/nonexistent-kelvo-fuzz/model.obj"));
    } catch (const kelvo::Error& e) {
        if (e.domain() != kelvo::modelIOErrorDomain) __builtin_trap();
    }
    kelvo::TextureReferences textures;
    std::vector<std::shared_ptr<kelvo::Material>> materials;
    kelvo::readMaterialLibrary(bytes, "/nonexistent-kelvo-fuzz/model.mtl", textures, materials);
    return 0;
}
