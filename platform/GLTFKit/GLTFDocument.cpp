// The glTF JSON document, read with simdjson's on-demand parser into the asset's records.
//
// On-demand parsing visits each value once, in document order, and skips what we do not read
// (extras, unknown extensions) iteratively, so a document nested a million levels deep costs
// time, not stack. Our own walk follows the glTF schema, whose nesting is fixed (at most six
// levels, in a texture transform), and recurses nowhere else.
//
// Errors name the JSON path of the offending value ("meshes[2].primitives[0].mode").
#include <simdjson.h>

#include <cmath>
#include <string>

#include "fast_float/fast_float.h"
#include "platform/GLTFKit/GLTFReading.h"

namespace kelvo::gltf {

namespace {

namespace od = simdjson::ondemand;

// Where a value sits in the document, as a chain of stack frames; turned into text only for
// an error message.
struct Where {
    const Where* parent = nullptr;
    std::string_view key;
    std::int64_t index = -1;

    Where at(std::string_view k) const { return {this, k, -1}; }
    Where at(std::int64_t i) const { return {this, {}, i}; }
};

std::string describe(const Where& where) {
    std::vector<const Where*> chain;
    for (const Where* w = &where; w; w = w->parent)
        chain.push_back(w);
    std::string text;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const Where* w = *it;
        if (w->index >= 0) {
            text += "[" + std::to_string(w->index) + "]";
        } else if (!w->key.empty()) {
            if (!text.empty()) text += ".";
            text += w->key;
        }
    }
    return text.empty() ? "the document" : text;
}

[[noreturn]] void failAt(const Where& where, std::string_view what) {
    fail(gltfErrorInvalidAsset, describe(where) + ": " + std::string(what));
}

void check(simdjson::error_code error, const Where& where, std::string_view expected) {
    if (!error) return;
    if (error == simdjson::INCORRECT_TYPE || error == simdjson::NUMBER_ERROR ||
        error == simdjson::NUMBER_OUT_OF_RANGE) {
        failAt(where, "expected " + std::string(expected));
    }
    fail(gltfErrorNotGLTF, "the JSON is malformed at " + describe(where) + " (" +
                               simdjson::error_message(error) + ")");
}

// simdjson 3.0's own conversion goes wrong on numbers with more than 19 significant digits
// (0.39269908169872415480783042290994 comes back as 1.78e-14), which exporters write for
// angles; so simdjson only says where the number is and fast_float, which rounds correctly,
// converts it.
double number(od::value value, const Where& where) {
    od::json_type type{};
    check(value.type().get(type), where, "a number");
    if (type != od::json_type::number) failAt(where, "expected a number");
    std::string_view text = value.raw_json_token();
    while (!text.empty() && (text.back() == ' ' || (text.back() >= '\t' && text.back() <= '\r')))
        text.remove_suffix(1);
    double d = 0;
    const auto parsed = fast_float::from_chars(text.data(), text.data() + text.size(), d);
    if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || !std::isfinite(d)) {
        failAt(where, "expected a number");
    }
    return d;
}

// glTF integers, read as numbers (some writers put "1.0"): whole, within [low, high].
std::int64_t integer(od::value value, const Where& where, double low, double high) {
    double d = number(value, where);
    if (!(d >= low && d <= high) || d != std::floor(d)) {
        failAt(where, "expected a whole number from " + std::to_string(std::int64_t(low)) + " to " +
                          std::to_string(std::int64_t(high)));
    }
    return static_cast<std::int64_t>(d);
}

// An index into a collection; the collection's size is checked once everything is read.
constexpr double maxIndex = 2147483647.0;
std::int64_t index(od::value value, const Where& where) {
    return integer(value, where, 0, maxIndex);
}
// Byte counts and offsets: any size a 64-bit file offset can hold exactly as a double.
std::uint64_t size(od::value value, const Where& where) {
    return static_cast<std::uint64_t>(integer(value, where, 0, 9007199254740992.0));
}

bool boolean(od::value value, const Where& where) {
    bool b = false;
    check(value.get_bool().get(b), where, "true or false");
    return b;
}

