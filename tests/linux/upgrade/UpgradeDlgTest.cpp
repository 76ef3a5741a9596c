// What the Linux upgrade dialog adds to the flow (buttons, status window, the date it records)
// and the package installer with the real helper and a recording pkexec; the network is a fake.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDate>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"
#include "linux/upgrade/CUpgradeDlg.h"
#include "linux/upgrade/CUpgradeProgressDlg.h"
#include "linux/upgrade/NetConfig.h"
#include "model/upgrade/FakeUpgradeFetch.h"
#include "platform/prefs/CRegistryStore.h"

namespace fs = std::filesystem;

namespace {
const char kPage[] = "https://maker.example/vantrel_upgrade_check.html";
const char kLink[] = "https://maker.example/vantrel.deb";
const std::string kHelper = TEST_KEY_DIR "/vantrel-upgrade-helper";

// Runs before main, so before QSettings first looks at the configuration location.
const struct PrivateConfig {
    PrivateConfig() {
        std::string folder = (fs::temp_directory_path() / "vantrel-config-XXXXXX").string();
        if (!mkdtemp(folder.data())) std::abort();
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    }
    ~PrivateConfig() { fs::remove_all(std::getenv("XDG_CONFIG_HOME")); }
} g_config;

std::string UpgradeDate() {
    return CRegistryStore().ReadValue("Vantrel", "UpgradeDate", HKEY_CURRENT_USER, "Software");
}

class UpgradeDlg : public ::testing::Test {
protected:
    UpgradeDlg() {
        m_hook = SetMessageHook([this](const MessageRequest& box) {
            m_boxes.push_back(box);
            if (m_onBox) m_onBox(box);
            return box.buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : m_answer;
        });
    }
    ~UpgradeDlg() override { SetMessageHook(m_hook); }

    void Open(CUpgradeDlg& dlg, const std::string& page) {
        m_net.m_replies[kPage] = {true, page};
        dlg.SetFetch(m_net);
        dlg.SetUpgradePrograms(kHelper, "/bin/false");
        dlg.SetUpgradeInfo("Vantrel", 1.0f, kPage);
        dlg.show();
    }
    QPushButton* Button(CUpgradeDlg& dlg, int id) { return FindControl<QPushButton>(&dlg, id); }

    std::vector<std::string> m_log;
    FakeUpgradeFetch m_net{m_log};
    std::vector<MessageRequest> m_boxes;
    QMessageBox::StandardButton m_answer = QMessageBox::No;
    std::function<void(const MessageRequest&)> m_onBox;
    MessageHook m_hook;
};
}  // namespace

TEST_F(UpgradeDlg, ButtonsFollowTheCheckAndItsDateIsRecordedWhenTheDialogGoes) {
    CRegistryStore().WriteValue("Vantrel", "UpgradeDate", "1 1 2000", HKEY_CURRENT_USER);
    {
        CUpgradeDlg dlg;
        Open(dlg, UpgradePageText("1.0", "", ""));
        bool offDuringFetch = false;
        m_net.m_duringFetch = [&] {
            offDuringFetch = !Button(dlg, 1)->isEnabled() && !Button(dlg, 2)->isEnabled();
            dlg.reject();  // Escape
        };
        QTest::keyClick(&dlg, Qt::Key_Return);
        EXPECT_TRUE(offDuringFetch);
        // What the box says is UpgradeFlowTest's; here, that it is a box with OK.
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].buttons, QMessageBox::Ok);
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_FALSE(Button(dlg, 1)->isEnabled());
        EXPECT_EQ(dlg.focusWidget(), Button(dlg, 2));
        EXPECT_EQ(UpgradeDate(), "1 1 2000");

        dlg.hide();
        dlg.show();
        EXPECT_TRUE(Button(dlg, 1)->isEnabled());
    }
    const QDate today = QDate::currentDate();
    EXPECT_EQ(UpgradeDate(), QStringLiteral("%1 %2 %3")
                                 .arg(today.month())
                                 .arg(today.day())
                                 .arg(today.year())
                                 .toStdString());
}

TEST_F(UpgradeDlg, NoClosesTheDialogAndYesShowsTheDownloadInTheStatusWindow) {
    CUpgradeDlg dlg;
    Open(dlg, UpgradePageText("1.1", kLink, std::string(64, '0')));
    Button(dlg, 1)->click();
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);

    // Yes: the download does not match the page's digest, which is told while the status
    // window still shows how far the download came.
    m_answer = QMessageBox::Yes;
    m_net.m_replies[kLink] = {true, "not the package"};
    std::string seen;
    m_onBox = [&](const MessageRequest&) {
        if (CUpgradeProgressDlg* progress = dlg.ProgressWindow())
            seen = (progress->windowTitle() + "|" + progress->StatusText()).toStdString();
    };
    Open(dlg, UpgradePageText("1.1", kLink, std::string(64, '0')));
    Button(dlg, 1)->click();
    ASSERT_EQ(m_boxes.size(), 3u);
    EXPECT_EQ(m_boxes[2].icon, QMessageBox::Warning);  // the model's warning, as Qt's icon
    EXPECT_EQ(seen, "Upgrading Software|Read 15 bytes");
    EXPECT_EQ(dlg.ProgressWindow(), nullptr);
    EXPECT_TRUE(dlg.isVisible());
}

// A good package reaching the helper behind the password: e2e_upgrade.sh. A helper built without
// the maker's key: nothing can be installed, and nobody is asked.
TEST(PackageInstaller, AHelperWithoutTheMakersKeyInstallsNothing) {
    PackageInstaller installer;
    installer.SetPrograms(NO_KEY_HELPER, "/bin/false");
    EXPECT_FALSE(installer.CanInstall());
    EXPECT_EQ(installer.Prepare(), UpgradeRefusal::kNoMakerKey);
}
