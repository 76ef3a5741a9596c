// The main dialog: the template's controls, the status display and the toggle.
#include "linux/app/CVantrelDlg.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QUrl>

#include "linux/app/CAboutDlg.h"
#include "linux/app/CSplashDlg.h"
#include "linux/app/Pictures.h"
#include "linux/controls/CColorLabel.h"
#include "linux/controls/CXPButton.h"
#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"
#include "linux/settings/BrowserOffer.h"
#include "linux/settings/CSettingsDlg.h"
#include "platform/CHostsFile.h"

namespace {
QLabel* AddText(QWidget* dialog, const DialogUnits& du, const QString& text, int x, int y, int w,
                int h) {
    auto* label = new QLabel(text, dialog);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    du.Place(label, x, y, w, h);
    return label;
}

QLabel* AddIcon(QWidget* dialog, const DialogUnits& du, int pictureId, int x, int y, int w, int h) {
    auto* icon = new QLabel(dialog);
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    icon->setPixmap(Pictures::Load(pictureId));
    du.Place(icon, x, y, w, h);
    return icon;
}

CXPButton* AddButton(QWidget* dialog, const DialogUnits& du, int id, const QString& text, int x,
                     int y, int w, int h) {
    auto* button = new CXPButton(text, dialog);
    SetControlId(button, id);
    du.Place(button, x, y, w, h);
    return button;
}
}  // namespace

CVantrelDlg::CVantrelDlg(QWidget* parent)
    // A normal top-level window rather than a transient dialog, so taskbars list it.
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_hIcon(Pictures::AppIcon()) {
    setObjectName(QStringLiteral("CVantrelDlg"));
    setFont(DialogUnits::DialogFont());
    Pictures::PreloadStylePictures();
    CreateControls();

    connect(m_btnToggle, &CXPButton::clicked, this, &CVantrelDlg::OnOK);
    connect(m_btnExit, &CXPButton::clicked, this, &CVantrelDlg::reject);
    connect(m_btnUpgrade, &CXPButton::clicked, this, &CVantrelDlg::OnUpgrade);
    connect(m_btnHelp, &CXPButton::clicked, this, &CVantrelDlg::OnHelp);
    connect(m_btnSettings, &CXPButton::clicked, this, &CVantrelDlg::OnSettings);

    setWindowIcon(m_hIcon);
    m_btnUpgrade->setText(QStringLiteral("Upgrade"));
    setWindowTitle(QStringLiteral("Vantrel"));
    RefreshStatus();
    m_btnToggle->setFocus();
}

CVantrelDlg::~CVantrelDlg() = default;

void CVantrelDlg::CreateControls() {
    const DialogUnits du(font());
    setFixedSize(du.ToPixelsX(355), du.ToPixelsY(252));

    // Group boxes first, so they lie beneath the controls drawn inside them.
    auto* about = new QGroupBox(QStringLiteral("What is Vantrel?"), this);
    about->setObjectName(QStringLiteral("aboutGroup"));
    du.Place(about, 7, 7, 341, 151);
    auto* settings = new QGroupBox(QStringLiteral("Vantrel Settings"), this);
    SetControlId(settings, kIdSettingsGroup);
    du.Place(settings, 7, 165, 341, 50);

    AddIcon(this, du, Pictures::kHelpBook, 15, 26, 21, 20)->setObjectName("helpIcon");
    AddText(this, du, QStringLiteral("Why use it?"), 47, 20, 86, 8);
    AddText(
        this, du,
        QStringLiteral("For Google Adsense publishers, an accidental click on your own ads could "
                       "mean the difference between life and death of your Adsense account. "
                       "Google has been known to shutdown accounts by just a few accidental "
                       "clicks."),
        48, 33, 280, 29);
    AddText(this, du, QStringLiteral("What does it do?"), 48, 65, 152, 8);
    AddText(this, du,
            QStringLiteral("Vantrel hides Adsense ads from all web pages, preventing you, your "
                           "co-workers, and your family from making an accidental click when using "
                           "your PC."),
            48, 78, 280, 18);
    AddText(this, du, QStringLiteral("Is it safe?"), 48, 104, 104, 8);
    AddText(this, du,
            QStringLiteral("Yes! Vantrel works only on the PC that it's installed on. Vantrel "
                           "prevents Adsense ads from displaying in your web browser. Vantrel will "
                           "not affect outside users viewing your site nor does it violate Adsense "
                           "terms."),
            48, 117, 279, 25);

    m_statusIcon = AddIcon(this, du, Pictures::kCubes, 15, 181, 21, 20);
    SetControlId(m_statusIcon, kIdStatusIcon);
    m_statusLabel = new CColorLabel(this);
    m_statusLabel->setText(QStringLiteral("Google Adsense ads are not being hidden."));
    SetControlId(m_statusLabel, kIdStatusLabel);
    du.Place(m_statusLabel, 48, 180, 281, 8);
    auto* hint = AddText(this, du, QString(), 48, 192, 283, 8);
    hint->setWordWrap(false);
    SetControlId(hint, kIdHint);

    // Tab order follows the template: the toggle first, so it has the focus at the start.
    m_btnToggle = AddButton(this, du, kIdToggle, QStringLiteral("Hide Adsense"), 7, 224, 58, 21);
    m_btnToggle->setDefault(true);
    m_btnSettings = AddButton(this, du, kIdSettings, QStringLiteral("&Settings"), 70, 224, 57, 21);
    m_btnUpgrade = AddButton(this, du, kIdUpgrade, QStringLiteral("Upgrade"), 166, 225, 57, 20);
    m_btnHelp = AddButton(this, du, kIdHelp, QStringLiteral("&Help"), 228, 225, 57, 20);
    m_btnExit = AddButton(this, du, kIdExit, QStringLiteral("&Exit"), 291, 225, 57, 20);
}

