#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Foundation/Error.h"
#include "platform/Foundation/FileReading.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

long readErrorCode(const std::filesystem::path& path) {
    try {
        readFileContents(path);
    } catch (const Error& e) {
        EXPECT_EQ(e.domain(), "POSIX");
        return e.code();
    }
    return 0;
}

TEST(FileReading, readsWholeFilesOfAnySize) {
    test::TempDir dir;
    for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, size_t{4097}, size_t{100000}}) {
        test::Bytes bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7);
        ByteBuffer read = readFileContents(dir.write("f" + std::to_string(size), bytes));
        EXPECT_TRUE(std::equal(read.begin(), read.end(), bytes.begin(), bytes.end())) << size;
    }
}

TEST(FileReading, failuresKeepTheOperatingSystemsError) {
    test::TempDir dir;
    EXPECT_EQ(readErrorCode(dir.path() / "missing.stl"), ENOENT);
    EXPECT_EQ(readErrorCode(dir.path()), EISDIR);
    // A FIFO must be refused at once, not waited on.
    std::filesystem::path fifo = dir.path() / "pipe.stl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readErrorCode(fifo), EINVAL);
    if (::geteuid() != 0) {  // root reads anything
        std::filesystem::path locked = dir.write("locked.stl", "solid x");
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        EXPECT_EQ(readErrorCode(locked), EACCES);
    }
}

// A worker that may not open its model reads the descriptor its parent opened, as often as a
// loader asks; a folder given that way is refused as one opened by path would be.
TEST(FileReading, aGivenDescriptorStandsForItsPath) {
    test::TempDir dir;
    const std::filesystem::path model = dir.path() / "model.stl";
    const int given = ::open(dir.write("opened.stl", "solid opened").c_str(), O_RDONLY);
    readFileThroughDescriptor(model, given);  // model.stl does not even exist
    for (int time = 0; time < 2; ++time) {
        const ByteBuffer bytes = readFileContents(model);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "solid opened");
    }
    EXPECT_EQ(readErrorCode(dir.path() / "other.stl"), ENOENT);
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    readFileThroughDescriptor(model, folder);
    EXPECT_EQ(readErrorCode(model), EISDIR);
    readFileThroughDescriptor(model, -1);  // no longer given
    EXPECT_EQ(readErrorCode(model), ENOENT);
    ::close(given);
    ::close(folder);
}

TEST(FileReading, pathExtensionIsTheTextAfterTheLastDotOfTheLastComponent) {
    struct {
        const char* path;
        const char* extension;
    } cases[] = {
        {"part.model.stl", "stl"}, {"/a/b/Model.3MF", "3MF"}, {"noext", ""},
        {"dir.d/noext", ""},       {"trailing.", ""},         {".stl", "stl"},
        {"/x/y.Gltf", "Gltf"},     {"名前.vox", "vox"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pathExtension(c.path), c.extension) << c.path;
}

}  // namespace
}  // namespace kelvo
