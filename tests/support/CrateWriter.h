// A writer of crate (binary USD) files for tests: nothing in the distribution writes them,
// so the tests make their own, one value type and one compression case at a time. It
// writes what the reader reads and no more: entries with fields, values inlined or out of
// line, arrays plain or compressed, and the six sections in a table of contents. Each
// LZ4 stream can be written as one block or as one chunk behind a count.
#pragma once

#include <lz4.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvo::test {

// Value type numbers of the format.
enum CrateType : std::uint8_t {
    cBool = 1, cUChar, cInt, cUInt, cInt64, cUInt64, cHalf, cFloat, cDouble, cString, cToken,
    cAssetPath, cMatrix2d, cMatrix3d, cMatrix4d, cQuatd, cQuatf, cQuath, cVec2d, cVec2f, cVec2h,
    cVec2i, cVec3d, cVec3f, cVec3h, cVec3i, cVec4d, cVec4f, cVec4h, cVec4i, cDictionary,
    cTokenListOp, cStringListOp, cPathListOp, cReferenceListOp, cIntListOp, cInt64ListOp,
    cUIntListOp, cUInt64ListOp, cPathVector, cTokenVector, cSpecifier, cPermission,
    cVariability, cVariantSelectionMap, cTimeSamples, cPayload, cDoubleVector,
    cLayerOffsetVector, cStringVector, cValueBlock, cValue, cUnregisteredValue,
    cUnregisteredValueListOp, cPayloadListOp, cTimeCode,
};

enum CrateEntryKind : std::uint32_t {
    sAttribute = 1, sPrim = 6, sPseudoRoot = 7, sRelationship = 8, sVariant = 10, sVariantSet = 11,
};

struct CrateWriter {
    std::uint8_t minor = 8;
    bool chunked = false;
    std::vector<std::uint8_t> file = std::vector<std::uint8_t>(88, 0);
    std::vector<std::string> tokens = {""};  // token 0 names nothing: -0 is no property
    std::vector<std::uint32_t> strings;
    struct Node {
        std::uint32_t token = 0;
        bool property = false;
        std::vector<std::uint32_t> children;
    };
    std::vector<Node> nodes = {Node{}};  // 0: the root
    std::vector<std::pair<std::uint32_t, std::uint64_t>> fields;
    std::vector<std::uint32_t> fieldSets;
    std::vector<std::uint32_t> entryPaths, entrySets, entryTypes;

    static std::uint64_t rep(std::uint8_t type, std::uint64_t payload, bool inlined,
                             bool array = false, bool compressed = false) {
        return (std::uint64_t{array} << 63) | (std::uint64_t{inlined} << 62) |
               (std::uint64_t{compressed} << 61) | (std::uint64_t{type} << 48) | payload;
    }

    std::uint32_t token(std::string_view text) {
        for (std::uint32_t i = 0; i < tokens.size(); ++i) {
            if (tokens[i] == text) return i;
        }
        tokens.emplace_back(text);
        return static_cast<std::uint32_t>(tokens.size() - 1);
    }
    std::uint32_t string(std::string_view text) {
        strings.push_back(token(text));
        return static_cast<std::uint32_t>(strings.size() - 1);
    }
    std::uint32_t child(std::uint32_t parent, std::string_view element, bool property = false) {
        nodes.push_back({token(element), property, {}});
        const auto index = static_cast<std::uint32_t>(nodes.size() - 1);
        nodes[parent].children.push_back(index);
        return index;
    }

