#include "tools/kelvo-inspect/SceneJSON.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace kelvo {

namespace {

class JSONWriter {
public:
    std::string text;

    void number(double v) {
        if (!std::isfinite(v)) {
            text += "null";  // JSON has no infinities or NaN
            return;
        }
        char buffer[32];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
        text.append(buffer, result.ptr);
    }
    void integer(std::int64_t v) { text += std::to_string(v); }
    void boolean(bool v) { text += v ? "true" : "false"; }

    void string(const std::string& s) {
        text += '"';
        for (size_t i = 0; i < s.size();) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            size_t length = validUTF8Length(s, i);
            if (length == 0) {
                text += "\\ufffd";
                ++i;
                continue;
            }
            if (c == '"' || c == '\\') {
                text += '\\';
                text += static_cast<char>(c);
            } else if (c < 0x20) {
                static const char hex[] = "0123456789abcdef";
                text += "\\u00";
                text += hex[c >> 4];
                text += hex[c & 15];
            } else {
                text.append(s, i, length);
            }
            i += length;
        }
        text += '"';
    }

    void vec3(Vec3 v) {
        text += '[';
        number(v.x);
        text += ',';
        number(v.y);
        text += ',';
        number(v.z);
        text += ']';
    }

    void key(const char* name) {
        text += '"';
        text += name;
        text += "\":";
    }

private:
    // Length of the UTF-8 sequence at i, or 0 when it is not valid.
    static size_t validUTF8Length(const std::string& s, size_t i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) return 1;
        size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (length == 0 || i + length > s.size()) return 0;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
        }
        return length;
    }
};

void writeContents(JSONWriter& w, const MaterialContents& contents) {
    if (const Color* c = std::get_if<Color>(&contents)) {
        w.text += '[';
        w.number(c->red);
        w.text += ',';
        w.number(c->green);
        w.text += ',';
        w.number(c->blue);
        w.text += ',';
        w.number(c->alpha);
        w.text += ']';
    } else if (const double* d = std::get_if<double>(&contents)) {
        w.number(*d);
    } else {
        w.text += "null";
    }
}

void writeGeometry(JSONWriter& w, const Geometry& g) {
    w.text += '{';
    w.key("vertices");
    w.integer(g.vertexCount());
    w.text += ',';
    w.key("triangles");
    w.integer(g.triangleCount());
    w.text += ',';
    w.key("sources");
    w.text += '[';
    for (size_t i = 0; i < g.sources.size(); ++i) {
        if (i) w.text += ',';
        w.string(semanticName(g.sources[i].semantic));
    }
    w.text += "],";
    w.key("materials");
    w.text += '[';
    for (size_t i = 0; i < g.materials.size(); ++i) {
        if (i) w.text += ',';
        const Material& m = *g.materials[i];
        w.text += '{';
        w.key("lightingModel");
        w.string(m.lightingModelName);
        w.text += ',';
        w.key("diffuse");
        writeContents(w, m.diffuse);
        w.text += ',';
        w.key("metalness");
        writeContents(w, m.metalness);
        w.text += ',';
        w.key("roughness");
        writeContents(w, m.roughness);
        w.text += '}';
    }
    w.text += "]}";
}

void writeNode(JSONWriter& w, const Node& node) {
    w.text += '{';
    w.key("name");
    w.string(node.name);
    w.text += ',';
    w.key("position");
    w.vec3(node.position());
    w.text += ',';
    w.key("eulerAngles");
    w.vec3(node.eulerAngles());
    w.text += ',';
    w.key("transform");
    w.text += '[';
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (r || c) w.text += ',';
            w.number(node.transform().m[r][c]);
        }
    }
    w.text += "],";
    w.key("geometry");
    if (node.geometry) {
        writeGeometry(w, *node.geometry);
    } else {
        w.text += "null";
    }
    w.text += ',';
    w.key("camera");
    if (node.camera) {
        const Camera& c = *node.camera;
        w.text += '{';
        w.key("fieldOfView");
        w.number(c.fieldOfView);
        w.text += ',';
        w.key("automaticallyAdjustsZRange");
        w.boolean(c.automaticallyAdjustsZRange);
        w.text += ',';
        w.key("zNear");
        w.number(c.zNear);
        w.text += ',';
        w.key("zFar");
        w.number(c.zFar);
        w.text += ',';
        w.key("orthographic");
        w.boolean(c.usesOrthographicProjection);
        w.text += '}';
    } else {
        w.text += "null";
    }
    w.text += ',';
    w.key("light");
    if (node.light) {
        w.text += '{';
        w.key("type");
        w.string(lightTypeName(node.light->type));
        w.text += ',';
        w.key("intensity");
        w.number(node.light->intensity);
        w.text += ',';
        w.key("color");
        writeContents(w, node.light->color);
        w.text += '}';
    } else {
        w.text += "null";
    }
    w.text += ',';
    w.key("children");
    w.text += '[';
    for (size_t i = 0; i < node.childNodes().size(); ++i) {
        if (i) w.text += ',';
        writeNode(w, *node.childNodes()[i]);
    }
    w.text += "]}";
}

struct Totals {
    std::int64_t nodes = 0, geometryNodes = 0, vertices = 0, triangles = 0;
};

void count(const Node& node, Totals& totals) {
    ++totals.nodes;
    if (node.geometry) {
        ++totals.geometryNodes;
        totals.vertices += node.geometry->vertexCount();
        totals.triangles += node.geometry->triangleCount();
    }
    for (const auto& child : node.childNodes()) count(*child, totals);
}

}  // namespace

std::string sceneToJSON(const Scene& scene, const std::string& file) {
    JSONWriter w;
    Totals totals;
    count(*scene.rootNode, totals);
    w.text += '{';
    w.key("file");
    w.string(file);
    w.text += ',';
    w.key("totals");
    w.text += '{';
    w.key("nodes");
    w.integer(totals.nodes);
    w.text += ',';
    w.key("geometryNodes");
    w.integer(totals.geometryNodes);
    w.text += ',';
    w.key("vertices");
    w.integer(totals.vertices);
    w.text += ',';
    w.key("triangles");
    w.integer(totals.triangles);
    w.text += "},";
    w.key("boundingBox");
    BoundingBox box = scene.rootNode->boundingBox();
    if (box.isEmpty()) {
        w.text += "null";
    } else {
        w.text += '{';
        w.key("min");
        w.vec3(box.min);
        w.text += ',';
        w.key("max");
        w.vec3(box.max);
        w.text += '}';
    }
    w.text += ',';
    w.key("background");
    writeContents(w, scene.background);
    w.text += ',';
    w.key("root");
    writeNode(w, *scene.rootNode);
    w.text += "}\n";
    return w.text;
}

}  // namespace kelvo