std::string_view stringView(od::value value, const Where& where) {
    std::string_view s;
    check(value.get_string().get(s), where, "a string");
    return s;
}
std::string string(od::value value, const Where& where) {
    return std::string(stringView(value, where));
}

template <class F>
void forEachField(od::value value, const Where& where, F&& f) {
    od::object object;
    check(value.get_object().get(object), where, "an object");
    for (auto field : object) {
        std::string_view key;
        check(field.unescaped_key().get(key), where, "a member name");
        od::value member;
        check(field.value().get(member), where, "a value");
        f(key, member, where.at(key));
    }
}

template <class F>
void forEachElement(od::value value, const Where& where, F&& f) {
    od::array array;
    check(value.get_array().get(array), where, "an array");
    std::int64_t i = 0;
    for (auto element : array) {
        od::value v;
        Where w = where.at(i);
        check(element.get(v), w, "a value");
        f(v, w, i);
        ++i;
    }
}

// Exactly `n` numbers.
void numbers(od::value value, const Where& where, double* out, std::int64_t n) {
    std::int64_t count = 0;
    forEachElement(value, where, [&](od::value v, const Where& w, std::int64_t i) {
        if (i >= n) failAt(where, "expected " + std::to_string(n) + " numbers");
        out[i] = number(v, w);
        ++count;
    });
    if (count != n) failAt(where, "expected " + std::to_string(n) + " numbers");
}

std::vector<double> numberList(od::value value, const Where& where) {
    std::vector<double> out;
    forEachElement(value, where,
                   [&](od::value v, const Where& w, std::int64_t) { out.push_back(number(v, w)); });
    return out;
}

std::vector<std::int64_t> indexList(od::value value, const Where& where) {
    std::vector<std::int64_t> out;
    forEachElement(value, where,
                   [&](od::value v, const Where& w, std::int64_t) { out.push_back(index(v, w)); });
    return out;
}

std::vector<std::string> stringList(od::value value, const Where& where) {
    std::vector<std::string> out;
    forEachElement(value, where,
                   [&](od::value v, const Where& w, std::int64_t) { out.push_back(string(v, w)); });
    return out;
}

// One of a fixed set of names, as its value; `what` names the set in the message.
template <class E>
E choice(od::value value, const Where& where,
         std::initializer_list<std::pair<std::string_view, E>> names, const char* what) {
    std::string_view name = stringView(value, where);
    for (const auto& [n, e] : names) {
        if (n == name) return e;
    }
    failAt(where, std::string("unknown ") + what + " \"" + std::string(name) + "\"");
}

// Elements of a top-level collection, each an object.
template <class T, class F>
void readCollection(od::value value, const Where& where, std::vector<T>& out, F&& readField) {
    forEachElement(value, where, [&](od::value v, const Where& w, std::int64_t) {
        T& item = out.emplace_back();
        forEachField(v, w, [&](std::string_view key, od::value member, const Where& mw) {
            readField(item, key, member, mw);
        });
    });
}

// ---- buffers, views, accessors ----

void readBuffer(GLTFBuffer& buffer, std::string_view key, od::value v, const Where& w) {
    if (key == "uri")
        buffer.uri = string(v, w);
    else if (key == "byteLength")
        buffer.byteLength = size(v, w);
}

void readMeshopt(GLTFMeshoptCompression& m, od::value value, const Where& where) {
    // The four members without a default, each a bit once read.
    unsigned required = 0;
    forEachField(value, where, [&](std::string_view key, od::value v, const Where& w) {
        if (key == "buffer") {
            m.buffer = index(v, w);
            required |= 1;
        } else if (key == "byteOffset") {
            m.byteOffset = size(v, w);
        } else if (key == "byteLength") {
            m.byteLength = size(v, w);
            required |= 2;
        } else if (key == "byteStride") {
            m.byteStride = size(v, w);
            required |= 4;
        } else if (key == "count") {
            m.count = size(v, w);
            required |= 8;
        } else if (key == "mode") {
            m.mode = choice<GLTFMeshoptMode>(v, w,
                                             {{"ATTRIBUTES", GLTFMeshoptMode::attributes},
                                              {"TRIANGLES", GLTFMeshoptMode::triangles},
                                              {"INDICES", GLTFMeshoptMode::indices}},
                                             "mode");
        } else if (key == "filter") {
            m.filter = choice<GLTFMeshoptFilter>(v, w,
                                                 {{"NONE", GLTFMeshoptFilter::none},
                                                  {"OCTAHEDRAL", GLTFMeshoptFilter::octahedral},
                                                  {"QUATERNION", GLTFMeshoptFilter::quaternion},
                                                  {"EXPONENTIAL", GLTFMeshoptFilter::exponential}},
                                                 "filter");
        }
    });
    if (required != 15) {
        failAt(where, "needs buffer, byteLength, byteStride and count");
    }
}

