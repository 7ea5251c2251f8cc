#include "platform/ModelIO/AssimpImporter.h"

#include <assimp/config.h>
#include <assimp/material.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/Foundation/FileReading.h"
#include "platform/Foundation/Text.h"
#include "platform/ModelIO/AssimpFileAccess.h"
#include "platform/ModelIO/MeshAssembly.h"
#include "platform/ModelIO/PolygonTriangulation.h"
#include "platform/ModelIO/TextureReferences.h"

namespace kelvo {

namespace {

static_assert(sizeof(aiVector3D) == 12 && sizeof(aiColor4D) == 16,
              "the library is built with single-precision floats");

// The library's extensions, lower-case, asked once.
const std::set<std::string, std::less<>>& assimpExtensions() {
    static const std::set<std::string, std::less<>> extensions = [] {
        std::set<std::string, std::less<>> set;
        aiString list;
        Assimp::Importer().GetExtensionList(list);
        // "*.3ds;*.ac;..."
        std::string_view text(list.C_Str(), list.length);
        while (!text.empty()) {
            const size_t end = std::min(text.find(';'), text.size());
            std::string_view item = text.substr(0, end);
            if (item.starts_with("*.")) item.remove_prefix(2);
            if (!item.empty()) set.insert(asciiLowercase(item));
            text.remove_prefix(std::min(end + 1, text.size()));
        }
        return set;
    }();
    return extensions;
}

Color color(const aiColor4D& c) {
    return {c.r, c.g, c.b, c.a};
}

std::string mimeTypeForHint(std::string_view hint) {
    const std::string h = asciiLowercase(hint);
    if (h == "png") return "image/png";
    if (h == "jpg" || h == "jpeg") return "image/jpeg";
    if (h == "webp") return "image/webp";
    if (h == "tga") return "image/x-tga";
    return {};
}

class SceneConversion {
public:
    SceneConversion(const aiScene& scene, const std::filesystem::path& url, std::size_t fileSize)
        : scene_(scene),
          url_(url),
          triangulator_(32 * static_cast<std::uint64_t>(fileSize) + (1u << 20)) {}

    ModelAsset convert() {
        ModelAsset asset;
        if (const aiNode* root = scene_.mRootNode) {
            // The root stands for the file: its children are the top-level objects, placed
            // by the root's transform.
            std::shared_ptr<Node> top = node(*root, 0);
            asset.objects.push_back(std::move(top));
        }
        asset.upAxisCorrection = upAxisCorrection();
        asset.textures = textures_.take();
        return asset;
    }

private:
    static constexpr int maxDepth = 256;

    std::shared_ptr<Node> node(const aiNode& from, int depth) {
        auto n = Node::make();
        n->name = std::string(from.mName.C_Str());
        const aiMatrix4x4& m = from.mTransformation;
        // The library's matrices act on column vectors; the scene graph's on row vectors.
        n->setTransform({{{m.a1, m.b1, m.c1, m.d1},
                          {m.a2, m.b2, m.c2, m.d2},
                          {m.a3, m.b3, m.c3, m.d3},
                          {m.a4, m.b4, m.c4, m.d4}}});
        std::vector<std::shared_ptr<Geometry>> geometries;
        for (unsigned i = 0; i < from.mNumMeshes && from.mMeshes; ++i) {
            if (std::shared_ptr<Geometry> g = geometry(from.mMeshes[i]))
                geometries.push_back(std::move(g));
        }
        if (geometries.size() == 1) {
            n->geometry = std::move(geometries[0]);
        } else {
            for (auto& g : geometries)
                n->addChildNode(Node::withGeometry(std::move(g)));
        }
        // Trees deeper than any real model are cut, so that the recursion stays shallow.
        if (depth < maxDepth) {
            for (unsigned i = 0; i < from.mNumChildren && from.mChildren; ++i) {
                if (from.mChildren[i]) n->addChildNode(node(*from.mChildren[i], depth + 1));
            }
        }
        return n;
    }

