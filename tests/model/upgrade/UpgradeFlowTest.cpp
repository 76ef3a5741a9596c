// The upgrade's steps without a window: a fake dialog, network and system note in one log what
// the flow asks of them, and in which order.
#include "model/upgrade/UpgradeFlow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "core/upgrade/EcdsaSignature.h"
#include "model/upgrade/FakeUpgradeFetch.h"

namespace {
using Log = std::vector<std::string>;
using Icon = UpgradeMessage::Icon;
using R = UpgradeRefusal;
const std::string kPage = "https://maker.example/vantrel_upgrade_check.html";
const std::string kLink = "https://maker.example/new.exe";
const std::string kDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kDownloadPage = "https://maker.example/download.html";

std::string Page(const std::string& version, const std::string& link = kLink,
                 const std::string& digest = kDigest) {
    return UpgradePageText(version, link, digest);
}

// The dialog (boxes answered Yes unless m_yes is off) and the system, each step logged.
class Fakes : public UpgradeView, public UpgradeInstaller {
public:
    explicit Fakes(Log& log) : m_log(log) {}

    bool ShowMessage(const UpgradeMessage& message) override {
        m_messages.push_back(message);
        return Note("box " + message.caption), message.yesNo && m_yes;
    }
    void ShowProgress(const std::string& title) override { Note("progress " + title); }
    void SetProgressText(const std::string& text) override { Note("status " + text); }
    void PaintProgress(const std::string& text) override { Note("painted " + text); }
    void CloseProgress() override { Note("progress closed"); }
    void ShowCheckState() override {}
    void CloseDialog() override { Note("dialog closed"); }

    bool CanInstall() override { return m_canInstall; }
    UpgradeRefusal Prepare() override { return Note("prepare"), m_prepare; }
    std::string DownloadPath() const override { return (m_folder / "NewUpdate.exe").string(); }
    std::optional<Sha256Bytes> DownloadDigest() override {
        return Note("digest"), ParseSha256Hex(m_fileDigest);
    }
    UpgradeRefusal CheckSigned(const std::string& signature, float offered,
                               float running) override {
        Note("signed " + signature + " " + std::to_string(offered) + " " + std::to_string(running));
        return m_checkSigned;
    }
    std::string InstallStatus() const override { return "Installing"; }
    UpgradeRefusal Install() override { return Note("install"), m_install; }
    std::string InstalledMessage() const override { return m_installed; }
    void Discard() override { Note("discard"); }
    void EndProcess() override { Note("end"); }

    void Note(const std::string& event) { m_log.push_back(event); }

    Log& m_log;
    std::filesystem::path m_folder = std::filesystem::temp_directory_path() /
                                     ("vantrel-flow-" + std::to_string(std::random_device()()));
    std::vector<UpgradeMessage> m_messages;
    bool m_yes = true;
    bool m_canInstall = true;
    std::string m_fileDigest = kDigest;
    UpgradeRefusal m_prepare = R::kNone;
    UpgradeRefusal m_checkSigned = R::kNone;
    UpgradeRefusal m_install = R::kNone;
    std::string m_installed = "Installed.";
};

class Flow : public ::testing::Test {
protected:
    Flow() {
        std::filesystem::create_directories(m_fakes.m_folder);
        m_flow.SetUpgradeInfo("Vantrel", 1.0f, kPage);
        m_flow.SetClock([] { return CalendarDate{2006, 3, 9}; });
        m_net.m_replies[kLink] = {true, "the new setup"};
        m_net.m_replies[kLink + ".sig"] = {true, "SIG"};
    }
    ~Flow() override { std::filesystem::remove_all(m_fakes.m_folder); }

    // Serves `page` and presses OK in a fresh opening; the log of that press.
    const Log& Check(const std::string& page) {
        m_net.m_replies[kPage] = {true, page};
        m_log.clear();
        m_fakes.m_messages.clear();
        m_flow.Open();
        m_flow.Check();
        return m_log;
    }
    const UpgradeMessage& Box(std::size_t i) const { return m_fakes.m_messages.at(i); }
    long Fetches(const std::string& url) const {
        return std::count(m_log.begin(), m_log.end(), "fetch " + url);
    }

