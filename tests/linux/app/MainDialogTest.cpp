// The main dialog against a sandbox hosts file: what it shows, what the toggle writes, how it
// ends, the About entry and the Help button.
#include <unistd.h>

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <vector>

#include "AppTestSupport.h"
#include "linux/app/CAboutDlg.h"
#include "linux/app/CVantrelDlg.h"
#include "linux/app/Pictures.h"
#include "linux/controls/CColorLabel.h"
#include "linux/controls/DialogUnits.h"

namespace {
const QByteArray kPlainHosts = "127.0.0.1 localhost\n::1 localhost ip6-localhost\n";
const QByteArray kHostsWithBlock = kPlainHosts +
                                   "# Begin Vantrel\n0.0.0.0 pagead2.googlesyndication.com\n"
                                   "0.0.0.0 tpc.googlesyndication.com\n\n# End Vantrel";
const QString kNotHidden = "Google Adsense advertisements are not hidden on this PC.";
const QString kHidden = "Google Adsense advertisements are hidden on this PC.";

struct Status {
    QImage icon;
    QString text;
    QColor color;
    QString hint;
    QString toggle;
};

Status StatusOf(const CVantrelDlg& dlg) {
    const auto* label = FindControl<CColorLabel>(&dlg, CVantrelDlg::kIdStatusLabel);
    return {FindControl<QLabel>(&dlg, CVantrelDlg::kIdStatusIcon)->pixmap().toImage(),
            label->text(), label->palette().color(QPalette::WindowText),
            FindControl<QLabel>(&dlg, CVantrelDlg::kIdHint)->text(),
            FindControl<QPushButton>(&dlg, CVantrelDlg::kIdToggle)->text()};
}

void ExpectAdsShown(const CVantrelDlg& dlg) {
    const Status s = StatusOf(dlg);
    EXPECT_EQ(s.icon, Pictures::Load(Pictures::kAdsShown).toImage());
    EXPECT_EQ(s.text, kNotHidden);
    EXPECT_EQ(s.color, QColor(255, 0, 0));
    EXPECT_EQ(s.hint, "To hide ads, click the Hide Adsense button.");
    EXPECT_EQ(s.toggle, "Hide Adsense");
}

void ExpectAdsHidden(const CVantrelDlg& dlg) {
    const Status s = StatusOf(dlg);
    EXPECT_EQ(s.icon, Pictures::Load(Pictures::kAdsHidden).toImage());
    EXPECT_EQ(s.text, kHidden);
    EXPECT_EQ(s.color, QColor(0, 125, 0));
    EXPECT_EQ(s.hint, "To restore ads, click the Show Adsense button.");
    EXPECT_EQ(s.toggle, "Show Adsense");
}

void ClickToggle(CVantrelDlg& dlg) {
    QTest::mouseClick(FindControl<QPushButton>(&dlg, CVantrelDlg::kIdToggle), Qt::LeftButton);
}
}  // namespace

using MainDialog = AppSandbox;

