#include "platform/text/Uuid.h"

#include "platform/crypto/RandomSource.h"

#include <gtest/gtest.h>

using platform::DeterministicRandomSource;
using platform::RandomSource;
using platform::Uuid;

TEST(UuidTest, TextForms) {
    Uuid::Bytes bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 17);
    const Uuid uuid(bytes);
    EXPECT_EQ(uuid.string(), "00112233-4455-6677-8899-AABBCCDDEEFF");
    EXPECT_EQ(uuid.hex(), "00112233445566778899AABBCCDDEEFF");
    EXPECT_EQ(Uuid::parse("00112233-4455-6677-8899-aabbccddeeff"), uuid);
    for (const char* bad : {"", "00112233445566778899AABBCCDDEEFF", "00112233-4455-6677-8899-AABBCCDDEEF",
                            "00112233-4455-6677-8899_AABBCCDDEEFF", "0011223G-4455-6677-8899-AABBCCDDEEFF"}) {
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    }
}

TEST(UuidTest, RandomIsVersion4FromTheInjectedSource) {
    RandomSource::setCurrent(std::make_shared<DeterministicRandomSource>(99));
    const Uuid a = Uuid::random();
    RandomSource::setCurrent(std::make_shared<DeterministicRandomSource>(99));
    const Uuid b = Uuid::random();
    RandomSource::setCurrent(nullptr);
    EXPECT_EQ(a, b);

    for (const Uuid& u : {a, Uuid::random(), Uuid::random()}) {
        const std::string text = u.string();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << text;
        EXPECT_EQ(Uuid::parse(text), u);
    }
    EXPECT_NE(Uuid::random(), Uuid::random());
}
