// The whole binary USD load: any byte string as a USDZ package or a crate root layer (the
// reader tells them apart by the first bytes) must give consistent geometry or a ModelIO
// error. Packages name their layers and textures inside themselves only, so the file's
// folder holds nothing the load may read.
#include <cstddef>
#include <cstdint>

#include "fuzz/ModelAssetCheck.h"
#include "platform/ModelIO/USD/USDImporter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        kelvo::fuzz::checkAsset(
            kelvo::importUSD(kelvo::ByteBuffer(data, data + size), "/nonexistent/kelvo-fuzz/p.usdz"));
    } catch (const kelvo::Error& e) {
        if (e.domain() != kelvo::modelIOErrorDomain) __builtin_trap();
    }
    return 0;
}
