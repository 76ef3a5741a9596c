// Download and installation against a local https server: packages built and signed here, the
// upgrade helper built with the throwaway maker's key, and a pkexec of the test's own that only
// records whether, and with what, it was asked for the administrator's password.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "linux/controls/DialogUnits.h"
#include "linux/upgrade/CUpgradeDlg.h"
#include "linux/upgrade/CUpgradeProgressDlg.h"
#include "linux/upgrade/NetConfig.h"
#include "linux/upgrade/ScratchDir.h"
#include "linux/upgrade/TestPackages.h"
#include "linux/upgrade/TestServer.h"
#include "linux/upgrade/UpgradeTestEnv.h"
#include "platform/upgrade/PackageCheck_unix.h"

namespace fs = std::filesystem;

namespace {
const char* const kPagePath = "/vantrel_upgrade_check.html";
const char* const kPackagePath = "/vantrel_new.deb";
const std::string kHelper = TEST_KEY_DIR "/vantrel-upgrade-helper";
const std::string kMakerKey = TEST_KEY_DIR "/maker.key";

std::string DigestOf(const std::string& path) {
    return Sha256HexOfFile(path);
}

class Install : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanMakeTestPackages()) GTEST_SKIP() << "dpkg-deb or openssl is not installed";
        // The program's own scratch folders go here, where the test can see what is left.
        const char* tmp = std::getenv("TMPDIR");
        m_oldTmp = tmp ? tmp : "";
        m_hadTmp = tmp != nullptr;
        fs::create_directories(m_tmp);
        setenv("TMPDIR", m_tmp.c_str(), 1);
        std::ofstream(m_pkexec) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >'" << m_asked.string()
                                << "'\ncat >'" << m_input.string() << "'\nexit 126\n";
        fs::permissions(m_pkexec, fs::perms::owner_all);
        m_newer = std::string(VANTREL_VERSION) + ".1";
        Serve(BuildPackage(m_dir.Path(), "vantrel", m_newer), kMakerKey);
    }

    void TearDown() override {
        if (m_hadTmp)
            setenv("TMPDIR", m_oldTmp.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

    // Serves `package` with the page's digest of it and, unless no key is given, its signature.
    void Serve(const std::string& package, const std::string& key) {
        m_package = package;
        m_server.Serve(kPackagePath, {200, ReadFile(package), "application/octet-stream"});
        if (key.empty()) {
            m_server.Serve(std::string(kPackagePath) + ".sig", {404, "<HTML>Not here</HTML>"});
        } else {
            m_signature = Sign(package, key);
            m_server.Serve(std::string(kPackagePath) + ".sig",
                           {200, m_signature, "application/octet-stream"});
        }
        ServePage(GoodPage());
    }

    void ServePage(const PageParts& parts) { m_server.Serve(kPagePath, {200, UpgradePage(parts)}); }
    PageParts GoodPage() const {
        return {"1.1", "Better.\n", m_server.Url(kPackagePath), DigestOf(m_package)};
    }

    // Opens the dialog, presses OK and answers Yes to the offer; the boxes shown after it.
    std::vector<RecordedMessage> Upgrade(const std::string& helper = kHelper) {
        std::vector<RecordedMessage> after;
        bool offered = false;
        MessageRecorder boxes([&](const RecordedMessage& box) {
            if (box.caption == "A new upgrade is available.") {
                offered = true;
                return box.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
            }
            after.push_back(box);
            return QMessageBox::Ok;
        });
        CUpgradeDlg dlg;
        dlg.SetUpgradeInfo("Vantrel", 1.0f, m_server.Url(kPagePath));
        dlg.SetUpgradePrograms(helper, m_pkexec.string());
        dlg.show();
        FindControl<QPushButton>(&dlg, 1)->click();
        EXPECT_TRUE(offered);
        EXPECT_FALSE(FindControl<QPushButton>(&dlg, 1)->isEnabled());
        return after;
    }

    // Nobody was asked for a password, and no download is left.
    void ExpectNoPasswordAsked() {
        EXPECT_FALSE(fs::exists(m_asked)) << ReadFile(m_asked.string());
        EXPECT_TRUE(fs::is_empty(m_tmp));
    }

    static std::string Message(UpgradeRefusal refusal) {
        return RefusalMessage(refusal, VANTREL_DOWNLOAD_PAGE);
    }

    ScratchDir m_dir;
    fs::path m_tmp = m_dir.Path() / "tmp";
    fs::path m_pkexec = m_dir.Path() / "pkexec";
    fs::path m_asked = m_dir.Path() / "pkexec-asked";
    fs::path m_input = m_dir.Path() / "pkexec-input";
    std::string m_oldTmp;
    bool m_hadTmp = false;
    std::string m_newer;
    std::string m_package;
    std::string m_signature;
    TestServer m_server;
};
}  // namespace

TEST_F(Install, AGoodPackageGoesToTheHelperBehindThePassword) {
    // The stand-in pkexec answers as a cancelled password prompt does.
    const std::vector<RecordedMessage> boxes = Upgrade();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(), Message(UpgradeRefusal::kNotAuthorized));
    EXPECT_EQ(ReadFile(m_asked.string()), kHelper + "\nvantrel\n" + m_newer + "\n");
    EXPECT_EQ(ReadFile(m_input.string()),
              UpgradeHelperInputHead(m_signature) + ReadFile(m_package));
    EXPECT_TRUE(fs::is_empty(m_tmp));
}