void readBufferView(GLTFBufferView& view, std::string_view key, od::value v, const Where& w) {
    if (key == "buffer")
        view.buffer = index(v, w);
    else if (key == "byteOffset")
        view.byteOffset = size(v, w);
    else if (key == "byteLength")
        view.byteLength = size(v, w);
    else if (key == "byteStride")
        view.byteStride = integer(v, w, 4, 252);
    else if (key == "extensions") {
        forEachField(v, w, [&](std::string_view name, od::value e, const Where& ew) {
            if (name == "EXT_meshopt_compression") {
                readMeshopt(view.meshopt, e, ew);
                view.hasMeshopt = true;
            }
        });
    }
}

int componentsOfType(std::string_view type) {
    if (type == "SCALAR") return 1;
    if (type == "VEC2") return 2;
    if (type == "VEC3") return 3;
    if (type == "VEC4") return 4;
    if (type == "MAT2") return 4;
    if (type == "MAT3") return 9;
    if (type == "MAT4") return 16;
    return 0;
}

int componentType(od::value v, const Where& w) {
    int type = static_cast<int>(integer(v, w, 0, 65535));
    if (gltfComponentSize(type) == 0) failAt(w, "unknown componentType " + std::to_string(type));
    return type;
}

void readSparse(GLTFSparse& s, od::value value, const Where& where) {
    bool hasIndices = false, hasValues = false;
    forEachField(value, where, [&](std::string_view key, od::value v, const Where& w) {
        if (key == "count")
            s.count = size(v, w);
        else if (key == "indices") {
            hasIndices = true;
            forEachField(v, w, [&](std::string_view k, od::value iv, const Where& iw) {
                if (k == "bufferView")
                    s.indicesBufferView = index(iv, iw);
                else if (k == "byteOffset")
                    s.indicesByteOffset = size(iv, iw);
                else if (k == "componentType")
                    s.indicesComponentType = componentType(iv, iw);
            });
        } else if (key == "values") {
            hasValues = true;
            forEachField(v, w, [&](std::string_view k, od::value vv, const Where& vw) {
                if (k == "bufferView")
                    s.valuesBufferView = index(vv, vw);
                else if (k == "byteOffset")
                    s.valuesByteOffset = size(vv, vw);
            });
        }
    });
    if (!hasIndices || !hasValues || s.indicesBufferView < 0 || s.valuesBufferView < 0) {
        failAt(where, "needs indices and values, each with a bufferView");
    }
    const int type = s.indicesComponentType;
    if (type != gltfUnsignedByte && type != gltfUnsignedShort && type != gltfUnsignedInt) {
        failAt(where.at("indices"), "componentType must be an unsigned integer type");
    }
}

void readAccessor(GLTFAccessor& a, std::string_view key, od::value v, const Where& w) {
    if (key == "bufferView")
        a.bufferView = index(v, w);
    else if (key == "byteOffset")
        a.byteOffset = size(v, w);
    else if (key == "componentType")
        a.componentType = componentType(v, w);
    else if (key == "normalized")
        a.normalized = boolean(v, w);
    else if (key == "count")
        a.count = size(v, w);
    else if (key == "type") {
        std::string_view type = stringView(v, w);
        a.components = componentsOfType(type);
        if (a.components == 0) failAt(w, "unknown type \"" + std::string(type) + "\"");
    } else if (key == "sparse") {
        readSparse(a.sparse, v, w);
        a.hasSparse = true;
    }
}

// ---- meshes ----

