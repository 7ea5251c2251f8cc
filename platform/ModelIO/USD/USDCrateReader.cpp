#include "platform/ModelIO/USD/USDCrateReader.h"

#include <lz4.h>

#include "platform/ModelIO/USD/USDATextReader.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <unordered_map>

namespace kelvo::usd {

static_assert(std::endian::native == std::endian::little, "crate files are little-endian");

namespace {

template <class T>
using Array = std::vector<T, DefaultInitAllocator<T>>;

struct CrateError {
    std::string message;
};

[[noreturn]] void fail(std::string message) {
    throw CrateError{std::move(message)};
}

constexpr std::uint64_t bootstrapSize = 88;
constexpr std::uint32_t noIndex = 0xFFFFFFFFu;
// Below this many elements arrays are stored plain even when marked compressed.
constexpr std::uint64_t minCompressedArraySize = 16;

// The most an LZ4 block of `n` bytes can expand to: a match of length 255·k costs k bytes.
constexpr std::uint64_t lz4OutputBound(std::uint64_t n) {
    return 256 * n + 64;
}

// Value types, numbered as the format numbers them.
enum Type : std::uint8_t {
    tBool = 1, tUChar, tInt, tUInt, tInt64, tUInt64, tHalf, tFloat, tDouble, tString, tToken,
    tAssetPath, tMatrix2d, tMatrix3d, tMatrix4d, tQuatd, tQuatf, tQuath, tVec2d, tVec2f,
    tVec2h, tVec2i, tVec3d, tVec3f, tVec3h, tVec3i, tVec4d, tVec4f, tVec4h, tVec4i,
    tDictionary, tTokenListOp, tStringListOp, tPathListOp, tReferenceListOp, tIntListOp,
    tInt64ListOp, tUIntListOp, tUInt64ListOp, tPathVector, tTokenVector, tSpecifier,
    tPermission, tVariability, tVariantSelectionMap, tTimeSamples, tPayload, tDoubleVector,
    tLayerOffsetVector, tStringVector, tValueBlock, tValue, tUnregisteredValue,
    tUnregisteredValueListOp, tPayloadListOp, tTimeCode, tPathExpression,
};

// PathEntry kinds.
enum EntryKind : std::uint32_t {
    entryAttribute = 1, entryPrim = 6, entryPseudoRoot = 7, entryRelationship = 8,
    entryVariant = 10, entryVariantSet = 11,
};

struct ValueRep {
    std::uint64_t bits = 0;
    bool isArray() const { return bits >> 63; }
    bool isInlined() const { return (bits >> 62) & 1; }
    bool isCompressed() const { return (bits >> 61) & 1; }
    std::uint8_t type() const { return static_cast<std::uint8_t>(bits >> 48); }
    std::uint64_t payload() const { return bits & ((std::uint64_t{1} << 48) - 1); }
};

enum class Scalar { boolean, u8, i32, u32, i64, u64, half, f32, f64 };

struct Numeric {
    Scalar scalar;
    int components;  // per element: 1, 2, 3, 4, or 4, 9, 16 for matrices
    int matrixSide = 0;
    bool quaternion = false;
};

std::size_t scalarSize(Scalar s) {
    switch (s) {
        case Scalar::boolean:
        case Scalar::u8: return 1;
        case Scalar::half: return 2;
        case Scalar::i32:
        case Scalar::u32:
        case Scalar::f32: return 4;
        case Scalar::i64:
        case Scalar::u64:
        case Scalar::f64: return 8;
    }
    return 1;
}

bool numericType(std::uint8_t t, Numeric& n) {
    switch (t) {
        case tBool: n = {Scalar::boolean, 1}; return true;
        case tUChar: n = {Scalar::u8, 1}; return true;
        case tInt: n = {Scalar::i32, 1}; return true;
        case tUInt: n = {Scalar::u32, 1}; return true;
        case tInt64: n = {Scalar::i64, 1}; return true;
        case tUInt64: n = {Scalar::u64, 1}; return true;
        case tHalf: n = {Scalar::half, 1}; return true;
        case tFloat: n = {Scalar::f32, 1}; return true;
        case tDouble:
        case tTimeCode: n = {Scalar::f64, 1}; return true;
        case tMatrix2d: n = {Scalar::f64, 4, 2}; return true;
        case tMatrix3d: n = {Scalar::f64, 9, 3}; return true;
        case tMatrix4d: n = {Scalar::f64, 16, 4}; return true;
        case tQuatd: n = {Scalar::f64, 4, 0, true}; return true;
        case tQuatf: n = {Scalar::f32, 4, 0, true}; return true;
        case tQuath: n = {Scalar::half, 4, 0, true}; return true;
        case tVec2d: n = {Scalar::f64, 2}; return true;
        case tVec2f: n = {Scalar::f32, 2}; return true;
        case tVec2h: n = {Scalar::half, 2}; return true;
        case tVec2i: n = {Scalar::i32, 2}; return true;
        case tVec3d: n = {Scalar::f64, 3}; return true;
        case tVec3f: n = {Scalar::f32, 3}; return true;
        case tVec3h: n = {Scalar::half, 3}; return true;
        case tVec3i: n = {Scalar::i32, 3}; return true;
        case tVec4d: n = {Scalar::f64, 4}; return true;
        case tVec4f: n = {Scalar::f32, 4}; return true;
        case tVec4h: n = {Scalar::half, 4}; return true;
        case tVec4i: n = {Scalar::i32, 4}; return true;
        default: return false;
    }
}

float halfToFloat(std::uint16_t h) {
    const std::uint32_t sign = static_cast<std::uint32_t>(h >> 15) << 31;
    const int exponent = (h >> 10) & 0x1F;
    const std::uint32_t mantissa = h & 0x3FF;
    if (exponent == 0) {
        const float v = std::ldexp(static_cast<float>(mantissa), -24);
        return sign ? -v : v;
    }
    std::uint32_t bits;
    if (exponent == 31) {
        bits = sign | 0x7F800000u | (mantissa << 13);
    } else {
        bits = sign | (static_cast<std::uint32_t>(exponent + 112) << 23) | (mantissa << 13);
    }
    return std::bit_cast<float>(bits);
}

template <class T>
T load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

double scalarAt(const std::uint8_t* p, Scalar s) {
    switch (s) {
        case Scalar::boolean:
        case Scalar::u8: return *p;
        case Scalar::i32: return load<std::int32_t>(p);
        case Scalar::u32: return load<std::uint32_t>(p);
        case Scalar::i64: return static_cast<double>(load<std::int64_t>(p));
        case Scalar::u64: return static_cast<double>(load<std::uint64_t>(p));
        case Scalar::half: return halfToFloat(load<std::uint16_t>(p));
        case Scalar::f32: return load<float>(p);
        case Scalar::f64: return load<double>(p);
    }
    return 0;
}

std::int32_t clampToInt32(double v) {
    if (!(v == v)) return 0;
    return static_cast<std::int32_t>(std::clamp(v, -2147483648.0, 2147483647.0));
}

// A bounded reader over [at, end) of the file.
struct Cursor {
    ByteSpan file;
    std::uint64_t at = 0, end = 0;
    const char* what = "the file";

