#include "settings/Rc4Crypt.h"

#include <gtest/gtest.h>

namespace {

Bytes FromString(std::string_view s) {
    return {s.begin(), s.end()};
}

TEST(Rc4CryptTest, MatchesPublishedVectors) {
    EXPECT_EQ(Rc4Crypt(FromString("Plaintext"), "Key"), FromString("\xBB\xF3\x16\xE8\xD9\x40\xAF\x0A\xD3"));
    EXPECT_EQ(Rc4Crypt(FromString("pedia"), "Wiki"), FromString("\x10\x21\xBF\x04\x20"));
    EXPECT_EQ(Rc4Crypt(FromString("Attack at dawn"), "Secret"),
              FromString("\x45\xA0\x1F\x64\x5F\xC3\x5B\x38\x35\x52\x54\x4B\x9B\xF5"));
    // 40-bit key 0102030405, keystream offset 0 (zero plaintext gives the keystream itself).
    EXPECT_EQ(Rc4Crypt(Bytes(16, 0), "\x01\x02\x03\x04\x05"),
              FromString("\xB2\x39\x63\x05\xF0\x3D\xC0\x27\xCC\xC3\x52\x4A\x0A\x11\x18\xA8"));
}

TEST(Rc4CryptTest, IsItsOwnInverseAndKeepsTheLength) {
    Bytes data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i);
    }
    const Bytes cipher = Rc4Crypt(data, "7403");
    EXPECT_EQ(cipher.size(), data.size());
    EXPECT_NE(cipher, data);
    EXPECT_EQ(Rc4Crypt(cipher, "7403"), data);
    EXPECT_TRUE(Rc4Crypt({}, "7403").empty());
}

TEST(Rc4CryptTest, EmptyKeyUsesTheUnscheduledState) {
    // With S the identity: i=1, j=1, output S[2] = 2; i=2, j=3, swap -> S[2]=3, S[3]=2, output S[5] = 5.
    EXPECT_EQ(Rc4Crypt(Bytes(2, 0), ""), (Bytes{2, 5}));
}

} // namespace