GLTFAttributes attributes(od::value value, const Where& where) {
    GLTFAttributes out;
    forEachField(value, where, [&](std::string_view key, od::value v, const Where& w) {
        out.emplace_back(std::string(key), index(v, w));
    });
    return out;
}

void readDraco(GLTFDracoCompression& d, od::value value, const Where& where) {
    forEachField(value, where, [&](std::string_view key, od::value v, const Where& w) {
        if (key == "bufferView")
            d.bufferView = index(v, w);
        else if (key == "attributes")
            d.attributes = attributes(v, w);
    });
    if (d.bufferView < 0) failAt(where, "needs a bufferView");
}

void readPrimitive(GLTFPrimitive& p, od::value value, const Where& where) {
    forEachField(value, where, [&](std::string_view key, od::value v, const Where& w) {
        if (key == "attributes")
            p.attributes = attributes(v, w);
        else if (key == "indices")
            p.indices = index(v, w);
        else if (key == "material")
            p.material = index(v, w);
        else if (key == "mode")
            p.mode = static_cast<int>(integer(v, w, 0, 6));
        else if (key == "targets") {
            forEachElement(v, w, [&](od::value t, const Where& tw, std::int64_t) {
                p.targets.push_back(attributes(t, tw));
            });
        } else if (key == "extensions") {
            forEachField(v, w, [&](std::string_view name, od::value e, const Where& ew) {
                if (name == "KHR_draco_mesh_compression") {
                    readDraco(p.draco, e, ew);
                    p.hasDraco = true;
                }
            });
        }
    });
}

void readMesh(GLTFMesh& mesh, std::string_view key, od::value v, const Where& w) {
    if (key == "name")
        mesh.name = string(v, w);
    else if (key == "weights")
        mesh.weights = numberList(v, w);
    else if (key == "primitives") {
        forEachElement(v, w, [&](od::value p, const Where& pw, std::int64_t) {
            readPrimitive(mesh.primitives.emplace_back(), p, pw);
        });
    }
}

// ---- nodes and scenes ----

void readNode(GLTFNode& node, std::string_view key, od::value v, const Where& w) {
    if (key == "name")
        node.name = string(v, w);
    else if (key == "mesh")
        node.mesh = index(v, w);
    else if (key == "camera")
        node.camera = index(v, w);
    else if (key == "skin")
        node.skin = index(v, w);
    else if (key == "children")
        node.children = indexList(v, w);
    else if (key == "matrix") {
        numbers(v, w, node.matrix, 16);
        node.hasMatrix = true;
    } else if (key == "translation")
        numbers(v, w, node.translation, 3);
    else if (key == "rotation")
        numbers(v, w, node.rotation, 4);
    else if (key == "scale")
        numbers(v, w, node.scale, 3);
    else if (key == "weights")
        node.weights = numberList(v, w);
    else if (key == "extensions") {
        forEachField(v, w, [&](std::string_view name, od::value e, const Where& ew) {
            if (name != "KHR_lights_punctual") return;
            forEachField(e, ew, [&](std::string_view k, od::value lv, const Where& lw) {
                if (k == "light") node.light = index(lv, lw);
            });
        });
    }
}

void readScene(GLTFScene& scene, std::string_view key, od::value v, const Where& w) {
    if (key == "name")
        scene.name = string(v, w);
    else if (key == "nodes")
        scene.nodes = indexList(v, w);
}

// ---- materials and textures ----

void readTextureTransform(GLTFTextureTransform& t, od::value value, const Where& where) {
    forEachField(value, where, [&](std::string_view key, od::value v, const Where& w) {
        if (key == "offset")
            numbers(v, w, t.offset, 2);
        else if (key == "rotation")
            t.rotation = number(v, w);
        else if (key == "scale")
            numbers(v, w, t.scale, 2);
        else if (key == "texCoord")
            t.texCoord = static_cast<int>(integer(v, w, 0, 255));
    });
}

