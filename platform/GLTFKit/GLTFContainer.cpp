// Where a glTF asset's bytes come from: the GLB container's chunks, base64 data: URIs and
// files beside the model.
#include <cstring>

#include "platform/Foundation/ReferencedFile.h"
#include "platform/GLTFKit/GLTFReading.h"

namespace kelvo::gltf {

namespace {

std::uint32_t readU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

constexpr std::uint32_t glbMagic = 0x46546C67;       // "glTF"
constexpr std::uint32_t jsonChunkType = 0x4E4F534A;  // "JSON"
constexpr std::uint32_t binChunkType = 0x004E4942;   // "BIN\0"

// Referenced files may be as large as a 64-bit glTF buffer; the process's memory limit is
// what bounds them in practice, and the read is of a real file, not of a size a file claims.
constexpr std::uint64_t referencedFileLimit = std::uint64_t{16} << 30;

// Base64 digit values; 64 for '=', 0xFF for anything else.
struct Base64Table {
    std::uint8_t value[256];
    constexpr Base64Table() : value() {
        for (int i = 0; i < 256; ++i)
            value[i] = 0xFF;
        const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(digits[i])] = std::uint8_t(i);
        // The URL-safe alphabet too: some writers use it.
        value[static_cast<unsigned char>('-')] = 62;
        value[static_cast<unsigned char>('_')] = 63;
        value[static_cast<unsigned char>('=')] = 64;
    }
};
constexpr Base64Table base64Table;

bool decodeBase64(std::string_view text, ByteBuffer& out) {
    out.clear();
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int held = 0;
    bool padding = false;
    for (unsigned char c : text) {
        std::uint8_t v = base64Table.value[c];
        if (v == 0xFF) {
            // Line breaks and spaces appear in hand-written URIs; anything else is damage.
            if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
            return false;
        }
        if (v == 64) {
            padding = true;
            continue;
        }
        if (padding) return false;  // digits after padding
        bits = bits << 6 | v;
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> held));
        }
    }
    return true;
}

}  // namespace

bool looksLikeGLB(ByteSpan contents) {
    return contents.size() >= 4 && readU32(contents.data()) == glbMagic;
}

GLBChunks splitGLB(ByteSpan contents) {
    if (contents.size() < 12) {
        fail(gltfErrorInvalidAsset, "the GLB header is cut short: the file holds " +
                                        std::to_string(contents.size()) + " bytes, fewer than 12");
    }
    const std::uint8_t* p = contents.data();
    std::uint32_t version = readU32(p + 4);
    if (version != 2) {
        fail(gltfErrorUnsupportedVersion,
             "GLB version " + std::to_string(version) + " is not supported; only version 2 is");
    }
    std::uint64_t declared = readU32(p + 8);
    if (declared > contents.size()) {
        fail(gltfErrorInvalidAsset, "the GLB file is cut short: its header declares " +
                                        std::to_string(declared) + " bytes, the file holds " +
                                        std::to_string(contents.size()));
    }
    GLBChunks chunks;
    bool hasJSON = false;
    std::uint64_t offset = 12;
    while (offset + 8 <= declared) {
        std::uint64_t length = readU32(p + offset);
        std::uint32_t type = readU32(p + offset + 4);
        std::uint64_t start = offset + 8;
        if (length > declared - start) {
            fail(gltfErrorInvalidAsset, "the GLB chunk at byte " + std::to_string(offset) +
                                            " declares " + std::to_string(length) +
                                            " bytes, past the end of the file at byte " +
                                            std::to_string(declared));
        }
        if (!hasJSON) {
            if (type != jsonChunkType) {
                fail(gltfErrorInvalidAsset, "the first GLB chunk is not the JSON chunk");
            }
            chunks.json = contents.subspan(start, length);
            hasJSON = true;
        } else if (type == binChunkType && !chunks.hasBinary) {
            chunks.hasBinary = true;
            chunks.binaryOffset = start;
            chunks.binaryLength = length;
        }
        // Chunks are 4-byte aligned, but a writer that forgot the padding still wrote its
        // chunks back to back: the next one starts right after this one.
        offset = start + length;
    }
    if (!hasJSON) fail(gltfErrorInvalidAsset, "the GLB file has no JSON chunk");
    return chunks;
}

