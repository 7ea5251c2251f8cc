#include "platform/ModelIO/USD/USDATextReader.h"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/Foundation/CNumberParsing.h"

namespace kelvo::usd {

namespace {

struct ParseError {
    const char* at;
    std::string message;
};

bool isIdentifierStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isIdentifierChar(char c) {
    return isIdentifierStart(c) || (c >= '0' && c <= '9');
}

// How a value of a type is kept (USDLayer.h's Value).
enum class Shape { numbers, ints, strings, skipped };

Shape shapeOf(std::string_view type, bool array) {
    if (type == "string" || type == "token" || type == "asset") return Shape::strings;
    if (type == "dictionary" || type == "opaque" || type == "pathExpression") return Shape::skipped;
    if (!array) return Shape::numbers;
    if (type.starts_with("int") || type.starts_with("uint") || type == "uchar" || type == "bool") {
        return Shape::ints;
    }
    return Shape::numbers;
}

class TextReader {
public:
    TextReader(const char* begin, const char* end) : p_(begin), end_(end) {}

    void layer(Layer& layer) {
        skipSpace();  // the "#usda 1.0" line is a comment to the grammar
        if (peek('(')) layerMetadata(layer);
        for (;;) {
            skipSpace();
            if (p_ >= end_) return;
            if (*p_ == ';') {
                ++p_;
                continue;
            }
            const std::string_view word = identifier();
            if (word == "reorder") {
                identifier();
                expect('=', "after reorder");
                skipValue();
            } else if (!primStatement(word, layer.root)) {
                fail("expected a prim (def, over or class)");
            }
        }
    }

    const char* position() const { return p_; }

private:
    [[noreturn]] void fail(std::string message) { throw ParseError{p_, std::move(message)}; }