void readTextureInfo(GLTFTextureInfo& info, od::value value, const Where& where) {
    forEachField(value, where, [&](std::string_view key, od::value v, const Where& w) {
        if (key == "index")
            info.index = index(v, w);
        else if (key == "texCoord")
            info.texCoord = static_cast<int>(integer(v, w, 0, 255));
        else if (key == "scale" || key == "strength")
            info.scale = number(v, w);
        else if (key == "extensions") {
            forEachField(v, w, [&](std::string_view name, od::value e, const Where& ew) {
                if (name == "KHR_texture_transform") readTextureTransform(info.transform, e, ew);
            });
        }
    });
    if (info.index < 0) failAt(where, "needs an index");
}

void readMaterial(GLTFMaterial& m, std::string_view key, od::value v, const Where& w) {
    if (key == "name")
        m.name = string(v, w);
    else if (key == "pbrMetallicRoughness") {
        forEachField(v, w, [&](std::string_view k, od::value pv, const Where& pw) {
            if (k == "baseColorFactor")
                numbers(pv, pw, m.baseColorFactor, 4);
            else if (k == "metallicFactor")
                m.metallicFactor = number(pv, pw);
            else if (k == "roughnessFactor")
                m.roughnessFactor = number(pv, pw);
            else if (k == "baseColorTexture")
                readTextureInfo(m.baseColorTexture, pv, pw);
            else if (k == "metallicRoughnessTexture")
                readTextureInfo(m.metallicRoughnessTexture, pv, pw);
        });
    } else if (key == "normalTexture")
        readTextureInfo(m.normalTexture, v, w);
    else if (key == "occlusionTexture")
        readTextureInfo(m.occlusionTexture, v, w);
    else if (key == "emissiveTexture")
        readTextureInfo(m.emissiveTexture, v, w);
    else if (key == "emissiveFactor")
        numbers(v, w, m.emissiveFactor, 3);
    else if (key == "alphaMode") {
        m.alphaMode = choice<GLTFAlphaMode>(v, w,
                                            {{"OPAQUE", GLTFAlphaMode::opaque},
                                             {"MASK", GLTFAlphaMode::mask},
                                             {"BLEND", GLTFAlphaMode::blend}},
                                            "alphaMode");
    } else if (key == "alphaCutoff")
        m.alphaCutoff = number(v, w);
    else if (key == "doubleSided")
        m.doubleSided = boolean(v, w);
    else if (key == "extensions") {
        forEachField(v, w, [&](std::string_view name, od::value e, const Where& ew) {
            if (name == "KHR_materials_unlit") {
                m.unlit = true;
            } else if (name == "KHR_materials_emissive_strength") {
                forEachField(e, ew, [&](std::string_view k, od::value sv, const Where& sw) {
                    if (k == "emissiveStrength") m.emissiveStrength = number(sv, sw);
                });
            }
        });
    }
}

void readTexture(GLTFTexture& t, std::string_view key, od::value v, const Where& w) {
    if (key == "sampler")
        t.sampler = index(v, w);
    else if (key == "source") {
        // An EXT_texture_webp source, read first or later, takes precedence: its image is
        // the better one, and the plain source is only a fallback for other readers.
        std::int64_t source = index(v, w);
        if (t.source < 0) t.source = source;
    } else if (key == "extensions") {
        forEachField(v, w, [&](std::string_view name, od::value e, const Where& ew) {
            if (name != "EXT_texture_webp") return;
            forEachField(e, ew, [&](std::string_view k, od::value sv, const Where& sw) {
                if (k == "source") t.source = index(sv, sw);
            });
        });
    }
}

void readImage(GLTFImage& image, std::string_view key, od::value v, const Where& w) {
    if (key == "name")
        image.name = string(v, w);
    else if (key == "uri")
        image.uri = string(v, w);
    else if (key == "mimeType")
        image.mimeType = string(v, w);
    else if (key == "bufferView")
        image.bufferView = index(v, w);
}

void readSampler(GLTFSampler& s, std::string_view key, od::value v, const Where& w) {
    if (key == "magFilter")
        s.magFilter = static_cast<int>(integer(v, w, 0, 65535));
    else if (key == "minFilter")
        s.minFilter = static_cast<int>(integer(v, w, 0, 65535));
    else if (key == "wrapS")
        s.wrapS = static_cast<int>(integer(v, w, 0, 65535));
    else if (key == "wrapT")
        s.wrapT = static_cast<int>(integer(v, w, 0, 65535));
}