    std::shared_ptr<Geometry> geometry(unsigned meshIndex) {
        if (meshIndex >= scene_.mNumMeshes || !scene_.mMeshes || !scene_.mMeshes[meshIndex])
            return nullptr;
        auto [it, added] = geometries_.try_emplace(meshIndex);
        if (added) it->second = convertMesh(*scene_.mMeshes[meshIndex]);
        return it->second;
    }

    std::shared_ptr<Geometry> convertMesh(const aiMesh& mesh) {
        const std::size_t n = mesh.mNumVertices;
        if (n == 0 || !mesh.mVertices) return nullptr;
        MeshBuffers out;
        out.vertexCount = static_cast<std::int64_t>(n);
        appendValues(out.positions, &mesh.mVertices[0].x, 3 * n);
        if (mesh.mNormals) appendValues(out.normals, &mesh.mNormals[0].x, 3 * n);
        if (const aiColor4D* colors = mesh.mColors[0]) {
            bool opaque = true;
            for (std::size_t i = 0; i < n && opaque; ++i)
                opaque = colors[i].a == 1;
            out.colorComponents = opaque ? 3 : 4;
            out.colors.resize(n * 4 * static_cast<std::size_t>(out.colorComponents));
            for (std::size_t i = 0; i < n; ++i) {
                std::memcpy(&out.colors[i * 4 * out.colorComponents], &colors[i].r,
                            4 * static_cast<std::size_t>(out.colorComponents));
            }
        }
        if (const aiVector3D* uv = mesh.mTextureCoords[0]) {
            out.texcoords.resize(n * 8);
            for (std::size_t i = 0; i < n; ++i) {
                const float pair[2] = {uv[i].x, flipV(uv[i].y)};
                std::memcpy(&out.texcoords[i * 8], pair, 8);
            }
        }

        MeshElement triangles, points;
        triangles.material = points.material = material(mesh.mMaterialIndex);
        points.points = true;
        std::vector<PolygonCorner> polygon;
        std::vector<std::uint32_t> local;
        for (unsigned f = 0; f < mesh.mNumFaces && mesh.mFaces; ++f) {
            const aiFace& face = mesh.mFaces[f];
            const unsigned k = face.mNumIndices;
            if (!face.mIndices || k == 0 || k == 2) continue;
            bool ok = true;
            for (unsigned c = 0; c < k; ++c)
                ok &= face.mIndices[c] < n;
            if (!ok) continue;
            if (k == 1) {
                appendValues(points.indices, face.mIndices, 1);
                ++points.primitiveCount;
            } else if (k == 3) {
                appendValues(triangles.indices, face.mIndices, 3);
                ++triangles.primitiveCount;
            } else {
                polygon.resize(k);
                for (unsigned c = 0; c < k; ++c) {
                    const aiVector3D& p = mesh.mVertices[face.mIndices[c]];
                    polygon[c] = {p.x, p.y, p.z};
                }
                local.resize(3 * (k - 2));
                triangulator_.triangulate(polygon, local.data());
                for (std::uint32_t& l : local)
                    l = face.mIndices[l];
                appendValues(triangles.indices, local.data(), local.size());
                triangles.primitiveCount += k - 2;
            }
        }
        out.elements.push_back(std::move(triangles));
        out.elements.push_back(std::move(points));
        return makeGeometry(std::move(out));
    }

    std::shared_ptr<Material> material(unsigned index) {
        if (index >= scene_.mNumMaterials || !scene_.mMaterials || !scene_.mMaterials[index])
            return nullptr;
        auto [it, added] = materials_.try_emplace(index);
        if (added) it->second = convertMaterial(*scene_.mMaterials[index]);
        return it->second;
    }

