#include "platform/Compression/RawDeflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace kelvo {

namespace {

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// zlib's streaming inflate stops exactly when the output is full, which gives the cut that
// libdeflate (all or nothing) cannot. Only used for streams that overflow the capacity, so
// its lower speed does not matter.
size_t inflateCutAtCapacity(std::span<std::uint8_t> destination, ByteSpan source) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return 0;
    // zlib counts in 32 bits: feed both sides in slices.
    constexpr size_t slice = UINT_MAX;
    size_t consumed = 0, produced = 0;
    int status = Z_OK;
    while (produced < destination.size()) {
        if (stream.avail_in == 0 && consumed < source.size()) {
            size_t n = std::min(slice, source.size() - consumed);
            // zlib's interface is not const-correct; it never writes the input.
            stream.next_in = const_cast<Bytef*>(source.data() + consumed);
            stream.avail_in = static_cast<uInt>(n);
            consumed += n;
        }
        size_t room = std::min(slice, destination.size() - produced);
        stream.next_out = destination.data() + produced;
        stream.avail_out = static_cast<uInt>(room);
        status = inflate(&stream, Z_NO_FLUSH);
        produced += room - stream.avail_out;
        if (status == Z_STREAM_END) break;
        if (status != Z_OK) {
            // Z_BUF_ERROR with input left cannot happen while there is room; without input
            // left it means the stream ended early. Either way: no usable result.
            produced = 0;
            break;
        }
    }
    inflateEnd(&stream);
    return produced;
}

}  // namespace

size_t decodeRawDeflate(std::span<std::uint8_t> destination, ByteSpan source) {
    if (destination.empty() || source.empty()) return 0;
    std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor) return 0;
    size_t written = 0;
    libdeflate_result result =
        libdeflate_deflate_decompress(decompressor.get(), source.data(), source.size(),
                                      destination.data(), destination.size(), &written);
    switch (result) {
        case LIBDEFLATE_SUCCESS:
            return written;
        case LIBDEFLATE_INSUFFICIENT_SPACE:
            return inflateCutAtCapacity(destination, source);
        default:
            return 0;
    }
}

}  // namespace kelvo