// ---- cameras, lights, animations ----

void readCamera(GLTFCamera& c, std::string_view key, od::value v, const Where& w) {
    if (key == "name")
        c.name = string(v, w);
    else if (key == "type")
        c.orthographic = stringView(v, w) == "orthographic";
    else if (key == "perspective" || key == "orthographic") {
        forEachField(v, w, [&](std::string_view k, od::value pv, const Where& pw) {
            if (k == "yfov")
                c.yfov = number(pv, pw);
            else if (k == "aspectRatio")
                c.aspectRatio = number(pv, pw);
            else if (k == "xmag")
                c.xmag = number(pv, pw);
            else if (k == "ymag")
                c.ymag = number(pv, pw);
            else if (k == "znear")
                c.znear = number(pv, pw);
            else if (k == "zfar")
                c.zfar = number(pv, pw);
        });
    }
}

void readLight(GLTFLight& l, std::string_view key, od::value v, const Where& w) {
    if (key == "name")
        l.name = string(v, w);
    else if (key == "type") {
        l.type = choice<GLTFLightType>(v, w,
                                       {{"directional", GLTFLightType::directional},
                                        {"point", GLTFLightType::point},
                                        {"spot", GLTFLightType::spot}},
                                       "light type");
    } else if (key == "color")
        numbers(v, w, l.color, 3);
    else if (key == "intensity")
        l.intensity = number(v, w);
    else if (key == "range")
        l.range = number(v, w);
    else if (key == "spot") {
        forEachField(v, w, [&](std::string_view k, od::value sv, const Where& sw) {
            if (k == "innerConeAngle")
                l.innerConeAngle = number(sv, sw);
            else if (k == "outerConeAngle")
                l.outerConeAngle = number(sv, sw);
        });
    }
}

void readAnimation(GLTFAnimation& a, std::string_view key, od::value v, const Where& w) {
    if (key == "name")
        a.name = string(v, w);
    else if (key == "channels") {
        readCollection(
            v, w, a.channels,
            [](GLTFAnimationChannel& c, std::string_view k, od::value cv, const Where& cw) {
                if (k == "sampler")
                    c.sampler = index(cv, cw);
                else if (k == "target") {
                    forEachField(cv, cw, [&](std::string_view tk, od::value tv, const Where& tw) {
                        if (tk == "node")
                            c.node = index(tv, tw);
                        else if (tk == "path") {
                            std::string_view path = stringView(tv, tw);
                            if (path == "translation")
                                c.path = GLTFAnimationPath::translation;
                            else if (path == "rotation")
                                c.path = GLTFAnimationPath::rotation;
                            else if (path == "scale")
                                c.path = GLTFAnimationPath::scale;
                            else if (path == "weights")
                                c.path = GLTFAnimationPath::weights;
                        }
                    });
                }
            });
    } else if (key == "samplers") {
        readCollection(
            v, w, a.samplers,
            [](GLTFAnimationSampler& s, std::string_view k, od::value sv, const Where& sw) {
                if (k == "input")
                    s.input = index(sv, sw);
                else if (k == "output")
                    s.output = index(sv, sw);
                else if (k == "interpolation") {
                    std::string_view i = stringView(sv, sw);
                    if (i == "STEP")
                        s.interpolation = GLTFInterpolation::step;
                    else if (i == "CUBICSPLINE")
                        s.interpolation = GLTFInterpolation::cubicSpline;
                    else
                        s.interpolation = GLTFInterpolation::linear;
                }
            });
    }
}

// ---- the document ----

// The extensions whose data this reader understands; a file that requires any other is
// refused, since reading it anyway would draw it wrongly.
bool isSupportedExtension(std::string_view name) {
    static constexpr std::string_view supported[] = {
        "KHR_draco_mesh_compression", "EXT_meshopt_compression", "KHR_mesh_quantization",
        "KHR_texture_transform",      "KHR_materials_unlit",     "KHR_materials_emissive_strength",
        "KHR_lights_punctual",        "EXT_texture_webp",
    };
    for (std::string_view s : supported) {
        if (s == name) return true;
    }
    return false;
}

