// Result files appear whole or not at all, and reach a host that reads the output file
// through a descriptor it opened before the thumbnailer ran.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "extensions/KelvoThumbnail/AtomicFile.h"
#include "platform/Foundation/Error.h"
#include "platform/Foundation/FileReading.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

const test::Bytes payload = {0x89, 'P', 'N', 'G', 1, 2, 3};

size_t entries(const std::filesystem::path& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(AtomicFile, newAndNonEmptyFilesAreReplacedWhole) {
    test::TempDir dir;
    for (auto path : {dir.path() / "new.png", dir.write("old.png", std::string("previous"))}) {
        writeFileAtomically(path, test::span(payload));
        EXPECT_EQ(readFileContents(path), ByteBuffer(payload.begin(), payload.end()));
    }
    EXPECT_EQ(entries(dir.path()), 2u) << "no temporary file left";
}

TEST(AtomicFile, anEmptyFileAHostCreatedIsFilledInPlace) {
    test::TempDir dir;
    const auto path = dir.write("tumbler-XXXX.png", std::string());
    const int reader = ::open(path.c_str(), O_RDONLY);
    writeFileAtomically(path, test::span(payload));
    std::uint8_t got[16] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), static_cast<ssize_t>(payload.size()));
    EXPECT_EQ(got[1], 'P');
    ::close(reader);
}

TEST(AtomicFile, failuresThrowThePOSIXErrorAndLeaveNothingBehind) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "taken.png");
    for (auto [name, code] :
         {std::pair{"missing/out.png", ENOENT}, std::pair{"taken.png", EISDIR}}) {
        try {
            writeFileAtomically(dir.path() / name, test::span(payload));
            ADD_FAILURE() << name << ": no error";
        } catch (const Error& error) {
            EXPECT_EQ(error.domain(), "POSIX");
            EXPECT_EQ(error.code(), code) << name;
        }
    }
    EXPECT_EQ(entries(dir.path()), 1u);
}

}  // namespace
}  // namespace kelvo
