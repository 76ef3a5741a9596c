// The upgrade's checks before the download and what the user is told when one fails.
#include "core/upgrade/UpgradeRefusal.h"

#include <cctype>

#include "core/upgrade/EcdsaSignature.h"
#include "core/upgrade/UpgradePage.h"

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

const char kManualUpgrade[] = "\n\nYou can manually upgrade your software by visiting ";
const char kManualUpgradeEnd[] = " and clicking Download Evaluation to obtain the latest version.";
const char kNoMakerKeyReason[] =
    "this copy of Vantrel was built without its maker's key, so it cannot check that an upgrade "
    "comes from the maker and installs none";
}  // namespace

std::string TrimmedLine(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool IsHttpsUrl(const std::string& url) {
    static const char kScheme[] = "https://";
    const std::string trimmed = TrimmedLine(url);
    if (trimmed.size() <= sizeof kScheme - 1) return false;
    for (std::size_t i = 0; i < sizeof kScheme - 1; ++i) {
        if (std::tolower(static_cast<unsigned char>(trimmed[i])) != kScheme[i]) return false;
    }
    return true;
}

UpgradeRefusal CheckBeforeDownload(const std::string& pageUrl, const std::string& link,
                                   const std::string& publishedDigest) {
    if (TrimmedLine(link).empty()) return UpgradeRefusal::kNoLink;
    if (!IsHttpsUrl(pageUrl)) return UpgradeRefusal::kPageNotSecure;
    if (!IsHttpsUrl(link)) return UpgradeRefusal::kLinkNotSecure;
    if (!ParseSha256Hex(publishedDigest)) return UpgradeRefusal::kNoDigest;
    return UpgradeRefusal::kNone;
}

UpgradeRefusal CheckSetupVersion(std::optional<SetupVersion> setup, float offered, float running) {
    if (!setup) return UpgradeRefusal::kSetupNotOffered;
    // Read as the page's version is read, so that "1.10" on the page is the resource's 1.10.
    const float version =
        ReadVersionNumber(std::to_string(setup->major) + "." + std::to_string(setup->minor));
    if (version != offered) return UpgradeRefusal::kSetupNotOffered;
    if (!(version > running)) return UpgradeRefusal::kSetupNotNewer;
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
        case UpgradeRefusal::kSignatureMissing:
            reason =
                "the maker's signature of the download (the same address with .sig appended) is "
                "missing from the server, so the download cannot be checked, and it has been "
                "deleted.";
            break;
        case UpgradeRefusal::kSetupNotOffered:
            reason =
                "the downloaded setup program is not the version that the upgrade page offered. "
                "It may be an older setup served in its place, and it has been deleted.";
            break;
        case UpgradeRefusal::kSetupNotNewer:
            reason =
                "the downloaded setup program is not newer than the version that is installed, "
                "and it has been deleted.";
            break;
        case UpgradeRefusal::kNotOurPackage:
            reason = "the downloaded file is not a Vantrel package, and it has been deleted.";
            break;
        case UpgradeRefusal::kNotNewer:
            reason =
                "the downloaded package is not newer than the version that is installed, and it "
                "has been deleted.";
            break;
        case UpgradeRefusal::kNoMakerKey:
            reason = std::string(kNoMakerKeyReason) + ".";
            break;
        case UpgradeRefusal::kNotAuthorized:
            reason =
                "installing it needs an administrator's authorization, which was refused or "
                "cancelled.";
            break;
        case UpgradeRefusal::kInstallFailed:
            reason = "the package manager could not install the new package.";
            break;
    }
    return "The upgrade was not installed: " + reason +
           " Your current version is still installed." + manual;
}

std::string NoMakerKeyOfferMessage(const std::string& downloadPage) {
    std::string text = kNoMakerKeyReason;
    text[0] = 'T';
    return text + "." + kManualUpgrade + downloadPage + kManualUpgradeEnd;
}

std::string PackageInstalledMessage(const std::string& version) {
    return "Vantrel " + version +
           " has been installed. Vantrel will now close; start it again to use the new version.";
}
