// Any byte string is a 3MF package to the reading in pieces: the root model part, streamed
// out of the package in small pieces and scanned as they come, must give exactly what
// extracting and scanning it whole gives (or the same ZIP error), and the package read in
// pieces must give the scene a load gives (its triangles, nodes and bounds) or the same
// error. Piece sizes vary with the input, so that every way of cutting a part is tried.
// (The whole part is inflated by libdeflate, the pieces by zlib: on a few broken streams one
// fails where the other does not.)
#include <cstddef>
#include <cstdint>
#include <string>

#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/ThreeMF/Fast3MFParser.h"
#include "extensions/Shared/ThreeMF/ThreeMFLoader.h"
#include "extensions/Shared/ZIP/ZIPReader.h"
#include "fuzz/ThreeMFResultBytes.h"
#include "platform/Foundation/Error.h"

namespace {

// As for the load's fuzzer: larger packages only slow each run down.
constexpr std::size_t largestInput = 256 * 1024;

using kelvo::ByteSpan;

const std::string broken = "error decompressionFailed";
using kelvo::ZIPReader;

// The scanned root part, or the error's name.
std::string rootPart(ByteSpan package, bool inPieces, std::size_t pieceBytes,
                     std::size_t scanBytes) {
    try {
        const std::vector<kelvo::CentralEntry> entries = ZIPReader::readCentralDirectory(package);
        const kelvo::CentralEntry& model = entries[ZIPReader::modelEntryIndex(entries)];
        if (!inPieces) {
            return kelvo::resultBytes(
                kelvo::Fast3MFParser::parse(ZIPReader::extractEntry(model, package)));
        }
        kelvo::Fast3MFParser::Stream stream(scanBytes);
        ZIPReader::streamEntry(model, package, pieceBytes,
                               [&](ByteSpan piece) { stream.feed(piece); });
        return kelvo::resultBytes(stream.finish());
    } catch (const ZIPReader::ZIPError& e) {
        return std::string("error ") + e.what();
    }
}

// Triangles, geometry nodes and bounds of the scene, or the error.
std::string scene(ByteSpan package, bool inPieces) {
    try {
        std::shared_ptr<kelvo::Scene> loaded =
            inPieces ? kelvo::load3MFSceneInPieces(package, 1)
                     : kelvo::load3MFScene(kelvo::ByteBuffer(package.begin(), package.end()));
        if (!loaded) return "small";
        std::int64_t triangles = 0, nodes = 0;
        loaded->rootNode->enumerateChildNodes([&](kelvo::Node& node, bool&) {
            if (!node.geometry) return;
            ++nodes;
            for (const auto& element : node.geometry->elements)
                triangles += element.primitiveCount;
        });
        const kelvo::BoundingBox box = loaded->rootNode->boundingBox();
        std::string out = std::to_string(triangles) + "/" + std::to_string(nodes);
        for (double v : {box.min.x, box.min.y, box.min.z, box.max.x, box.max.y, box.max.z})
            out += " " + std::to_string(v);
        return out;
    } catch (const ZIPReader::ZIPError& e) {
        return std::string("error ") + e.what();
    } catch (const kelvo::Error& e) {
        if (e.domain() != "SceneLoader" || e.code() != kelvo::noMeshIn3MF) __builtin_trap();
        return "no mesh";
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > largestInput) return 0;
    const ByteSpan package(data, size);
    // The two DEFLATE decoders part ways on some broken streams only (codes a compressor
    // never writes): one of them fails there, and no other difference is allowed.
    auto same = [](const std::string& a, const std::string& b) {
        return a == b || a == broken || b == broken;
    };
    const std::string whole = rootPart(package, false, 0, 0);
    if (!same(rootPart(package, true, 1 + size % 97, 1 + size % 61), whole)) __builtin_trap();
    if (!same(rootPart(package, true, 4096, 1 << 16), whole)) __builtin_trap();
    const std::string loaded = scene(package, false), read = scene(package, true);
    // A root part too small for the threshold is loaded instead.
    if (read != "small" && !same(read, loaded)) __builtin_trap();
    return 0;
}
