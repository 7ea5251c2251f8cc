// Binary USD: crate layers written by the test writer (each value type, each compression
// case, hostile tables) and by exporters (the corpus), and USDZ packages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "platform/Imaging/ImageDecoding.h"
#include "platform/ModelIO/ModelIO.h"
#include "platform/ModelIO/USD/USDComposition.h"
#include "platform/ModelIO/USD/USDCrateReader.h"
#include "platform/ModelIO/USD/USDImporter.h"
#include "tests/support/CrateWriter.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ZIPWriter.h"

namespace kelvo {
namespace {

using test::CrateWriter;
using usd::Layer;
using W = CrateWriter;

std::string read(const std::vector<std::uint8_t>& bytes, Layer& layer) {
    return usd::readCrate(ByteSpan(bytes.data(), bytes.size()), layer);
}

std::uint64_t asFloatBits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

// A triangle mesh "/Tri" (the default prim) with points, counts and indices, in `w`.
std::uint32_t triangle(CrateWriter& w, std::uint64_t indices) {
    const std::uint32_t tri = w.child(0, "Tri");
    const std::uint32_t points = w.child(tri, "points", true);
    const std::uint32_t counts = w.child(tri, "faceVertexCounts", true);
    const std::uint32_t index = w.child(tri, "faceVertexIndices", true);
    w.entry(0, test::sPseudoRoot,
           {{"defaultPrim", W::rep(test::cToken, w.token("Tri"), true)},
            {"upAxis", W::rep(test::cToken, w.token("Z"), true)},
            {"metersPerUnit", W::rep(test::cDouble, asFloatBits(0.01f), true)},
            {"primChildren", w.tokenVector(test::cTokenVector, {"Tri"})}});
    w.entry(tri, test::sPrim,
           {{"specifier", W::rep(test::cSpecifier, 0, true)},
            {"typeName", W::rep(test::cToken, w.token("Mesh"), true)}});
    w.entry(points, test::sAttribute,
           {{"typeName", W::rep(test::cToken, w.token("point3f[]"), true)},
            {"default", w.array(test::cVec3f, std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0})}});
    w.entry(counts, test::sAttribute,
           {{"typeName", W::rep(test::cToken, w.token("int[]"), true)},
            {"default", w.array(test::cInt, std::vector<std::int32_t>{3})}});
    w.entry(index, test::sAttribute,
           {{"typeName", W::rep(test::cToken, w.token("int[]"), true)}, {"default", indices}});
    return tri;
}

const usd::Property& property(const Layer& layer, std::string_view prim, std::string_view name) {
    const usd::PrimOpinion* p = layer.primAtPath(prim);
    if (!p || !p->property(name)) throw std::runtime_error("no " + std::string(name));
    return *p->property(name);
}

TEST(USDCrate, valuesOfEachTypeReadAsTheTextReaderKeepsThem) {
    CrateWriter w;
    const std::uint32_t tri = triangle(w, w.array(test::cInt, std::vector<std::int32_t>{0, 1, 2}));
    const double pi = 3.14159265358979;
    const double matrix[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1};
    const float quat[4] = {0.5f, 0.25f, 0.125f, 0.75f};  // i, j, k, real as stored
    const std::int8_t inlinedVec[4] = {1, -2, 3, 0};
    std::uint32_t inlinedVecBits;
    std::memcpy(&inlinedVecBits, inlinedVec, 4);
    // Each value's contents as the text reader keeps them.
    struct Read {
        std::vector<double> numbers = {};
        std::vector<std::string> strings = {};
        usd::FloatArray floats = {};
        bool blocked = false;
    };
    const struct {
        const char* name;
        const char* type;
        std::uint64_t rep;
        Read read;
    } attributes[] = {
        {"b", "bool", W::rep(test::cBool, 1, true), {.numbers = {1}}},
        {"i", "int", W::rep(test::cInt, static_cast<std::uint32_t>(-7), true), {.numbers = {-7}}},
        {"f", "float", W::rep(test::cFloat, asFloatBits(2.5f), true), {.numbers = {2.5}}},
        {"d", "double", W::rep(test::cDouble, w.put(pi), false), {.numbers = {pi}}},
        {"h", "half", W::rep(test::cHalf, 0x3C00, true), {.numbers = {1}}},
        {"v", "float3", W::rep(test::cVec3f, inlinedVecBits, true), {.numbers = {1, -2, 3}}},
        {"m", "matrix4d", W::rep(test::cMatrix4d, w.put(matrix), false),
         {.numbers = std::vector<double>(matrix, matrix + 16)}},
        {"id", "matrix4d", W::rep(test::cMatrix4d, 0x01010101, true),
         {.numbers = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}},
        {"q", "quatf", W::rep(test::cQuatf, w.put(quat), false),
         {.numbers = {0.75, 0.5, 0.25, 0.125}}},  // real first
        {"t", "token", W::rep(test::cToken, w.token("catmullClark"), true),
         {.strings = {"catmullClark"}}},
        {"s", "string", W::rep(test::cString, w.string("text"), true), {.strings = {"text"}}},
        {"a", "asset", W::rep(test::cAssetPath, w.token("tex/a.png"), true),
         {.strings = {"tex/a.png"}}},
        {"ta", "token[]", w.array(test::cToken, std::vector<std::uint32_t>{w.token("x"), w.token("y")}),
         {.strings = {"x", "y"}}},
        {"ha", "half[]", w.array(test::cHalf, std::vector<std::uint16_t>{0x3C00, 0xC000}),
         {.floats = {1, -2}}},
        {"da", "double[]", w.array(test::cDouble, std::vector<double>{0.5, -1}),
         {.floats = {0.5f, -1}}},
        // Empty arrays: no bytes to copy, and none may be copied from nowhere.
        {"ea", "float[]", w.array(test::cFloat, std::vector<float>{}), {}},
        {"eia", "int[]", w.array(test::cInt, std::vector<std::int32_t>{}), {}},
        {"blocked", "float", W::rep(test::cValueBlock, 0, true), {.blocked = true}},
    };
    for (const auto& a : attributes) {
        w.entry(w.child(tri, a.name, true), test::sAttribute,
               {{"typeName", W::rep(test::cToken, w.token(a.type), true)}, {"default", a.rep}});
    }
    // A primvar with its metadata, uniform and custom.
    w.entry(w.child(tri, "primvars:st", true), test::sAttribute,
           {{"typeName", W::rep(test::cToken, w.token("texCoord2f[]"), true)},
            {"default", w.array(test::cVec2f, std::vector<float>{0, 0, 1, 0, 0, 1})},
            {"interpolation", W::rep(test::cToken, w.token("faceVarying"), true)},
            {"elementSize", W::rep(test::cInt, 2, true)},
            {"variability", W::rep(test::cVariability, 1, true)},
            {"custom", W::rep(test::cBool, 1, true)}});
    Layer layer;
    ASSERT_EQ(read(w.finish(), layer), "");
    EXPECT_EQ(layer.defaultPrim, "Tri");
    EXPECT_EQ(layer.upAxis, "Z");
    EXPECT_FLOAT_EQ(layer.metersPerUnit, 0.01);
    const usd::PrimOpinion* prim = layer.primAtPath("/Tri");
    ASSERT_TRUE(prim);
    EXPECT_EQ(prim->typeName, "Mesh");
    EXPECT_EQ(prim->specifier, usd::Specifier::def);
    EXPECT_EQ(property(layer, "/Tri", "points").value.floats.size(), 9u);
    EXPECT_EQ(property(layer, "/Tri", "points").typeName, "point3f");
    EXPECT_TRUE(property(layer, "/Tri", "points").value.array);
    for (const auto& a : attributes) {
        SCOPED_TRACE(a.name);
        const usd::Value& v = property(layer, "/Tri", a.name).value;
        EXPECT_EQ(std::tie(v.numbers, v.strings, v.floats, v.blocked),
                  std::tie(a.read.numbers, a.read.strings, a.read.floats, a.read.blocked));
        EXPECT_TRUE(v.ints.empty());
    }
    const usd::Property& st = property(layer, "/Tri", "primvars:st");
    EXPECT_EQ(st.value.floats.size(), 6u);
    EXPECT_EQ(st.interpolation, "faceVarying");
    EXPECT_EQ(st.elementSize, 2);
    EXPECT_TRUE(st.uniform && st.custom);
}

TEST(USDCrate, compressedArraysInEveryCodingAndVersion) {
    usd::IntArray ints;
    for (int i = 0; i < 40; ++i)
        ints.push_back(i % 3 == 0 ? i * 100000 : i % 5 == 0 ? -i * 300 : i);  // every code
    usd::FloatArray whole, repeated;
    for (int i = 0; i < 20; ++i) {
        whole.push_back(static_cast<float>(i * 7 - 50));
        repeated.push_back(i % 3 == 0 ? 0.25f : -1.5f);
    }
    for (const std::uint8_t minor : {6, 7, 8, 9, 10}) {
        for (const bool chunked : {false, true}) {
            CrateWriter w;
            w.minor = minor;
            w.chunked = chunked;
            const std::uint32_t tri = triangle(w, w.compressedIntArray({ints.begin(), ints.end()}));
            w.entry(w.child(tri, "whole", true), test::sAttribute,
                   {{"typeName", W::rep(test::cToken, w.token("float[]"), true)},
                    {"default", w.compressedFloatArray({whole.begin(), whole.end()}, 'i')}});
            w.entry(w.child(tri, "table", true), test::sAttribute,
                   {{"typeName", W::rep(test::cToken, w.token("float[]"), true)},
                    {"default", w.compressedFloatArray({repeated.begin(), repeated.end()}, 't')}});
            // Marked compressed, but too short to be: stored plain.
            std::uint64_t shortArray = w.array(test::cInt, std::vector<std::int32_t>{4, 5});
            w.entry(w.child(tri, "short", true), test::sAttribute,
                   {{"typeName", W::rep(test::cToken, w.token("int[]"), true)},
                    {"default", shortArray | (std::uint64_t{1} << 61)}});
            Layer layer;
            ASSERT_EQ(read(w.finish(), layer), "") << int(minor) << chunked;
            EXPECT_EQ(property(layer, "/Tri", "faceVertexIndices").value.ints, ints);
            EXPECT_EQ(property(layer, "/Tri", "whole").value.floats, whole);
            EXPECT_EQ(property(layer, "/Tri", "table").value.floats, repeated);
            EXPECT_EQ(property(layer, "/Tri", "short").value.ints, (usd::IntArray{4, 5}));
        }
    }
}

TEST(USDCrate, compositionArcsTargetsAndTimeSamples) {
    CrateWriter w;
    const std::uint32_t tri = triangle(w, w.array(test::cInt, std::vector<std::int32_t>{0, 1, 2}));
    const std::uint32_t shape = w.child(0, "Shape");
    const std::uint32_t set = w.child(shape, "{look=}");
    const std::uint32_t big = w.child(shape, "{look=big}");
    const std::uint32_t inner = w.child(big, "Inner");
    const std::uint32_t small = w.child(shape, "{look=small}");
    const std::uint32_t material = w.child(0, "Mat");
    const std::uint32_t surface = w.child(material, "outputs:surface", true);
    const std::uint32_t binding = w.child(tri, "material:binding", true);
    const std::uint32_t size = w.child(tri, "size", true);
    // A reference with custom data (a dictionary the reader steps over), then an internal one.
    const std::uint64_t references = w.file.size();
    w.put(std::uint8_t{32});  // prepended items only
    w.put(std::uint64_t{2});
    for (const auto& [asset, path] : {std::pair{"other.usdc", material}, std::pair{"", tri}}) {
        w.put(w.string(asset));
        w.put(path);
        w.put(0.0);  // layer offset
        w.put(1.0);
        w.put(std::uint64_t{1});  // custom data: one entry, its value right behind the offset
        w.put(w.string("note"));
        w.put(std::int64_t{8});
        w.put(W::rep(test::cInt, 5, true));
    }
    const std::uint64_t payloads = w.file.size();
    w.put(std::uint8_t{3});  // explicit
    w.put(std::uint64_t{1});
    w.put(w.string("heavy.usdc"));
    w.put(std::uint32_t{0});  // the root path: the default prim
    w.put(0.0);
    w.put(1.0);
    const std::uint64_t selection = w.file.size();
    w.put(std::uint64_t{1});
    w.put(w.string("look"));
    w.put(w.string("big"));
    // Time samples 2 and 1 (the earliest wins): times behind one offset, values behind another.
    const std::uint64_t times = w.array(test::cDouble, std::vector<double>{2, 1});
    const std::uint64_t samples = w.file.size();
    w.put(std::int64_t{8});
    w.put(times);
    w.put(std::int64_t{8});
    w.put(std::uint64_t{2});
    w.put(W::rep(test::cDouble, asFloatBits(20), true));
    w.put(W::rep(test::cDouble, asFloatBits(10), true));
    w.entry(shape, test::sPrim,
           {{"specifier", W::rep(test::cSpecifier, 1, true)},
            {"references", W::rep(test::cReferenceListOp, references, false)},
            {"payload", W::rep(test::cPayloadListOp, payloads, false)},
            {"inherits", w.listOp(test::cPathListOp, {material}, {})},
            {"variantSetNames", w.listOp(test::cStringListOp, {}, {w.string("look")})},
            {"variantSelection", W::rep(test::cVariantSelectionMap, selection, false)},
            {"active", W::rep(test::cBool, 0, true)},
            {"kind", W::rep(test::cToken, w.token("component"), true)}});
    // Written in another order than the path table's: "small" is the first variant.
    w.entry(set, test::sVariantSet, {{"variantChildren", w.tokenVector(test::cTokenVector, {"small", "big"})}});
    w.entry(big, test::sVariant, {});
    w.entry(small, test::sVariant, {});
    w.entry(inner, test::sPrim, {{"specifier", W::rep(test::cSpecifier, 0, true)}});
    w.entry(material, test::sPrim,
           {{"specifier", W::rep(test::cSpecifier, 2, true)},
            {"typeName", W::rep(test::cToken, w.token("Material"), true)}});
    w.entry(surface, test::sAttribute,
           {{"typeName", W::rep(test::cToken, w.token("token"), true)},
            {"connectionPaths", w.listOp(test::cPathListOp, {material}, {})}});
    w.entry(binding, test::sRelationship, {{"targetPaths", w.listOp(test::cPathListOp, {}, {material})}});
    w.entry(size, test::sAttribute,
           {{"typeName", W::rep(test::cToken, w.token("double"), true)},
            {"timeSamples", W::rep(test::cTimeSamples, samples, false)}});
    Layer layer;
    ASSERT_EQ(read(w.finish(), layer), "");
    const usd::PrimOpinion* p = layer.primAtPath("/Shape");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->specifier, usd::Specifier::over);
    EXPECT_EQ(p->references.prepended,
              (std::vector<usd::Reference>{{"other.usdc", "/Mat"}, {"", "/Tri"}}));
    EXPECT_EQ(p->payloads.explicitItems, (std::vector<usd::Reference>{{"heavy.usdc", ""}}));
    EXPECT_TRUE(p->payloads.isExplicit);
    EXPECT_EQ(p->inherits.items(), std::vector<std::string>{"/Mat"});
    EXPECT_EQ(p->variantSetNames.prepended, std::vector<std::string>{"look"});
    EXPECT_EQ(p->variantSelections, (std::vector<std::pair<std::string, std::string>>{{"look", "big"}}));
    EXPECT_TRUE(p->hasActive && !p->active);
    EXPECT_EQ(p->kind, "component");
    ASSERT_EQ(p->variantSets.size(), 1u);
    ASSERT_EQ(p->variantSets[0].variants.size(), 2u);
    EXPECT_EQ(p->variantSets[0].variants[0].name, "small");
    EXPECT_EQ(p->variantSets[0].variants[1].name, "big");
    EXPECT_TRUE(p->variantSets[0].variants[1].opinion.child("Inner"));
    EXPECT_EQ(layer.primAtPath("/Mat")->specifier, usd::Specifier::classOpinion);
    EXPECT_EQ(property(layer, "/Mat", "outputs:surface").targets, std::vector<std::string>{"/Mat"});
    const usd::Property& rel = property(layer, "/Tri", "material:binding");
    EXPECT_TRUE(rel.relationship && rel.hasTargets);
    EXPECT_EQ(rel.targets, std::vector<std::string>{"/Mat"});
    const usd::Property& sampled = property(layer, "/Tri", "size");
    EXPECT_TRUE(sampled.hasValue && sampled.valueIsSample);
    EXPECT_EQ(sampled.sampleTime, 1);
    EXPECT_EQ(sampled.value.numbers, std::vector<double>{10});
}