    std::shared_ptr<Material> convertMaterial(const aiMaterial& from) {
        auto m = std::make_shared<Material>();
        aiString name;
        if (from.Get(AI_MATKEY_NAME, name) == aiReturn_SUCCESS) m->name = name.C_Str();
        aiColor4D c;
        Color diffuse = Color::white(1, 1);
        if (from.Get(AI_MATKEY_BASE_COLOR, c) == aiReturn_SUCCESS ||
            from.Get(AI_MATKEY_COLOR_DIFFUSE, c) == aiReturn_SUCCESS) {
            diffuse = color(c);
        }
        float opacity = 1;
        if (from.Get(AI_MATKEY_OPACITY, opacity) != aiReturn_SUCCESS)
            opacity = static_cast<float>(diffuse.alpha);
        if (!(opacity > 0) || opacity > 1) opacity = 1;
        diffuse.alpha = opacity;
        if (opacity < 1) m->alphaMode = AlphaMode::blend;
        m->diffuse = diffuse;
        if (from.Get(AI_MATKEY_COLOR_SPECULAR, c) == aiReturn_SUCCESS)
            m->specular = {c.r, c.g, c.b, 1};
        float value;
        if (from.Get(AI_MATKEY_SHININESS, value) == aiReturn_SUCCESS) m->shininess = value;
        if (from.Get(AI_MATKEY_COLOR_EMISSIVE, c) == aiReturn_SUCCESS)
            m->emission = {c.r, c.g, c.b, 1};
        int twoSided = 0;
        if (from.Get(AI_MATKEY_TWOSIDED, twoSided) == aiReturn_SUCCESS)
            m->isDoubleSided = twoSided != 0;

        int shading = 0;
        const bool shadingGiven = from.Get(AI_MATKEY_SHADING_MODEL, shading) == aiReturn_SUCCESS;
        float metalness = 0, roughness = 0;
        const bool metallic = from.Get(AI_MATKEY_METALLIC_FACTOR, metalness) == aiReturn_SUCCESS;
        const bool rough = from.Get(AI_MATKEY_ROUGHNESS_FACTOR, roughness) == aiReturn_SUCCESS;
        if (metallic || rough || (shadingGiven && shading == aiShadingMode_PBR_BRDF)) {
            m->lightingModelName = LightingModel::physicallyBased;
            if (metallic) m->metalness = metalness;
            if (rough) m->roughness = roughness;
        } else if (shadingGiven) {
            switch (shading) {
                case aiShadingMode_Flat:
                case aiShadingMode_Gouraud:
                    m->lightingModelName = LightingModel::lambert;
                    break;
                case aiShadingMode_Phong:
                    m->lightingModelName = LightingModel::phong;
                    break;
                case aiShadingMode_NoShading:
                    m->lightingModelName = LightingModel::constant;
                    break;
                default:
                    m->lightingModelName = LightingModel::blinn;
                    break;
            }
        }
        m->diffuseTexture = textureSlot(from, aiTextureType_DIFFUSE);
        if (!m->diffuseTexture) m->diffuseTexture = textureSlot(from, aiTextureType_BASE_COLOR);
        m->emissionTexture = textureSlot(from, aiTextureType_EMISSIVE);
        return m;
    }

    TextureSlot textureSlot(const aiMaterial& from, aiTextureType type) {
        TextureSlot slot;
        aiString path;
        aiTextureMapMode modes[2] = {aiTextureMapMode_Wrap, aiTextureMapMode_Wrap};
        if (from.GetTextureCount(type) == 0 ||
            from.GetTexture(type, 0, &path, nullptr, nullptr, nullptr, nullptr, modes) !=
                aiReturn_SUCCESS ||
            path.length == 0) {
            return slot;
        }
        const std::string reference(path.C_Str(), path.length);
        if (const aiTexture* embedded = scene_.GetEmbeddedTexture(reference.c_str())) {
            // Only compressed images (a file's bytes) are kept; raw texel arrays are rare
            // and would need decoding of their own.
            if (embedded->mHeight != 0 || !embedded->pcData) return slot;
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(embedded->pcData);
            auto encoded = std::make_shared<const ByteBuffer>(bytes, bytes + embedded->mWidth);
            const std::string name =
                embedded->mFilename.length ? embedded->mFilename.C_Str() : reference;
            slot.texture = textures_.embedded(name, mimeTypeForHint(embedded->achFormatHint),
                                              std::move(encoded));
        } else {
            slot.texture = textures_.reference(url_, reference);
        }
        auto wrap = [](aiTextureMapMode mode) {
            return mode == aiTextureMapMode_Clamp || mode == aiTextureMapMode_Decal
                       ? TextureWrap::clampToEdge
                   : mode == aiTextureMapMode_Mirror ? TextureWrap::mirroredRepeat
                                                     : TextureWrap::repeat;
        };
        slot.wrapS = wrap(modes[0]);
        slot.wrapT = wrap(modes[1]);
        return slot;
    }

