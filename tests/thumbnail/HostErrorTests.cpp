// What a host hands on for each kind of failure, what people read of it, and how INPUT
// arguments name files.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <system_error>

#include "extensions/KelvoThumbnail/FileURI.h"
#include "extensions/Shared/ErrorReport.h"
#include "extensions/Shared/HostError.h"
#include "extensions/Shared/SceneLoaderError.h"
#include "extensions/Shared/ZIP/ZIPReader.h"
#include "platform/GLTFKit/GLTFKit.h"
#include "platform/ModelIO/ModelIO.h"

namespace kelvo {
namespace {

template <class E>
Error converted(E thrown) {
    return hostError(std::make_exception_ptr(thrown), "KelvoThumbnail");
}

TEST(HostError, convertsEachKindOfFailure) {
    const Error original("SceneLoader", -3, {{"NSLocalizedDescription", "m"}, {"extra", "x"}});
    EXPECT_EQ(converted(original), original);
    EXPECT_EQ(converted(std::bad_alloc()), makeError("POSIX", ENOMEM, "Cannot allocate memory"));
    EXPECT_EQ(converted(std::system_error(ENOENT, std::generic_category(), "open")),
              makeError("POSIX", ENOENT, "No such file or directory"));
    EXPECT_EQ(converted(std::runtime_error("odd")), makeError("Kelvo", -1, "odd"));
    EXPECT_EQ(converted(42), makeError("Kelvo", -1, "Unknown error"));
    // The ZIP reader's own error, under this deliverable's name, its case as the code.
    EXPECT_EQ(converted(ZIPReader::ZIPError::unsupportedCompression(12)),
              Error("KelvoThumbnail.ZIPReader.ZIPError", 1, {}));
}

// Every kind of error a load throws: the line the executables print and the preview's words.
TEST(ErrorReport, linesAndExplanationsOfEachKindOfError) {
    using ZIPError = ZIPReader::ZIPError;
    struct {
        Error error;
        const char* line;
        const char* explanation;
    } cases[] = {
        {converted(ZIPError::entryNotFound("3D/3dmodel.model")),
         "KelvoThumbnail.ZIPReader.ZIPError 0: entryNotFound(\"3D/3dmodel.model\")",
         "The 3MF package has no model part 3D/3dmodel.model."},
        {converted(ZIPError::unsupportedCompression(14)),
         "KelvoThumbnail.ZIPReader.ZIPError 1: unsupportedCompression(14)",
         "The 3MF package's model part is compressed with method 14, which Kelvo cannot unpack "
         "(it reads stored and Deflate parts)."},
        {converted(ZIPError::invalidArchive()),
         "KelvoThumbnail.ZIPReader.ZIPError 2: invalidArchive",
         "The file is not a 3MF package: its ZIP structure is missing or broken."},
        {converted(ZIPError::decompressionFailed()),
         "KelvoThumbnail.ZIPReader.ZIPError 3: decompressionFailed",
         "The 3MF package's model part is damaged and cannot be unpacked."},
        {sceneLoaderError(gltfLoadFailed, SceneLoaderMessage::gltfLoadFailed),
         "SceneLoader -1: Failed to load GLTF asset",
         "The glTF file holds no scene that Kelvo can show."},
        {sceneLoaderError(gltfNoSceneProduced, SceneLoaderMessage::gltfNoSceneProduced),
         "SceneLoader -2: No scene produced from GLTF asset",
         "The glTF file holds no scene that Kelvo can show."},
        {sceneLoaderError(unsupportedFormat, SceneLoaderMessage::stlNotSupported),
         "SceneLoader -3: STL not supported by ModelIO",
         "This build of Kelvo cannot read STL files."},
        {sceneLoaderError(unsupportedFormat, "Unsupported format: OBJ"),
         "SceneLoader -3: Unsupported format: OBJ", "Kelvo cannot read .OBJ files."},
        {sceneLoaderError(unsupportedFormat, "Unsupported format: "),
         "SceneLoader -3: Unsupported format: ",
         "Kelvo cannot tell the file's format: it has no extension."},
        {sceneLoaderError(noMeshIn3MF, SceneLoaderMessage::noMeshIn3MF),
         "SceneLoader -12: No mesh data found in 3MF model",
         "The 3MF package holds no mesh to show."},
        {sceneLoaderError(voxFileTooSmall, SceneLoaderMessage::voxFileTooSmall),
         "SceneLoader -20: VOX file too small", "The VOX file is too short to hold a voxel model."},
        {sceneLoaderError(voxBadMagic, SceneLoaderMessage::voxBadMagic),
         "SceneLoader -21: Invalid VOX file: bad magic",
         "The file is not a VOX file: it does not start with the VOX signature."},
        {sceneLoaderError(voxNoVoxelData, SceneLoaderMessage::voxNoVoxelData),
         "SceneLoader -22: No voxel data found in VOX file", "The VOX file holds no voxel model."},
        {posixError(ENOENT, "/m/x.stl"), "POSIX 2: No such file or directory",
         "The file does not exist."},
        {posixError(EACCES, "/m/x.stl"), "POSIX 13: Permission denied",
         "You do not have permission to read the file."},
        {posixError(EISDIR, "/m/x.stl"), "POSIX 21: Is a directory",
         "It is a folder, not a model file."},
        {posixError(EINVAL, "/m/x.stl"), "POSIX 22: Invalid argument",
         "It is not a regular file (a device, a pipe or a socket)."},
        {posixError(EFBIG, "/m/x.stl"), "POSIX 27: File too large",
         "The file is too large to be read."},
        {converted(std::bad_alloc()), "POSIX 12: Cannot allocate memory",
         "There is not enough memory to show this model."},
        {posixError(EIO, "/m/x.stl"), "POSIX 5: Input/output error",
         "The file cannot be read: Input/output error."},
        {converted(std::runtime_error("odd")), "Kelvo -1: odd", "Kelvo failed: odd."},
        {makeError("GLTFKit", gltfErrorInvalidAsset, "accessor 2 ends at byte 48 of bufferView 0"),
         "GLTFKit 4: accessor 2 ends at byte 48 of bufferView 0",
         "The glTF file is damaged: accessor 2 ends at byte 48 of bufferView 0."},
        {makeError("GLTFKit", gltfErrorUnsupportedVersion, "glTF 1.0 is not supported"),
         "GLTFKit 2: glTF 1.0 is not supported",
         "Kelvo cannot show this glTF file: glTF 1.0 is not supported."},
        {modelIOError("Not a readable PLY file: its header has no end_header line"),
         "ModelIO 1: Not a readable PLY file: its header has no end_header line",
         "The file cannot be read as a model: Not a readable PLY file: its header has no "
         "end_header line."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorLine("kelvo-x", "m.3mf", c.error),
                  std::string("kelvo-x: m.3mf: ") + c.line + "\n");
        EXPECT_EQ(errorExplanation(c.error), c.explanation) << c.line;
    }
}

TEST(FileURI, pathsAndLocalFileURIs) {
    struct {
        const char* input;
        const char* path;  // null: refused
    } cases[] = {
        {"/m/cube.stl", "/m/cube.stl"},
        {"relative/file:x.stl", "relative/file:x.stl"},
        {"smb://host/share.stl", "smb://host/share.stl"},  // not a file URI: a path
        {"file:///m/a%20b%C3%A9.stl", "/m/a b\xC3\xA9.stl"},
        {"FILE://localhost/m/x.stl", "/m/x.stl"},
        {"file:/m/x.stl", "/m/x.stl"},
        {"file:///m/x%23.stl?q#f", "/m/x#.stl"},
        {"file://server/m/x.stl", nullptr},
        {"file://localhostx/m/x.stl", nullptr},
        {"file:///m/x%2", nullptr},
        {"file:///m/x%zz.stl", nullptr},
        {"file:///m/x%00.stl", nullptr},
        {"file:relative.stl", nullptr},
        {"file://", nullptr},
    };
    for (const auto& c : cases) {
        std::optional<std::filesystem::path> path = localPathFromArgument(c.input);
        EXPECT_EQ(path ? path->string() : "(refused)", c.path ? c.path : "(refused)") << c.input;
    }
}

}  // namespace
}  // namespace kelvo
