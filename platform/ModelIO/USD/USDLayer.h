// One USD layer as read from a file: its metadata and its tree of prim opinions, with their
// properties, composition arcs and variant sets. Plain data, the same whichever syntax the
// layer came in: the text reader (USDATextReader.h) fills it, and so can a reader of the
// binary form. Composition (USDComposition.h) reads layers only through this model.
//
// Nothing here is resolved: paths are as written (absolute "</A/B>" with the brackets
// removed, or relative), asset paths are as written between the '@'s, list operations keep
// their items in the order written. Values are kept in a few flat shapes (numbers as
// doubles, numeric arrays as floats or 32-bit integers, text as strings) because that is
// all that drawing a layer needs; a value of a type not listed in USDValue keeps its type
// name and no data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Foundation/ByteBuffer.h"

namespace kelvo::usd {

enum class Specifier : std::uint8_t { def, over, classOpinion };

// Arrays can hold millions of elements: allocated as ByteBuffer is (not zeroed first, huge
// pages when large), since readers fill them whole.
using FloatArray = std::vector<float, DefaultInitAllocator<float>>;
using IntArray = std::vector<std::int32_t, DefaultInitAllocator<std::int32_t>>;

// An attribute's value, or one element of a dictionary. Which member holds the data
// follows from the type name: scalars and tuples ("float3", "matrix4d", "bool", "double")
// in `numbers` (matrices row by row, bools as 0 or 1); arrays of int-like types ("int[]")
// in `ints`; other numeric arrays ("point3f[]", "float2[]", "quatf[]") in `floats`, tuples
// flattened; "string", "token", "asset" and their arrays in `strings`.
struct Value {
    std::string typeName;  // without "[]"
    bool array = false;
    bool blocked = false;  // written as None: the opinion says "no value"
    std::vector<double> numbers;
    FloatArray floats;
    IntArray ints;
    std::vector<std::string> strings;

    bool empty() const {
        return numbers.empty() && floats.empty() && ints.empty() && strings.empty();
    }
};

// Items of a list-editing operation ("prepend references = ...", "inherits = [...]").
// Items written without an operation are explicit and replace weaker opinions; the others
// add to them. Deleted items are kept so composition can drop them.
struct ListOp {
    bool isExplicit = false;
    std::vector<std::string> explicitItems, prepended, appended, deleted;

    bool empty() const {
        return !isExplicit && prepended.empty() && appended.empty() && deleted.empty();
    }
    // The items this opinion adds, strongest first: prepended, explicit, appended, without
    // the deleted ones.
    std::vector<std::string> items() const;
};

// A reference or payload: an asset path (empty for an internal reference) and the prim
// path inside it (empty for the layer's default prim).
struct Reference {
    std::string assetPath;
    std::string primPath;
    friend bool operator==(const Reference&, const Reference&) = default;
};

struct ReferenceListOp {
    bool isExplicit = false;
    std::vector<Reference> explicitItems, prepended, appended, deleted;

    bool empty() const {
        return !isExplicit && prepended.empty() && appended.empty() && deleted.empty();
    }
    std::vector<Reference> items() const;
};

struct Property {
    std::string name;  // with its namespaces: "primvars:displayColor", "xformOp:rotateXYZ"
    std::string typeName;  // without "[]"; empty for relationships
    bool relationship = false;
    bool uniform = false;
    bool custom = false;
    bool hasValue = false;  // a default value or a time sample was given
    // The default value, or the earliest time sample when the property has no default.
    Value value;
    bool valueIsSample = false;  // `value` came from the time samples
    double sampleTime = 0;       // which one, when it did
    // Connection targets of an attribute, targets of a relationship: absolute or relative
    // paths as written, strongest first.
    std::vector<std::string> targets;
    bool hasTargets = false;
    // Metadata that drawing uses.
    std::string interpolation;  // primvars: constant, uniform, vertex, varying, faceVarying
    std::int32_t elementSize = 1;
};

struct VariantSet;

struct PrimOpinion {
    std::string name;
    Specifier specifier = Specifier::over;
    std::string typeName;  // empty when the opinion names none

    // Composition arcs. inherits and specializes hold prim paths.
    ReferenceListOp references, payloads;
    ListOp inherits, specializes, variantSetNames;
    // The variant chosen in each variant set, as this opinion selects it.
    std::vector<std::pair<std::string, std::string>> variantSelections;

    // Metadata that drawing uses; unset when `has...` is false.
    bool hasActive = false, active = true;
    bool hasInstanceable = false, instanceable = false;
    std::string kind;

    std::vector<Property> properties;  // in the order written
    std::vector<PrimOpinion> children;
    std::vector<VariantSet> variantSets;

    const PrimOpinion* child(std::string_view name) const;
    const Property* property(std::string_view name) const;
};

// A variant: the opinions it holds are those of a prim opinion at the same path.
struct Variant {
    std::string name;
    PrimOpinion opinion;
};

struct VariantSet {
    std::string name;
    std::vector<Variant> variants;
};

struct Layer {
    std::string defaultPrim;
    std::string upAxis;  // "Y", "Z" or empty when not given
    double metersPerUnit = 0;  // 0 when not given
    std::vector<std::string> subLayers;  // asset paths, strongest first
    PrimOpinion root;  // the pseudo-root: its children are the root prims

    // The opinion at an absolute prim path ("/A/B"), or null. Variant selections in the path
    // ("/A{v=x}B") are not looked into.
    const PrimOpinion* primAtPath(std::string_view path) const;
};

}  // namespace kelvo::usd
