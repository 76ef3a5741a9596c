// End to end through the main window: Settings, a new list and address, then the toggle off and on.
// The new list holds no AdSense domain, and the user learns that ads stay shown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTimer>

#include "core/hosts/HostsText.h"
#include "linux/app/AppTestSupport.h"
#include "linux/app/CSettingsDlg.h"
#include "linux/app/CVantrelDlg.h"
#include "linux/controls/CXPButton.h"
#include "linux/controls/DialogUnits.h"

namespace {

class SettingsThroughMainDialog : public AppSandbox {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("VANTREL_TEST_SOURCE_DIR"))
            qputenv("VANTREL_TEST_SOURCE_DIR", VANTREL_SOURCE_DIR);
        AppSandbox::SetUp();
        ASSERT_TRUE(m_config.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
    }
    QTemporaryDir m_config;
};

QByteArray BlockOf(const QByteArray& hosts) {
    const qsizetype from = hosts.indexOf("# Begin Vantrel");
    const qsizetype to = hosts.indexOf("# End Vantrel");
    return from < 0 || to < 0 ? QByteArray("<no block>") : hosts.mid(from, to - from);
}

TEST_F(SettingsThroughMainDialog, NewSettingsReachTheBlockAfterToggleOffAndOn) {
    WriteHosts("127.0.0.1 localhost\n");
    CVantrelDlg main;
    main.show();
    auto* toggle = FindControl<CXPButton>(&main, CVantrelDlg::kIdToggle);
    auto* status = FindControl<QWidget>(&main, CVantrelDlg::kIdStatusLabel);
    toggle->click();
    ASSERT_TRUE(BlockOf(ReadHosts()).contains("0.0.0.0 pagead2.googlesyndication.com\n"));
    const QByteArray hostsBefore = ReadHosts();
    const QString statusBefore = status->property("text").toString();

    // The settings dialog runs modally over the main window; drive it from inside its loop.
    bool edited = false;
    QTimer::singleShot(0, &main, [&] {
        auto* dlg = qobject_cast<CSettingsDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->parentWidget(), &main);
        FindControl<QPlainTextEdit>(dlg, 1004)->setPlainText("ads.example\n\nmore-ads.example\n");
        FindControl<QLineEdit>(dlg, 1006)->setText("127.0.0.9");
        FindControl<CXPButton>(dlg, 1)->click();
        edited = true;
    });
    FindControl<CXPButton>(&main, CVantrelDlg::kIdSettings)->click();
    ASSERT_TRUE(edited);

    EXPECT_EQ(ReadHosts(), hostsBefore) << "saving leaves the hosts file alone";
    EXPECT_EQ(status->property("text").toString(), statusBefore);

    toggle->click();
    EXPECT_EQ(BlockOf(ReadHosts()), "<no block>");
    EXPECT_EQ(m_nMessages, 0);
    // The new list holds no AdSense domain: its block is written, the status stays red, and the
    // user is told why.
    QStringList told;
    SetMessageHook([&told](const MessageRequest& request) {
        told << request.text;
        return QMessageBox::Ok;
    });
    toggle->click();
    EXPECT_EQ(BlockOf(ReadHosts()),
              "# Begin Vantrel\n127.0.0.9 ads.example\n::1 ads.example\n127.0.0.9 "
              "more-ads.example\n::1 more-ads.example\n\n");
    EXPECT_EQ(status->property("text").toString(),
              "Google Adsense advertisements are not hidden on this PC.");
    EXPECT_EQ(told, QStringList{QString::fromUtf8(kNoAdLabelText)});
}

}  // namespace
