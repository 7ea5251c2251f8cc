// 3MF loading speed, in one run: raw DEFLATE decoding of the model part (MB/s of output),
// the model scanner alone (MB/s of model XML), load3MF end to end, and the peers lib3mf and
// assimp reading the same package. The packages are generated once into the temporary
// directory: a torus of about 100K or 1M triangles, written as slicers write them (one
// indented element per line, six decimals, deflated at zlib's default level), with the
// usual content types and relationships parts. Every output is checked before it is timed.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "extensions/Shared/ThreeMF/Fast3MFParser.h"
#include "extensions/Shared/SceneLoader.h"
#include "extensions/Shared/ZIP/ZIPReader.h"
#include "platform/Compression/RawDeflate.h"
#include "platform/Foundation/FileReading.h"

#ifdef KELVO_HAVE_LIB3MF
#include <Model/COM/NMR_DLLInterfaces.h>
#endif
#ifdef KELVO_HAVE_ASSIMP
#include <assimp/scene.h>
#include <assimp/Importer.hpp>
#endif

namespace {

using kelvo::ByteBuffer;

void append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append(std::string& out, const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out.append(line, static_cast<size_t>(n));
}

// A torus of rings x segments vertices and twice as many triangles, in millimetres.
std::string torusModel(int rings, int segments) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<model unit=\"millimeter\" xml:lang=\"en-US\" "
        "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n"
        " <metadata name=\"Application\">kelvo-bench</metadata>\n"
        " <resources>\n  <object id=\"1\" type=\"model\">\n   <mesh>\n    <vertices>\n";
    for (int i = 0; i < rings; ++i) {
        const double u = 2 * M_PI * i / rings;
        for (int j = 0; j < segments; ++j) {
            const double v = 2 * M_PI * j / segments;
            const double r = 50 + 20 * std::cos(v);
            append(xml, "     <vertex x=\"%.6f\" y=\"%.6f\" z=\"%.6f\"/>\n", r * std::cos(u),
                   r * std::sin(u), 20 * std::sin(v));
        }
    }
    xml += "    </vertices>\n    <triangles>\n";
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            const int a = i * segments + j, b = i * segments + (j + 1) % segments;
            const int c = ((i + 1) % rings) * segments + j,
                      d = ((i + 1) % rings) * segments + (j + 1) % segments;
            append(xml, "     <triangle v1=\"%d\" v2=\"%d\" v3=\"%d\"/>\n", a, c, b);
            append(xml, "     <triangle v1=\"%d\" v2=\"%d\" v3=\"%d\"/>\n", b, c, d);
        }
    }
    xml +=
        "    </triangles>\n   </mesh>\n  </object>\n </resources>\n <build>\n"
        "  <item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 100 100 20\" printable=\"1\"/>\n"
        " </build>\n</model>\n";
    return xml;
}

void putUInt16(std::string& b, unsigned v) {
    b += static_cast<char>(v & 0xFF), b += static_cast<char>(v >> 8 & 0xFF);
}
void putUInt32(std::string& b, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
        b += static_cast<char>(v >> (8 * k) & 0xFF);
}

// A plain ZIP of deflated parts, as a slicer's ZIP library writes it.
std::string zipOf(const std::vector<std::pair<std::string, std::string>>& parts) {
    std::string out, directory;
    for (const auto& [name, content] : parts) {
        z_stream s{};
        deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        std::string packed(deflateBound(&s, static_cast<uLong>(content.size())), '\0');
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
        s.avail_in = static_cast<uInt>(content.size());
        s.next_out = reinterpret_cast<Bytef*>(packed.data());
        s.avail_out = static_cast<uInt>(packed.size());
        deflate(&s, Z_FINISH);
        packed.resize(s.total_out);
        deflateEnd(&s);
        const auto crc = static_cast<std::uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
        const auto offset = static_cast<std::uint32_t>(out.size());
        auto header = [&](std::string& b, bool central) {
            putUInt32(b, central ? 0x02014B50 : 0x04034B50);
            if (central) putUInt16(b, 20);
            putUInt16(b, 20), putUInt16(b, 0), putUInt16(b, 8), putUInt32(b, 0), putUInt32(b, crc);
            putUInt32(b, static_cast<std::uint32_t>(packed.size()));
            putUInt32(b, static_cast<std::uint32_t>(content.size()));
            putUInt16(b, static_cast<unsigned>(name.size())), putUInt16(b, 0);
            if (central)
                putUInt16(b, 0), putUInt16(b, 0), putUInt16(b, 0), putUInt32(b, 0),
                    putUInt32(b, offset);
            b += name;
        };
        header(out, false);
        out += packed;
        header(directory, true);
    }
    const auto directoryOffset = static_cast<std::uint32_t>(out.size());
    out += directory;
    putUInt32(out, 0x06054B50), putUInt16(out, 0), putUInt16(out, 0);
    putUInt16(out, static_cast<unsigned>(parts.size())),
        putUInt16(out, static_cast<unsigned>(parts.size()));
    putUInt32(out, static_cast<std::uint32_t>(directory.size())), putUInt32(out, directoryOffset),
        putUInt16(out, 0);
    return out;
}