bool decodeDataURI(std::string_view uri, ByteBuffer& out, std::string* mediaType,
                   const std::string& what) {
    if (uri.size() < 5 || !(uri.substr(0, 5) == "data:" || uri.substr(0, 5) == "DATA:")) {
        return false;
    }
    size_t comma = uri.find(',');
    if (comma == std::string_view::npos)
        fail(gltfErrorInvalidAsset, what + ": data: URI without a comma");
    std::string_view header = uri.substr(5, comma - 5);
    std::string_view payload = uri.substr(comma + 1);
    bool base64 = header.size() >= 7 && header.substr(header.size() - 7) == ";base64";
    if (base64) header.remove_suffix(7);
    if (mediaType) *mediaType = std::string(header.substr(0, header.find(';')));
    if (base64) {
        if (!decodeBase64(payload, out))
            fail(gltfErrorInvalidAsset, what + ": the base64 data is damaged");
    } else {
        std::string text = percentDecode(payload);
        out.assign(text.begin(), text.end());
    }
    return true;
}

void resolveBuffers(GLTFAsset& asset, const std::shared_ptr<const ByteBuffer>& file,
                    const GLBChunks* glb) {
    for (size_t i = 0; i < asset.buffers.size(); ++i) {
        GLTFBuffer& buffer = asset.buffers[i];
        const std::string what = "buffer " + std::to_string(i);
        if (buffer.uri.empty()) {
            // The GLB binary chunk is the first buffer's, when that buffer has no uri. Any
            // other buffer without one holds no data: only meshopt-compressed views may use it
            // (checked with the views).
            if (i == 0 && glb && glb->hasBinary) {
                if (buffer.byteLength > glb->binaryLength) {
                    fail(gltfErrorInvalidAsset, what + " declares " +
                                                    std::to_string(buffer.byteLength) +
                                                    " bytes, but the GLB binary chunk holds " +
                                                    std::to_string(glb->binaryLength));
                }
                buffer.bytes = {file, glb->binaryOffset, buffer.byteLength};
                buffer.hasData = true;
            }
            continue;
        }
        auto data = std::make_shared<ByteBuffer>();
        if (!decodeDataURI(buffer.uri, *data, nullptr, what)) {
            ReferencedFile ref = readReferencedFile(asset.url, buffer.uri, ReferenceSyntax::uri,
                                                    referencedFileLimit);
            if (ref.outcome != ReferenceOutcome::read) {
                fail(gltfErrorMissingResource, what + ": " + ref.reason);
            }
            *data = std::move(ref.contents);
        }
        if (buffer.byteLength > data->size()) {
            fail(gltfErrorInvalidAsset, what + " declares " + std::to_string(buffer.byteLength) +
                                            " bytes, but its data holds " +
                                            std::to_string(data->size()));
        }
        buffer.bytes = {std::move(data), 0, buffer.byteLength};
        buffer.hasData = true;
    }
}

void resolveImages(GLTFAsset& asset) {
    for (size_t i = 0; i < asset.images.size(); ++i) {
        GLTFImage& image = asset.images[i];
        auto texture = std::make_shared<Texture>();
        texture->mimeType = image.mimeType;
        const std::string what = "image " + std::to_string(i);
        if (image.bufferView >= 0) {
            const GLTFBufferView& view = asset.bufferViews[image.bufferView];
            texture->path = asset.url.string() + " (" + what + ", bufferView " +
                            std::to_string(image.bufferView) + ")";
            // A texture holds a whole buffer; a view is a slice of one, so it is copied.
            texture->encoded = std::make_shared<const ByteBuffer>(
                view.bytes.data(), view.bytes.data() + view.bytes.length);
        } else if (!image.uri.empty()) {
            auto data = std::make_shared<ByteBuffer>();
            std::string mediaType;
            if (decodeDataURI(image.uri, *data, &mediaType, what)) {
                texture->path = asset.url.string() + " (" + what + ", data: URI)";
                if (texture->mimeType.empty()) texture->mimeType = mediaType;
                texture->encoded = std::move(data);
            } else {
                ReferencedFile ref = readReferencedFile(asset.url, image.uri, ReferenceSyntax::uri,
                                                        referencedFileLimit);
                texture->path = ref.path.empty() ? image.uri : ref.path.string();
                if (ref.outcome == ReferenceOutcome::read) {
                    texture->encoded = std::make_shared<const ByteBuffer>(std::move(ref.contents));
                } else {
                    texture->found = false;
                }
            }
        } else {
            texture->path = asset.url.string() + " (" + what + ")";
            texture->found = false;
        }
        image.texture = std::move(texture);
    }
}

}  // namespace kelvo::gltf