// A file with one 64-bit word replaced.
std::vector<std::uint8_t> withWord(std::vector<std::uint8_t> file, std::size_t at, std::uint64_t v) {
    std::memcpy(file.data() + at, &v, 8);
    return file;
}

std::uint64_t wordAt(const std::vector<std::uint8_t>& file, std::size_t at) {
    std::uint64_t v;
    std::memcpy(&v, file.data() + at, 8);
    return v;
}

// The triangle with one more attribute, "extra", whose value `makeRep` writes.
template <class MakeRep>
std::vector<std::uint8_t> withExtra(MakeRep&& makeRep) {
    CrateWriter w;
    const std::uint32_t tri = triangle(w, w.array(test::cInt, std::vector<std::int32_t>{0, 1, 2}));
    const std::uint64_t extra = makeRep(w);
    w.entry(w.child(tri, "extra", true), test::sAttribute, {{"default", extra}});
    return w.finish();
}

std::string reasonFor(const std::vector<std::uint8_t>& bytes) {
    Layer layer;
    std::string r = read(bytes, layer);
    EXPECT_TRUE(layer.root.children.empty()) << r;
    return r;
}

TEST(USDCrate, hostileFilesGiveAReasonAndNoLayer) {
    CrateWriter w;
    triangle(w, w.array(test::cInt, std::vector<std::int32_t>{0, 1, 2}));
    const std::vector<std::uint8_t> good = w.finish();
    // Sections in the writer's order: tokens, strings, fields, field sets, paths, entries.
    const std::size_t toc = wordAt(good, 16);
    auto sectionStart = [&](int i) { return toc + 8 + 32 * i + 16; };
    auto sectionSize = [&](int i) { return toc + 8 + 32 * i + 24; };
    // Section `i` written anew; it must fit where the old one was.
    auto withSection = [&](int i, const std::vector<std::uint8_t>& content) {
        std::vector<std::uint8_t> bytes = good;
        EXPECT_LE(content.size(), wordAt(good, sectionSize(i)));
        std::copy(content.begin(), content.end(), bytes.begin() + static_cast<std::ptrdiff_t>(wordAt(good, sectionStart(i))));
        return bytes;
    };

    std::vector<std::uint8_t> old = good, newer = good;
    old[9] = 3;
    newer[9] = 11;
    EXPECT_EQ(reasonFor(old), "crate version 0.3.0 is older than 0.4.0, the oldest read");
    EXPECT_EQ(reasonFor(newer), "crate version 0.11.0 is newer than 0.10.0, the newest read");
    EXPECT_EQ(reasonFor(withWord(good, 16, good.size())), "the table of contents runs past its end");
    EXPECT_EQ(reasonFor(withWord(good, sectionSize(0), good.size())), "section TOKENS lies outside the file");
    const std::uint64_t tokens = wordAt(good, sectionStart(0));
    EXPECT_EQ(reasonFor(withWord(good, sectionStart(1), tokens + 4)), "sections TOKENS and STRINGS overlap");
    // Token text declared shorter than it decompresses to, or longer than any block of its
    // size could hold.
    EXPECT_EQ(reasonFor(withWord(good, tokens + 8, wordAt(good, tokens))),
              "the token section: a compressed block is corrupt or larger than declared");
    EXPECT_EQ(reasonFor(withWord(good, tokens + 8, std::uint64_t{1} << 40)),
              "the token section declares more text than its bytes can hold");

    // Arrays of a billion elements in a few bytes, plain and compressed.
    EXPECT_EQ(reasonFor(withExtra([](CrateWriter& c) {
                  const std::uint64_t at = c.put(std::uint64_t{1} << 30);
                  return CrateWriter::rep(test::cVec3f, at, false, true);
              })),
              "an array runs past the end of the file");
    EXPECT_EQ(reasonFor(withExtra([](CrateWriter& c) {
                  const std::uint64_t at = c.put(std::uint64_t{1} << 30);
                  c.put(std::uint64_t{16});
                  c.put(std::uint64_t{0}), c.put(std::uint64_t{0});
                  return CrateWriter::rep(test::cInt, at, false, true, true);
              })),
              "a value: 1073741824 integers declared, more than the bytes can hold");
    // A value outside the file.
    EXPECT_EQ(reasonFor(withExtra([](CrateWriter&) {
                  return CrateWriter::rep(test::cMatrix4d, std::uint64_t{1} << 40, false);
              })),
              "a value lies outside the file");

    // Integer codes that run off the end: every field set entry coded as a 32-bit delta,
    // and no deltas behind the codes.
    {
        const std::uint64_t n = w.fieldSets.size();
        std::vector<std::uint8_t> coded(4 + (n * 2 + 7) / 8, 0xFF);
        std::vector<std::uint8_t> s;
        CrateWriter::append(s, n);
        const std::vector<std::uint8_t> block = w.lz4(coded);
        CrateWriter::append(s, static_cast<std::uint64_t>(block.size()));
        s.insert(s.end(), block.begin(), block.end());
        EXPECT_EQ(reasonFor(withSection(3, s)), "an integer array runs off its end");
    }

    // A path tree whose jumps reach an entry twice: "points" says a child follows and its
    // sibling is one entry on, the same entry.
    {
        std::vector<std::uint32_t> order;
        std::vector<std::int32_t> elements, jumps;
        w.walk(0, false, order, elements, jumps);
        jumps[2] = 1;
        std::vector<std::uint8_t> s;
        CrateWriter::append(s, static_cast<std::uint64_t>(order.size()));
        CrateWriter::append(s, static_cast<std::uint64_t>(order.size()));
        w.compressedInts(s, order);
        w.compressedInts(s, elements);
        w.compressedInts(s, jumps);
        EXPECT_EQ(reasonFor(withSection(4, s)), "the path tree reaches an entry twice");
    }

    // Cut anywhere: a reason, never a crash.
    for (std::size_t n = 0; n < good.size(); ++n) {
        Layer layer;
        EXPECT_NE(read(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)), layer), "");
    }
}

