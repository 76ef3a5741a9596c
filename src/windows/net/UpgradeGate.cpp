// The upgrade's checks and what the user is told when one fails.
#include "windows/net/UpgradeGate.h"

#include <cctype>

#include "core/EcdsaSignature.h"
#include "windows/net/NetConfig.h"

namespace {
const char kManualUpgrade[] = "\n\nYou can manually upgrade your software by visiting ";
const char kManualUpgradeEnd[] = " and clicking Download Evaluation to obtain the latest version.";
}  // namespace

std::string TrimmedLine(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool IsHttpsUrl(const std::string& url) {
    static const char kScheme[] = "https://";
    if (url.size() <= sizeof kScheme - 1) return false;
    for (std::size_t i = 0; i < sizeof kScheme - 1; ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
    }
    return true;
}

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

UpgradeRefusal CheckBeforeDownload(const std::string& pageUrl, const std::string& link,
                                   const std::string& publishedDigest, bool bHaveKey) {
    if (link.empty()) return UpgradeRefusal::kNoLink;
    if (!IsHttpsUrl(pageUrl)) return UpgradeRefusal::kPageNotSecure;
    if (!IsHttpsUrl(link)) return UpgradeRefusal::kLinkNotSecure;
    if (!ParseSha256Hex(publishedDigest)) return UpgradeRefusal::kNoDigest;
    if (!bHaveKey) return UpgradeRefusal::kNoKey;
    return UpgradeRefusal::kNone;
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

std::string RefusalMessage(UpgradeRefusal refusal, const std::string& downloadPage) {
    const std::string manual = kManualUpgrade + downloadPage + kManualUpgradeEnd;
    std::string reason;
    switch (refusal) {
        case UpgradeRefusal::kNone:
            return {};
        case UpgradeRefusal::kNoLink:
        case UpgradeRefusal::kDownloadFailed:
            return "There was a problem while downloading the update for your software. "
                   "Your current version is still installed." +
                   manual;
        case UpgradeRefusal::kPageNotSecure:
            reason =
                "the upgrade page was not fetched over a secure (https) connection, so it cannot "
                "be trusted.";
            break;
        case UpgradeRefusal::kLinkNotSecure:
            reason =
                "the download link does not use a secure (https) connection, so the download "
                "could be altered on its way.";
            break;
        case UpgradeRefusal::kNoDigest:
            reason =
                "the upgrade page publishes no valid SHA-256 checksum for the download, so the "
                "download cannot be checked.";
            break;
        case UpgradeRefusal::kNoKey:
            reason =
                "this copy of Vantrel holds no key to check the maker's signature with, so no "
                "download can be trusted.";
            break;
        case UpgradeRefusal::kDigestMismatch:
            reason =
                "the downloaded file does not match the SHA-256 checksum published on the "
                "upgrade page. It may have been damaged or altered, and it has been deleted.";
            break;
        case UpgradeRefusal::kBadSignature:
            reason =
                "the downloaded file is not signed by the maker of Vantrel. It may have been "
                "altered, and it has been deleted.";
            break;
    }
    return "The upgrade was not installed: " + reason +
           " Your current version is still installed." + manual;
}