    // The axes FBX files declare, turned into the scene's (x right, y up, z towards the
    // viewer). Identity for every other format and for declarations that make no basis.
    Mat4 upAxisCorrection() const {
        const aiMetadata* meta = scene_.mMetaData;
        aiString format;
        if (!meta || !meta->Get("SourceAsset_Format", format) ||
            std::string_view(format.C_Str()).find("FBX") == std::string_view::npos) {
            return Mat4::identity();
        }
        int up = 1, upSign = 1, front = 2, frontSign = 1, coord = 0, coordSign = 1;
        meta->Get("UpAxis", up);
        meta->Get("UpAxisSign", upSign);
        meta->Get("FrontAxis", front);
        meta->Get("FrontAxisSign", frontSign);
        meta->Get("CoordAxis", coord);
        meta->Get("CoordAxisSign", coordSign);
        const int axes[3] = {coord, up, front};
        const int signs[3] = {coordSign, upSign, frontSign};
        Mat4 turn = {};
        bool used[3] = {false, false, false};
        for (int column = 0; column < 3; ++column) {
            const int axis = axes[column];
            if (axis < 0 || axis > 2 || used[axis] || signs[column] == 0) return Mat4::identity();
            used[axis] = true;
            // A point's coordinate along the scene's axis `column` is its file coordinate
            // along the declared axis.
            turn.m[axis][column] = signs[column] > 0 ? 1 : -1;
        }
        turn.m[3][3] = 1;
        return turn;
    }

    const aiScene& scene_;
    const std::filesystem::path& url_;
    PolygonTriangulator triangulator_;
    TextureReferences textures_;
    std::map<unsigned, std::shared_ptr<Geometry>> geometries_;
    std::map<unsigned, std::shared_ptr<Material>> materials_;
};

}  // namespace

bool assimpCanImport(std::string_view extension) {
    const auto& extensions = assimpExtensions();
    return extensions.find(asciiLowercase(extension)) != extensions.end();
}

ModelAsset importWithAssimp(const std::filesystem::path& url) {
    const std::filesystem::path file = std::filesystem::absolute(url);
    auto contents = std::make_shared<const ByteBuffer>(readFileContents(file));
    Assimp::Importer importer;
    importer.SetIOHandler(new AssimpFileAccess(file, contents));
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_READ_ANIMATIONS, false);
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_READ_CAMERAS, false);
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_READ_LIGHTS, false);
    // One node per FBX model instead of a chain of helper nodes for its pivots.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    const aiScene* scene = importer.ReadFile(file.string(), 0);
    if (!scene) {
        // Running out of memory stays what it is, so the hosts can say so.
        if (const std::exception_ptr& failure = importer.GetException()) {
            try {
                std::rethrow_exception(failure);
            } catch (const std::bad_alloc&) {
                throw;
            } catch (...) {
            }
        }
        std::string reason = importer.GetErrorString();
        throw modelIOError(reason.empty() ? "The import library cannot read the file" : reason);
    }
    return SceneConversion(*scene, file, contents->size()).convert();
}

}  // namespace kelvo
