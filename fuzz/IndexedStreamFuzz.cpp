// Any byte string is an OBJ file to the streaming reader (a PLY one when it starts "ply"):
// every pass must return, never crash, read only what the file holds, and agree with itself
// on the count. Pieces as small as the last byte says put piece boundaries everywhere.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/ModelIO/OBJStream.h"
#include "platform/ModelIO/PLYStream.h"

namespace {

// Streams and gathers every third triangle; traps where the passes disagree.
template <class Summary, class Stream, class Gather>
void check(const Summary& summary, std::size_t pieces, const Stream& stream, const Gather& gather) {
    std::uint64_t seen = 0;
    stream(0, pieces, [&](std::uint64_t first, const float*, std::size_t count) {
        if (first != seen) __builtin_trap();
        seen += count;
    });
    if (seen != summary.triangles) __builtin_trap();
    std::vector<std::uint32_t> every;
    for (std::uint64_t t = 0; t < summary.triangles && t < 1000; t += 3)
        every.push_back(static_cast<std::uint32_t>(t));
    std::int64_t gathered = 0;
    for (const auto& object : gather(every).objects)
        for (const kelvo::GeometryElement& element : object->geometry->elements)
            gathered += element.usableTriangleCount();
    if (gathered != static_cast<std::int64_t>(every.size()) + 1) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint64_t pieceBytes = 1 + data[size - 1] * 16;
    const int fd = ::memfd_create("model", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        if (fd >= 0) ::close(fd);
        return 0;
    }
    const std::filesystem::path path = "/proc/self/fd/" + std::to_string(fd);
    try {
        const kelvo::MappedFile file = kelvo::mapFileContents(path);
        if (size >= 3 && std::memcmp(data, "ply", 3) == 0) {
            const kelvo::PLYStreamSummary summary = kelvo::summarizePLY(file, pieceBytes);
            kelvo::plyTriangleEstimate(file.bytes());
            check(
                summary, summary.pieces.size(),
                [&](std::size_t a, std::size_t b, const kelvo::PLYBatchSink& sink) {
                    kelvo::streamPLYTriangles(file, summary, a, b, sink);
                },
                [&](const std::vector<std::uint32_t>& ordinals) {
                    return kelvo::gatherPLYTriangles(file, summary, ordinals);
                });
        } else {
            const kelvo::OBJStreamSummary summary = kelvo::summarizeOBJ(file, pieceBytes);
            check(
                summary, summary.facePieces.size(),
                [&](std::size_t a, std::size_t b, const kelvo::OBJBatchSink& sink) {
                    kelvo::streamOBJTriangles(file, summary, a, b, sink);
                },
                [&](const std::vector<std::uint32_t>& ordinals) {
                    return kelvo::gatherOBJTriangles(file, summary, ordinals, path);
                });
        }
    } catch (const kelvo::Error&) {
        // Not PLY at all, or UTF-16 text: refused, as the importers refuse it.
    }
    ::close(fd);
    return 0;
}
