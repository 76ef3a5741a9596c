// The main dialog in a sandbox (its own folder, hosts file and preferences; message boxes hooked):
// controls, drawing the model's state and handing it the presses, Settings up to the block, the
// ways out, About, Help, the splash. What a press decides is tests/model's.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <vector>

#include "core/hosts/HostsText.h"
#include "linux/app/CAboutDlg.h"
#include "linux/app/CSettingsDlg.h"
#include "linux/app/CSplashDlg.h"
#include "linux/app/CVantrelDlg.h"
#include "linux/app/Pictures.h"
#include "linux/controls/CColorLabel.h"
#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"

namespace {

const QByteArray kPlainHosts = "127.0.0.1 localhost\n::1 localhost ip6-localhost\n";

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid() && m_config.isValid());
        ASSERT_TRUE(QFile::copy(
            qEnvironmentVariable("VANTREL_TEST_SOURCE_DIR") + "/res/vantrel_settings.txt",
            m_dir.filePath("vantrel_settings.txt")));
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
        qputenv("VANTREL_HOSTS_FILE", QFile::encodeName(m_dir.filePath("hosts")));
        WriteHosts(kPlainHosts);
        // A browser window on the tester's display must not put a question into the test.
        qunsetenv("DISPLAY");
        SetMessageHook([this](const MessageRequest& request) {
            m_messages.push_back(request);
            return QMessageBox::No;
        });
    }
    void TearDown() override {
        SetMessageHook({});
        QDir::setCurrent(m_oldCwd);
        qunsetenv("VANTREL_HOSTS_FILE");
    }

    void WriteHosts(const QByteArray& bytes) {
        QFile file(m_dir.filePath("hosts"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QByteArray ReadHosts() const {
        QFile file(m_dir.filePath("hosts"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir, m_config;
    QString m_oldCwd;
    std::vector<MessageRequest> m_messages;
};

// The model's state as the dialog draws it.
void ExpectAdsHidden(const CVantrelDlg& dlg, bool hidden) {
    const auto* label = FindControl<CColorLabel>(&dlg, CVantrelDlg::kIdStatusLabel);
    EXPECT_EQ(FindControl<QLabel>(&dlg, CVantrelDlg::kIdStatusIcon)->pixmap().toImage(),
              Pictures::Load(hidden ? Pictures::kAdsHidden : Pictures::kAdsShown).toImage());
    EXPECT_EQ(label->text(), hidden ? "Google Adsense advertisements are hidden on this PC."
                                    : "Google Adsense advertisements are not hidden on this PC.");
    EXPECT_EQ(label->palette().color(QPalette::WindowText),
              hidden ? QColor(0, 125, 0) : QColor(255, 0, 0));
    EXPECT_EQ(FindControl<QLabel>(&dlg, CVantrelDlg::kIdHint)->text(),
              hidden ? "To restore ads, click the Show Adsense button."
                     : "To hide ads, click the Hide Adsense button.");
    EXPECT_EQ(FindControl<QPushButton>(&dlg, CVantrelDlg::kIdToggle)->text(),
              hidden ? "Show Adsense" : "Hide Adsense");
}

// Runs `drive` on the modal dialog that `open` starts.
template <typename Dialog>
void WhenModal(const std::function<void()>& open, const std::function<void(Dialog*)>& drive) {
    bool driven = false;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        drive(dlg);
        driven = true;
    });
    open();
    EXPECT_TRUE(driven);
}

TEST_F(MainDialog, TemplateControlsAndWindowFlags) {
    CVantrelDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Vantrel");
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(dlg.windowType(), Qt::Window);  // not a transient dialog: taskbars list it
    EXPECT_FALSE(dlg.windowIcon().isNull());

    const std::pair<int, const char*> buttons[] = {
        {1, "Hide Adsense"}, {5, "&Settings"}, {3, "Upgrade"}, {4, "&Help"}, {2, "&Exit"}};
    for (const auto& [id, text] : buttons) {
        auto* button = FindControl<QPushButton>(&dlg, id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), text);
        EXPECT_EQ(button->isDefault(), id == 1) << id;
    }
    EXPECT_EQ(FindControl<QGroupBox>(&dlg, CVantrelDlg::kIdSettingsGroup)->title(),
              "Vantrel Settings");

    // Every static text fits its rectangle with the dialog's font: no line is cut off.
    for (const QLabel* label : dlg.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        const int needed =
            label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        EXPECT_LE(needed, label->height()) << label->text().toStdString();
        if (!label->wordWrap()) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << label->text().toStdString();
        }
    }
}

TEST_F(MainDialog, DrawsTheStateAndTheToggleClickEnterAndAcceptPressItAndStayOpen) {
    CVantrelDlg dlg;
    dlg.show();
    ExpectAdsHidden(dlg, false);
    QTest::mouseClick(FindControl<QPushButton>(&dlg, CVantrelDlg::kIdToggle), Qt::LeftButton);
    ExpectAdsHidden(dlg, true);
    EXPECT_TRUE(ReadHosts().contains("# Begin Vantrel\n0.0.0.0 pagead2.googlesyndication"));

    QTest::keyClick(&dlg, Qt::Key_Return);
    ExpectAdsHidden(dlg, false);
    EXPECT_EQ(ReadHosts(), kPlainHosts);
    dlg.accept();
    ExpectAdsHidden(dlg, true);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(m_messages.empty());  // no browser window here, so no question
}

// Settings over the main window; saving changes neither the block nor the status. The new list
// holds no AdSense domain: the toggle writes its block, the status stays red, and a warning over
// the main window says why.
TEST_F(MainDialog, NewSettingsReachTheBlockAtTheNextToggle) {
    const QByteArray hidden = kPlainHosts +
                              "# Begin Vantrel\n0.0.0.0 googlesyndication.com\n"
                              "# End Vantrel";
    WriteHosts(hidden);
    CVantrelDlg main;
    main.show();
    WhenModal<CSettingsDlg>(
        [&] { FindControl<QPushButton>(&main, CVantrelDlg::kIdSettings)->click(); },
        [&](CSettingsDlg* dlg) {
            EXPECT_EQ(dlg->parentWidget(), &main);
            FindControl<QPlainTextEdit>(dlg, 1004)->setPlainText("ads.example\n\nmore.example\n");
            FindControl<QLineEdit>(dlg, 1006)->setText("127.0.0.9");
            FindControl<QPushButton>(dlg, 1)->click();
        });
    EXPECT_EQ(ReadHosts(), hidden);
    ExpectAdsHidden(main, true);

    main.OnOK();
    main.OnOK();
    EXPECT_EQ(ReadHosts(), kPlainHosts +
                               "# Begin Vantrel\n127.0.0.9 ads.example\n::1 ads.example\n"
                               "127.0.0.9 more.example\n::1 more.example\n\n# End Vantrel");
    ExpectAdsHidden(main, false);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, QString::fromUtf8(kNoAdLabelText));
    EXPECT_EQ(m_messages[0].owner, &main);
    EXPECT_EQ(m_messages[0].caption, "Vantrel");
    EXPECT_EQ(m_messages[0].icon, QMessageBox::Warning);
}

