// The upgrade check against a local https server, with message boxes answered through the hook.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDate>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "linux/controls/DialogUnits.h"
#include "linux/upgrade/CUpgradeDlg.h"
#include "linux/upgrade/CUpgradeProgressDlg.h"
#include "linux/upgrade/NetConfig.h"
#include "linux/upgrade/NetUi.h"
#include "linux/upgrade/TestServer.h"
#include "linux/upgrade/UpgradeTestEnv.h"

namespace {
const char* const kPagePath = "/vantrel_upgrade_check.html";

class UpgradeCheck : public ::testing::Test {
protected:
    void Open(CUpgradeDlg& dlg, const std::string& url) {
        dlg.SetUpgradeInfo("Vantrel", 1.0f, url);
        dlg.show();
    }
    QPushButton* Ok(CUpgradeDlg& dlg) { return FindControl<QPushButton>(&dlg, 1); }
    QPushButton* Close(CUpgradeDlg& dlg) { return FindControl<QPushButton>(&dlg, 2); }

    TestServer m_server;
};

std::string Today() {
    const QDate today = QDate::currentDate();
    return QStringLiteral("%1 %2 %3")
        .arg(today.month())
        .arg(today.day())
        .arg(today.year())
        .toStdString();
}
}  // namespace

TEST_F(UpgradeCheck, TemplateLayout) {
    CUpgradeDlg dlg;
    const DialogUnits units(dlg.font());
    EXPECT_EQ(dlg.windowTitle(), "Check for Upgrade");
    EXPECT_EQ(dlg.size(), QSize(units.ToPixelsX(160), units.ToPixelsY(58)));
    ASSERT_TRUE(Ok(dlg) && Close(dlg));
    EXPECT_EQ(Ok(dlg)->text(), "&OK");
    EXPECT_TRUE(Ok(dlg)->isDefault());
    EXPECT_EQ(Ok(dlg)->geometry(), units.ToPixels(21, 37, 50, 14));
    EXPECT_EQ(Close(dlg)->text(), "&Close");
    EXPECT_EQ(Close(dlg)->geometry(), units.ToPixels(77, 37, 50, 14));

    CUpgradeProgressDlg progress;
    EXPECT_EQ(progress.windowTitle(), "Checking for any upgrades ..");
    EXPECT_EQ(progress.StatusText(), "Checking for new upgrades of the software ..");
    EXPECT_EQ(FindControl(&progress, 1000)->geometry(), units.ToPixels(12, 7, 144, 10));
    EXPECT_FALSE(progress.isVisible());
}

