#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Foundation/ReferencedFile.h"
#include "tests/support/TestFiles.h"

namespace kelvo {
namespace {

std::string readAs(const std::filesystem::path& model, std::string_view reference,
                   ReferenceSyntax syntax = ReferenceSyntax::path) {
    ReferencedFile file = readReferencedFile(model, reference, syntax, 1 << 20);
    if (file.outcome != ReferenceOutcome::read) return "<" + file.reason + ">";
    return std::string(file.contents.begin(), file.contents.end());
}

TEST(ReferencedFile, oddNamesResolveBesideTheModel) {
    test::TempDir dir;
    dir.write("model.gltf", "{}");
    dir.write("my texture.png", "spaces");
    dir.write("Bücher €.png", "utf8");
    dir.write("100%.png", "percent");
    std::filesystem::create_directories(dir.path() / "sub" / "deeper");
    dir.write("sub/deeper/in folder.bin", "nested");
    dir.write("shared.mtl", "up");
    dir.write("sub/model.obj", "o");
    const auto model = dir.path() / "model.gltf";
    struct Case {
        const char* reference;
        ReferenceSyntax syntax;
        const char* contents;
    } cases[] = {
        {"my texture.png", ReferenceSyntax::path, "spaces"},
        {"my%20texture.png", ReferenceSyntax::uri, "spaces"},
        {"B%C3%BCcher%20%E2%82%AC.png", ReferenceSyntax::uri, "utf8"},
        {"Bücher €.png", ReferenceSyntax::uri, "utf8"},
        {"100%25.png", ReferenceSyntax::uri, "percent"},
        {"100%.png", ReferenceSyntax::uri, "percent"},  // a lone % stays as written
        {"100%.png", ReferenceSyntax::path, "percent"},
        {"sub\\deeper\\in folder.bin", ReferenceSyntax::path, "nested"},
        {"sub/deeper/in%20folder.bin", ReferenceSyntax::uri, "nested"},
        {"./sub/../sub/deeper/in folder.bin", ReferenceSyntax::path, "nested"},
        {"MY TEXTURE.PNG", ReferenceSyntax::path, "spaces"},  // made on a case-blind system
    };
    for (const Case& c : cases) EXPECT_EQ(readAs(model, c.reference, c.syntax), c.contents) << c.reference;
    // `..` leaves the model's folder: a shared library beside it.
    EXPECT_EQ(readAs(dir.path() / "sub" / "model.obj", "../shared.mtl"), "up");
    EXPECT_EQ(readAs(dir.path() / "sub" / "model.obj", "..\\shared.mtl"), "up");
}

TEST(ReferencedFile, absolutePathsSchemesAndNonFilesAreRefusedMissingIsReported) {
    test::TempDir dir;
    dir.write("model.gltf", "{}");
    dir.write("big.bin", std::string(2 << 20, 'x'));
    ASSERT_EQ(::mkfifo((dir.path() / "pipe.bin").c_str(), 0600), 0);
    std::filesystem::create_directories(dir.path() / "folder");
    const auto model = dir.path() / "model.gltf";
    const std::string absolute = (dir.path() / "big.bin").string();
    struct Case {
        std::string reference;
        ReferenceSyntax syntax;
        ReferenceOutcome outcome;
    } cases[] = {
        {"", ReferenceSyntax::path, ReferenceOutcome::refused},
        {absolute, ReferenceSyntax::path, ReferenceOutcome::refused},
        {"/etc/passwd", ReferenceSyntax::uri, ReferenceOutcome::refused},
        {"%2Fetc%2Fpasswd", ReferenceSyntax::uri, ReferenceOutcome::refused},
        {"\\\\server\\share\\a.png", ReferenceSyntax::path, ReferenceOutcome::refused},
        {"C:\\textures\\a.png", ReferenceSyntax::path, ReferenceOutcome::refused},
        {"file:///etc/passwd", ReferenceSyntax::uri, ReferenceOutcome::refused},
        {"https://example.org/a.bin", ReferenceSyntax::uri, ReferenceOutcome::refused},
        {"a%00b.bin", ReferenceSyntax::uri, ReferenceOutcome::refused},
        {"pipe.bin", ReferenceSyntax::path, ReferenceOutcome::refused},
        {"folder", ReferenceSyntax::path, ReferenceOutcome::refused},
        {"big.bin", ReferenceSyntax::path, ReferenceOutcome::tooLarge},
        {"missing.png", ReferenceSyntax::path, ReferenceOutcome::missing},
        {"nofolder/missing.png", ReferenceSyntax::path, ReferenceOutcome::missing},
        {"big.bin/inside", ReferenceSyntax::path, ReferenceOutcome::missing},
    };
    for (const Case& c : cases) {
        ReferencedFile file = readReferencedFile(model, c.reference, c.syntax, 1 << 20);
        EXPECT_EQ(file.outcome, c.outcome) << c.reference;
        EXPECT_FALSE(file.reason.empty()) << c.reference;
        EXPECT_TRUE(file.contents.empty()) << c.reference;
    }
}

}  // namespace
}  // namespace kelvo
