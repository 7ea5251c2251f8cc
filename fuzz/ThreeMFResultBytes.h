// A scan result as one byte string, floats by their bits (a transform of "nan" equals
// itself), so that two results compare with ==: the scanner's pieces must give what one
// scan gives. Used by the scanner's tests and its fuzzer.
#pragma once

#include <cstring>
#include <string>

#include "extensions/Shared/ThreeMF/Fast3MFParser.h"

namespace kelvo {

inline std::string resultBytes(const Fast3MFParser::ParseResult& result) {
    std::string out;
    auto put = [&](const void* p, size_t n) { out.append(static_cast<const char*>(p), n); };
    auto putNumber = [&](std::int64_t v) { put(&v, sizeof v); };
    for (const auto& [id, meshes] : result.meshes) {
        out += 'o';
        putNumber(id);
        for (const ThreeMFMesh& mesh : meshes) {
            out += 'm';
            putNumber(mesh.vertexCount);
            putNumber(mesh.triangleCount);
            putNumber(static_cast<std::int64_t>(mesh.positionData.size()));
            put(mesh.positionData.data(), mesh.positionData.size());
            putNumber(static_cast<std::int64_t>(mesh.indexData.size()));
            put(mesh.indexData.data(), mesh.indexData.size());
        }
    }
    for (const ThreeMFComponent& c : result.components) {
        out += c.path ? 'p' : 'c';
        if (c.path) {
            putNumber(static_cast<std::int64_t>(c.path->size()));
            out += *c.path;
        }
        putNumber(c.objectId);
        put(c.transform.data(), sizeof c.transform);
    }
    for (const ThreeMFBuildItem& item : result.buildItems) {
        out += 'i';
        putNumber(item.objectId);
        put(item.transform.data(), sizeof item.transform);
    }
    return out;
}

}  // namespace kelvo
