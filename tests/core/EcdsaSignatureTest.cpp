// The DER signature reader: the shapes OpenSSL writes pass, anything looser is refused.
#include <gtest/gtest.h>

#include <string>

#include "core/upgrade/EcdsaSignature.h"

namespace {

std::string Integer(const std::string& bytes) {
    return std::string{'\x02', static_cast<char>(bytes.size())} + bytes;
}
std::string Sequence(const std::string& body) {
    return std::string{'\x30', static_cast<char>(body.size())} + body;
}

}  // namespace

TEST(EcdsaSignature, ReadsShortAndPaddedIntegersRightAligned) {
    const std::string r = std::string(1, '\0') + std::string(32, '\x81');  // top bit: padded
    const std::string s = "\x05\x06";
    const auto raw = DerToRawP256Signature(Sequence(Integer(r) + Integer(s)));
    ASSERT_TRUE(raw);
    for (int i = 0; i < 32; ++i) EXPECT_EQ((*raw)[i], 0x81);
    for (int i = 32; i < 62; ++i) EXPECT_EQ((*raw)[i], 0);
    EXPECT_EQ((*raw)[62], 5);
    EXPECT_EQ((*raw)[63], 6);
}

TEST(EcdsaSignature, RefusesLooseEncodings) {
    const std::string good = Integer("\x01\x02");
    EXPECT_TRUE(DerToRawP256Signature(Sequence(good + good)));
    EXPECT_FALSE(DerToRawP256Signature(Sequence(good + good) + std::string(1, '\0')));
    EXPECT_FALSE(DerToRawP256Signature(Sequence(good)));                    // one integer
    EXPECT_FALSE(DerToRawP256Signature(Sequence(good + good + good)));      // three
    EXPECT_FALSE(DerToRawP256Signature(Sequence(Integer("\x81") + good)));  // negative
    EXPECT_FALSE(DerToRawP256Signature(Sequence(Integer(std::string("\0\x01", 2)) + good)));
    EXPECT_FALSE(DerToRawP256Signature(Sequence(Integer(std::string(1, '\0')) + good)));  // 0
    EXPECT_FALSE(DerToRawP256Signature(Sequence(Integer(std::string(33, '\x01')) + good)));
    EXPECT_FALSE(DerToRawP256Signature(Sequence(Integer("") + good)));
    EXPECT_FALSE(DerToRawP256Signature("\x30\x81\x08" + good + good));  // long-form length
    EXPECT_FALSE(DerToRawP256Signature("\x31\x08" + good + good));      // a SET
    EXPECT_FALSE(DerToRawP256Signature(""));
    std::string cut = Sequence(good + good);
    cut[1] = 9;  // says one byte more than there is
    EXPECT_FALSE(DerToRawP256Signature(cut));
}

TEST(EcdsaSignature, ReadsADigestLineAndNothingElse) {
    const std::string hex(64, 'a');
    ASSERT_TRUE(ParseSha256Hex("  " + hex + "\n"));
    EXPECT_EQ((*ParseSha256Hex(std::string(62, '0') + "Ff"))[31], 0xff);
    EXPECT_FALSE(ParseSha256Hex(hex + "a"));
    EXPECT_FALSE(ParseSha256Hex(hex.substr(1) + "g"));
    EXPECT_FALSE(ParseSha256Hex(hex + "  package.exe"));
}
