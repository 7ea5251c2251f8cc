// Any byte string is an STL file to the streaming reader too: every pass must return, never
// crash, read only what the file holds, and agree with itself on the count. Small pieces
// (from the first byte) put piece boundaries everywhere.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ModelIO/STLStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint64_t pieceBytes = 1 + data[0] * 16;
    const int fd = ::memfd_create("stl", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data + 1, size - 1) != static_cast<ssize_t>(size - 1)) {
        if (fd >= 0) ::close(fd);
        return 0;
    }
    {
        const kelvo::MappedFile file = kelvo::mapFileContents("/proc/self/fd/" + std::to_string(fd));
        const kelvo::STLStreamSummary summary = kelvo::summarizeSTL(file, pieceBytes);
        std::uint64_t seen = 0;
        kelvo::streamSTLTriangles(file, summary, 0, summary.pieces.size(),
                                  [&](std::uint64_t first, const float*, std::size_t count) {
                                      if (first != seen) __builtin_trap();
                                      seen += count;
                                  });
        if (seen != summary.triangles) __builtin_trap();
        std::vector<std::uint32_t> every;
        for (std::uint64_t t = 0; t < summary.triangles && t < 1000; t += 3)
            every.push_back(static_cast<std::uint32_t>(t));
        if (kelvo::gatherSTLTriangles(file, summary, every).size() != every.size()) __builtin_trap();
    }
    ::close(fd);
    return 0;
}
