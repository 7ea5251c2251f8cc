// Any byte string is a PLY file to the importer: it must return consistent geometry or the
// ModelIO error for a header it cannot read, never crash, hang or allocate beyond what the
// bytes justify, whatever counts the header declares.
#include <cstddef>
#include <cstdint>

#include "fuzz/ModelAssetCheck.h"
#include "platform/ModelIO/PLYImporter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        kelvo::fuzz::checkAsset(
            kelvo::importPLY(kelvo::ByteSpan(data, size), "/nonexistent-kelvo-fuzz/model.ply"));
    } catch (const kelvo::Error& e) {
        if (e.domain() != kelvo::modelIOErrorDomain) __builtin_trap();
    }
    return 0;
}
