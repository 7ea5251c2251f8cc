#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "extensions/Shared/SceneLoaderError.h"
#include "platform/Foundation/Error.h"

namespace kelvo {
namespace {

// What each kind of error carries: only its message, errno with its text and the file, or,
// without a description, its domain and code.
TEST(Error, eachKindCarriesItsDomainCodeAndDescription) {
    Error loader = sceneLoaderError(unsupportedFormat, "Unsupported format: dae");
    EXPECT_EQ(loader.domain(), "SceneLoader");
    EXPECT_EQ(loader.code(), -3);
    ASSERT_EQ(loader.userInfo().size(), 1u);
    EXPECT_EQ(loader.userInfo().at(std::string(localizedDescriptionKey)),
              "Unsupported format: dae");
    EXPECT_STREQ(loader.what(), "Unsupported format: dae");

    Error posix = posixError(ENOENT, "/nowhere/x.stl");
    EXPECT_EQ(posix.domain(), "POSIX");
    EXPECT_EQ(posix.code(), ENOENT);
    EXPECT_EQ(posix.localizedDescription(), std::strerror(ENOENT));
    EXPECT_EQ(posix.userInfo().at("NSFilePath"), "/nowhere/x.stl");

    Error bare("KelvoThumbnail.ZIPReader.ZIPError", 2);
    EXPECT_TRUE(bare.userInfo().empty());
    EXPECT_NE(bare.localizedDescription().find("KelvoThumbnail.ZIPReader.ZIPError error 2"),
              std::string::npos);
}

}  // namespace
}  // namespace kelvo
