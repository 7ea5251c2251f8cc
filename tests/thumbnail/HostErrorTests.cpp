// What a host hands on for each kind of failure, and how INPUT arguments name files.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <system_error>

#include "extensions/KelvoThumbnail/FileURI.h"
#include "extensions/Shared/HostError.h"
#include "extensions/Shared/ZIP/ZIPReader.h"

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