TEST_F(UpgradeCheck, OffersANewerVersionAndNoClosesTheDialog) {
    m_server.Serve(
        kPagePath,
        {200, UpgradePage({"1.1", "Faster.\nSmaller.\nKinder.\n", "https://127.0.0.1/x.exe", ""})});
    MessageRecorder boxes([](const RecordedMessage&) { return QMessageBox::No; });
    CUpgradeDlg dlg;
    dlg.SetUpgradePrograms(TEST_KEY_DIR "/vantrel-upgrade-helper", "/nonexistent/pkexec");
    Open(dlg, m_server.Url(kPagePath));
    Ok(dlg)->click();

    ASSERT_EQ(boxes.Messages().size(), 1u);
    const RecordedMessage& offer = boxes.Messages()[0];
    EXPECT_EQ(offer.text,
              "A new upgrade of Vantrel is available for download.\n\nDescription:\n\n"
              "Faster.\nSmaller.\nKinder.\n\n\nWould you like to download the upgrade now?");
    EXPECT_EQ(offer.caption, "A new upgrade is available.");
    EXPECT_EQ(offer.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(offer.icon, QMessageBox::NoIcon);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_TRUE(dlg.LastCheck().isValid());
}

TEST_F(UpgradeCheck, ABuildWithoutTheMakersKeySaysSoInPlaceOfTheOffer) {
    m_server.Serve(
        kPagePath,
        {200, UpgradePage({"1.1", "Faster.\n", m_server.Url("/new.deb"), std::string(64, 'a')})});
    MessageRecorder boxes;
    CUpgradeDlg dlg;
    // Were the password ever asked for, this would be run, and fail the test.
    dlg.SetUpgradePrograms(NO_KEY_HELPER, "/bin/false");
    Open(dlg, m_server.Url(kPagePath));
    Ok(dlg)->click();

    ASSERT_EQ(boxes.Messages().size(), 1u);
    const RecordedMessage& box = boxes.Messages()[0];
    EXPECT_EQ(box.text.toStdString(),
              "A new upgrade of Vantrel is available for download.\n\nDescription:\n\nFaster.\n\n\n"
              "This copy of Vantrel was built without its maker's key, so it cannot check that an "
              "upgrade comes from the maker and installs none.\n\nYou can manually upgrade your "
              "software by visiting " VANTREL_DOWNLOAD_PAGE
              " and clicking Download Evaluation to obtain the latest version.");
    EXPECT_EQ(box.caption, "A new upgrade is available.");
    EXPECT_EQ(box.buttons, QMessageBox::Ok);
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(m_server.Hits("/new.deb"), 0);
    // The check was made: the user is done here until the dialog is opened again.
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(Ok(dlg)->isEnabled());
}

TEST_F(UpgradeCheck, SameOrOlderVersionIsTheMostRecentAndOkStaysOffUntilReopened) {
    for (const char* version : {"1.0", "1.00", "0.9", "latest"}) {
        SCOPED_TRACE(version);
        m_server.Serve(kPagePath, {200, UpgradePage({version, "", "", ""})});
        MessageRecorder boxes;
        CUpgradeDlg dlg;
        Open(dlg, m_server.Url(kPagePath));
        Ok(dlg)->click();

        ASSERT_EQ(boxes.Messages().size(), 1u);
        EXPECT_EQ(boxes.Messages()[0].text,
                  "You have the most recent version v1.00.\nNo upgrade is available.");
        EXPECT_EQ(boxes.Messages()[0].caption, "Vantrel");
        EXPECT_EQ(boxes.Messages()[0].buttons, QMessageBox::Ok);
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_FALSE(Ok(dlg)->isEnabled());
        EXPECT_EQ(dlg.focusWidget(), Close(dlg));

        dlg.hide();
        Open(dlg, m_server.Url(kPagePath));
        EXPECT_TRUE(Ok(dlg)->isEnabled());
    }
}

TEST_F(UpgradeCheck, EnterStartsTheCheck) {
    m_server.Serve(kPagePath, {200, UpgradePage({"1.0", "", "", ""})});
    MessageRecorder boxes;
    CUpgradeDlg dlg;
    Open(dlg, m_server.Url(kPagePath));
    QTest::keyClick(&dlg, Qt::Key_Return);
    EXPECT_EQ(m_server.Hits(kPagePath), 1);
    ASSERT_EQ(boxes.Messages().size(), 1u);
    EXPECT_TRUE(boxes.Messages()[0].text.startsWith("You have the most recent version"));
}

TEST_F(UpgradeCheck, SaysWhenTheCheckCouldNotBeMade) {
    m_server.Serve("/error.html", {500, "<!-- UPGRADE Version\n9.0\n"});
    m_server.Serve("/plain.html", {200, "<p>Nothing to see</p>\n"});
    const std::string urls[] = {DeadUrl(kPagePath), m_server.Url("/missing.html"),
                                m_server.Url("/error.html"), m_server.Url("/plain.html")};
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        MessageRecorder boxes;
        CUpgradeDlg dlg;
        Open(dlg, url);
        Ok(dlg)->click();

        ASSERT_EQ(boxes.Messages().size(), 1u);
        const QString text = boxes.Messages()[0].text;
        EXPECT_TRUE(text.startsWith("Vantrel could not check for an upgrade: "))
            << text.toStdString();
        EXPECT_GT(text.size(), 45);
        EXPECT_EQ(boxes.Messages()[0].caption, "Vantrel");
        // Nothing was checked: the user may try again, and no date is recorded.
        EXPECT_TRUE(Ok(dlg)->isEnabled());
        EXPECT_FALSE(dlg.LastCheck().isValid());
    }
}