    Log m_log;
    FakeUpgradeFetch m_net{m_log};
    Fakes m_fakes{m_log};
    UpgradeFlow m_flow{m_fakes, m_net, m_fakes, kDownloadPage};
};
}  // namespace

TEST_F(Flow, TheCheckAnswersOncePerOpeningUnlessItCouldNotBeMade) {
    // Not knowing is told as such, and OK may be pressed again.
    m_net.m_replies[kPage] = {false, "", 0, EFetchError::Unreachable};
    m_flow.Check();
    m_net.m_replies[kPage] = {true, "<p>Nothing new</p>\n"};
    m_flow.Check();
    EXPECT_EQ(m_log, (Log{"progress ", "fetch " + kPage, "progress closed", "box Vantrel",
                          "progress ", "fetch " + kPage, "progress closed", "box Vantrel"}));
    EXPECT_EQ(Box(0).text,
              "Vantrel could not check for an upgrade: the server could not be "
              "reached.\n\nPlease try again later.");
    EXPECT_EQ(Box(1).text,
              "Vantrel could not check for an upgrade: the upgrade page does not "
              "say which version is current.\n\nPlease try again later.");
    EXPECT_EQ(Box(1).icon, Icon::kWarning);
    EXPECT_EQ(m_flow.UpgradeDateText(), "");

    for (const char* version : {"1.0", "0.9"}) {
        // A press while the page is fetched is ignored.
        m_net.m_duringFetch = [this] { m_flow.Check(); };
        Check(Page(version));
        EXPECT_EQ(Fetches(kPage), 1);
        ASSERT_EQ(m_fakes.m_messages.size(), 1u);
        EXPECT_EQ(Box(0).text, "You have the most recent version v1.00.\nNo upgrade is available.");
        EXPECT_EQ(Box(0).caption, "Vantrel");
        EXPECT_EQ(Box(0).icon, Icon::kNone);
        EXPECT_FALSE(Box(0).yesNo);
        EXPECT_EQ(m_flow.UpgradeDateText(), "3 9 2006");
        // And so is OK until the dialog is opened again.
        m_flow.Check();
        EXPECT_EQ(Fetches(kPage), 1);
    }
}

TEST_F(Flow, NoToTheOfferClosesTheDialogAndABuildThatCannotInstallSaysSo) {
    m_fakes.m_yes = false;
    EXPECT_EQ(Check(Page("1.1")), (Log{"progress ", "fetch " + kPage, "progress closed",
                                       "box A new upgrade is available.", "dialog closed"}));
    const std::string offer =
        "A new upgrade of Vantrel is available for download.\n\nDescription:\n\nFaster.\n\n\n";
    EXPECT_EQ(Box(0).text, offer + "Would you like to download the upgrade now?");
    EXPECT_TRUE(Box(0).yesNo);
    EXPECT_EQ(m_flow.UpgradeDateText(), "3 9 2006");

    m_fakes.m_canInstall = false;
    EXPECT_EQ(Check(Page("1.1")).back(), "box A new upgrade is available.");
    ASSERT_EQ(m_fakes.m_messages.size(), 1u);
    EXPECT_EQ(Box(0).text, offer + NoMakerKeyOfferMessage(kDownloadPage));
    EXPECT_FALSE(Box(0).yesNo);
    EXPECT_EQ(Box(0).icon, Icon::kWarning);
}

