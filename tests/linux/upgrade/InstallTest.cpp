// Download and installation against a local https server, with fake uninstaller and installer
// programs that log their arguments, their order and that they ran to their end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "linux/controls/DialogUnits.h"
#include "linux/net/CUpgradeDlg.h"
#include "linux/net/CUpgradeProgressDlg.h"
#include "linux/net/NetConfig.h"
#include "linux/net/UpdateInstaller.h"
#include "linux/upgrade/TestServer.h"
#include "linux/upgrade/UpgradeTestEnv.h"

namespace fs = std::filesystem;

namespace {
const char* const kPagePath = "/vantrel_upgrade_check.html";
const char* const kSetupPath = "/VantrelSetup.exe";

const std::string& SetupProgram() {
    static const std::string bytes = ReadFile(FAKE_SETUP_PROGRAM);
    return bytes;
}

std::string DigestOf(const std::string& bytes) {
    const fs::path scratch =
        fs::temp_directory_path() / ("vantrel-digest-" + std::to_string(getpid()));
    std::ofstream(scratch, std::ios::binary) << bytes;
    std::string digest = Sha256OfFile(scratch.string());
    fs::remove(scratch);
    return digest;
}

std::string DownloadFailedMessage() {
    return std::string(
               "There was a problem while downloading the update for your software. Your "
               "current version is still installed.\n\nYou can manually upgrade your "
               "software by visiting ") +
           VANTREL_DOWNLOAD_PAGE +
           " and clicking Download Evaluation to obtain the latest version.";
}

// A working directory that a death test's child process finds again (it inherits the variable).
class InstallDir {
public:
    InstallDir() {
        if (const char* inherited = std::getenv("VANTREL_INSTALL_TEST_DIR")) {
            m_path = inherited;
        } else {
            std::string pattern = (fs::temp_directory_path() / "vantrel-install-XXXXXX").string();
            if (!mkdtemp(pattern.data())) std::abort();
            m_path = fs::path(pattern) / "Vantrel dir";  // blanks must not matter
            fs::create_directories(m_path);
            setenv("VANTREL_INSTALL_TEST_DIR", m_path.c_str(), 1);
            m_owner = true;
        }
        m_previous = fs::current_path();
        fs::current_path(m_path);
    }
    ~InstallDir() {
        std::error_code error;
        fs::current_path(m_previous, error);
        if (m_owner) {
            unsetenv("VANTREL_INSTALL_TEST_DIR");
            fs::remove_all(m_path.parent_path(), error);
        }
    }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
    fs::path m_previous;
    bool m_owner = false;
};

class Install : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        fs::copy_file(FAKE_SETUP_PROGRAM, "unins000.exe", fs::copy_options::overwrite_existing);
        m_server.Serve(kSetupPath, {200, SetupProgram(), "application/octet-stream"});
    }

    void ServePage(const PageParts& parts) { m_server.Serve(kPagePath, {200, UpgradePage(parts)}); }
    PageParts GoodPage() const {
        return {"1.1", "Better.\n", m_server.Url(kSetupPath), DigestOf(SetupProgram())};
    }

    // Opens the dialog, presses OK and answers Yes to the offer; the boxes shown after it.
    std::vector<RecordedMessage> Upgrade() {
        std::vector<RecordedMessage> after;
        bool offered = false;
        MessageRecorder boxes([&](const RecordedMessage& box) {
            if (box.caption == "A new upgrade is available.") {
                offered = true;
                return QMessageBox::Yes;
            }
            after.push_back(box);
            return QMessageBox::Ok;
        });
        CUpgradeDlg dlg;
        dlg.SetUpgradeInfo("Vantrel", 1.0f, m_server.Url(kPagePath));
        dlg.show();
        FindControl<QPushButton>(&dlg, 1)->click();
        EXPECT_TRUE(offered);
        EXPECT_FALSE(FindControl<QPushButton>(&dlg, 1)->isEnabled());
        return after;
    }

    void ExpectNothingRan() {
        EXPECT_FALSE(fs::exists("upgrade-log.txt")) << ReadFile("upgrade-log.txt");
        EXPECT_FALSE(fs::exists(kDownloadFile));
        EXPECT_TRUE(fs::exists("unins000.exe"));
    }

    InstallDir m_dir;
    TestServer m_server;
};
}  // namespace