struct Package {
    std::filesystem::path path;
    ByteBuffer bytes;       // the whole package
    kelvo::ByteSpan model;  // the deflated model part inside `bytes`
    ByteBuffer xml;         // the model part decoded
    std::int64_t vertices = 0, triangles = 0;
};

// The package of about `triangles` triangles, generated once and kept on disk.
const Package& package(std::int64_t triangles) {
    static std::map<std::int64_t, Package> made;
    auto found = made.find(triangles);
    if (found != made.end()) return found->second;
    const int rings = triangles >= 1000000 ? 500 : 200;
    const int segments = static_cast<int>(triangles / (2 * rings));
    Package& p = made[triangles];
    p.vertices = static_cast<std::int64_t>(rings) * segments;
    p.triangles = 2 * p.vertices;
    p.path = std::filesystem::temp_directory_path() /
             ("kelvo-bench-torus-" + std::to_string(p.triangles) + ".3mf");
    if (!std::filesystem::exists(p.path)) {
        std::string zip = zipOf({
            {"[Content_Types].xml",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Types "
             "xmlns=\"http://schemas.openxmlformats.org/"
             "package/2006/content-types\"><Default Extension=\"rels\" ContentType=\"application/"
             "vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"model\" "
             "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/></Types>"},
            {"_rels/.rels",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
             "xmlns=\"http://schemas.openxmlformats.org/"
             "package/2006/relationships\"><Relationship Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
             "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/></"
             "Relationships>"},
            {"3D/3dmodel.model", torusModel(rings, segments)},
        });
        std::filesystem::path partial = p.path;
        partial += ".partial";
        std::ofstream(partial, std::ios::binary)
            .write(zip.data(), static_cast<std::streamsize>(zip.size()));
        std::filesystem::rename(partial, p.path);
    }
    p.bytes = kelvo::readFileContents(p.path);
    std::vector<kelvo::CentralEntry> entries = kelvo::ZIPReader::readCentralDirectory(p.bytes);
    kelvo::ZIPReader::Archive archive{p.bytes, entries};
    p.xml = kelvo::ZIPReader::extractModelFile(archive);
    for (const kelvo::CentralEntry& e : entries) {
        if (e.name == "3D/3dmodel.model") {
            const std::int64_t h = e.localHeaderOffset;
            const std::int64_t start = h + 30 + kelvo::ZIPReader::readUInt16(p.bytes, h + 26) +
                                       kelvo::ZIPReader::readUInt16(p.bytes, h + 28);
            p.model =
                kelvo::ByteSpan(p.bytes.data() + start, static_cast<size_t>(e.compressedSize));
        }
    }
    return p;
}

std::int64_t sceneTriangles(const kelvo::Node& node) {
    std::int64_t n = node.geometry ? node.geometry->triangleCount() : 0;
    for (const auto& c : node.childNodes())
        n += sceneTriangles(*c);
    return n;
}

