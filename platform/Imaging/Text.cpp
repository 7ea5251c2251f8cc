#include "platform/Imaging/Text.h"

#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <vector>

namespace kelvo {

namespace {

// Medium weights from Debian font packages, the first one the package depends on.
constexpr const char* mediumFonts[] = {
    "/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF/Roboto-Medium.ttf",  // fonts-roboto-unhinted
    "/usr/share/fonts/truetype/noto/NotoSans-Medium.ttf",                     // fonts-noto-core
    "/usr/share/fonts/truetype/lato/Lato-Medium.ttf",                         // fonts-lato
};
// Regular weight, but on nearly every Debian system (fonts-dejavu-core).
constexpr const char* lastResortFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

bool isFile(const char* path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// The few fontconfig functions the fallback uses, opened only when it runs: the font is
// nearly always found by path, and linking the library (with its XML parser) would cost
// every thumbnail its start-up.
struct Fontconfig {
    decltype(&FcInitLoadConfigAndFonts) initLoadConfigAndFonts;
    decltype(&FcNameParse) nameParse;
    decltype(&FcConfigSubstitute) configSubstitute;
    decltype(&FcDefaultSubstitute) defaultSubstitute;
    decltype(&FcFontMatch) fontMatch;
    decltype(&FcPatternGetString) patternGetString;
    decltype(&FcPatternDestroy) patternDestroy;
    decltype(&FcConfigDestroy) configDestroy;
};

std::optional<Fontconfig> openFontconfig() {
    void* library = ::dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library) return std::nullopt;
    bool complete = true;
    auto symbol = [&](const char* name, auto& pointer) {
        pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(
            ::dlsym(library, name));
        complete = complete && pointer;
    };
    Fontconfig fc{};
    symbol("FcInitLoadConfigAndFonts", fc.initLoadConfigAndFonts);
    symbol("FcNameParse", fc.nameParse);
    symbol("FcConfigSubstitute", fc.configSubstitute);
    symbol("FcDefaultSubstitute", fc.defaultSubstitute);
    symbol("FcFontMatch", fc.fontMatch);
    symbol("FcPatternGetString", fc.patternGetString);
    symbol("FcPatternDestroy", fc.patternDestroy);
    symbol("FcConfigDestroy", fc.configDestroy);
    if (complete) return fc;  // kept open: fontconfig keeps state of its own
    ::dlclose(library);
    return std::nullopt;
}

std::optional<std::filesystem::path> fontconfigMediumSans() {
    // Without a configuration (as in the thumbnail sandbox) fontconfig would only print
    // warnings and find nothing.
    if (!std::getenv("FONTCONFIG_FILE") && !isFile("/etc/fonts/fonts.conf")) return std::nullopt;
    static const std::optional<Fontconfig> opened = openFontconfig();
    if (!opened) return std::nullopt;
    const Fontconfig& fc = *opened;
    FcConfig* config = fc.initLoadConfigAndFonts();
    if (!config) return std::nullopt;
    std::optional<std::filesystem::path> found;
    if (FcPattern* pattern =
            fc.nameParse(reinterpret_cast<const FcChar8*>("sans-serif:weight=medium"))) {
        fc.configSubstitute(config, pattern, FcMatchPattern);
        fc.defaultSubstitute(pattern);
        FcResult result;
        if (FcPattern* match = fc.fontMatch(config, pattern, &result)) {
            FcChar8* file = nullptr;
            if (fc.patternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
                found = std::filesystem::path(reinterpret_cast<const char*>(file));
            }
            fc.patternDestroy(match);
        }
        fc.patternDestroy(pattern);
    }
    fc.configDestroy(config);
    return found;
}

// The next code point of UTF-8 `text` from `i`; a byte that starts no valid sequence
// stands for itself.
char32_t nextCodePoint(std::string_view text, size_t& i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length <= 1 || i + length > text.size()) {
        ++i;
        return c;
    }
    char32_t cp = c & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next >> 6) != 2) {
            ++i;
            return c;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    i += length;
    return cp;
}

struct LibraryCloser {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FaceCloser {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};

struct GlyphImage {
    int left, top, width, height;
    std::vector<std::uint8_t> coverage;
};

}  // namespace

