// PNG textures through libpng's row interface: every colour type and depth expanded to
// 8-bit RGBA, rows streamed into the shrinker, so that a large image never exists at full
// size. Interlaced images need all passes at once and are decoded whole first.
//
// libpng reports errors by longjmp. The functions that call setjmp hold no object with a
// destructor and allocate nothing: the reader's state lives in the caller, made beforehand.
#include <png.h>

#include <cstring>
#include <memory>

#include "platform/Imaging/ImageDecoders.h"

namespace kelvo::imaging {

namespace {

struct Input {
    const std::uint8_t* data;
    size_t size;
    size_t offset;
};

void readInput(png_structp png, png_bytep out, png_size_t length) {
    auto* in = static_cast<Input*>(png_get_io_ptr(png));
    if (length > in->size - in->offset) png_error(png, "truncated");
    std::memcpy(out, in->data + in->offset, length);
    in->offset += length;
}

[[noreturn]] void fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void ignoreWarning(png_structp, png_const_charp) {}

struct Header {
    png_uint_32 width = 0, height = 0;
    bool interlaced = false;
    bool opaque = false;  // no alpha channel and no transparent colour
};

// Reads up to the image data and asks for 8-bit RGBA rows. Gamma and colour profiles are
// left alone: textures are taken as stored.
bool readHeader(png_structp png, png_infop info, Header* header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    header->width = png_get_image_width(png, info);
    header->height = png_get_image_height(png, info);
    header->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    header->opaque = !(png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) &&
                     !png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);    // palette and low-depth grey to 8 bits, tRNS to alpha
    png_set_scale_16(png);  // 16 bits to 8
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    if (header->interlaced) png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == size_t{header->width} * 4;
}

bool readStreamed(png_structp png, std::uint8_t* row, png_uint_32 height, RowShrinker* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, row, nullptr);
        out->addRow(row);
    }
    return true;
}

bool readWhole(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~Reader() { png_destroy_read_struct(&png, &info, nullptr); }
};

}  // namespace

std::optional<RGBAImage> decodePNGImage(ByteSpan bytes, int maxSide) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) return std::nullopt;
    Reader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignoreWarning);
    if (!reader.png) return std::nullopt;
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info) return std::nullopt;
    Input input{bytes.data(), bytes.size(), 0};
    png_set_read_fn(reader.png, &input, readInput);
    png_set_user_limits(reader.png, maxImageSide, maxImageSide);
    png_set_chunk_malloc_max(reader.png, 8u << 20);  // text and profile chunks

    Header header;
    if (!readHeader(reader.png, reader.info, &header)) return std::nullopt;
    if (!acceptableSize(header.width, header.height)) return std::nullopt;
    const FittedSize size = fitInside(header.width, header.height, maxSide);

    if (header.interlaced) {
        if (std::uint64_t{header.width} * header.height > maxFullSizePixels) return std::nullopt;
        RGBAImage whole(static_cast<int>(header.width), static_cast<int>(header.height));
        std::vector<png_bytep> rows(header.height);
        for (png_uint_32 y = 0; y < header.height; ++y)
            rows[y] = whole.pixel(0, static_cast<int>(y));
        if (!readWhole(reader.png, rows.data())) return std::nullopt;
        return shrinkToFit(std::move(whole), maxSide);
    }
    if (size.width == int(header.width) && size.height == int(header.height)) {
        // No shrinking: rows go straight into the image.
        RGBAImage image(size.width, size.height);
        std::vector<png_bytep> rows(header.height);
        for (png_uint_32 y = 0; y < header.height; ++y)
            rows[y] = image.pixel(0, static_cast<int>(y));
        if (!readWhole(reader.png, rows.data())) return std::nullopt;
        return image;
    }
    std::vector<std::uint8_t> row(size_t{header.width} * 4);
    RowShrinker shrinker(static_cast<int>(header.width), static_cast<int>(header.height),
                         size.width, size.height, header.opaque);
    if (!readStreamed(reader.png, row.data(), header.height, &shrinker)) return std::nullopt;
    return shrinker.finish();
}

}  // namespace kelvo::imaging
