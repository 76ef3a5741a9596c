// The checks before an upgrade's download and the sentences that explain a refusal.
#include "core/upgrade/UpgradeRefusal.h"

#include <gtest/gtest.h>

#include <set>

namespace {
const std::string kAbcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
}  // namespace

TEST(UpgradeRefusal, RefusesWhatCannotBeTrusted) {
    const std::string page = "https://u.invalid/vantrel_upgrade_check.html";
    const std::string link = "https://u.invalid/setup.exe\n";
    EXPECT_EQ(CheckBeforeDownload(page, link, " " + kAbcDigest + "\n"), UpgradeRefusal::kNone);
    EXPECT_EQ(CheckBeforeDownload(page, "\n", kAbcDigest), UpgradeRefusal::kNoLink);
    EXPECT_EQ(CheckBeforeDownload("http://u.invalid/p.html", link, kAbcDigest),
              UpgradeRefusal::kPageNotSecure);
    EXPECT_EQ(CheckBeforeDownload(page, "http://u.invalid/setup.exe\n", kAbcDigest),
              UpgradeRefusal::kLinkNotSecure);
    EXPECT_EQ(CheckBeforeDownload(page, "u.invalid/https://x\n", kAbcDigest),
              UpgradeRefusal::kLinkNotSecure);
    EXPECT_EQ(CheckBeforeDownload(page, "https://", kAbcDigest), UpgradeRefusal::kLinkNotSecure);
    EXPECT_EQ(CheckBeforeDownload(page, "HTTPS://u.invalid/setup.exe", kAbcDigest),
              UpgradeRefusal::kNone);
    EXPECT_EQ(CheckBeforeDownload(page, link, ""), UpgradeRefusal::kNoDigest);
    EXPECT_EQ(CheckBeforeDownload(page, link, kAbcDigest.substr(1)), UpgradeRefusal::kNoDigest);
    EXPECT_EQ(CheckBeforeDownload(page, link, kAbcDigest.substr(1) + "g"),
              UpgradeRefusal::kNoDigest);
}

TEST(UpgradeRefusal, MessagesNameTheReasonAndTheDownloadPage) {
    const std::string page = "https://www.vantrel.invalid/download.html";
    EXPECT_EQ(RefusalMessage(UpgradeRefusal::kDownloadFailed, page),
              "There was a problem while downloading the update for your software. Your current "
              "version is still installed.\n\nYou can manually upgrade your software by visiting "
              "https://www.vantrel.invalid/download.html and clicking Download Evaluation to "
              "obtain the latest version.");
    EXPECT_EQ(RefusalMessage(UpgradeRefusal::kNoLink, page),
              RefusalMessage(UpgradeRefusal::kDownloadFailed, page));
    EXPECT_NE(RefusalMessage(UpgradeRefusal::kDigestMismatch, page).find("SHA-256"),
              std::string::npos);
    EXPECT_NE(RefusalMessage(UpgradeRefusal::kLinkNotSecure, page).find("https"),
              std::string::npos);
    EXPECT_EQ(RefusalMessage(UpgradeRefusal::kNone, page), "");
}

TEST(UpgradeRefusal, EveryRefusalHasItsOwnReason) {
    const std::string manual =
        " Your current version is still installed.\n\nYou can manually upgrade your software by "
        "visiting p and clicking Download Evaluation to obtain the latest version.";
    std::set<std::string> reasons;
    for (int i = static_cast<int>(UpgradeRefusal::kPageNotSecure);
         i <= static_cast<int>(UpgradeRefusal::kInstallFailed); ++i) {
        const auto refusal = static_cast<UpgradeRefusal>(i);
        if (refusal == UpgradeRefusal::kDownloadFailed) continue;
        const std::string text = RefusalMessage(refusal, "p");
        ASSERT_EQ(text.rfind("The upgrade was not installed: ", 0), 0u) << i;
        ASSERT_GT(text.size(), manual.size());
        EXPECT_EQ(text.substr(text.size() - manual.size()), manual) << i;
        EXPECT_TRUE(reasons.insert(text).second) << i;
    }
}

TEST(UpgradeRefusal, TheSetupMustBeTheOfferedVersionAndNewer) {
    EXPECT_EQ(CheckSetupVersion(SetupVersion{2, 0}, 2.0f, 1.0f), UpgradeRefusal::kNone);
    // An older setup the maker once signed, served for the page's "2.0".
    EXPECT_EQ(CheckSetupVersion(SetupVersion{0, 9}, 2.0f, 1.0f), UpgradeRefusal::kSetupNotOffered);
    EXPECT_EQ(CheckSetupVersion(std::nullopt, 2.0f, 1.0f), UpgradeRefusal::kSetupNotOffered);
    EXPECT_EQ(CheckSetupVersion(SetupVersion{1, 0}, 1.0f, 1.0f), UpgradeRefusal::kSetupNotNewer);
    // Read as the page's numbers are: "1.10" is 1.1.
    EXPECT_EQ(CheckSetupVersion(SetupVersion{1, 10}, 1.1f, 1.0f), UpgradeRefusal::kNone);
}