std::optional<std::filesystem::path> findMediumSansFont() {
    for (const char* path : mediumFonts) {
        if (isFile(path)) return std::filesystem::path(path);
    }
    if (auto found = fontconfigMediumSans()) return found;
    if (isFile(lastResortFont)) return std::filesystem::path(lastResortFont);
    return std::nullopt;
}

std::optional<CoverageMask> renderTextLine(const std::filesystem::path& fontFile,
                                           std::string_view text, double pixelSize, double x,
                                           double lineBottom) {
    if (!(pixelSize > 0 && pixelSize <= 4096) || !std::isfinite(x) || !std::isfinite(lineBottom)) {
        return std::nullopt;
    }
    FT_Library rawLibrary = nullptr;
    if (FT_Init_FreeType(&rawLibrary) != 0) return std::nullopt;
    std::unique_ptr<FT_LibraryRec_, LibraryCloser> library(rawLibrary);
    FT_Face rawFace = nullptr;
    if (FT_New_Face(library.get(), fontFile.c_str(), 0, &rawFace) != 0) return std::nullopt;
    std::unique_ptr<FT_FaceRec_, FaceCloser> owner(rawFace);
    FT_Face face = owner.get();
    if (!FT_IS_SCALABLE(face) ||
        FT_Set_Char_Size(face, 0, std::lround(pixelSize * 64), 72, 72) != 0) {
        return std::nullopt;
    }
    // Unrounded line metrics, so the line box is as tall as the size says.
    const double scale = face->size->metrics.y_scale / 65536.0 / 64.0;
    const double descender = -face->descender * scale;  // positive: below the baseline
    const double baseline = lineBottom - descender;

    std::vector<GlyphImage> glyphs;
    double penX = x;
    FT_UInt previous = 0;
    for (size_t i = 0; i < text.size();) {
        FT_UInt glyph = FT_Get_Char_Index(face, nextCodePoint(text, i));
        if (previous && glyph && FT_HAS_KERNING(face)) {
            FT_Vector kern;
            if (FT_Get_Kerning(face, previous, glyph, FT_KERNING_UNFITTED, &kern) == 0)
                penX += kern.x / 64.0;
        }
        previous = glyph;
        // The fractional part of the pen goes into the outline; the integer part places the
        // bitmap. FreeType's y grows upwards.
        double ix = std::floor(penX), iy = std::floor(baseline);
        FT_Vector delta{std::lround((penX - ix) * 64), -std::lround((baseline - iy) * 64)};
        FT_Set_Transform(face, nullptr, &delta);
        if (FT_Load_Glyph(face, glyph, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) continue;
        FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.width > 0 && bitmap.rows > 0) {
            GlyphImage image{static_cast<int>(ix) + slot->bitmap_left,
                             static_cast<int>(iy) - slot->bitmap_top,
                             static_cast<int>(bitmap.width),
                             static_cast<int>(bitmap.rows),
                             {}};
            image.coverage.resize(static_cast<size_t>(image.width) * image.height);
            for (int row = 0; row < image.height; ++row) {
                const unsigned char* src =
                    bitmap.buffer + static_cast<std::ptrdiff_t>(row) * bitmap.pitch;
                std::copy(src, src + image.width,
                          image.coverage.begin() + static_cast<size_t>(row) * image.width);
            }
            glyphs.push_back(std::move(image));
        }
        penX += slot->linearHoriAdvance / 65536.0;  // unhinted, so spacing stays even
    }
    if (glyphs.empty())
        return CoverageMask(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(baseline)),
                            0, 0);

    int left = glyphs[0].left, top = glyphs[0].top, right = left, bottom = top;
    for (const GlyphImage& g : glyphs) {
        left = std::min(left, g.left);
        top = std::min(top, g.top);
        right = std::max(right, g.left + g.width);
        bottom = std::max(bottom, g.top + g.height);
    }
    CoverageMask mask(left, top, right - left, bottom - top);
    for (const GlyphImage& g : glyphs) {
        for (int row = 0; row < g.height; ++row) {
            for (int col = 0; col < g.width; ++col) {
                // Neighbouring glyphs may overlap by a pixel; coverage adds up to full.
                float& v = mask.at(g.left - left + col, g.top - top + row);
                v = std::min(1.0f,
                             v + g.coverage[static_cast<size_t>(row) * g.width + col] / 255.0f);
            }
        }
    }
    return mask;
}

}  // namespace kelvo