TEST_F(MainDialog, TemplateControlsAndWindowFlags) {
    WriteHosts(kPlainHosts);
    CVantrelDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Vantrel");
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(dlg.parentWidget(), nullptr);
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
    const auto labels = dlg.findChildren<QLabel*>();
    for (const QLabel* label : labels) {
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

TEST_F(MainDialog, StartStatesFollowTheHostsFile) {
    WriteHosts(kPlainHosts);
    {
        CVantrelDlg dlg;
        ExpectAdsShown(dlg);
    }
    WriteHosts(kHostsWithBlock);
    {
        CVantrelDlg dlg;
        ExpectAdsHidden(dlg);
    }
    // The ad-domain label in a line of the user's own also counts as hidden, and the toggle
    // then finds no block of ours to cut out: the file and the status stay as they are.
    const QByteArray own = kPlainHosts + "0.0.0.0 pagead2.GoogleSyndication.com # mine\n";
    WriteHosts(own);
    CVantrelDlg dlg;
    ExpectAdsHidden(dlg);
    ClickToggle(dlg);
    ExpectAdsHidden(dlg);
    EXPECT_EQ(ReadHosts(), own);
}

TEST_F(MainDialog, ToggleAddsAndRemovesTheBlockAndStaysOpen) {
    WriteHosts(kPlainHosts);
    CVantrelDlg dlg;
    dlg.show();
    ClickToggle(dlg);
    ExpectAdsHidden(dlg);
    const QByteArray added = ReadHosts();
    EXPECT_TRUE(
        added.startsWith(kPlainHosts + "# Begin Vantrel\n0.0.0.0 pagead2.googlesyndication"))
        << added.toStdString();
    EXPECT_TRUE(added.endsWith("\n# End Vantrel")) << added.toStdString();

    // Enter is the toggle too, and it does not close the dialog.
    QTest::keyClick(&dlg, Qt::Key_Return);
    ExpectAdsShown(dlg);
    EXPECT_EQ(ReadHosts(), kPlainHosts);
    dlg.accept();
    ExpectAdsHidden(dlg);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(m_nMessages, 0);  // no browser window here, so no question
}

TEST_F(MainDialog, APressDoesWhatItsCaptionSaidWhateverAnotherWindowDidMeanwhile) {
    WriteHosts(kPlainHosts);
    CVantrelDlg first;
    CVantrelDlg second;
    first.show();
    second.show();
    ClickToggle(first);
    const QByteArray hidden = ReadHosts();
    // The second window still says "Hide Adsense": its press keeps the ads hidden.
    ClickToggle(second);
    ExpectAdsHidden(second);
    EXPECT_EQ(ReadHosts(), hidden);
    ClickToggle(first);
    ClickToggle(second);
    ExpectAdsShown(second);
    EXPECT_EQ(ReadHosts(), kPlainHosts);
    EXPECT_EQ(m_nMessages, 0);
}

TEST_F(MainDialog, ARefusedListIsExplainedInOneMessageWhileTheStatusShowsTheFile) {
    WriteHosts(kPlainHosts);
    {
        QFile settings(QStringLiteral("vantrel_settings.txt"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
        settings.write(
            "0.0.0.0 pagead2.googlesyndication.com\n203.0.113.66 login.mybank.example\n");
    }
    std::vector<MessageRequest> messages;
    SetMessageHook([&messages](const MessageRequest& request) {
        messages.push_back(request);
        return QMessageBox::No;
    });
    CVantrelDlg dlg;
    dlg.show();
    ClickToggle(dlg);
    ExpectAdsShown(dlg);
    EXPECT_EQ(ReadHosts(), kPlainHosts);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(
        "line 2 of vantrel_settings.txt, \"203.0.113.66 login.mybank.example\""))
        << messages[0].text.toStdString();
    EXPECT_EQ(messages[0].caption, "Vantrel");
    EXPECT_EQ(messages[0].owner, &dlg);
    EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
}

TEST_F(MainDialog, UnwritableHostsFileLeavesTheStatus) {
    if (geteuid() == 0) {
        // Root writes through file modes; a kernel file that nobody can write stands in.
        UseHostsFile("/proc/version");
        CVantrelDlg dlg;
        ExpectAdsShown(dlg);
        ClickToggle(dlg);
        ExpectAdsShown(dlg);
        return;
    }
    WriteHosts(kHostsWithBlock);
    QFile::setPermissions(m_hostsPath, QFile::ReadOwner);
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    CVantrelDlg dlg;
    ExpectAdsHidden(dlg);
    ClickToggle(dlg);
    ExpectAdsHidden(dlg);
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(ReadHosts(), kHostsWithBlock);
}

TEST_F(MainDialog, EscapeExitAndCloseBoxEndTheDialog) {
    WriteHosts(kPlainHosts);
    {
        CVantrelDlg dlg;
        dlg.show();
        QTest::keyClick(&dlg, Qt::Key_Escape);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    {
        CVantrelDlg dlg;
        dlg.show();
        QTest::mouseClick(FindControl<QPushButton>(&dlg, CVantrelDlg::kIdExit), Qt::LeftButton);
        EXPECT_FALSE(dlg.isVisible());
    }
    CVantrelDlg dlg;
    dlg.show();
    EXPECT_TRUE(dlg.close());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(ReadHosts(), kPlainHosts);
}

TEST_F(MainDialog, ContextMenuEndsWithTheAboutEntry) {
    WriteHosts(kPlainHosts);
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
    QAction* about = actions.last();
    EXPECT_EQ(about->text(), "&About Vantrel...");

    QString title, name;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        name = box->findChild<QLabel*>("aboutName")->text();
        QTest::mouseClick(FindControl<QPushButton>(box, 1), Qt::LeftButton);
    });
    about->trigger();
    EXPECT_EQ(title, "About Vantrel");
    EXPECT_EQ(name, "Vantrel 1.0");
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
    WriteHosts(kPlainHosts);
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

#include "MainDialogTest.moc"
