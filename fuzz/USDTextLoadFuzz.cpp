// The whole text USD load, composition and scene building included: any byte string as
// the root layer must give consistent geometry or a ModelIO error. The root sits in a
// folder of its own holding a few layers it may name (a.usda, b.usda and the root itself,
// r.usda), so sub-layers, references, payloads and their cycles are explored; nothing
// outside that folder can be reached (absolute paths and URIs are refused).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/ModelAssetCheck.h"
#include "platform/ModelIO/USD/USDImporter.h"

namespace {

const std::filesystem::path& folder() {
    static const std::filesystem::path made = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvo-usd-fuzz-XXXXXX").string();
        std::filesystem::path dir = ::mkdtemp(pattern.data());
        std::ofstream(dir / "a.usda") << "#usda 1.0\n( defaultPrim = \"A\" subLayers = [@b.usda@] )\n"
                                         "def Xform \"A\" ( references = @r.usda@ ) { def Cube \"C\" {} }\n";
        std::ofstream(dir / "b.usda") << "#usda 1.0\n( defaultPrim = \"B\" )\n"
                                         "def Mesh \"B\" ( payload = @a.usda@</A> ) { point3f[] points = "
                                         "[(0,0,0),(1,0,0),(0,1,0)] int[] faceVertexCounts = [3] "
                                         "int[] faceVertexIndices = [0,1,2] }\n";
        return dir;
    }();
    return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path root = folder() / "r.usda";
    // The root is also on disk, so layers that name it read these very bytes.
    std::ofstream(root, std::ios::binary).write(reinterpret_cast<const char*>(data),
                                                static_cast<std::streamsize>(size));
    try {
        kelvo::fuzz::checkAsset(kelvo::importUSD(kelvo::ByteBuffer(data, data + size), root));
    } catch (const kelvo::Error& e) {
        if (e.domain() != kelvo::modelIOErrorDomain) __builtin_trap();
    }
    return 0;
}
