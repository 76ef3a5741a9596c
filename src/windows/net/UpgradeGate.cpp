// The maker's key of this build and the checks of the downloaded setup.
#include "windows/net/UpgradeGate.h"

#include <algorithm>

#include "core/EcdsaSignature.h"
#include "windows/net/NetConfig.h"

std::optional<P256PublicPoint> BuiltInUpgradeKey() {
    static const char kHex[] = VANTREL_UPGRADE_KEY_HEX;
    const std::string hex(kHex);
    if (hex.size() != 130) return std::nullopt;
    // Two digest-sized halves and the leading 04, read with the digest reader.
    const auto x = ParseSha256Hex(hex.substr(2, 64));
    const auto y = ParseSha256Hex(hex.substr(66, 64));
    if (hex.substr(0, 2) != "04" || !x || !y) return std::nullopt;
    P256PublicPoint key{};
    key[0] = 0x04;
    std::copy(x->begin(), x->end(), key.begin() + 1);
    std::copy(y->begin(), y->end(), key.begin() + 33);
    return key;
}

UpgradeRefusal CheckDownload(const std::string& path, const std::string& publishedDigest,
                             const std::string& signature, const P256PublicPoint& key) {
    const std::optional<Sha256Digest> digest = Sha256OfFile(path);
    if (!digest) return UpgradeRefusal::kDownloadFailed;
    const auto published = ParseSha256Hex(publishedDigest);
    if (!published || *published != *digest) return UpgradeRefusal::kDigestMismatch;
    if (!VerifyP256Signature(*digest, signature, key)) return UpgradeRefusal::kBadSignature;
    return UpgradeRefusal::kNone;
}