    void need(std::uint64_t n) const {
        if (n > end - at) fail(std::string(what) + " runs past its end");
    }
    template <class T>
    T read() {
        need(sizeof(T));
        T v = load<T>(file.data() + at);
        at += sizeof(T);
        return v;
    }
    ByteSpan take(std::uint64_t n) {
        need(n);
        ByteSpan out(file.data() + at, static_cast<std::size_t>(n));
        at += n;
        return out;
    }
    std::uint64_t left() const { return end - at; }
};

// Decodes the delta coding of integers: a common delta, 2-bit codes (4 to a byte, lowest
// first: 0 the common delta, 1 to 3 a small, medium or full-width delta that follows).
template <class Int>
void decodeInts(ByteSpan coded, std::uint64_t count, Int* out) {
    using Wide = std::conditional_t<sizeof(Int) == 4, std::uint32_t, std::uint64_t>;
    using Small = std::conditional_t<sizeof(Int) == 4, std::int8_t, std::int16_t>;
    using Medium = std::conditional_t<sizeof(Int) == 4, std::int16_t, std::int32_t>;
    using Large = std::conditional_t<sizeof(Int) == 4, std::int32_t, std::int64_t>;
    const std::uint64_t codeBytes = (count * 2 + 7) / 8;
    if (coded.size() < sizeof(Int) + codeBytes) fail("an integer array is cut short");
    const std::uint8_t* p = coded.data();
    const Wide common = static_cast<Wide>(load<Large>(p));
    const std::uint8_t* codes = p + sizeof(Int);
    const std::uint8_t* v = codes + codeBytes;
    const std::uint8_t* end = p + coded.size();
    Wide previous = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const int code = (codes[i >> 2] >> ((i & 3) * 2)) & 3;
        switch (code) {
            case 0: previous += common; break;
            case 1:
                if (end - v < static_cast<long>(sizeof(Small))) fail("an integer array runs off its end");
                previous += static_cast<Wide>(static_cast<Large>(load<Small>(v)));
                v += sizeof(Small);
                break;
            case 2:
                if (end - v < static_cast<long>(sizeof(Medium))) fail("an integer array runs off its end");
                previous += static_cast<Wide>(static_cast<Large>(load<Medium>(v)));
                v += sizeof(Medium);
                break;
            default:
                if (end - v < static_cast<long>(sizeof(Large))) fail("an integer array runs off its end");
                previous += static_cast<Wide>(load<Large>(v));
                v += sizeof(Large);
                break;
        }
        out[i] = static_cast<Int>(previous);
    }
}

struct PathNode {
    std::uint32_t parent = noIndex;
    std::uint32_t token = 0;
    bool property = false;
    bool present = false;
    std::uint16_t depth = 0;
};

struct PathEntry {
    std::uint32_t path, fieldSet, type;
};

class CrateReader {
public:
    explicit CrateReader(ByteSpan file)
        : file_(file), budget_((std::uint64_t{128} << 20) + 64 * file.size()) {}

    void read(Layer& layer) {
        bootstrap();
        tableOfContents();
        tokens();
        strings();
        fields();
        fieldSets();
        paths();
        readEntries();
        build(layer);
    }

private:
    // ---- accounting -----------------------------------------------------------------------

    void spend(std::uint64_t bytes) {
        if (bytes > budget_) fail("the layer decodes to more data than its size can justify");
        budget_ -= bytes;
    }

    bool atLeast(int major, int minor) const {
        return major_ > major || (major_ == major && minor_ >= minor);
    }

    // ---- structure ------------------------------------------------------------------------

    void bootstrap() {
        if (file_.size() < 8 || std::memcmp(file_.data(), "PXR-USDC", 8) != 0) fail("not a crate file");
        if (file_.size() < bootstrapSize) fail("the crate file is cut short in its header");
        major_ = file_[8];
        minor_ = file_[9];
        patch_ = file_[10];
        const std::string version = std::to_string(major_) + "." + std::to_string(minor_) + "." +
                                    std::to_string(patch_);
        if (major_ != 0 || minor_ < 4)
            fail("crate version " + version + " is older than 0.4.0, the oldest read");
        if (minor_ > 10) fail("crate version " + version + " is newer than 0.10.0, the newest read");
        tocOffset_ = load<std::uint64_t>(file_.data() + 16);
    }