TEST_F(MainDialog, EscapeExitAndCloseBoxEndTheDialog) {
    for (const auto& end : std::vector<std::function<void(CVantrelDlg&)>>{
             [](CVantrelDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); },
             [](CVantrelDlg& dlg) {
                 FindControl<QPushButton>(&dlg, CVantrelDlg::kIdExit)->click();
             },
             [](CVantrelDlg& dlg) { EXPECT_TRUE(dlg.close()); }}) {
        CVantrelDlg dlg;
        dlg.show();
        end(dlg);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    EXPECT_EQ(ReadHosts(), kPlainHosts);
}

TEST_F(MainDialog, ContextMenuEndsWithTheAboutEntry) {
    CVantrelDlg dlg;
    dlg.show();
    // A right click anywhere (here on a paragraph) pops up the menu.
    QWidget* paragraph = dlg.findChildren<QLabel*>().at(2);
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            paragraph->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(paragraph, &click);
    auto* popup = dlg.findChild<QMenu*>("systemMenu");
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    popup->close();

    std::unique_ptr<QMenu> menu(dlg.CreateSystemMenu());
    const auto actions = menu->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions.at(actions.size() - 2)->isSeparator());
    EXPECT_EQ(actions.last()->text(), "&About Vantrel...");
    WhenModal<CAboutDlg>(
        [&] { actions.last()->trigger(); },
        [](CAboutDlg* about) {
            EXPECT_EQ(about->windowTitle(), "About Vantrel");
            EXPECT_EQ(about->findChild<QLabel*>("aboutName")->text(), "Vantrel 1.0");
            for (const char* name : {"aboutName", "aboutLine"}) {
                const QLabel* label = about->findChild<QLabel*>(name);
                EXPECT_FALSE(label->text().isEmpty());
                EXPECT_LE(label->sizeHint().width(), label->width()) << name;
            }
            EXPECT_FALSE(about->findChild<QLabel*>("aboutIcon")->pixmap().isNull());
            auto* ok = FindControl<QPushButton>(about, 1);
            EXPECT_TRUE(ok->isDefault());
            QTest::mouseClick(ok, Qt::LeftButton);
            EXPECT_EQ(about->result(), QDialog::Accepted);
        });
    EXPECT_TRUE(dlg.isVisible());
}

// Receives the URLs that the dialog asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls.append(url); }
};

TEST_F(MainDialog, HelpOpensTheHelpFileOnlyWhenItExists) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    CVantrelDlg dlg;
    auto* help = FindControl<QPushButton>(&dlg, CVantrelDlg::kIdHelp);
    help->click();
    EXPECT_TRUE(catcher.urls.isEmpty());

    QFile file(m_dir.filePath("help.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    help->click();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls.first(), QUrl::fromLocalFile(m_dir.filePath("help.txt")));
}

// The splash: above the main dialog, hidden by its timer, a click or a key, never shown again and
// gone with the dialog.
TEST_F(MainDialog, SplashHidesByItsTimerAClickOrAKeyAndNeverComesBack) {
    auto dlg = std::make_unique<CVantrelDlg>();
    dlg->show();
    QPointer<CSplashDlg> splash = dlg->Splash();
    ASSERT_FALSE(splash.isNull());
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(splash->parentWidget(), dlg.get());
    EXPECT_TRUE(splash->windowFlags() & Qt::FramelessWindowHint);

    QTimer* timer = splash->HideTimer();
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_EQ(timer->interval(), 3000);
    QMetaObject::invokeMethod(timer, "timeout");
    EXPECT_FALSE(splash->isVisible());
    EXPECT_TRUE(dlg->isVisible());

    splash->Popup();
    dlg->hide();
    dlg->show();
    EXPECT_FALSE(splash->isVisible());
    dlg.reset();
    EXPECT_TRUE(splash.isNull());

    CVantrelDlg first;
    first.show();
    QTest::mouseClick(first.Splash(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(first.Splash()->isVisible());
    EXPECT_TRUE(first.isVisible());
    CVantrelDlg second;
    second.show();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
    QApplication::sendEvent(second.Splash(), &key);
    EXPECT_FALSE(second.Splash()->isVisible());
}

}  // namespace

#include "MainDialogTest.moc"