// A machine whose libcurl cannot be loaded: the fetcher itself says it has no connection, then
// the check says it could not be made. In a child process, which loads its libraries afresh.
TEST_F(UpgradeCheck, WithoutAnInternetLibraryTheFetcherSaysItCannotConnect) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::filesystem::path broken =
        std::filesystem::temp_directory_path() / ("vantrel-nocurl-" + std::to_string(getpid()));
    std::filesystem::create_directories(broken);
    std::ofstream(broken / "libcurl.so.4") << "not a library\n";
    const char* old = std::getenv("LD_LIBRARY_PATH");
    const std::string saved = old ? old : "";
    setenv("LD_LIBRARY_PATH", broken.c_str(), 1);
    m_server.Serve(kPagePath, {200, UpgradePage({"1.1", "", "", ""})});
    EXPECT_EXIT(
        {
            InitNetUi();
            MessageRecorder boxes;
            CUpgradeDlg dlg;
            Open(dlg, m_server.Url(kPagePath));
            Ok(dlg)->click();
            for (const RecordedMessage& box : boxes.Messages())
                std::fprintf(stderr, "[%s] %s\n", qPrintable(box.caption), qPrintable(box.text));
            std::fflush(stderr);
            std::_Exit(m_server.Hits(kPagePath) == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0),
        "\\[Vantrel\\] Cannot open internet connection\\.\n"
        "\\[Vantrel\\] Vantrel could not check for an upgrade");
    if (old)
        setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
    else
        unsetenv("LD_LIBRARY_PATH");
    std::filesystem::remove_all(broken);
}

TEST_F(UpgradeCheck, ASecondPressDuringTheFetchDoesNothing) {
    m_server.Serve(kPagePath, {200, UpgradePage({"1.0", "", "", ""})});
    std::mutex mutex;
    std::condition_variable released;
    bool pressed = false;
    m_server.OnRequest(kPagePath, [&] {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return pressed; });
    });
    MessageRecorder boxes;
    CUpgradeDlg dlg;
    Open(dlg, m_server.Url(kPagePath));
    bool okEnabledDuringFetch = true;
    QTimer::singleShot(0, &dlg, [&] {
        okEnabledDuringFetch = Ok(dlg)->isEnabled();
        EXPECT_TRUE(dlg.IsChecking());
        dlg.accept();  // Enter, or a click that slipped through
        dlg.reject();  // Escape
        std::lock_guard lock(mutex);
        pressed = true;
        released.notify_all();
    });
    Ok(dlg)->click();

    EXPECT_FALSE(okEnabledDuringFetch);
    EXPECT_EQ(m_server.Hits(kPagePath), 1);
    EXPECT_EQ(boxes.Messages().size(), 1u);
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(UpgradeCheck, UpgradeDateOnlyAfterACheck) {
    m_server.Serve(kPagePath, {200, UpgradePage({"1.0", "", "", ""})});
    WriteUpgradeDate("1 1 2000");
    {
        MessageRecorder boxes;
        CUpgradeDlg dlg;
        Open(dlg, m_server.Url(kPagePath));
        dlg.reject();
    }
    EXPECT_EQ(ReadUpgradeDate(), "1 1 2000");
    {
        MessageRecorder boxes;
        CUpgradeDlg dlg;
        Open(dlg, m_server.Url(kPagePath));
        Ok(dlg)->click();
        EXPECT_EQ(ReadUpgradeDate(), "1 1 2000");  // written when the dialog goes, not before
    }
    EXPECT_EQ(ReadUpgradeDate(), Today());
}

TEST_F(UpgradeCheck, OnlyTheBuildChoosesThePageAndTheTrustedAuthorities) {
    const std::string built = CUpgradeDlg::UpgradePageUrl();
    EXPECT_EQ(built.rfind("https://", 0), 0u);
    EXPECT_NE(built.find(".invalid/vantrel_upgrade_check.html"), std::string::npos);
    // Variables that once chose them change nothing.
    setenv("VANTREL_UPGRADE_URL", "https://127.0.0.1:1/p.html", 1);
    EXPECT_EQ(CUpgradeDlg::UpgradePageUrl(), built);
    unsetenv("VANTREL_UPGRADE_URL");
    m_server.Serve(kPagePath, {200, UpgradePage({"1.1", "", "", ""})});
    CHttpFetcher trusting;
    trusting.Fetch(m_server.Url(kPagePath), std::string());
    EXPECT_TRUE(trusting.LastFetchSucceeded());
    CHttpFetcher::SetDefaultCaFile({});
    setenv("VANTREL_CA_FILE", Certificates().caFile.c_str(), 1);
    CHttpFetcher fetcher;
    fetcher.Fetch(m_server.Url(kPagePath), std::string());
    unsetenv("VANTREL_CA_FILE");
    CHttpFetcher::SetDefaultCaFile(Certificates().caFile);
    EXPECT_FALSE(fetcher.LastFetchSucceeded());
}