TEST_F(Install, FailedDownloadsKeepTheirMessage) {
    struct Case {
        const char* name;
        std::string link;
    };
    m_server.Serve("/error.exe", {404, "<HTML><body>Not here</body></HTML>"});
    m_server.Serve("/empty.exe", {200, "", "application/octet-stream"});
    const Case cases[] = {{"empty link", ""},
                          {"html error page", m_server.Url("/error.exe")},
                          {"empty body", m_server.Url("/empty.exe")},
                          {"server gone", DeadUrl(kSetupPath)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PageParts page = GoodPage();
        page.link = c.link;
        ServePage(page);
        std::ofstream(kDownloadFile)
            << "#!/bin/sh\necho stale >> upgrade-log.txt\n";  // from before
        fs::permissions(kDownloadFile, fs::perms::owner_all);

        const std::vector<RecordedMessage> boxes = Upgrade();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text.toStdString(), DownloadFailedMessage());
        EXPECT_EQ(boxes[0].caption, "Vantrel");
        EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
        ExpectNothingRan();
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
    mismatch.sha256 = DigestOf("something else");
    PageParts noDigest = GoodPage();
    noDigest.sha256.clear();
    PageParts httpLink = GoodPage();
    httpLink.link = "http://127.0.0.1:1/VantrelSetup.exe";
    const Case cases[] = {{"digest mismatch", mismatch, "does not match the SHA-256", true},
                          {"no digest", noDigest, "no valid SHA-256 checksum", false},
                          {"http link", httpLink, "download link does not use a secure", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServePage(c.page);
        const int before = m_server.Hits(kSetupPath);

        const std::vector<RecordedMessage> boxes = Upgrade();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].text.contains(c.reason)) << boxes[0].text.toStdString();
        EXPECT_TRUE(boxes[0].text.contains(VANTREL_DOWNLOAD_PAGE));
        EXPECT_EQ(boxes[0].caption, "Vantrel");
        EXPECT_EQ(m_server.Hits(kSetupPath) - before, c.downloads ? 1 : 0);
        ExpectNothingRan();
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
    dlg.show();
    FindControl<QPushButton>(&dlg, 1)->click();
    ASSERT_EQ(boxes.Messages().size(), 2u);
    EXPECT_TRUE(boxes.Messages()[1].text.contains("upgrade page was not fetched over a secure"));
    EXPECT_EQ(m_server.Hits(kSetupPath), 0);
    ExpectNothingRan();
}

// The child process runs the whole upgrade and must end inside it with status 0.
static void UpgradeAndExpectExit(const std::function<std::vector<RecordedMessage>()>& upgrade) {
    const std::vector<RecordedMessage> boxes = upgrade();
    for (const RecordedMessage& box : boxes)
        fprintf(stderr, "unexpected box: %s\n", qPrintable(box.text));
}

TEST_F(Install, SuccessRunsUninstallerThenInstallerAndEnds) {
    ServePage(GoodPage());
    WriteUpgradeDate("1 1 2000");
    EXPECT_EXIT(UpgradeAndExpectExit([this] { return Upgrade(); }), ::testing::ExitedWithCode(0),
                "");

    const std::string uninstaller = (m_dir.Path() / "unins000.exe").string();
    EXPECT_EQ(ReadFile("upgrade-log.txt"), "unins000.exe start argc=2 [" + uninstaller +
                                               "] [ /SILENT]\n"
                                               "unins000.exe end\n"
                                               "NewUpdate.exe start argc=2 [NewUpdate.exe] []\n"
                                               "NewUpdate.exe end\n");
    EXPECT_FALSE(fs::exists(kDownloadFile));
    EXPECT_EQ(ReadUpgradeDate(), "1 1 2000");
}

// Writes each new text of the status window's line into the programs' log as it is painted, so
// the log tells what was on the screen when the uninstaller started.
class PaintLog : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* label = qobject_cast<QLabel*>(watched);
        if (event->type() == QEvent::Paint && label &&
            qobject_cast<CUpgradeProgressDlg*>(label->window()) && label->text() != m_last) {
            m_last = label->text();
            std::ofstream("upgrade-log.txt", std::ios::app)
                << "painted " << qPrintable(label->window()->windowTitle()) << ": "
                << qPrintable(m_last) << "\n";
        }
        return false;
    }

private:
    QString m_last;
};

TEST_F(Install, RemovingOldVersionIsPaintedBeforeTheUninstallerStarts) {
    ServePage(GoodPage());
    EXPECT_EXIT(
        {
            PaintLog log;
            qApp->installEventFilter(&log);
            UpgradeAndExpectExit([this] { return Upgrade(); });
        },
        ::testing::ExitedWithCode(0), "");
    const std::string log = ReadFile("upgrade-log.txt");
    EXPECT_NE(log.find("painted Upgrading Software: Removing old version ..\nunins000.exe start"),
              std::string::npos)
        << log;
}

TEST_F(Install, AMissingUninstallerStillLetsTheInstallerRun) {
    fs::remove("unins000.exe");
    ServePage(GoodPage());
    EXPECT_EXIT(UpgradeAndExpectExit([this] { return Upgrade(); }), ::testing::ExitedWithCode(0),
                "");
    EXPECT_EQ(ReadFile("upgrade-log.txt"),
              "NewUpdate.exe start argc=2 [NewUpdate.exe] []\nNewUpdate.exe end\n");
    EXPECT_FALSE(fs::exists(kDownloadFile));
}

TEST_F(Install, StatusWindowDuringTheDownload) {
    PageParts page = GoodPage();
    page.sha256 = DigestOf("not it");  // stops after the download, before anything runs
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
    dlg.show();
    FindControl<QPushButton>(&dlg, 1)->click();
    const std::string size = std::to_string(SetupProgram().size());
    EXPECT_EQ(seen, "Upgrading Software|Read " + size + "/" + size + " bytes");
    EXPECT_EQ(dlg.ProgressWindow(), nullptr);
    ExpectNothingRan();
}

TEST_F(Install, APackageUpgradeWithoutTheMakersKeyDownloadsNothing) {
    // No upgrade helper beside this test program holds a key, so none may be installed.
    ServePage(GoodPage());
    std::vector<RecordedMessage> after;
    MessageRecorder boxes([&](const RecordedMessage& box) {
        if (box.caption == "A new upgrade is available.") return QMessageBox::Yes;
        after.push_back(box);
        return QMessageBox::Ok;
    });
    CUpgradeDlg dlg;
    dlg.SetUpgradeInfo("Vantrel", 1.0f, m_server.Url(kPagePath));
    dlg.SetPackageUpgrade(true);
    dlg.show();
    FindControl<QPushButton>(&dlg, 1)->click();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_TRUE(after[0].text.contains("built without its maker's key"))
        << after[0].text.toStdString();
    EXPECT_EQ(after[0].icon, QMessageBox::Warning);
    EXPECT_EQ(m_server.Hits(kSetupPath), 0);
    ExpectNothingRan();
}
