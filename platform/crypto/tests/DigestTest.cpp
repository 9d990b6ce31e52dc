#include "platform/crypto/Digest.h"

#include <gtest/gtest.h>

using platform::Digest;

TEST(DigestTest, KnownVectors) {
    struct Case {
        std::string input;
        std::string sha1;
        std::string md5;
    };
    const Case cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d", "900150983cd24fb0d6963f7d28e17f72"},
        {"The quick brown fox jumps over the lazy dog", "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12",
         "9e107d9d372bb6826bd81d3542a419d6"},
        {std::string("\x00\xff\x00", 3), "35a7ea9b5563f39b3283cded62110b88f0bbbb05", "b2b237a1bbd9c57b93b952c24e7936a8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(Digest::hex(Digest::sha1(c.input)), c.sha1);
        EXPECT_EQ(Digest::hex(Digest::md5(c.input)), c.md5);
    }
}

TEST(DigestTest, Md5Int64ReadsLastEightBytesBigEndianSigned) {
    // md5("abc") ends d6963f7d28e17f72: the top bit is set, so the value is negative.
    EXPECT_EQ(Digest::md5Int64("abc"), static_cast<int64_t>(0xd6963f7d28e17f72ull));
    EXPECT_LT(Digest::md5Int64("abc"), 0);
    EXPECT_EQ(Digest::md5Int64("The quick brown fox jumps over the lazy dog"), 0x6bd81d3542a419d6ll);
}