TEST_F(Flow, EachRefusalIsToldAndLeavesNoDownload) {
    const std::string sig = kLink + ".sig";
    struct Case {
        std::string page;
        std::function<void()> arrange;
        UpgradeRefusal refusal;
        bool downloaded;
    };
    const Case cases[] = {
        // What cannot be checked is never downloaded.
        {Page("1.1", ""), [] {}, R::kNoLink, false},
        {Page("1.1", "http://maker.example/new.exe"), [] {}, R::kLinkNotSecure, false},
        {Page("1.1", kLink, "0123"), [] {}, R::kNoDigest, false},
        {Page("1.1"), [&] { m_fakes.m_prepare = R::kNoKey; }, R::kNoKey, false},
        {Page("1.1"), [&] { m_fakes.m_prepare = R::kDownloadFailed; }, R::kDownloadFailed, false},
        // What fails a check after the download is told while the status window still stands.
        {Page("1.1"), [&] { m_net.m_replies.erase(kLink); }, R::kDownloadFailed, true},
        {Page("1.1"), [&] { m_fakes.m_fileDigest.clear(); }, R::kDownloadFailed, true},
        {Page("1.1"), [&] { m_fakes.m_fileDigest.assign(64, '0'); }, R::kDigestMismatch, true},
        // The server answered, but with no signature: trying again will not help.
        {Page("1.1"),
         [&] {
             m_net.m_replies[sig] = {false, "", 404};
         },
         R::kSignatureMissing, true},
        {Page("1.1"),
         [&] {
             m_net.m_replies[sig] = {false, "", 200, EFetchError::HtmlPage};
         },
         R::kSignatureMissing, true},
        {Page("1.1"), [&] { m_net.m_replies.erase(sig); }, R::kDownloadFailed, true},
        {Page("1.1"),
         [&] {
             m_net.m_replies[sig] = {true, std::string(257, 's')};
         },
         R::kBadSignature, true},
        {Page("1.1"), [&] { m_fakes.m_checkSigned = R::kSetupNotNewer; }, R::kSetupNotNewer, true},
        {Page("1.1"), [&] { m_fakes.m_install = R::kNotAuthorized; }, R::kNotAuthorized, true},
    };
    const auto replies = m_net.m_replies;
    for (const Case& c : cases) {
        SCOPED_TRACE(RefusalMessage(c.refusal, ""));
        m_net.m_replies = replies;
        m_fakes.m_fileDigest = kDigest;
        m_fakes.m_prepare = m_fakes.m_checkSigned = m_fakes.m_install = R::kNone;
        c.arrange();
        const Log log = Check(c.page);
        ASSERT_EQ(m_fakes.m_messages.size(), 2u);
        EXPECT_EQ(Box(1).text, RefusalMessage(c.refusal, kDownloadPage));
        EXPECT_EQ(Box(1).caption, "Vantrel");
        // A missing link or a failed transfer is no sign of tampering.
        const bool warning = c.refusal != R::kNoLink && c.refusal != R::kDownloadFailed;
        EXPECT_EQ(Box(1).icon, warning ? Icon::kWarning : Icon::kInformation);
        EXPECT_EQ(Fetches(kLink), c.downloaded ? 1 : 0);
        if (c.downloaded) {
            EXPECT_EQ(Log(log.end() - 3, log.end()),
                      (Log{"discard", "box Vantrel", "progress closed"}));
        }
        EXPECT_EQ(std::count(log.begin(), log.end(), "end"), 0);
    }
    // A page that came without https is not believed.
    m_flow.SetUpgradeInfo("Vantrel", 1.0f, "http://maker.example/page.html");
    m_net.m_replies["http://maker.example/page.html"] = {true, Page("1.1")};
    m_flow.Open();
    m_flow.Check();
    EXPECT_EQ(m_fakes.m_messages.back().text, RefusalMessage(R::kPageNotSecure, kDownloadPage));
}

TEST_F(Flow, AnAcceptedUpgradeRunsItsStepsInOrderAndEndsTheProcess) {
    const Log expected = {"progress ",
                          "fetch " + kPage,
                          "progress closed",
                          "box A new upgrade is available.",
                          "prepare",
                          "progress Upgrading Software",
                          "fetch " + kLink,
                          "status Read 13 bytes",
                          "digest",
                          "fetch " + kLink + ".sig",
                          "signed SIG " + std::to_string(1.1f) + " " + std::to_string(1.0f),
                          "painted Installing",
                          "install",
                          "discard",
                          "progress closed",
                          "box Vantrel",
                          "end"};
    // The link as the page has it, with blanks and a line end around it.
    EXPECT_EQ(Check(Page("1.1", " " + kLink + " \r")), expected);
    EXPECT_EQ(Box(1).text, "Installed.");
    EXPECT_EQ(Box(1).icon, Icon::kInformation);

    // Where the new setup speaks for itself, nothing is said.
    m_fakes.m_installed.clear();
    EXPECT_EQ(Check(Page("1.1")).back(), "end");
    EXPECT_EQ(m_fakes.m_messages.size(), 1u);
}