    void skipSpace() {
        while (p_ < end_) {
            const char c = *p_;
            if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++p_;
            } else if (c == '#' || (c == '/' && end_ - p_ > 1 && p_[1] == '/')) {
                const void* eol = std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_));
                p_ = eol ? static_cast<const char*>(eol) + 1 : end_;
            } else if (c == '/' && end_ - p_ > 1 && p_[1] == '*') {
                const std::string_view rest(p_ + 2, static_cast<std::size_t>(end_ - p_ - 2));
                const std::size_t close = rest.find("*/");
                p_ = close == std::string_view::npos ? end_ : rest.data() + close + 2;
            } else {
                return;
            }
        }
    }

    bool peek(char c) {
        skipSpace();
        return p_ < end_ && *p_ == c;
    }
    bool accept(char c) {
        if (!peek(c)) return false;
        ++p_;
        return true;
    }
    void expect(char c, const char* where) {
        if (!accept(c)) fail(std::string("expected '") + c + "' " + where);
    }

    // Entries of a block up to `close` (consumed): item() reads one; ';' between entries
    // is allowed, as are line ends.
    template <class Item>
    void block(char close, const char* unclosed, Item&& item) {
        for (;;) {
            skipSpace();
            if (p_ >= end_) fail(unclosed);
            if (*p_ == close) {
                ++p_;
                return;
            }
            if (*p_ == ';') {
                ++p_;
                continue;
            }
            item();
        }
    }

    // Comma-separated items up to `close` (consumed), after the opening bracket; a comma
    // may end the list.
    template <class Item>
    void list(char close, const char* unclosed, const char* badSeparator, Item&& item) {
        for (;;) {
            skipSpace();
            if (p_ >= end_) fail(unclosed);
            if (*p_ == close) {
                ++p_;
                return;
            }
            item();
            skipSpace();
            if (p_ < end_ && *p_ == ',') {
                ++p_;
            } else if (p_ >= end_ || *p_ != close) {
                fail(badSeparator);
            }
        }
    }

    // An identifier, or with `namespaced` a property name ("primvars:st:indices"); empty
    // when none starts here.
    std::string_view identifier(bool namespaced = false) {
        skipSpace();
        const char* start = p_;
        if (p_ >= end_ || !isIdentifierStart(*p_)) return {};
        while (p_ < end_ && (isIdentifierChar(*p_) || (namespaced && *p_ == ':')))
            ++p_;
        return {start, static_cast<std::size_t>(p_ - start)};
    }

    std::string_view requireIdentifier(bool namespaced, const char* what) {
        std::string_view word = identifier(namespaced);
        if (word.empty()) fail(std::string("expected ") + what);
        return word;
    }

    bool acceptWord(std::string_view word) {
        skipSpace();
        if (static_cast<std::size_t>(end_ - p_) < word.size() ||
            std::memcmp(p_, word.data(), word.size()) != 0)
            return false;
        if (p_ + word.size() < end_ && isIdentifierChar(p_[word.size()])) return false;
        p_ += word.size();
        return true;
    }

    // ---- strings, asset paths and paths -------------------------------------------------

    std::string quoted() {
        skipSpace();
        if (p_ >= end_ || (*p_ != '"' && *p_ != '\'')) fail("expected a quoted string");
        const char quote = *p_;
        const bool triple = end_ - p_ >= 3 && p_[1] == quote && p_[2] == quote;
        p_ += triple ? 3 : 1;
        std::string out;
        for (;;) {
            if (p_ >= end_) fail("string not closed");
            const char c = *p_;
            if (c == quote) {
                if (!triple) {
                    ++p_;
                    return out;
                }
                if (end_ - p_ >= 3 && p_[1] == quote && p_[2] == quote) {
                    p_ += 3;
                    return out;
                }
            }
            if (c == '\n' && !triple) fail("string not closed on its line");
            if (c == '\\' && end_ - p_ > 1) {
                const char e = p_[1];
                p_ += 2;
                switch (e) {
                    case 'n': out += '\n'; break;
                    case 't': out += '\t'; break;
                    case 'r': out += '\r'; break;
                    case '0': out += '\0'; break;
                    default: out += e; break;  // \\, \", \' and anything else as itself
                }
                continue;
            }
            out += c;
            ++p_;
        }
    }

    std::string assetPath() {
        skipSpace();
        if (p_ >= end_ || *p_ != '@') fail("expected an asset path");
        if (end_ - p_ >= 3 && p_[1] == '@' && p_[2] == '@') {
            p_ += 3;
            std::string out;
            for (;;) {
                if (end_ - p_ < 3) fail("asset path not closed");
                if (p_[0] == '@' && p_[1] == '@' && p_[2] == '@') {
                    p_ += 3;
                    return out;
                }
                if (p_[0] == '\\' && end_ - p_ >= 4 && p_[1] == '@' && p_[2] == '@' &&
                    p_[3] == '@') {
                    out += "@@@";
                    p_ += 4;
                    continue;
                }
                out += *p_++;
            }
        }
        const char* start = ++p_;
        while (p_ < end_ && *p_ != '@' && *p_ != '\n')
            ++p_;
        if (p_ >= end_ || *p_ != '@') fail("asset path not closed");
        return std::string(start, static_cast<std::size_t>(p_++ - start));
    }

    // A path between angle brackets, without them.
    std::string path() {
        skipSpace();
        if (p_ >= end_ || *p_ != '<') fail("expected a path in <...>");
        const char* start = ++p_;
        while (p_ < end_ && *p_ != '>' && *p_ != '\n')
            ++p_;
        if (p_ >= end_ || *p_ != '>') fail("path not closed");
        return std::string(start, static_cast<std::size_t>(p_++ - start));
    }

    // ---- numbers --------------------------------------------------------------------------

    bool readDouble(double& value) {
        skipSpace();
        const char* q = p_;
        if (q < end_ && *q == '+') ++q;
        auto result = fast_float::from_chars(q, end_, value);
        if (result.ec == std::errc() && result.ptr != q) {
            p_ = result.ptr;
            return true;
        }
        // fast_float leaves "-inf" style words to its own rules; USD writes inf and nan bare.
        if (acceptWord("inf")) return value = std::numeric_limits<double>::infinity(), true;
        if (acceptWord("-inf")) return value = -std::numeric_limits<double>::infinity(), true;
        if (acceptWord("nan")) return value = std::numeric_limits<double>::quiet_NaN(), true;
        if (acceptWord("true")) return value = 1, true;
        if (acceptWord("false")) return value = 0, true;
        return false;
    }

    // The inner loop of large arrays: floats straight from the text.
    void readFloatInto(FloatArray& out) {
        const auto* first = reinterpret_cast<const std::uint8_t*>(p_);
        CFloatParse number = parseCFloat(first, reinterpret_cast<const std::uint8_t*>(end_));
        if (number.next == first) {
            double d;
            if (!readDouble(d)) fail("expected a number");
            out.push_back(static_cast<float>(d));
            return;
        }
        out.push_back(number.value);
        p_ = reinterpret_cast<const char*>(number.next);
    }

    void readIntInto(IntArray& out) {
        const char* q = p_;
        bool negative = false;
        if (q < end_ && (*q == '-' || *q == '+')) negative = *q++ == '-';
        std::int64_t v = 0;
        const char* digits = q;
        while (q < end_ && static_cast<unsigned>(*q - '0') < 10) {
            v = std::min<std::int64_t>(v * 10 + (*q++ - '0'), std::int64_t{1} << 40);
        }
        if (q == digits || (q < end_ && (*q == '.' || *q == 'e' || *q == 'E'))) {
            // Not a plain integer: read it as a number and keep its integral part.
            double d;
            if (!readDouble(d)) fail("expected an integer");
            out.push_back(std::isfinite(d) ? static_cast<std::int32_t>(std::clamp(d, -2147483648.0,
                                                                                  2147483647.0))
                                           : 0);
            return;
        }
        if (negative) v = -v;
        out.push_back(static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX)));
        p_ = q;
    }

    // ---- values ---------------------------------------------------------------------------

    // A tuple "(a, b, (c, d))" of numbers, flattened into `out`; at its '('.
    template <class Sink>
    void tuple(Sink&& sink, int depth) {
        if (depth > 8) fail("tuples nested too deeply");
        ++p_;
        list(')', "tuple not closed", "expected ',' or ')' in a tuple", [&] {
            if (*p_ == '(') {
                tuple(sink, depth + 1);
            } else {
                sink();
            }
        });
    }

    // One element of kind `shape` into `value`.
    void element(Shape shape, Value& value) {
        skipSpace();
        if (p_ >= end_) fail("expected a value");
        const char c = *p_;
        if (shape == Shape::strings) {
            if (c == '@') {
                value.strings.push_back(assetPath());
            } else if (c == '"' || c == '\'') {
                value.strings.push_back(quoted());
            } else {
                std::string_view word = identifier();
                if (word.empty()) fail("expected a string");
                value.strings.emplace_back(word);
            }
            return;
        }
        if (value.array && shape == Shape::ints) {
            if (c == '(') {
                tuple([&] { skipSpace(), readIntInto(value.ints); }, 0);
            } else {
                readIntInto(value.ints);
            }
            return;
        }
        if (value.array) {
            if (c == '(') {
                tuple([&] { skipSpace(), readFloatInto(value.floats); }, 0);
            } else {
                readFloatInto(value.floats);
            }
            return;
        }
        auto one = [&] {
            double d;
            if (!readDouble(d)) fail("expected a number");
            value.numbers.push_back(d);
        };
        if (c == '(') {
            tuple(one, 0);
        } else {
            one();
        }
    }

    // The value of a typed attribute (or dictionary entry), after its '='.
    void typedValue(Value& value) {
        skipSpace();
        if (acceptWord("None")) {
            value.blocked = true;
            return;
        }
        const Shape shape = shapeOf(value.typeName, value.array);
        if (shape == Shape::skipped) {
            skipValue();
            return;
        }
        if (!value.array) {
            element(shape, value);
            return;
        }
        if (!accept('[')) fail("expected '[' to open an array");
        list(']', "array not closed", "expected ',' or ']' in an array", [&] { element(shape, value); });
    }

    // Any one value, kept nowhere: its brackets are balanced and its strings, asset paths
    // and paths read by their own rules (a ']' inside a string closes nothing). No recursion,
    // so no nesting is too deep to skip.
    void skipValue() {
        std::size_t depth = 0;
        do {
            skipSpace();
            if (p_ >= end_) fail("value not closed");
            const char c = *p_;
            if (c == '[' || c == '(' || c == '{') {
                ++depth;
                ++p_;
            } else if (c == ']' || c == ')' || c == '}') {
                if (depth == 0) fail("unexpected closing bracket");
                --depth;
                ++p_;
            } else if (c == '"' || c == '\'') {
                quoted();
            } else if (c == '@') {
                assetPath();
            } else if (c == '<') {
                path();
            } else if (c == ',' || c == ':' || c == '=' || c == ';') {
                if (depth == 0) fail("expected a value");
                ++p_;
            } else {
                const char* start = p_;
                // A word or number: everything up to the next delimiter.
                while (p_ < end_ && !std::strchr(" \t\r\n\f\v[](){}<>,:=;\"'@#", *p_))
                    ++p_;
                if (p_ == start) fail("unexpected character");
            }
        } while (depth > 0);
    }

    // ---- metadata -------------------------------------------------------------------------

    // "( entry; entry ... )": calls entry(op, key) for each "[op] key = value" after its
    // '=', which reads or skips the value. Documentation strings alone are skipped.
    template <class Entry>
    void metadata(Entry&& entry) {
        expect('(', "to open metadata");
        block(')', "metadata not closed", [&] {
            if (*p_ == '"' || *p_ == '\'') {
                quoted();
                return;
            }
            std::string_view key = requireIdentifier(true, "a metadata name");
            std::string_view op;
            if (key == "add" || key == "prepend" || key == "append" || key == "delete" ||
                key == "reorder") {
                op = key;
                key = requireIdentifier(true, "a metadata name");
            }
            // Without '=', a bare keyword entry: nothing more to read.
            if (accept('=')) entry(op, key);
        });
    }

    // The list an operation keyword writes into; nothing for "reorder", which is not kept.
    template <typename List>
    static auto listFor(List& list, std::string_view op) -> decltype(&list.explicitItems) {
        if (op.empty()) {
            list.isExplicit = true;
            return &list.explicitItems;
        }
        if (op == "prepend") return &list.prepended;
        if (op == "append" || op == "add") return &list.appended;
        if (op == "delete") return &list.deleted;
        return nullptr;
    }

    // One item or a bracketed list of them; None gives none.
    template <class Item>
    void oneOrList(Item&& item) {
        if (acceptWord("None")) return;
        if (!accept('[')) {
            item();
            return;
        }
        list(']', "list not closed", "expected ',' or ']' in a list", item);
    }

    void references(ReferenceListOp& list, std::string_view op) {
        std::vector<Reference> scratch;
        std::vector<Reference>* out = listFor(list, op);
        if (!out) out = &scratch;
        oneOrList([&] {
            Reference r;
            if (peek('@')) r.assetPath = assetPath();
            if (peek('<')) {
                r.primPath = path();
            } else if (r.assetPath.empty()) {
                fail("expected an asset path or a prim path");
            }
            if (peek('(')) skipValue();  // layer offset, custom data
            out->push_back(std::move(r));
        });
    }

    void paths(ListOp& list, std::string_view op) {
        std::vector<std::string> scratch;
        std::vector<std::string>* out = listFor(list, op);
        if (!out) out = &scratch;
        oneOrList([&] { out->push_back(path()); });
    }

    void names(ListOp& list, std::string_view op) {
        std::vector<std::string> scratch;
        std::vector<std::string>* out = listFor(list, op);
        if (!out) out = &scratch;
        oneOrList([&] { out->push_back(quoted()); });
    }

    std::string stringOrToken() {
        skipSpace();
        if (p_ < end_ && (*p_ == '"' || *p_ == '\'')) return quoted();
        return std::string(requireIdentifier(false, "a string"));
    }

    bool boolean() {
        double d;
        if (!readDouble(d)) fail("expected true or false");
        return d != 0;
    }

    void layerMetadata(Layer& layer) {
        metadata([&](std::string_view, std::string_view key) {
            if (key == "defaultPrim") {
                layer.defaultPrim = stringOrToken();
            } else if (key == "upAxis") {
                layer.upAxis = stringOrToken();
            } else if (key == "metersPerUnit") {
                if (!readDouble(layer.metersPerUnit)) fail("expected a number");
            } else if (key == "subLayers") {
                oneOrList([&] {
                    layer.subLayers.push_back(assetPath());
                    if (peek('(')) skipValue();  // layer offset
                });
            } else {
                skipValue();
            }
        });
    }

    void primMetadata(PrimOpinion& prim) {
        metadata([&](std::string_view op, std::string_view key) {
            if (key == "references") {
                references(prim.references, op);
            } else if (key == "payload") {
                references(prim.payloads, op);
            } else if (key == "inherits") {
                paths(prim.inherits, op);
            } else if (key == "specializes") {
                paths(prim.specializes, op);
            } else if (key == "variantSets") {
                names(prim.variantSetNames, op);
            } else if (key == "variants") {
                variantSelections(prim);
            } else if (key == "active") {
                prim.hasActive = true;
                prim.active = boolean();
            } else if (key == "instanceable") {
                prim.hasInstanceable = true;
                prim.instanceable = boolean();
            } else if (key == "kind") {
                prim.kind = stringOrToken();
            } else {
                skipValue();
            }
        });
    }

    // "{ string set = "variant" ... }"
    void variantSelections(PrimOpinion& prim) {
        expect('{', "to open the variant selections");
        block('}', "variant selections not closed", [&] {
            requireIdentifier(false, "a type name");  // string
            std::string name(requireIdentifier(true, "a variant set name"));
            expect('=', "after a variant set name");
            std::string variant = stringOrToken();
            auto it = std::find_if(prim.variantSelections.begin(), prim.variantSelections.end(),
                                   [&](const auto& s) { return s.first == name; });
            if (it == prim.variantSelections.end()) {
                prim.variantSelections.emplace_back(std::move(name), std::move(variant));
            } else {
                it->second = std::move(variant);
            }
        });
    }

    void propertyMetadata(Property& property) {
        metadata([&](std::string_view, std::string_view key) {
            if (key == "interpolation") {
                property.interpolation = stringOrToken();
            } else if (key == "elementSize") {
                double d;
                if (!readDouble(d)) fail("expected a number");
                property.elementSize =
                    std::isfinite(d) && d >= 1 && d <= 1 << 20 ? static_cast<std::int32_t>(d) : 1;
            } else {
                skipValue();
            }
        });
    }

    // ---- prims ----------------------------------------------------------------------------

    struct Nesting {
        explicit Nesting(TextReader& reader) : r(reader) {
            if (++r.depth_ > maxNesting) r.fail("prims nested too deeply");
        }
        ~Nesting() { --r.depth_; }
        TextReader& r;
    };

    // A prim statement if `word` opens one; false otherwise.
    bool primStatement(std::string_view word, PrimOpinion& parent) {
        Specifier specifier;
        if (word == "def") {
            specifier = Specifier::def;
        } else if (word == "over") {
            specifier = Specifier::over;
        } else if (word == "class") {
            specifier = Specifier::classOpinion;
        } else {
            return false;
        }
        Nesting nesting(*this);
        PrimOpinion& prim = parent.children.emplace_back();
        prim.specifier = specifier;
        skipSpace();
        if (p_ < end_ && isIdentifierStart(*p_)) {
            // Type names may carry a schema namespace ("Usd.Typed" in old files).
            const char* start = p_;
            while (p_ < end_ && (isIdentifierChar(*p_) || *p_ == '.'))
                ++p_;
            prim.typeName.assign(start, static_cast<std::size_t>(p_ - start));
        }
        prim.name = quoted();
        if (peek('(')) primMetadata(prim);
        primBody(prim);
        return true;
    }

    void primBody(PrimOpinion& prim) {
        expect('{', "to open the prim's body");
        block('}', "prim body not closed", [&] {
            const std::string_view word = requireIdentifier(false, "a prim, property or variant set");
            if (primStatement(word, prim)) return;
            if (word == "variantSet") {
                variantSet(prim);
            } else if (word == "reorder" && (acceptWord("nameChildren") || acceptWord("properties"))) {
                expect('=', "after reorder");
                skipValue();
            } else {
                property(word, prim);
            }
        });
    }

    void variantSet(PrimOpinion& prim) {
        VariantSet& set = prim.variantSets.emplace_back();
        set.name = quoted();
        expect('=', "after the variant set name");
        expect('{', "to open the variant set");
        block('}', "variant set not closed", [&] {
            Nesting nesting(*this);
            Variant& variant = set.variants.emplace_back();
            variant.name = quoted();
            variant.opinion.name = prim.name;
            if (peek('(')) primMetadata(variant.opinion);
            primBody(variant.opinion);
        });
    }

    Property& propertyNamed(PrimOpinion& prim, std::string_view name) {
        // Properties are few per prim; a default and its .connect are usually neighbours.
        // The search stays short however many a hostile prim holds.
        const std::size_t n = prim.properties.size();
        const std::size_t from = n > 256 ? n - 16 : 0;
        for (std::size_t i = n; i-- > from;) {
            if (prim.properties[i].name == name) return prim.properties[i];
        }
        Property& property = prim.properties.emplace_back();
        property.name = name;
        return property;
    }

    void property(std::string_view word, PrimOpinion& prim) {
        std::string_view op;
        if (word == "add" || word == "prepend" || word == "append" || word == "delete" ||
            word == "reorder") {
            op = word;
            word = requireIdentifier(false, "a property");
        }
        bool custom = false, uniform = false;
        if (word == "custom") {
            custom = true;
            word = requireIdentifier(false, "a property");
        }
        if (word == "uniform" || word == "varying" || word == "config") {
            uniform = word == "uniform";
            word = requireIdentifier(false, "a property type");
        }
        const bool relationship = word == "rel";
        std::string typeName;
        bool array = false;
        if (!relationship) {
            typeName = word;
            if (accept('[')) {
                expect(']', "after '[' in an array type");
                array = true;
            }
        }
        const std::string_view name = requireIdentifier(true, "a property name");
        std::string_view suffix;
        if (p_ < end_ && *p_ == '.') {
            ++p_;
            suffix = requireIdentifier(false, "connect or timeSamples");
        }
        Property scratch;
        Property& property = op == "delete" || op == "reorder" ? scratch : propertyNamed(prim, name);
        property.relationship = relationship;
        property.custom |= custom;
        property.uniform |= uniform;
        if (!relationship) property.typeName = typeName;
        if (accept('=')) {
            if (relationship || suffix == "connect") {
                property.hasTargets = true;
                property.targets.clear();
                oneOrList([&] { property.targets.push_back(path()); });
            } else if (suffix == "timeSamples") {
                timeSamples(property, typeName, array);
            } else if (suffix.empty() || suffix == "default") {
                Value value;
                value.typeName = typeName;
                value.array = array;
                typedValue(value);
                property.value = std::move(value);
                property.hasValue = true;
                property.valueIsSample = false;
            } else {
                skipValue();  // splines and whatever else a later version adds
            }
        }
        if (peek('(')) propertyMetadata(property);
    }

    // "{ time: value, ... }": the earliest sample is kept, unless a default value is.
    void timeSamples(Property& property, const std::string& typeName, bool array) {
        expect('{', "to open the time samples");
        list('}', "time samples not closed", "expected ',' or '}' in time samples", [&] {
            double time;
            if (!readDouble(time)) fail("expected a sample time");
            expect(':', "after a sample time");
            Value value;
            value.typeName = typeName;
            value.array = array;
            typedValue(value);
            const bool keep = !property.hasValue ||
                              (property.valueIsSample && time < property.sampleTime);
            if (keep) {
                property.value = std::move(value);
                property.hasValue = true;
                property.valueIsSample = true;
                property.sampleTime = time;
            }
        });
    }

    const char* p_;
    const char* end_;
    int depth_ = 0;
};

}  // namespace

bool looksLikeUSDA(ByteSpan bytes) {
    std::size_t at = 0;
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) at = 3;
    static constexpr char magic[] = "#usda";
    if (bytes.size() < at + 6 || std::memcmp(bytes.data() + at, magic, 5) != 0) return false;
    const std::uint8_t next = bytes[at + 5];
    return next == ' ' || next == '\t';
}

std::string readUSDA(ByteSpan text, Layer& layer) {
    const char* begin = reinterpret_cast<const char*>(text.data());
    const char* end = begin + text.size();
    if (!looksLikeUSDA(text)) return "line 1: the text does not start with #usda";
    if (text[0] == 0xEF) begin += 3;
    TextReader reader(begin, end);
    try {
        reader.layer(layer);
    } catch (const ParseError& e) {
        const long line = 1 + std::count(begin, e.at, '\n');
        return "line " + std::to_string(line) + ": " + e.message;
    }
    return {};
}

}  // namespace kelvo::usd
