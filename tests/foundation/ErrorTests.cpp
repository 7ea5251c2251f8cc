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
