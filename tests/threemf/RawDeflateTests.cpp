// Raw DEFLATE decoding into a fixed capacity: whole streams decode, longer ones are cut at
// the capacity, broken ones report 0, and no stream can fill more than the output bound.
#include <gtest/gtest.h>

#include <random>

#include "platform/Compression/RawDeflate.h"
#include "tests/support/ZIPWriter.h"

namespace kelvo {
namespace {

test::Bytes randomText(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    test::Bytes b(n);
    // Few distinct bytes, so the stream mixes literals and matches.
    for (auto& c : b)
        c = static_cast<std::uint8_t>('a' + random() % 6);
    return b;
}

size_t decode(test::Bytes& out, const test::Bytes& in) {
    return decodeRawDeflate(out, ByteSpan(in.data(), in.size()));
}

TEST(RawDeflate, decodesWholeStreamsOfEverySize) {
    for (size_t n : {1u, 100u, 65536u, 1000003u}) {
        test::Bytes content = randomText(n, static_cast<unsigned>(n));
        test::Bytes compressed = test::rawDeflate(content);
        test::Bytes out(n + 100);
        ASSERT_EQ(decode(out, compressed), n);
        out.resize(n);
        EXPECT_EQ(out, content) << n;
    }
}

TEST(RawDeflate, cutsLongerStreamsAtTheCapacity) {
    test::Bytes content = randomText(200000, 7);
    test::Bytes compressed = test::rawDeflate(content);
    for (size_t capacity : {1u, 4096u, 199999u}) {
        test::Bytes out(capacity);
        ASSERT_EQ(decode(out, compressed), capacity);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin())) << capacity;
    }
}

TEST(RawDeflate, brokenStreamsReportNothingWritten) {
    test::Bytes content = randomText(50000, 3);
    test::Bytes compressed = test::rawDeflate(content);
    test::Bytes out(60000);
    test::Bytes truncated(compressed.begin(), compressed.begin() + compressed.size() / 2);
    test::Bytes invalidBlockType = {0x07, 0x00};  // final block of the reserved type 3
    test::Bytes zlibWrapped = {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(decode(out, truncated), 0u);
    EXPECT_EQ(decode(out, invalidBlockType), 0u);
    EXPECT_EQ(decode(out, zlibWrapped), 0u);
    EXPECT_EQ(decode(out, {}), 0u);
    test::Bytes none;
    EXPECT_EQ(decode(none, compressed), 0u);
}

TEST(RawDeflate, noStreamFillsMoreThanTheOutputBound) {
    // Long runs of one byte at the highest level come close to DEFLATE's densest coding.
    test::Bytes zeros(20 << 20, 0);
    test::Bytes compressed = test::rawDeflate(zeros, 9);
    EXPECT_GT(zeros.size() / compressed.size(), 1000u);  // the bound is nearly reached
    EXPECT_LE(zeros.size(), rawDeflateOutputBound(compressed.size()));
    test::Bytes out(rawDeflateOutputBound(compressed.size()));
    EXPECT_EQ(decode(out, compressed), zeros.size());
}

}  // namespace
}  // namespace kelvo
