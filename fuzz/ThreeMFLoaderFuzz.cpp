// Any byte string is a 3MF package to the whole load: listing, DEFLATE, the scanner on every
// part it reaches, and the assembly. It must return a scene or throw ZIPError or the
// "SceneLoader" error -12, never crash, hang or allocate past its budgets, and every
// geometry it returns must hold the bytes its counts promise.
#include <cstddef>
#include <cstdint>

#include "extensions/Shared/ThreeMF/ThreeMFLoader.h"
#include "extensions/Shared/ZIP/ZIPReader.h"
#include "platform/Foundation/Error.h"

namespace {

// As for the ZIP reader's fuzzer: larger packages only slow each run down, and their
// DEFLATE capacity (1032 x the package) would pass the fuzzer's allocation limit.
constexpr std::size_t largestInput = 256 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > largestInput) return 0;
    std::shared_ptr<kelvo::Scene> scene;
    try {
        scene = kelvo::load3MFScene(kelvo::ByteBuffer(data, data + size));
    } catch (const kelvo::ZIPReader::ZIPError&) {
        return 0;
    } catch (const kelvo::Error& e) {
        if (e.domain() != "SceneLoader" || e.code() != -12) __builtin_trap();
        return 0;
    }
    scene->rootNode->enumerateChildNodes([](kelvo::Node& node, bool&) {
        if (!node.geometry) return;
        for (const auto& source : node.geometry->sources) {
            if (source.usableVectorCount() != source.vectorCount) __builtin_trap();
        }
        for (const auto& element : node.geometry->elements) {
            if (element.usableTriangleCount() != element.primitiveCount) __builtin_trap();
        }
    });
    return 0;
}