    struct Section {
        std::string name;
        std::uint64_t start = 0, size = 0;
    };

    void tableOfContents() {
        Cursor c = cursor(tocOffset_, "the table of contents");
        const std::uint64_t count = c.read<std::uint64_t>();
        if (count > 64) fail("the table of contents lists " + std::to_string(count) + " sections");
        for (std::uint64_t i = 0; i < count; ++i) {
            ByteSpan name = c.take(16);
            Section s;
            s.name.assign(reinterpret_cast<const char*>(name.data()),
                          strnlen(reinterpret_cast<const char*>(name.data()), 16));
            s.start = c.read<std::uint64_t>();
            s.size = c.read<std::uint64_t>();
            if (s.start < bootstrapSize || s.start > file_.size() || s.size > file_.size() - s.start)
                fail("section " + s.name + " lies outside the file");
            for (const Section& other : sections_) {
                if (s.start < other.start + other.size && other.start < s.start + s.size)
                    fail("sections " + other.name + " and " + s.name + " overlap");
                if (other.name == s.name) fail("section " + s.name + " is listed twice");
            }
            sections_.push_back(std::move(s));
        }
    }

    Cursor cursor(std::uint64_t at, const char* what) const {
        if (at > file_.size()) fail(std::string(what) + " lies outside the file");
        return Cursor{file_, at, file_.size(), what};
    }

    Cursor section(std::string_view name, const char* what) const {
        for (const Section& s : sections_) {
            if (s.name == name) return Cursor{file_, s.start, s.start + s.size, what};
        }
        fail("the file has no " + std::string(name) + " section");
    }

    // An LZ4 stream of `compressedSize` bytes at the cursor, decoded into `out`.
    std::size_t decompressInto(Cursor& c, std::uint64_t compressedSize, std::span<std::uint8_t> out) {
        ByteSpan compressed = c.take(compressedSize);
        const long n = decompressCrateBlock(compressed, out);
        if (n < 0)
            fail(std::string(c.what) + ": a compressed block is corrupt or larger than declared");
        return static_cast<std::size_t>(n);
    }

    // `count` integers, delta coded and compressed, behind their 64-bit compressed size.
    template <class Int>
    Array<Int> compressedInts(Cursor& c, std::uint64_t count) {
        const std::uint64_t compressedSize = c.read<std::uint64_t>();
        c.need(compressedSize);
        // Each integer takes at least two bits of the decompressed data.
        if (count / 4 > lz4OutputBound(compressedSize) || count > (std::uint64_t{1} << 32))
            fail(std::string(c.what) + ": " + std::to_string(count) +
                 " integers declared, more than the bytes can hold");
        spend(count * sizeof(Int) * 2);
        Array<Int> out(static_cast<std::size_t>(count));
        if (count == 0) {
            c.take(compressedSize);
            return out;
        }
        const std::uint64_t capacity = sizeof(Int) + (count * 2 + 7) / 8 + count * sizeof(Int);
        // Not zeroed first: the decoder writes what it returns, and only that is read.
        ByteBuffer coded(static_cast<std::size_t>(std::min(capacity, lz4OutputBound(compressedSize))));
        const std::size_t n = decompressInto(c, compressedSize, coded);
        decodeInts(ByteSpan(coded.data(), n), count, out.data());
        return out;
    }

    // A declared count of structure entries, checked against what the section could hold.
    std::uint64_t entryCount(Cursor& c) {
        const std::uint64_t n = c.read<std::uint64_t>();
        if (n / 4 > lz4OutputBound(c.left()))
            fail(std::string(c.what) + ": " + std::to_string(n) + " entries declared, more than it can hold");
        return n;
    }

    void tokens() {
        Cursor c = section("TOKENS", "the token section");
        const std::uint64_t n = c.read<std::uint64_t>();
        const std::uint64_t size = c.read<std::uint64_t>();
        const std::uint64_t compressedSize = c.read<std::uint64_t>();
        c.need(compressedSize);
        if (size > lz4OutputBound(compressedSize) || n > size)
            fail("the token section declares more text than its bytes can hold");
        spend(size + n * sizeof(std::string));
        ByteBuffer text(static_cast<std::size_t>(size));
        const std::size_t got = decompressInto(c, compressedSize, text);
        const char* p = reinterpret_cast<const char*>(text.data());
        const char* end = p + got;
        tokens_.reserve(static_cast<std::size_t>(n));
        for (std::uint64_t i = 0; i < n; ++i) {
            const char* nul = static_cast<const char*>(std::memchr(p, 0, static_cast<std::size_t>(end - p)));
            if (!nul) fail("the token section holds fewer tokens than it declares");
            tokens_.emplace_back(p, nul);
            p = nul + 1;
        }
    }

    void strings() {
        Cursor c = section("STRINGS", "the string section");
        const std::uint64_t n = c.read<std::uint64_t>();
        if (n > c.left() / 4) fail("the string section runs past its end");
        strings_.resize(static_cast<std::size_t>(n));
        for (std::uint32_t& s : strings_) {
            s = c.read<std::uint32_t>();
            if (s >= tokens_.size()) fail("a string names a token that does not exist");
        }
    }

    void fields() {
        Cursor c = section("FIELDS", "the field section");
        const std::uint64_t n = entryCount(c);
        Array<std::uint32_t> names = compressedInts<std::uint32_t>(c, n);
        const std::uint64_t repsSize = c.read<std::uint64_t>();
        spend(n * 8);
        ByteBuffer reps(static_cast<std::size_t>(n * 8));
        if (decompressInto(c, repsSize, reps) != reps.size())
            fail("the field section holds fewer values than it declares");
        fields_.resize(static_cast<std::size_t>(n));
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (names[i] >= tokens_.size()) fail("a field is named by a token that does not exist");
            fields_[i] = {names[i], {load<std::uint64_t>(reps.data() + 8 * i)}};
        }
    }

