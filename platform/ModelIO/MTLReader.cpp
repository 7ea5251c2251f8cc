#include "platform/ModelIO/MTLReader.h"

#include <optional>
#include <string>

#include "platform/Foundation/Text.h"
#include "platform/ModelIO/TextScanning.h"

namespace kelvo {

namespace {

using text::readFloat;
using text::skipBlanks;
using text::skipWord;

struct TextureReference {
    std::string file;
    double offset[2] = {0, 0};
    double scale[2] = {1, 1};
    bool clamp = false;
};

// What a newmtl block states, turned into a Material when the block ends.
struct MTLValues {
    std::string name;
    std::optional<Color> kd, ks, ke;
    std::optional<double> ns, d, tr, pr, pm;
    std::optional<long> illum;
    std::optional<TextureReference> mapKd, mapKe;
};

std::optional<Color> readColor(const char* p, const char* end) {
    float c[3];
    if (!readFloat(p, end, c[0])) return std::nullopt;  // also "Kd spectral file.rfl"
    // "Kd r" alone means grey r.
    if (!readFloat(p, end, c[1])) return Color{c[0], c[0], c[0], 1};
    if (!readFloat(p, end, c[2])) c[2] = c[1];
    return Color{c[0], c[1], c[2], 1};
}

std::optional<double> readNumber(const char* p, const char* end) {
    // "d -halo 0.5": the option is skipped.
    p = skipBlanks(p, end);
    if (end - p > 5 && equalsIgnoringASCIICase(std::string_view(p, 5), "-halo")) p += 5;
    float v;
    if (!readFloat(p, end, v)) return std::nullopt;
    return v;
}

// How many arguments an option of map_* statements takes; -1 for up to three numbers, 0 for
// an option this reader does not know (the file name starts there).
int optionArguments(std::string_view option) {
    static constexpr struct {
        std::string_view name;
        int arguments;
    } options[] = {
        {"-blendu", 1}, {"-blendv", 1},  {"-bm", 1}, {"-boost", 1},  {"-cc", 1},
        {"-clamp", 1},  {"-imfchan", 1}, {"-mm", 2}, {"-texres", 1}, {"-type", 1},
        {"-o", -1},     {"-s", -1},      {"-t", -1},
    };
    for (const auto& o : options) {
        if (equalsIgnoringASCIICase(option, o.name)) return o.arguments;
    }
    return 0;
}

std::optional<TextureReference> readTextureReference(const char* p, const char* end) {
    TextureReference reference;
    for (;;) {
        p = skipBlanks(p, end);
        const char* wordEnd = skipWord(p, end);
        std::string_view option(p, static_cast<std::size_t>(wordEnd - p));
        const int arguments = option.starts_with('-') ? optionArguments(option) : 0;
        if (arguments == 0) break;
        p = wordEnd;
        if (arguments > 0) {
            for (int k = 0; k < arguments; ++k) {
                const char* argument = skipBlanks(p, end);
                p = skipWord(argument, end);
                if (k == 0 && equalsIgnoringASCIICase(option, "-clamp")) {
                    reference.clamp = equalsIgnoringASCIICase(
                        std::string_view(argument, static_cast<std::size_t>(p - argument)), "on");
                }
            }
            continue;
        }
        float values[3];
        int count = 0;
        while (count < 3 && readFloat(p, end, values[count]))
            ++count;
        if (count == 0) continue;
        const bool scale = equalsIgnoringASCIICase(option, "-s");
        if (!scale && !equalsIgnoringASCIICase(option, "-o")) continue;
        double* into = scale ? reference.scale : reference.offset;
        into[0] = values[0];
        if (count > 1) into[1] = values[1];
    }
    std::string_view file = text::trimmed(p, end);
    if (file.empty()) return std::nullopt;
    reference.file = std::string(file);
    return reference;
}

TextureSlot makeSlot(const TextureReference& reference, const std::filesystem::path& libraryFile,
                     TextureReferences& textures) {
    TextureSlot slot;
    slot.texture = textures.reference(libraryFile, reference.file);
    if (reference.clamp) slot.wrapS = slot.wrapT = TextureWrap::clampToEdge;
    // The file's transform works on v growing upwards; with v' = 1 - v it becomes
    // v' -> (1 - offset - scale) + scale * v'.
    slot.scale[0] = reference.scale[0];
    slot.scale[1] = reference.scale[1];
    slot.offset[0] = reference.offset[0];
    slot.offset[1] = 1 - reference.offset[1] - reference.scale[1];
    return slot;
}

std::shared_ptr<Material> makeMaterial(const MTLValues& values,
                                       const std::filesystem::path& libraryFile,
                                       TextureReferences& textures) {
    auto m = std::make_shared<Material>();
    m->name = values.name;
    if (values.pr || values.pm) {
        m->lightingModelName = LightingModel::physicallyBased;
        m->metalness = values.pm.value_or(0.0);
        if (values.pr) m->roughness = *values.pr;
    } else if (values.illum == 0) {
        m->lightingModelName = LightingModel::constant;
    } else if (values.illum == 1) {
        m->lightingModelName = LightingModel::lambert;
    } else {
        m->lightingModelName = LightingModel::blinn;
    }
    Color diffuse = values.kd.value_or(values.mapKd ? Color::white(1, 1) : Color::white(0.8, 1));
    double opacity = values.d ? *values.d : values.tr ? 1 - *values.tr : 1;
    if (!(opacity > 0) || opacity > 1) opacity = 1;
    diffuse.alpha = opacity;
    if (opacity < 1) m->alphaMode = AlphaMode::blend;
    m->diffuse = diffuse;
    if (values.ks) m->specular = *values.ks;
    if (values.ns) m->shininess = *values.ns;
    if (values.ke) m->emission = *values.ke;
    if (values.mapKd) m->diffuseTexture = makeSlot(*values.mapKd, libraryFile, textures);
    if (values.mapKe) m->emissionTexture = makeSlot(*values.mapKe, libraryFile, textures);
    return m;
}

}  // namespace

void readMaterialLibrary(ByteSpan bytes, const std::filesystem::path& libraryFile,
                         TextureReferences& textures,
                         std::vector<std::shared_ptr<Material>>& materials) {
    const char* begin = reinterpret_cast<const char*>(bytes.data());
    text::LineReader lines(begin, begin + bytes.size());
    MTLValues current;
    bool open = false;  // inside a newmtl block
    auto finish = [&] {
        if (open) materials.push_back(makeMaterial(current, libraryFile, textures));
        open = false;
    };
    const char* line;
    const char* end;
    while (lines.next(line, end)) {
        const char* p = skipBlanks(line, end);
        const char* keywordEnd = skipWord(p, end);
        const std::string_view keyword(p, static_cast<std::size_t>(keywordEnd - p));
        p = keywordEnd;
        if (equalsIgnoringASCIICase(keyword, "newmtl")) {
            finish();
            current = MTLValues{};
            current.name = std::string(text::trimmed(p, end));
            open = true;
            continue;
        }
        if (!open) continue;
        MTLValues& v = current;
        if (equalsIgnoringASCIICase(keyword, "Kd")) {
            v.kd = readColor(p, end);
        } else if (equalsIgnoringASCIICase(keyword, "Ks")) {
            v.ks = readColor(p, end);
        } else if (equalsIgnoringASCIICase(keyword, "Ke")) {
            v.ke = readColor(p, end);
        } else if (equalsIgnoringASCIICase(keyword, "Ns")) {
            v.ns = readNumber(p, end);
        } else if (equalsIgnoringASCIICase(keyword, "d")) {
            v.d = readNumber(p, end);
        } else if (equalsIgnoringASCIICase(keyword, "Tr")) {
            v.tr = readNumber(p, end);
        } else if (equalsIgnoringASCIICase(keyword, "Pr")) {
            v.pr = readNumber(p, end);
        } else if (equalsIgnoringASCIICase(keyword, "Pm")) {
            v.pm = readNumber(p, end);
        } else if (equalsIgnoringASCIICase(keyword, "illum")) {
            std::optional<double> n = readNumber(p, end);
            if (n && *n >= 0 && *n <= 100) v.illum = static_cast<long>(*n);
        } else if (equalsIgnoringASCIICase(keyword, "map_Kd")) {
            v.mapKd = readTextureReference(p, end);
        } else if (equalsIgnoringASCIICase(keyword, "map_Ke")) {
            v.mapKe = readTextureReference(p, end);
        }
    }
    finish();
}

}  // namespace kelvo