    // ---- raw bytes ----------------------------------------------------------------------
    template <class T>
    static void append(std::vector<std::uint8_t>& out, const T& v) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
        out.insert(out.end(), p, p + sizeof v);
    }
    template <class T>
    std::uint64_t put(const T& v) {
        const std::uint64_t at = file.size();
        append(file, v);
        return at;
    }
    std::uint64_t putBytes(const std::vector<std::uint8_t>& bytes) {
        const std::uint64_t at = file.size();
        file.insert(file.end(), bytes.begin(), bytes.end());
        return at;
    }

    std::vector<std::uint8_t> lz4(const std::vector<std::uint8_t>& raw) const {
        std::vector<char> block(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(raw.size()))) + 1);
        const int n = LZ4_compress_default(reinterpret_cast<const char*>(raw.data()), block.data(),
                                           static_cast<int>(raw.size()), static_cast<int>(block.size()));
        std::vector<std::uint8_t> out;
        if (chunked) {
            out.push_back(1);
            append(out, static_cast<std::int32_t>(n));
        } else {
            out.push_back(0);
        }
        out.insert(out.end(), block.begin(), block.begin() + n);
        return out;
    }

    // Delta coding of 32-bit integers with 2-bit size codes, the most frequent delta as the
    // common one.
    template <class Int>
    static std::vector<std::uint8_t> codeInts(const std::vector<Int>& values) {
        std::vector<Int> deltas;
        Int previous = 0;
        for (Int v : values) {
            deltas.push_back(static_cast<Int>(v - previous));
            previous = v;
        }
        std::map<Int, std::size_t> counts;
        for (Int d : deltas)
            ++counts[d];
        Int common = 0;
        std::size_t best = 0;
        for (const auto& [d, n] : counts) {
            if (n > best) best = n, common = d;
        }
        std::vector<std::uint8_t> out;
        append(out, common);
        const std::size_t codesAt = out.size();
        out.resize(out.size() + (values.size() * 2 + 7) / 8, 0);
        for (std::size_t i = 0; i < deltas.size(); ++i) {
            const auto d = static_cast<std::int32_t>(deltas[i]);
            int code;
            if (deltas[i] == common) {
                code = 0;
            } else if (d >= -128 && d <= 127) {
                code = 1;
                append(out, static_cast<std::int8_t>(d));
            } else if (d >= -32768 && d <= 32767) {
                code = 2;
                append(out, static_cast<std::int16_t>(d));
            } else {
                code = 3;
                append(out, d);
            }
            out[codesAt + i / 4] |= static_cast<std::uint8_t>(code << (2 * (i % 4)));
        }
        return out;
    }

    template <class Int>
    void compressedInts(std::vector<std::uint8_t>& out, const std::vector<Int>& values) const {
        const std::vector<std::uint8_t> block = lz4(codeInts(values));
        append(out, static_cast<std::uint64_t>(block.size()));
        out.insert(out.end(), block.begin(), block.end());
    }

    // ---- values -------------------------------------------------------------------------
    void count(std::uint64_t n) {
        if (minor >= 7) {
            put(n);
        } else {
            put(static_cast<std::uint32_t>(n));
        }
    }
    template <class T>
    std::uint64_t array(std::uint8_t type, const std::vector<T>& values) {
        const std::uint64_t at = file.size();
        count(values.size() * sizeof(T) / elementSize(type));
        for (const T& v : values)
            put(v);
        return rep(type, at, false, true);
    }
    static std::size_t elementSize(std::uint8_t type) {
        switch (type) {
            case cVec2f: return 8;
            case cVec3f: return 12;
            case cVec4f:
            case cQuatf: return 16;
            case cVec3d: return 24;
            case cMatrix4d: return 128;
            case cHalf: return 2;
            case cDouble: return 8;
            default: return 4;
        }
    }
    std::uint64_t compressedIntArray(const std::vector<std::int32_t>& values) {
        const std::uint64_t at = file.size();
        count(values.size());
        compressedInts(file, values);
        return rep(cInt, at, false, true, true);
    }
    // A float array compressed as integers ('i') or through a lookup table ('t').
    std::uint64_t compressedFloatArray(const std::vector<float>& values, char code) {
        const std::uint64_t at = file.size();
        count(values.size());
        put(static_cast<std::uint8_t>(code));
        if (code == 'i') {
            compressedInts(file, std::vector<std::int32_t>(values.begin(), values.end()));
        } else {
            std::vector<float> table;
            std::vector<std::uint32_t> indexes;
            for (float v : values) {
                auto it = std::find(table.begin(), table.end(), v);
                if (it == table.end()) it = table.insert(table.end(), v);
                indexes.push_back(static_cast<std::uint32_t>(it - table.begin()));
            }
            put(static_cast<std::uint32_t>(table.size()));
            for (float v : table)
                put(v);
            compressedInts(file, indexes);
        }
        return rep(cFloat, at, false, true, true);
    }
    std::uint64_t tokenVector(std::uint8_t type, const std::vector<std::string>& items) {
        const std::uint64_t at = file.size();
        put(static_cast<std::uint64_t>(items.size()));
        for (const std::string& s : items)
            put(type == cStringVector ? string(s) : token(s));
        return rep(type, at, false);
    }
    // A list operation of 32-bit items (paths, tokens, strings): explicit items and
    // prepended ones, the two that files write.
    std::uint64_t listOp(std::uint8_t type, const std::vector<std::uint32_t>& explicitItems,
                         const std::vector<std::uint32_t>& prepended) {
        const std::uint64_t at = file.size();
        put(static_cast<std::uint8_t>((explicitItems.empty() ? 0 : 3) | (prepended.empty() ? 0 : 32)));
        for (const auto* list : {&explicitItems, &prepended}) {
            if (list->empty()) continue;
            put(static_cast<std::uint64_t>(list->size()));
            for (std::uint32_t item : *list)
                put(item);
        }
        return rep(type, at, false);
    }

    // ---- entries --------------------------------------------------------------------------
    void entry(std::uint32_t path, std::uint32_t type,
              const std::vector<std::pair<std::string, std::uint64_t>>& entryFields) {
        entryPaths.push_back(path);
        entrySets.push_back(static_cast<std::uint32_t>(fieldSets.size()));
        entryTypes.push_back(type);
        for (const auto& [name, value] : entryFields) {
            fields.emplace_back(token(name), value);
            fieldSets.push_back(static_cast<std::uint32_t>(fields.size() - 1));
        }
        fieldSets.push_back(0xFFFFFFFFu);
    }

    std::vector<std::uint8_t> finish() {
        struct Section {
            const char* name;
            std::uint64_t start, size;
        };
        std::vector<Section> sections;
        auto section = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
            sections.push_back({name, putBytes(bytes), bytes.size()});
        };
        std::vector<std::uint8_t> s;
        std::vector<std::uint8_t> text;
        for (const std::string& t : tokens)
            text.insert(text.end(), t.c_str(), t.c_str() + t.size() + 1);
        const std::vector<std::uint8_t> block = lz4(text);
        append(s, static_cast<std::uint64_t>(tokens.size()));
        append(s, static_cast<std::uint64_t>(text.size()));
        append(s, static_cast<std::uint64_t>(block.size()));
        s.insert(s.end(), block.begin(), block.end());
        section("TOKENS", s);
        s.clear();
        append(s, static_cast<std::uint64_t>(strings.size()));
        for (std::uint32_t i : strings)
            append(s, i);
        section("STRINGS", s);
        s.clear();
        append(s, static_cast<std::uint64_t>(fields.size()));
        std::vector<std::uint32_t> names;
        std::vector<std::uint8_t> reps;
        for (const auto& [name, value] : fields) {
            names.push_back(name);
            append(reps, value);
        }
        compressedInts(s, names);
        const std::vector<std::uint8_t> repBlock = lz4(reps);
        append(s, static_cast<std::uint64_t>(repBlock.size()));
        s.insert(s.end(), repBlock.begin(), repBlock.end());
        section("FIELDS", s);
        s.clear();
        append(s, static_cast<std::uint64_t>(fieldSets.size()));
        compressedInts(s, fieldSets);
        section("FIELDSETS", s);
        s.clear();
        // Paths depth first; each entry's jump: -2 leaf without sibling, -1 child follows,
        // 0 sibling follows, n > 0 child follows and the sibling is n entries on.
        std::vector<std::uint32_t> order;
        std::vector<std::int32_t> elements, jumps;
        walk(0, false, order, elements, jumps);
        append(s, static_cast<std::uint64_t>(nodes.size()));
        append(s, static_cast<std::uint64_t>(order.size()));
        compressedInts(s, order);
        compressedInts(s, elements);
        compressedInts(s, jumps);
        section("PATHS", s);
        s.clear();
        append(s, static_cast<std::uint64_t>(entryPaths.size()));
        compressedInts(s, entryPaths);
        compressedInts(s, entrySets);
        compressedInts(s, entryTypes);
        section("SPECS", s);
        const std::uint64_t toc = put(static_cast<std::uint64_t>(sections.size()));
        for (const Section& sec : sections) {
            char name[16] = {};
            std::strncpy(name, sec.name, 15);
            file.insert(file.end(), name, name + 16);
            put(sec.start);
            put(sec.size);
        }
        std::memcpy(file.data(), "PXR-USDC", 8);
        file[8] = 0;
        file[9] = minor;
        file[10] = 0;
        std::memcpy(file.data() + 16, &toc, 8);
        return file;
    }

    void walk(std::uint32_t index, bool hasSibling, std::vector<std::uint32_t>& order,
              std::vector<std::int32_t>& elements, std::vector<std::int32_t>& jumps) const {
        const Node& node = nodes[index];
        const std::size_t at = order.size();
        order.push_back(index);
        elements.push_back(node.property ? -static_cast<std::int32_t>(node.token)
                                         : static_cast<std::int32_t>(node.token));
        jumps.push_back(0);
        for (std::size_t i = 0; i < node.children.size(); ++i)
            walk(node.children[i], i + 1 < node.children.size(), order, elements, jumps);
        const bool hasChild = !node.children.empty();
        jumps[at] = hasChild && hasSibling ? static_cast<std::int32_t>(order.size() - at)
                    : hasChild             ? -1
                    : hasSibling           ? 0
                                           : -2;
    }
};

}  // namespace kelvo::test