    void fieldSets() {
        Cursor c = section("FIELDSETS", "the field set section");
        fieldSets_ = compressedInts<std::uint32_t>(c, entryCount(c));
        for (std::uint32_t f : fieldSets_) {
            if (f != noIndex && f >= fields_.size()) fail("a field set names a field that does not exist");
        }
    }

    void paths() {
        Cursor c = section("PATHS", "the path section");
        const std::uint64_t total = entryCount(c);
        const std::uint64_t n = entryCount(c);
        const auto pathIndexes = compressedInts<std::uint32_t>(c, n);
        const auto elements = compressedInts<std::int32_t>(c, n);
        const auto jumps = compressedInts<std::int32_t>(c, n);
        if (total > n) fail("the path section declares more paths than it codes");
        spend(total * sizeof(PathNode) * 2);
        nodes_.assign(static_cast<std::size_t>(total), PathNode{});
        children_.assign(static_cast<std::size_t>(total), {});
        std::vector<bool> visited(static_cast<std::size_t>(n));
        // The tree is written depth first: a jump of -2 ends a branch, -1 says a child
        // follows, 0 a sibling follows, and a positive jump both (the sibling that far on).
        // Walked with an explicit stack of sibling runs, each entry at most once, so neither
        // deep trees nor jumps that lead back can make it recurse or loop.
        std::vector<std::pair<std::uint64_t, std::uint32_t>> pending{{0, noIndex}};
        while (!pending.empty()) {
            auto [at, parent] = pending.back();
            pending.pop_back();
            for (;;) {
                if (at >= n) {
                    if (n == 0) break;
                    fail("the path tree jumps past its end");
                }
                if (visited[at]) fail("the path tree reaches an entry twice");
                visited[at] = true;
                const std::uint32_t index = pathIndexes[at];
                if (index >= total) fail("the path tree names a path that does not exist");
                PathNode& node = nodes_[index];
                if (node.present) fail("the path tree names a path twice");
                node.present = true;
                if (parent != noIndex) {
                    const std::int64_t element = elements[at];
                    const std::uint64_t token = static_cast<std::uint64_t>(element < 0 ? -element : element);
                    if (token >= tokens_.size()) fail("a path names a token that does not exist");
                    node.parent = parent;
                    node.token = static_cast<std::uint32_t>(token);
                    node.property = element < 0;
                    node.depth = static_cast<std::uint16_t>(nodes_[parent].depth + 1);
                    if (node.depth > maxPathDepth) fail("paths nest too deeply");
                    children_[parent].push_back(index);
                }
                const std::int32_t jump = jumps[at];
                const bool hasChild = jump > 0 || jump == -1;
                const bool hasSibling = jump >= 0;
                if (hasChild && hasSibling) pending.emplace_back(at + static_cast<std::uint64_t>(jump), parent);
                if (hasChild) {
                    parent = index;
                    ++at;
                } else if (hasSibling) {
                    ++at;
                } else {
                    break;
                }
            }
        }
    }