void CVantrelDlg::RefreshStatus() {
    CHostsFile hosts;
    const bool hidden = hosts.IsBlockActive();
    m_statusIcon->setPixmap(Pictures::Load(hidden ? Pictures::kAdsHidden : Pictures::kAdsShown));
    m_statusLabel->SetLabelColor(hidden ? QColor(0, 125, 0) : QColor(255, 0, 0));
    m_statusLabel->setText(
        hidden ? QStringLiteral("Google Adsense advertisements are hidden on this PC.")
               : QStringLiteral("Google Adsense advertisements are not hidden on this PC."));
    FindControl<QLabel>(this, kIdHint)
        ->setText(hidden ? QStringLiteral("To restore ads, click the Show Adsense button.")
                         : QStringLiteral("To hide ads, click the Hide Adsense button."));
    m_btnToggle->setText(hidden ? QStringLiteral("Show Adsense") : QStringLiteral("Hide Adsense"));
}

void CVantrelDlg::OnOK() {
    std::string failure;
    {
        CHostsFile hosts;
        // The status is read back from the file right after, so it shows what really happened;
        // a failure that has a reason the user can act on is told as well.
        if (hosts.IsBlockActive())
            hosts.RemoveBlock();
        else
            hosts.AddBlock();
        failure = hosts.GetFailure();
    }
    RefreshStatus();
    if (!failure.empty()) {
        ShowMessage(this, QString::fromStdString(failure), QStringLiteral("Vantrel"),
                    QMessageBox::Ok, QMessageBox::Warning);
    }
    OfferToCloseBrowsers();
}

void CVantrelDlg::accept() {
    OnOK();
}

void CVantrelDlg::OfferToCloseBrowsers() {
    // Browsers keep the old name lookups until their windows are closed.
    OfferToCloseBrowserWindows(this);
}

void CVantrelDlg::OnUpgrade() {
    m_dlgUpgrade.SetUpgradeInfo("Vantrel", 1.0f, CUpgradeDlg::UpgradePageUrl());
    m_dlgUpgrade.exec();
}

void CVantrelDlg::OnHelp() {
    const QFileInfo help(QStringLiteral("help.txt"));
    if (!help.exists()) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(help.absoluteFilePath()));
}

void CVantrelDlg::OnSettings() {
    // Owned by this window so it opens over it; nothing here is refreshed afterwards.
    CSettingsDlg dlg(this);
    dlg.exec();
}

void CVantrelDlg::OnAbout() {
    CAboutDlg dlg(this);
    dlg.exec();
}

QMenu* CVantrelDlg::CreateSystemMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("systemMenu"));
    menu->addAction(QStringLiteral("&Close"), this, &CVantrelDlg::reject);
    menu->addSeparator();
    menu->addAction(QStringLiteral("&About Vantrel..."), this, &CVantrelDlg::OnAbout);
    return menu;
}

void CVantrelDlg::contextMenuEvent(QContextMenuEvent* event) {
    // No window manager's menu can be extended on X11, so the About entry lives here.
    QMenu* menu = CreateSystemMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

void CVantrelDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bSplashShown) {
        m_bSplashShown = true;
        ShowSplash();
    }
}

CSplashDlg* CVantrelDlg::Splash() const {
    return m_pSplash;
}

void CVantrelDlg::ShowSplash() {
    // A child of this window: it stays above it and goes with it.
    m_pSplash = new CSplashDlg(this);
    m_pSplash->Popup();
}