void setRates(benchmark::State& state, std::int64_t bytesPerIteration, std::int64_t triangles) {
    state.SetBytesProcessed(state.iterations() * bytesPerIteration);
    state.counters["Mtris/s"] = benchmark::Counter(
        static_cast<double>(triangles) * 1e-6 * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_RawDeflateLibdeflate(benchmark::State& state) {
    const Package& p = package(state.range(0));
    ByteBuffer out(p.xml.size());
    if (kelvo::decodeRawDeflate(out, p.model) != p.xml.size() || out != p.xml) {
        state.SkipWithError("wrong output");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::decodeRawDeflate(out, p.model));
    setRates(state, static_cast<std::int64_t>(p.xml.size()), p.triangles);
}

// zlib's streaming inflate, which the decoder uses only to cut overlong streams.
void BM_RawDeflateZlib(benchmark::State& state) {
    const Package& p = package(state.range(0));
    ByteBuffer out(p.xml.size());
    for (auto _ : state) {
        z_stream s{};
        inflateInit2(&s, -MAX_WBITS);
        s.next_in = const_cast<Bytef*>(p.model.data());
        s.avail_in = static_cast<uInt>(p.model.size());
        s.next_out = out.data();
        s.avail_out = static_cast<uInt>(out.size());
        if (inflate(&s, Z_FINISH) != Z_STREAM_END) state.SkipWithError("zlib failed");
        inflateEnd(&s);
    }
    if (out != p.xml) state.SkipWithError("wrong output");
    setRates(state, static_cast<std::int64_t>(p.xml.size()), p.triangles);
}

void BM_Scanner(benchmark::State& state) {
    const Package& p = package(state.range(0));
    kelvo::Fast3MFParser::ParseResult check = kelvo::Fast3MFParser::parse(p.xml);
    if (check.meshes.size() != 1 || check.meshes[1].size() != 1 ||
        check.meshes[1][0].vertexCount != p.vertices ||
        check.meshes[1][0].triangleCount != p.triangles || check.buildItems.size() != 1) {
        state.SkipWithError("wrong scan");
        return;
    }
    float first[3];
    std::memcpy(first, check.meshes[1][0].positionData.data(), 12);
    if (first[0] != 70.0f || first[1] != 0.0f || first[2] != 0.0f)
        state.SkipWithError("wrong vertex");
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvo::Fast3MFParser::parse(p.xml));
    setRates(state, static_cast<std::int64_t>(p.xml.size()), p.triangles);
}

void BM_Load3MF(benchmark::State& state) {
    const Package& p = package(state.range(0));
    kelvo::SceneLoader loader;
    if (sceneTriangles(*loader.load(p.path)->rootNode) != p.triangles) {
        state.SkipWithError("wrong scene");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(loader.load(p.path));
    setRates(state, static_cast<std::int64_t>(p.bytes.size()), p.triangles);
}

#ifdef KELVO_HAVE_LIB3MF
// lib3mf reading the package into its model; the triangle count is asked to check it.
std::int64_t lib3mfRead(const std::filesystem::path& path) {
    using namespace NMR;
    PLib3MFModel* model = nullptr;
    PLib3MFModelReader* reader = nullptr;
    std::int64_t triangles = -1;
    if (lib3mf_createmodel(&model) == 0 && lib3mf_model_queryreader(model, "3mf", &reader) == 0 &&
        lib3mf_reader_readfromfileutf8(reader, path.c_str()) == 0) {
        triangles = 0;
        PLib3MFModelResourceIterator* meshes = nullptr;
        if (lib3mf_model_getmeshobjects(model, &meshes) == 0) {
            BOOL more = false;
            while (lib3mf_resourceiterator_movenext(meshes, &more) == 0 && more) {
                PLib3MFModelResource* mesh = nullptr;
                DWORD count = 0;
                if (lib3mf_resourceiterator_getcurrent(meshes, &mesh) == 0) {
                    lib3mf_meshobject_gettrianglecount(mesh, &count);
                    lib3mf_release(mesh);
                }
                triangles += count;
            }
            lib3mf_release(meshes);
        }
    }
    if (reader) lib3mf_release(reader);
    if (model) lib3mf_release(model);
    return triangles;
}

void BM_Lib3MF(benchmark::State& state) {
    const Package& p = package(state.range(0));
    if (lib3mfRead(p.path) != p.triangles) {
        state.SkipWithError("lib3mf read a different mesh");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(lib3mfRead(p.path));
    setRates(state, static_cast<std::int64_t>(p.bytes.size()), p.triangles);
}
BENCHMARK(BM_Lib3MF)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
#endif

#ifdef KELVO_HAVE_ASSIMP
void BM_Assimp3MF(benchmark::State& state) {
    const Package& p = package(state.range(0));
    {
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(p.path.string(), 0);
        std::int64_t faces = 0;
        for (unsigned k = 0; scene && k < scene->mNumMeshes; ++k)
            faces += scene->mMeshes[k]->mNumFaces;
        if (faces != p.triangles) {
            state.SkipWithError("assimp read a different mesh");
            return;
        }
    }
    for (auto _ : state) {
        Assimp::Importer importer;
        benchmark::DoNotOptimize(importer.ReadFile(p.path.string(), 0));
    }
    setRates(state, static_cast<std::int64_t>(p.bytes.size()), p.triangles);
}
BENCHMARK(BM_Assimp3MF)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_RawDeflateLibdeflate)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawDeflateZlib)->Arg(1000000)->Unit(benchmark::kMillisecond);
// Large parts are scanned on two threads: wall time.
BENCHMARK(BM_Scanner)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Load3MF)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