TEST(USDCrate, packagesReadLayersAndTexturesFromInsideOnly) {
    test::TempDir dir;
    CrateWriter w;
    triangle(w, w.array(test::cInt, std::vector<std::int32_t>{0, 1, 2}));
    const std::vector<std::uint8_t> crate = w.finish();
    const std::string root = "#usda 1.0\n( defaultPrim = \"R\" )\n"
                             "def \"R\" ( references = [@sub/tri.usdc@, @../outside.usda@] ) {}\n";
    // A layer beside the package on disk must not be read through it.
    dir.write("outside.usda", std::string("#usda 1.0\n( defaultPrim = \"O\" )\ndef Cube \"O\" {}\n"));
    const test::ZIPTestPackage zip =
        test::writeZIP({test::ZIPTestEntry("root.usda", test::Bytes(root.begin(), root.end()), 0),
                        test::ZIPTestEntry("sub/tri.usdc", test::Bytes(crate.begin(), crate.end()), 0)});
    const std::filesystem::path file = dir.write("p.usdz", zip.bytes);
    ModelAsset asset = importModelAsset(file);
    ASSERT_EQ(asset.objects.size(), 1u);
    usd::Stage stage = [&] {
        std::string why;
        auto package = std::make_shared<const usd::Package>(*usd::openPackage(file, ByteBuffer(zip.bytes.begin(), zip.bytes.end()), &why));
        return usd::composeStage(usd::rootLayerPath(*package), ByteBuffer(root.begin(), root.end()), package);
    }();
    EXPECT_TRUE(stage.primAtPath("/R"));
    bool refused = false;
    for (const std::string& m : stage.messages)
        refused |= m.find("\"../outside.usda\" is refused: it leads outside the package") != std::string::npos;
    EXPECT_TRUE(refused);

    // The first entry must be a layer.
    const test::ZIPTestPackage notLayer = test::writeZIP({test::ZIPTestEntry("readme.txt", test::Bytes{'h', 'i'}, 0)});
    EXPECT_THROW(importModelAsset(dir.write("n.usdz", notLayer.bytes)), Error);
}

TEST(USDCrate, corpusBinaryLayersAndPackagesDraw) {
    KELVO_REQUIRE_CORPUS();
    const std::filesystem::path usd = test::corpusDir() / "other/usd";
    for (const char* name : {"King/King_geom.usd", "MotionCaptureROM.usdc", "CesiumMan.usdz", "RoughnessTest.usdz"}) {
        ModelAsset asset = importModelAsset(usd / name);
        EXPECT_FALSE(asset.objects.empty()) << name;
        loadTextures(asset);
        // Each texture comes out of the package and decodes (RoughnessTest's include a TGA).
        for (const AssetTexture& t : asset.textures) {
            ASSERT_TRUE(t.texture->found && t.texture->encoded) << name << " " << t.texture->path;
            const ImageFormat format = imageFormatOf(*t.texture->encoded, t.texture->mimeType, t.texture->path);
            EXPECT_TRUE(decodeImage(*t.texture->encoded, format, 64)) << t.texture->path;
        }
        if (std::string(name).ends_with(".usdz")) {
            EXPECT_FALSE(asset.textures.empty()) << name;
        }
    }
}

}  // namespace
}  // namespace kelvo