    void readEntries() {
        Cursor c = section("SPECS", "the section of path entries");
        const std::uint64_t n = entryCount(c);
        const auto paths = compressedInts<std::uint32_t>(c, n);
        const auto sets = compressedInts<std::uint32_t>(c, n);
        const auto types = compressedInts<std::uint32_t>(c, n);
        entryOfPath_.assign(nodes_.size(), noIndex);
        entries_.resize(static_cast<std::size_t>(n));
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (paths[i] >= nodes_.size() || !nodes_[paths[i]].present)
                fail("a entry names a path that does not exist");
            if (sets[i] >= fieldSets_.size()) fail("a entry names a field set that does not exist");
            entries_[i] = {paths[i], sets[i], types[i]};
            if (entryOfPath_[paths[i]] == noIndex) entryOfPath_[paths[i]] = static_cast<std::uint32_t>(i);
        }
    }

    // ---- values ---------------------------------------------------------------------------

    const std::string& token(std::uint64_t index) const {
        if (index >= tokens_.size()) fail("a value names a token that does not exist");
        return tokens_[static_cast<std::size_t>(index)];
    }
    const std::string& string(std::uint64_t index) const {
        if (index >= strings_.size()) fail("a value names a string that does not exist");
        return tokens_[strings_[static_cast<std::size_t>(index)]];
    }

    // The text of path `index`: "/A/B", "/A/B.prop", "/A{set=variant}B".
    std::string path(std::uint64_t index) {
        if (index >= nodes_.size() || !nodes_[index].present) return {};
        std::vector<std::uint32_t> chain;
        for (auto i = static_cast<std::uint32_t>(index); nodes_[i].parent != noIndex; i = nodes_[i].parent)
            chain.push_back(i);
        std::string out;
        for (std::size_t k = chain.size(); k-- > 0;) {
            const PathNode& node = nodes_[chain[k]];
            const std::string& element = tokens_[node.token];
            if (node.property) {
                out += '.';
            } else if (!element.starts_with('{') && !element.starts_with('[') &&
                       (out.empty() || out.back() != '}')) {
                out += '/';
            }
            out += element;
        }
        if (out.empty()) out = "/";
        spend(out.size() + 16);
        return out;
    }

    // Where a value that is not inlined lies.
    Cursor at(ValueRep rep) const { return cursor(rep.payload(), "a value"); }

    // One element of a numeric type, inlined: integer components as signed bytes (a
    // matrix's diagonal), a double as a float, other scalars in the low bits.
    void inlinedNumbers(ValueRep rep, const Numeric& n, std::vector<double>& out) const {
        const auto low = static_cast<std::uint32_t>(rep.payload());
        if (n.components == 1) {
            switch (n.scalar) {
                case Scalar::boolean:
                case Scalar::u8: out.push_back(low & 0xFF); return;
                case Scalar::i32:
                case Scalar::i64: out.push_back(static_cast<std::int32_t>(low)); return;
                case Scalar::u32:
                case Scalar::u64: out.push_back(low); return;
                case Scalar::half: out.push_back(halfToFloat(static_cast<std::uint16_t>(low))); return;
                case Scalar::f32:
                case Scalar::f64: out.push_back(std::bit_cast<float>(low)); return;
            }
        }
        std::int8_t bytes[4];
        std::memcpy(bytes, &low, 4);
        if (n.matrixSide) {
            for (int r = 0; r < n.matrixSide; ++r) {
                for (int col = 0; col < n.matrixSide; ++col)
                    out.push_back(r == col ? bytes[r] : 0);
            }
            return;
        }
        for (int i = 0; i < std::min(n.components, 4); ++i)
            out.push_back(bytes[i]);
    }

    // Quaternions are stored (i, j, k, real); text and the scene builder use (real, i, j, k).
    template <class T>
    static void realFirst(T* q) {
        std::rotate(q, q + 3, q + 4);
    }

    std::uint64_t arrayCount(Cursor& c) {
        if (!atLeast(0, 5)) c.read<std::uint32_t>();  // the rank of a shape no longer written
        return atLeast(0, 7) ? c.read<std::uint64_t>() : c.read<std::uint32_t>();
    }

    // A numeric array into `ints` (integer-like types) or `floats` (the rest, components
    // flattened).
    void numericArray(ValueRep rep, const Numeric& n, Value& value) {
        if (rep.payload() == 0) return;  // an empty array
        Cursor c = at(rep);
        const std::uint64_t count = arrayCount(c);
        const std::uint64_t elements = count * static_cast<std::uint64_t>(n.components);
        if (count > (std::uint64_t{1} << 40)) fail("an array declares " + std::to_string(count) + " elements");
        const bool integral = n.scalar == Scalar::boolean || n.scalar == Scalar::u8 ||
                              n.scalar == Scalar::i32 || n.scalar == Scalar::u32 ||
                              n.scalar == Scalar::i64 || n.scalar == Scalar::u64;
        const bool intLike = integral && n.components == 1;
        if (rep.isCompressed() && n.components == 1 && count >= minCompressedArraySize &&
            (integral || atLeast(0, 6))) {
            if (integral) {
                if (scalarSize(n.scalar) == 8) {
                    for (std::int64_t v : compressedInts<std::int64_t>(c, count))
                        value.ints.push_back(clampToInt32(static_cast<double>(v)));
                } else {
                    value.ints = compressedInts<std::int32_t>(c, count);
                }
                return;
            }
            const char code = static_cast<char>(c.read<std::uint8_t>());
            if (code == 'i') {
                for (std::int32_t v : compressedInts<std::int32_t>(c, count))
                    value.floats.push_back(static_cast<float>(v));
            } else if (code == 't') {
                const std::uint32_t tableSize = c.read<std::uint32_t>();
                const std::size_t size = scalarSize(n.scalar);
                ByteSpan table = c.take(std::uint64_t{tableSize} * size);
                for (std::uint32_t index : compressedInts<std::uint32_t>(c, count)) {
                    if (index >= tableSize) fail("a compressed array indexes past its table");
                    value.floats.push_back(static_cast<float>(scalarAt(table.data() + index * size, n.scalar)));
                }
            } else {
                fail("a compressed array has an unknown coding");
            }
            return;
        }
        const std::size_t size = scalarSize(n.scalar);
        if (elements > c.left() / size) fail("an array runs past the end of the file");
        spend(elements * 4);
        const std::uint8_t* p = c.file.data() + c.at;
        if (intLike) {
            value.ints.resize(static_cast<std::size_t>(elements));
            if (n.scalar == Scalar::i32 || n.scalar == Scalar::u32) {
                if (elements > 0) std::memcpy(value.ints.data(), p, elements * 4);
            } else {
                for (std::size_t i = 0; i < elements; ++i)
                    value.ints[i] = clampToInt32(scalarAt(p + i * size, n.scalar));
            }
            return;
        }
        value.floats.resize(static_cast<std::size_t>(elements));
        if (n.scalar == Scalar::f32) {
            if (elements > 0) std::memcpy(value.floats.data(), p, elements * 4);
        } else {
            for (std::size_t i = 0; i < elements; ++i)
                value.floats[i] = static_cast<float>(scalarAt(p + i * size, n.scalar));
        }
        if (n.quaternion) {
            for (std::size_t i = 0; i + 4 <= value.floats.size(); i += 4)
                realFirst(value.floats.data() + i);
        }
    }

    // Strings, tokens or asset paths (as 32-bit indices) behind a 64-bit count.
    template <class Name>
    void indexVector(Cursor& c, std::uint64_t count, std::vector<std::string>& out, Name&& name) {
        if (count > c.left() / 4) fail("a list runs past the end of the file");
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::string& s = name(c.read<std::uint32_t>());
            spend(s.size() + 32);
            out.push_back(s);
        }
    }

    // The value a field holds, in the shape USDLayer.h's Value gives it.
    Value value(ValueRep rep, std::string typeName) {
        Value v;
        v.typeName = std::move(typeName);
        v.array = rep.isArray();
        const std::uint8_t type = rep.type();
        if (type == tValueBlock) {
            v.blocked = true;
            return v;
        }
        Numeric n;
        if (numericType(type, n)) {
            if (v.array) {
                numericArray(rep, n, v);
            } else if (rep.isInlined()) {
                inlinedNumbers(rep, n, v.numbers);
            } else {
                Cursor c = at(rep);
                const std::size_t size = scalarSize(n.scalar);
                ByteSpan bytes = c.take(size * static_cast<std::size_t>(n.components));
                for (int i = 0; i < n.components; ++i)
                    v.numbers.push_back(scalarAt(bytes.data() + i * size, n.scalar));
                if (n.quaternion) realFirst(v.numbers.data());
            }
            return v;
        }
        if (type == tString || type == tToken || type == tAssetPath) {
            auto name = [&](std::uint64_t i) -> const std::string& {
                return type == tString ? string(i) : token(i);
            };
            if (!v.array) {
                const std::string& s = name(rep.payload());
                spend(s.size() + 32);
                v.strings.push_back(s);
            } else if (rep.payload() != 0) {
                Cursor c = at(rep);
                indexVector(c, arrayCount(c), v.strings, name);
            }
            return v;
        }
        if (type == tTokenVector || type == tStringVector) {
            Cursor c = at(rep);
            indexVector(c, c.read<std::uint64_t>(), v.strings, [&](std::uint64_t i) -> const std::string& {
                return type == tStringVector ? string(i) : token(i);
            });
        }
        return v;  // dictionaries and other kinds drawing does not use: no data
    }

    std::vector<double> doubles(ValueRep rep) {
        Value v = value(rep, "double");
        if (!v.floats.empty()) return {v.floats.begin(), v.floats.end()};
        if (rep.type() == tDoubleVector) {
            Cursor c = at(rep);
            const std::uint64_t count = c.read<std::uint64_t>();
            if (count > c.left() / 8) fail("a list runs past the end of the file");
            spend(count * 8);
            std::vector<double> out(static_cast<std::size_t>(count));
            for (double& d : out)
                d = c.read<double>();
            return out;
        }
        return v.numbers;
    }

    // A value that sits behind a forward offset (dictionary entries, time samples): the
    // offset is relative to where it is written and leads to the value's representation.
    ValueRep recursiveRep(Cursor& c) {
        const std::uint64_t from = c.at;
        const auto offset = c.read<std::int64_t>();
        if (offset < 8 || static_cast<std::uint64_t>(offset) > c.end - from)
            fail("a nested value lies outside the file");
        c.at = from + static_cast<std::uint64_t>(offset);
        return {c.read<std::uint64_t>()};
    }

    void skipDictionary(Cursor& c) {
        std::uint64_t n = c.read<std::uint64_t>();
        if (n > c.left() / 12) fail("a dictionary runs past the end of the file");
        while (n--) {
            string(c.read<std::uint32_t>());
            recursiveRep(c);
        }
    }

    // The earliest sample of a time-sampled value.
    bool earliestSample(ValueRep rep, const std::string& typeName, Property& property) {
        Cursor c = at(rep);
        const std::vector<double> times = doubles(recursiveRep(c));
        // The values: behind a second offset, a count and one representation each.
        const std::uint64_t count = recursiveRep(c).bits;
        if (count > c.left() / 8) fail("time samples run past the end of the file");
        if (times.empty() || count != times.size()) return false;
        const std::size_t first = static_cast<std::size_t>(
            std::min_element(times.begin(), times.end()) - times.begin());
        c.at += first * 8;
        property.value = value({c.read<std::uint64_t>()}, typeName);
        property.sampleTime = times[first];
        return true;
    }

    // ---- list operations ------------------------------------------------------------------

    template <class Item, class ReadItem>
    void listOp(ValueRep rep, bool& isExplicit, std::vector<Item>& explicitItems,
                std::vector<Item>& prepended, std::vector<Item>& appended,
                std::vector<Item>& deleted, ReadItem&& readItem) {
        if (rep.isInlined()) return;
        Cursor c = at(rep);
        const std::uint8_t header = c.read<std::uint8_t>();
        isExplicit = header & 1;
        std::vector<Item> scratch;
        // In the order written: explicit, added, prepended, appended, deleted, ordered.
        std::vector<Item>* lists[] = {&explicitItems, &appended, &prepended, &appended, &deleted, &scratch};
        const int bits[] = {2, 4, 32, 64, 8, 16};
        for (int i = 0; i < 6; ++i) {
            if (!(header & bits[i])) continue;
            std::uint64_t n = c.read<std::uint64_t>();
            if (n > c.left() / 4) fail("a list operation runs past the end of the file");
            while (n--)
                lists[i]->push_back(readItem(c));
        }
    }

    void pathListOp(ValueRep rep, ListOp& list) {
        listOp(rep, list.isExplicit, list.explicitItems, list.prepended, list.appended,
               list.deleted, [&](Cursor& c) { return path(c.read<std::uint32_t>()); });
    }

    void stringListOp(ValueRep rep, ListOp& list) {
        listOp(rep, list.isExplicit, list.explicitItems, list.prepended, list.appended,
               list.deleted, [&](Cursor& c) {
                   const std::string& s = rep.type() == tTokenListOp ? token(c.read<std::uint32_t>())
                                                                     : string(c.read<std::uint32_t>());
                   spend(s.size() + 32);
                   return s;
               });
    }

    Reference referenceAt(Cursor& c, bool payload) {
        Reference r;
        r.assetPath = string(c.read<std::uint32_t>());
        r.primPath = path(c.read<std::uint32_t>());
        if (r.primPath == "/") r.primPath.clear();
        spend(r.assetPath.size() + 64);
        if (!payload || atLeast(0, 8)) c.take(16);  // layer offset: offset and scale
        if (!payload) skipDictionary(c);             // custom data
        return r;
    }

    void referenceListOp(ValueRep rep, ReferenceListOp& list) {
        const bool payload = rep.type() != tReferenceListOp;
        if (rep.type() == tPayload) {
            if (rep.isInlined()) return;
            Cursor c = at(rep);
            list.isExplicit = true;
            list.explicitItems.push_back(referenceAt(c, true));
            return;
        }
        listOp(rep, list.isExplicit, list.explicitItems, list.prepended, list.appended,
               list.deleted, [&](Cursor& c) { return referenceAt(c, payload); });
    }

    // ---- the layer ------------------------------------------------------------------------

    // Calls fn(name, rep) for each field of the entry at `pathIndex`; false when it has none.
    template <class Fn>
    bool eachField(std::uint32_t pathIndex, Fn&& fn) {
        const std::uint32_t s = entryOfPath_[pathIndex];
        if (s == noIndex) return false;
        for (std::size_t i = entries_[s].fieldSet; i < fieldSets_.size() && fieldSets_[i] != noIndex; ++i) {
            spend(16);
            const auto& [name, rep] = fields_[fieldSets_[i]];
            fn(tokens_[name], rep);
        }
        return true;
    }

    std::string tokenValue(ValueRep rep) {
        Value v = value(rep, "token");
        return v.strings.empty() ? std::string() : std::move(v.strings.front());
    }

    bool boolValue(ValueRep rep) {
        Value v = value(rep, "bool");
        return !v.numbers.empty() && v.numbers.front() != 0;
    }

    double numberValue(ValueRep rep) {
        Value v = value(rep, "double");
        return v.numbers.empty() ? 0 : v.numbers.front();
    }

    void build(Layer& layer) {
        if (nodes_.empty()) return;
        std::uint32_t root = 0;
        for (std::uint32_t i = 0; i < nodes_.size(); ++i) {
            if (nodes_[i].present && nodes_[i].parent == noIndex) {
                root = i;
                break;
            }
        }
        eachField(root, [&](const std::string& name, ValueRep rep) {
            if (name == "defaultPrim") {
                layer.defaultPrim = tokenValue(rep);
            } else if (name == "upAxis") {
                layer.upAxis = tokenValue(rep);
            } else if (name == "metersPerUnit") {
                layer.metersPerUnit = numberValue(rep);
            } else if (name == "subLayers") {
                layer.subLayers = value(rep, "asset").strings;
            }
        });
        children(root, layer.root, 0);
    }

    void children(std::uint32_t index, PrimOpinion& prim, int depth) {
        if (depth > maxNesting) fail("prims nest too deeply");
        std::vector<std::pair<std::string, std::vector<std::string>>> variantOrders;
        for (std::uint32_t child : children_[index]) {
            const std::uint32_t s = entryOfPath_[child];
            if (s == noIndex) continue;  // a path only named (a target), not a entry
            const PathNode& node = nodes_[child];
            const std::string& element = tokens_[node.token];
            const std::uint32_t type = entries_[s].type;
            if (node.property) {
                if (type == entryAttribute || type == entryRelationship) property(child, type, prim);
            } else if (type == entryPrim) {
                PrimOpinion& made = prim.children.emplace_back();
                made.name = element;
                spend(element.size() + sizeof(PrimOpinion));
                primFields(child, made);
                children(child, made, depth + 1);
            } else if (type == entryVariant || type == entryVariantSet) {
                if (type == entryVariantSet) variantOrders.emplace_back(element, names(child, "variantChildren"));
                variant(child, element, prim, depth + 1);
            }
        }
        // The path table is sorted; the order written is in the parents' fields.
        inOrder(prim.children, names(index, "primChildren"));
        for (const auto& [element, order] : variantOrders) {
            const std::string setName = element.substr(1, element.find('=') - 1);
            for (VariantSet& set : prim.variantSets) {
                if (set.name == setName) inOrder(set.variants, order);
            }
        }
    }

    // The names a token-list field of the entry at `pathIndex` holds.
    std::vector<std::string> names(std::uint32_t pathIndex, std::string_view field) {
        std::vector<std::string> out;
        eachField(pathIndex, [&](const std::string& name, ValueRep rep) {
            if (name == field) out = value(rep, "token").strings;
        });
        return out;
    }

    // Sorts `items` (prims or variants) into the order of `order`, by name; those it does
    // not name go last, in the order they had.
    template <class T>
    static void inOrder(std::vector<T>& items, const std::vector<std::string>& order) {
        if (order.empty() || items.size() < 2) return;
        std::unordered_map<std::string_view, std::size_t> rank;
        for (std::size_t i = 0; i < order.size(); ++i)
            rank.emplace(order[i], i);
        auto rankOf = [&](const T& item) {
            auto it = rank.find(item.name);
            return it == rank.end() ? order.size() : it->second;
        };
        std::stable_sort(items.begin(), items.end(),
                         [&](const T& a, const T& b) { return rankOf(a) < rankOf(b); });
    }

    // A variant "{set=name}" (or a variant set "{set=}") below `prim`.
    void variant(std::uint32_t index, const std::string& element, PrimOpinion& prim, int depth) {
        const std::size_t equals = element.find('=');
        if (element.size() < 3 || element.back() != '}' || equals == std::string::npos) return;
        const std::string setName = element.substr(1, equals - 1);
        const std::string variantName = element.substr(equals + 1, element.size() - equals - 2);
        auto set = std::find_if(prim.variantSets.begin(), prim.variantSets.end(),
                                [&](const VariantSet& s) { return s.name == setName; });
        if (set == prim.variantSets.end()) {
            set = prim.variantSets.insert(prim.variantSets.end(), VariantSet{setName, {}});
        }
        if (variantName.empty()) return;
        Variant& v = set->variants.emplace_back();
        v.name = variantName;
        v.opinion.name = prim.name;
        spend(element.size() + sizeof(Variant));
        primFields(index, v.opinion);
        children(index, v.opinion, depth);
    }

    void primFields(std::uint32_t index, PrimOpinion& prim) {
        eachField(index, [&](const std::string& name, ValueRep rep) {
            if (name == "specifier") {
                const std::uint64_t s = rep.payload();
                prim.specifier = s == 0 ? Specifier::def : s == 2 ? Specifier::classOpinion : Specifier::over;
            } else if (name == "typeName") {
                prim.typeName = tokenValue(rep);
            } else if (name == "references") {
                referenceListOp(rep, prim.references);
            } else if (name == "payload") {
                referenceListOp(rep, prim.payloads);
            } else if (name == "inherits") {
                pathListOp(rep, prim.inherits);
            } else if (name == "specializes") {
                pathListOp(rep, prim.specializes);
            } else if (name == "variantSetNames") {
                stringListOp(rep, prim.variantSetNames);
            } else if (name == "variantSelection") {
                variantSelections(rep, prim);
            } else if (name == "active") {
                prim.hasActive = true;
                prim.active = boolValue(rep);
            } else if (name == "instanceable") {
                prim.hasInstanceable = true;
                prim.instanceable = boolValue(rep);
            } else if (name == "kind") {
                prim.kind = tokenValue(rep);
            }
        });
    }

    void variantSelections(ValueRep rep, PrimOpinion& prim) {
        if (rep.isInlined()) return;
        Cursor c = at(rep);
        std::uint64_t n = c.read<std::uint64_t>();
        if (n > c.left() / 8) fail("variant selections run past the end of the file");
        while (n--) {
            std::string set = string(c.read<std::uint32_t>());
            std::string chosen = string(c.read<std::uint32_t>());
            spend(set.size() + chosen.size() + 64);
            prim.variantSelections.emplace_back(std::move(set), std::move(chosen));
        }
    }

    void property(std::uint32_t index, std::uint32_t type, PrimOpinion& prim) {
        Property& p = prim.properties.emplace_back();
        p.name = tokens_[nodes_[index].token];
        p.relationship = type == entryRelationship;
        spend(p.name.size() + sizeof(Property));
        ValueRep defaultRep, samplesRep;
        bool hasDefault = false, hasSamples = false;
        eachField(index, [&](const std::string& name, ValueRep rep) {
            if (name == "typeName") {
                p.typeName = tokenValue(rep);
                if (p.typeName.ends_with("[]")) p.typeName.resize(p.typeName.size() - 2);
            } else if (name == "default") {
                defaultRep = rep;
                hasDefault = true;
            } else if (name == "timeSamples") {
                samplesRep = rep;
                hasSamples = true;
            } else if (name == "variability") {
                p.uniform = rep.payload() == 1;
            } else if (name == "custom") {
                p.custom = boolValue(rep);
            } else if (name == "interpolation") {
                p.interpolation = tokenValue(rep);
            } else if (name == "elementSize") {
                const double d = numberValue(rep);
                p.elementSize = d >= 1 && d <= 1 << 20 ? static_cast<std::int32_t>(d) : 1;
            } else if (name == "connectionPaths" || name == "targetPaths") {
                ListOp targets;
                pathListOp(rep, targets);
                p.targets = targets.items();
                p.hasTargets = targets.isExplicit || !p.targets.empty();
            }
        });
        if (p.relationship) p.typeName.clear();
        if (hasDefault) {
            p.value = value(defaultRep, p.typeName);
            p.hasValue = true;
        } else if (hasSamples && samplesRep.type() == tTimeSamples && !samplesRep.isInlined()) {
            p.hasValue = p.valueIsSample = earliestSample(samplesRep, p.typeName, p);
        }
    }

    static constexpr int maxPathDepth = 4096;

    ByteSpan file_;
    std::uint64_t budget_;
    std::uint8_t major_ = 0, minor_ = 0, patch_ = 0;
    std::uint64_t tocOffset_ = 0;
    std::vector<Section> sections_;
    std::vector<std::string> tokens_;
    std::vector<std::uint32_t> strings_;
    std::vector<std::pair<std::uint32_t, ValueRep>> fields_;
    Array<std::uint32_t> fieldSets_;
    std::vector<PathNode> nodes_;
    std::vector<std::vector<std::uint32_t>> children_;
    std::vector<PathEntry> entries_;
    std::vector<std::uint32_t> entryOfPath_;
};

}  // namespace

