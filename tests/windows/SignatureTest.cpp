// SHA-256 and the maker's signature through BCrypt, against files and signatures that OpenSSL
// made for this run with throwaway keys (signature_test.sh).
#include <cstdlib>

#include "platform/upgrade/FileSignature.h"
#include "support/WinTestSupport.h"

namespace {

class Signature : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = EnvironmentUtf8(L"VANTREL_SIGNATURE_DIR");
        ASSERT_FALSE(m_dir.empty()) << "run by signature_test.sh";
        // 130 hexadecimal digits, as the build embeds the key.
        const std::string point = Slurp(m_dir + "\\maker.point");
        ASSERT_EQ(point.size(), 2 * m_key.size()) << point;
        for (std::size_t i = 0; i < m_key.size(); ++i)
            m_key[i] = static_cast<std::uint8_t>(std::stoul(point.substr(2 * i, 2), nullptr, 16));
    }
    std::string Path(const char* name) const { return m_dir + "\\" + name; }

    std::string m_dir;
    P256PublicPoint m_key{};
};

std::string Hex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const auto byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

TEST_F(Signature, DigestMatchesOpenSsl) {
    const auto digest = Sha256OfFile(Path("setup.exe"));
    ASSERT_TRUE(digest);
    EXPECT_EQ(Hex(*digest), Slurp(Path("setup.sha256")).substr(0, 64));
    EXPECT_FALSE(Sha256OfFile(Path("no-such-file")));
}

TEST_F(Signature, OnlyTheMakersSignatureOverTheseBytesPasses) {
    const Sha256Digest digest = *Sha256OfFile(Path("setup.exe"));
    EXPECT_TRUE(VerifyP256Signature(digest, Slurp(Path("setup.exe.sig")), m_key));
    // Another key's signature, a changed file, a damaged signature.
    EXPECT_FALSE(VerifyP256Signature(digest, Slurp(Path("other.sig")), m_key));
    EXPECT_FALSE(VerifyP256Signature(*Sha256OfFile(Path("changed.exe")),
                                     Slurp(Path("setup.exe.sig")), m_key));
    std::string damaged = Slurp(Path("setup.exe.sig"));
    damaged[damaged.size() - 1] ^= 1;
    EXPECT_FALSE(VerifyP256Signature(digest, damaged, m_key));
    EXPECT_FALSE(VerifyP256Signature(digest, "", m_key));
    P256PublicPoint bent = m_key;
    bent[64] ^= 1;  // not a point on the curve
    EXPECT_FALSE(VerifyP256Signature(digest, Slurp(Path("setup.exe.sig")), bent));
}

}  // namespace
