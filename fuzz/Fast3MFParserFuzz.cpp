// Any byte string is a model part to the scanner: it must return a result whose buffers
// match their counts, without reading outside the input, and cut in two pieces at any
// element boundary it must give the same result. The same bytes also check the number
// reader against the C library it stands in for, bit for bit.
#include <locale.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "extensions/Shared/ThreeMF/Fast3MFParser.h"
#include "extensions/Shared/ThreeMF/ThreeMFNumbers.h"
#include "fuzz/ThreeMFResultBytes.h"

namespace {

void checkNumberReader(const std::uint8_t* data, std::size_t size) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string text(reinterpret_cast<const char*>(data), size);  // zero-terminated
    char* end = nullptr;
    const float expected = strtof_l(text.c_str(), &end, c);
    // strtof stops at an embedded zero byte; give the reader the same end.
    const std::size_t visible = std::strlen(text.c_str());
    kelvo::CFloatParse got = kelvo::parseCFloat(data, data + visible);
    if (std::memcmp(&got.value, &expected, sizeof expected) != 0) __builtin_trap();
    if (got.next - data != end - text.c_str()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelvo::Fast3MFParser::ParseResult result =
        kelvo::Fast3MFParser::parse(kelvo::ByteSpan(data, size));
    for (const auto& [id, meshes] : result.meshes) {
        for (const kelvo::ThreeMFMesh& mesh : meshes) {
            if (mesh.vertexCount < 1 || mesh.triangleCount < 1) __builtin_trap();
            if (mesh.positionData.size() != static_cast<std::size_t>(mesh.vertexCount) * 12)
                __builtin_trap();
            if (mesh.indexData.size() != static_cast<std::size_t>(mesh.triangleCount) * 12)
                __builtin_trap();
        }
    }
    // The first few openings as cuts (those that are no element boundary give one piece).
    const kelvo::ByteSpan bytes(data, size);
    const std::string whole = kelvo::resultBytes(result);
    int cuts = 0;
    for (std::size_t cut = 1; cut < size && cuts < 6; ++cut) {
        if (data[cut] != '<') continue;
        ++cuts;
        if (kelvo::resultBytes(kelvo::Fast3MFParser::parseInTwoPieces(bytes, cut)) != whole)
            __builtin_trap();
    }
    if (size <= 64) checkNumberReader(data, size);
    return 0;
}