TEST_F(Install, APackageTheHelperWouldRefuseIsRefusedBeforeThePassword) {
    struct Case {
        const char* name;
        std::string package;
        std::string key;
        UpgradeRefusal refusal;
    };
    const std::string otherKey = NewKey(m_dir.Path(), "other");
    const std::string good = m_package;
    // Changed after signing: the page's digest is the changed file's, the signature is not.
    const std::string changed = (m_dir.Path() / "changed.deb").string();
    fs::copy_file(good, changed);
    const std::string changedSignature = Sign(changed, kMakerKey);
    std::ofstream(changed, std::ios::binary | std::ios::app) << '\n';
    const Case cases[] = {
        {"signed by another key", good, otherKey, UpgradeRefusal::kBadSignature},
        {"changed after signing", changed, "", UpgradeRefusal::kBadSignature},
        {"no signature beside it", good, "", UpgradeRefusal::kSignatureMissing},
        {"an older version", BuildPackage(m_dir.Path(), "vantrel", "0.0.1"), kMakerKey,
         UpgradeRefusal::kNotNewer},
        {"another package", BuildPackage(m_dir.Path(), "vantrel-extra", m_newer), kMakerKey,
         UpgradeRefusal::kNotOurPackage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Serve(c.package, c.key);
        if (c.package == changed)
            m_server.Serve(std::string(kPackagePath) + ".sig",
                           {200, changedSignature, "application/octet-stream"});
        const std::vector<RecordedMessage> boxes = Upgrade();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text.toStdString(), Message(c.refusal));
        EXPECT_EQ(boxes[0].caption, "Vantrel");
        EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
        ExpectNoPasswordAsked();
    }
}

TEST_F(Install, FailedDownloadsKeepTheirMessage) {
    struct Case {
        const char* name;
        std::string link;
    };
    m_server.Serve("/error.deb", {404, "<HTML><body>Not here</body></HTML>"});
    m_server.Serve("/empty.deb", {200, "", "application/octet-stream"});
    const Case cases[] = {{"empty link", ""},
                          {"html error page", m_server.Url("/error.deb")},
                          {"empty body", m_server.Url("/empty.deb")},
                          {"server gone", DeadUrl(kPackagePath)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PageParts page = GoodPage();
        page.link = c.link;
        ServePage(page);

        const std::vector<RecordedMessage> boxes = Upgrade();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text.toStdString(),
                  "There was a problem while downloading the update for your software. Your "
                  "current version is still installed.\n\nYou can manually upgrade your "
                  "software by visiting " VANTREL_DOWNLOAD_PAGE
                  " and clicking Download Evaluation to obtain the latest version.");
        EXPECT_EQ(boxes[0].caption, "Vantrel");
        EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
        ExpectNoPasswordAsked();
    }
}

TEST_F(Install, RefusesWhatItCannotVerify) {
    struct Case {
        const char* name;
        PageParts page;
        const char* reason;
        bool downloads;
    };
    PageParts mismatch = GoodPage();
    mismatch.sha256 = std::string(64, '0');
    PageParts noDigest = GoodPage();
    noDigest.sha256.clear();
    PageParts httpLink = GoodPage();
    httpLink.link = "http://127.0.0.1:1/vantrel_new.deb";
    const Case cases[] = {{"digest mismatch", mismatch, "does not match the SHA-256", true},
                          {"no digest", noDigest, "no valid SHA-256 checksum", false},
                          {"http link", httpLink, "download link does not use a secure", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServePage(c.page);
        const int before = m_server.Hits(kPackagePath);

        const std::vector<RecordedMessage> boxes = Upgrade();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].text.contains(c.reason)) << boxes[0].text.toStdString();
        EXPECT_TRUE(boxes[0].text.contains(VANTREL_DOWNLOAD_PAGE));
        EXPECT_EQ(boxes[0].caption, "Vantrel");
        EXPECT_EQ(m_server.Hits(kPackagePath) - before, c.downloads ? 1 : 0);
        ExpectNoPasswordAsked();
    }
}

TEST_F(Install, APageFetchedOverHttpIsNotTrusted) {
    TestServer plain(false);
    plain.Serve(kPagePath, {200, UpgradePage(GoodPage())});
    MessageRecorder boxes([](const RecordedMessage& box) {
        return box.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    CUpgradeDlg dlg;
    dlg.SetUpgradeInfo("Vantrel", 1.0f, plain.Url(kPagePath));
    dlg.SetUpgradePrograms(kHelper, m_pkexec.string());
    dlg.show();
    FindControl<QPushButton>(&dlg, 1)->click();
    ASSERT_EQ(boxes.Messages().size(), 2u);
    EXPECT_TRUE(boxes.Messages()[1].text.contains("upgrade page was not fetched over a secure"));
    EXPECT_EQ(m_server.Hits(kPackagePath), 0);
    ExpectNoPasswordAsked();
}

TEST_F(Install, StatusWindowDuringTheDownload) {
    PageParts page = GoodPage();
    page.sha256 = std::string(64, '0');  // stops after the download, before anything runs
    ServePage(page);
    std::string seen;
    CUpgradeDlg dlg;
    // The refusal is shown while the status window still stands: look at it then.
    MessageRecorder boxes([&](const RecordedMessage& box) {
        if (box.buttons.testFlag(QMessageBox::Yes)) return QMessageBox::Yes;
        if (CUpgradeProgressDlg* progress = dlg.ProgressWindow())
            seen = (progress->windowTitle() + "|" + progress->StatusText()).toStdString();
        return QMessageBox::Ok;
    });
    dlg.SetUpgradeInfo("Vantrel", 1.0f, m_server.Url(kPagePath));
    dlg.SetUpgradePrograms(kHelper, m_pkexec.string());
    dlg.show();
    FindControl<QPushButton>(&dlg, 1)->click();
    const std::string size = std::to_string(ReadFile(m_package).size());
    EXPECT_EQ(seen, "Upgrading Software|Read " + size + "/" + size + " bytes");
    EXPECT_EQ(dlg.ProgressWindow(), nullptr);
    ExpectNoPasswordAsked();
}