long decompressCrateBlock(ByteSpan compressed, std::span<std::uint8_t> out) {
    if (compressed.empty()) return -1;
    const std::size_t chunks = compressed[0];
    auto block = [&](std::size_t from, std::size_t size, std::size_t to) -> long {
        const std::size_t room = std::min<std::size_t>(out.size() - to, INT_MAX);
        if (size > INT_MAX) return -1;
        return LZ4_decompress_safe(reinterpret_cast<const char*>(compressed.data() + from),
                                   reinterpret_cast<char*>(out.data() + to), static_cast<int>(size),
                                   static_cast<int>(room));
    };
    if (chunks == 0) return block(1, compressed.size() - 1, 0);
    std::size_t at = 1, written = 0;
    for (std::size_t i = 0; i < chunks; ++i) {
        if (compressed.size() - at < 4) return -1;
        const auto size = load<std::int32_t>(compressed.data() + at);
        at += 4;
        if (size < 0 || static_cast<std::size_t>(size) > compressed.size() - at) return -1;
        const long n = block(at, static_cast<std::size_t>(size), written);
        if (n < 0) return -1;
        written += static_cast<std::size_t>(n);
        at += static_cast<std::size_t>(size);
    }
    return static_cast<long>(written);
}

std::string readCrate(ByteSpan bytes, Layer& layer) {
    try {
        CrateReader(bytes).read(layer);
    } catch (const CrateError& e) {
        layer = Layer();
        return e.message;
    } catch (const std::bad_alloc&) {
        layer = Layer();
        return "out of memory";
    }
    return {};
}

}  // namespace kelvo::usd