void readAssetInfo(od::value value, GLTFAsset& asset) {
    Where where{nullptr, "asset", -1};
    forEachField(value, where, [&](std::string_view key, od::value v, const Where& w) {
        if (key == "version")
            asset.version = string(v, w);
        else if (key == "generator")
            asset.generator = string(v, w);
    });
}

void checkVersion(const GLTFAsset& asset) {
    if (asset.version.empty()) {
        fail(gltfErrorUnsupportedVersion,
             "the file names no glTF version (asset.version); glTF 1.0 files may omit it, and "
             "only glTF 2.0 is supported");
    }
    // "2.0", "2.1", ...: any 2.x reads as 2.0 does.
    if (asset.version.size() < 2 || asset.version[0] != '2' || asset.version[1] != '.') {
        fail(gltfErrorUnsupportedVersion,
             "glTF " + asset.version + " is not supported; only glTF 2.0 is");
    }
}

}  // namespace

void parseGLTFDocument(const char* json, std::size_t length, std::size_t capacity,
                       GLTFAsset& asset) {
    od::parser parser;
    od::document doc;
    const Where root;
    if (auto error =
            parser.iterate(simdjson::padded_string_view(json, length, capacity)).get(doc)) {
        fail(gltfErrorNotGLTF, std::string("the file is not glTF (it is not valid JSON: ") +
                                   simdjson::error_message(error) + ")");
    }
    od::object top;
    if (doc.get_object().get(top))
        fail(gltfErrorNotGLTF, "the file is not glTF (it is not a JSON object)");

    // The version decides how everything else reads (glTF 1.0 keeps its collections in
    // objects), so it is found first, wherever it stands.
    od::value assetValue;
    auto error = top.find_field_unordered("asset").get(assetValue);
    if (error == simdjson::NO_SUCH_FIELD) {
        checkVersion(asset);  // fails
    }
    check(error, root.at("asset"), "an object");
    readAssetInfo(assetValue, asset);
    checkVersion(asset);

    doc.rewind();
    od::value document;
    check(doc.get_value().get(document), root, "an object");
    forEachField(document, root, [&](std::string_view key, od::value v, const Where& w) {
        if (key == "buffers")
            readCollection(v, w, asset.buffers, readBuffer);
        else if (key == "bufferViews")
            readCollection(v, w, asset.bufferViews, readBufferView);
        else if (key == "accessors")
            readCollection(v, w, asset.accessors, readAccessor);
        else if (key == "meshes")
            readCollection(v, w, asset.meshes, readMesh);
        else if (key == "nodes")
            readCollection(v, w, asset.nodes, readNode);
        else if (key == "scenes")
            readCollection(v, w, asset.scenes, readScene);
        else if (key == "scene")
            asset.scene = index(v, w);
        else if (key == "materials")
            readCollection(v, w, asset.materials, readMaterial);
        else if (key == "textures")
            readCollection(v, w, asset.textures, readTexture);
        else if (key == "images")
            readCollection(v, w, asset.images, readImage);
        else if (key == "samplers")
            readCollection(v, w, asset.samplers, readSampler);
        else if (key == "cameras")
            readCollection(v, w, asset.cameras, readCamera);
        else if (key == "animations")
            readCollection(v, w, asset.animations, readAnimation);
        else if (key == "skins") {
            forEachElement(v, w, [&](od::value, const Where&, std::int64_t) { ++asset.skinCount; });
        } else if (key == "extensionsUsed")
            asset.extensionsUsed = stringList(v, w);
        else if (key == "extensionsRequired")
            asset.extensionsRequired = stringList(v, w);
        else if (key == "extensions") {
            forEachField(v, w, [&](std::string_view name, od::value e, const Where& ew) {
                if (name != "KHR_lights_punctual") return;
                forEachField(e, ew, [&](std::string_view k, od::value lv, const Where& lw) {
                    if (k == "lights") readCollection(lv, lw, asset.lights, readLight);
                });
            });
        }
    });
    for (const std::string& name : asset.extensionsRequired) {
        if (!isSupportedExtension(name)) {
            fail(gltfErrorUnsupportedExtension, "the file requires the extension " + name +
                                                    ", which this reader does not support");
        }
    }
}

}  // namespace kelvo::gltf
