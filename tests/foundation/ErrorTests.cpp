#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "extensions/Shared/SceneLoaderError.h"
#include "platform/Foundation/Error.h"

namespace kelvo {
namespace {

TEST(Error, sceneLoaderErrorsCarryDomainCodeAndOnlyTheirMessage) {
    Error e = sceneLoaderError(unsupportedFormat, "Unsupported format: dae");
    EXPECT_EQ(e.domain(), "SceneLoader");
    EXPECT_EQ(e.code(), -3);
    ASSERT_EQ(e.userInfo().size(), 1u);
    EXPECT_EQ(e.userInfo().at(std::string(localizedDescriptionKey)), "Unsupported format: dae");
    EXPECT_STREQ(e.what(), "Unsupported format: dae");
}

TEST(Error, codeTableMatchesTheConvention) {
    struct Row {
        SceneLoaderErrorCode code;
        long value;
        std::string_view message;
    } rows[] = {
        {gltfLoadFailed, -1, "Failed to load GLTF asset"},
        {gltfNoSceneProduced, -2, "No scene produced from GLTF asset"},
        {unsupportedFormat, -3, "STL not supported by ModelIO"},
        {noMeshIn3MF, -12, "No mesh data found in 3MF model"},
        {voxFileTooSmall, -20, "VOX file too small"},
        {voxBadMagic, -21, "Invalid VOX file: bad magic"},
        {voxNoVoxelData, -22, "No voxel data found in VOX file"},
    };
    std::string_view messages[] = {SceneLoaderMessage::gltfLoadFailed,
                                   SceneLoaderMessage::gltfNoSceneProduced,
                                   SceneLoaderMessage::stlNotSupported,
                                   SceneLoaderMessage::noMeshIn3MF,
                                   SceneLoaderMessage::voxFileTooSmall,
                                   SceneLoaderMessage::voxBadMagic,
                                   SceneLoaderMessage::voxNoVoxelData};
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(static_cast<long>(rows[i].code), rows[i].value);
        EXPECT_EQ(messages[i], rows[i].message);
    }
}

TEST(Error, passesThroughExceptionsUnchanged) {
    Error original = sceneLoaderError(voxBadMagic, SceneLoaderMessage::voxBadMagic);
    try {
        try {
            throw original;
        } catch (const std::exception&) {
            throw;  // what a host does: hand it on
        }
    } catch (const Error& caught) {
        EXPECT_EQ(caught, original);
    }
}

TEST(Error, posixErrorKeepsErrnoAndItsText) {
    Error e = posixError(ENOENT, "/nowhere/x.stl");
    EXPECT_EQ(e.domain(), "POSIX");
    EXPECT_EQ(e.code(), ENOENT);
    EXPECT_EQ(e.localizedDescription(), std::strerror(ENOENT));
    EXPECT_EQ(e.userInfo().at("NSFilePath"), "/nowhere/x.stl");
}

TEST(Error, withoutDescriptionNamesDomainAndCode) {
    Error e("KelvoThumbnail.ZIPReader.ZIPError", 2);
    EXPECT_TRUE(e.userInfo().empty());
    EXPECT_NE(e.localizedDescription().find("KelvoThumbnail.ZIPReader.ZIPError error 2"),
              std::string::npos);
}

}  // namespace
}  // namespace kelvo
