// The main dialog: the template's controls, the status display and the toggle.
#include "linux/app/CVantrelDlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QUrl>

#include "linux/app/CAboutDlg.h"
#include "linux/app/CModelHost.h"
#include "linux/app/CSettingsDlg.h"
#include "linux/app/CSplashDlg.h"
#include "linux/app/Pictures.h"
#include "linux/browsers/BrowserOffer.h"
#include "linux/controls/CColorLabel.h"
#include "linux/controls/CXPButton.h"
#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"

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

// The text as it fits the label's rectangle: one sentence a line when there is room, else run
// together, else cut with an ellipsis (the whole text is then the label's tool tip).
QString FittedNotes(const QLabel* label, const QStringList& lines) {
    const auto fits = [label](const QString& text) {
        return label->fontMetrics()
                   .boundingRect(QRect(0, 0, label->width(), 10000), Qt::TextWordWrap, text)
                   .height() <= label->height();
    };
    QString text = lines.join(QLatin1Char('\n'));
    if (fits(text)) return text;
    text = lines.join(QLatin1Char(' '));
    while (!text.isEmpty() && !fits(text + QChar(0x2026))) {
        const int cut = text.lastIndexOf(QLatin1Char(' '));
        text.truncate(cut > 0 ? cut : text.size() - 1);
    }
    return text + QChar(0x2026);
}

CXPButton* AddButton(QWidget* dialog, const DialogUnits& du, int id, const QString& text, int x,
                     int y, int w, int h) {
    auto* button = new CXPButton(text, dialog);
    SetControlId(button, id);
    du.Place(button, x, y, w, h);
    return button;
}
}  // namespace

CVantrelDlg::CVantrelDlg(QWidget* parent) : CVantrelDlg(nullptr, parent) {}

CVantrelDlg::CVantrelDlg(CModelHost& host, QWidget* parent) : CVantrelDlg(&host, parent) {}

CVantrelDlg::CVantrelDlg(CModelHost* shared, QWidget* parent)
    // A normal top-level window rather than a transient dialog, so taskbars list it.
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      // The application's icon when it has one: its pictures are then read once per program.
      m_icon(QApplication::windowIcon().isNull() ? Pictures::AppIcon()
                                                 : QApplication::windowIcon()) {
    setObjectName(QStringLiteral("CVantrelDlg"));
    setFont(DialogUnits::DialogFont());
    // The splash shows as this dialog does: its large picture is read meanwhile, unless the
    // application has already started that.
    CSplashDlg::PreparePicture();
    Pictures::PreloadStylePictures();
    CreateControls();

    connect(m_btnToggle, &CXPButton::clicked, this, &CVantrelDlg::OnOK);
    connect(m_btnExit, &CXPButton::clicked, this, &CVantrelDlg::reject);
    connect(m_btnUpgrade, &CXPButton::clicked, this, &CVantrelDlg::OnUpgrade);
    connect(m_btnHelp, &CXPButton::clicked, this, &CVantrelDlg::OnHelp);
    connect(m_btnSettings, &CXPButton::clicked, this, &CVantrelDlg::OnSettings);

    setWindowIcon(m_icon);
    m_btnUpgrade->setText(QStringLiteral("Upgrade"));
    setWindowTitle(QStringLiteral("Vantrel"));

    if (!shared) {
        m_ownHost = std::make_unique<CModelHost>(
            [this](const Notice& notice) { ShowNotice(notice); }, Prompts());
    }
    m_host = shared ? shared : m_ownHost.get();
    m_model = &m_host->Model();
    m_view = m_model->AddView([this](const MainState& state) { Draw(state); });
    if (m_ownHost) {
        m_model->Start();
    } else {
        Draw(m_model->State());
    }
    m_btnToggle->setFocus();
}

CVantrelDlg::~CVantrelDlg() {
    m_model->RemoveView(m_view);
}

void CVantrelDlg::CreateControls() {
    const DialogUnits du(font());
    setFixedSize(du.ToPixelsX(355), du.ToPixelsY(252));

    // Group boxes first, so they lie beneath the controls drawn inside them.
    auto* about = new QGroupBox(QStringLiteral("What is Vantrel?"), this);
    about->setObjectName(QStringLiteral("aboutGroup"));
    du.Place(about, 7, 7, 341, 151);
    auto* settings = new QGroupBox(QStringLiteral("Vantrel Settings"), this);
    SetControlId(settings, kIdSettingsGroup);
    // Three DU deeper than the template's, for the notes line; still clear of the buttons.
    du.Place(settings, 7, 165, 341, 53);

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
    // Two lines of notes between the status and the hint, inside the template's group box.
    m_lblNotes = AddText(this, du, QString(), 48, 189, 281, 16);
    m_lblNotes->setObjectName(QStringLiteral("m_lblNotes"));
    m_hint = AddText(this, du, QString(), 48, 206, 283, 8);
    m_hint->setWordWrap(false);
    SetControlId(m_hint, kIdHint);

    // Tab order follows the template: the toggle first, so it has the focus at the start.
    m_btnToggle = AddButton(this, du, kIdToggle, QStringLiteral("Hide Adsense"), 7, 224, 58, 21);
    m_btnToggle->setDefault(true);
    m_btnSettings = AddButton(this, du, kIdSettings, QStringLiteral("&Settings"), 70, 224, 57, 21);
    m_btnUpgrade = AddButton(this, du, kIdUpgrade, QStringLiteral("Upgrade"), 166, 225, 57, 20);
    m_btnHelp = AddButton(this, du, kIdHelp, QStringLiteral("&Help"), 228, 225, 57, 20);
    m_btnExit = AddButton(this, du, kIdExit, QStringLiteral("&Exit"), 291, 225, 57, 20);
}

void CVantrelDlg::RefreshStatus() {
    m_model->Refresh();
}

void CVantrelDlg::OnOK() {
    m_model->Toggle(Prompts());
}

void CVantrelDlg::accept() {
    OnOK();
}

void CVantrelDlg::reject() {
    if (m_model->TimedShowRunning() && m_lastOne() &&
        ShowMessage(this, QString::fromUtf8(kHideAgainNowQuestion), QStringLiteral("Vantrel"),
                    QMessageBox::Yes | QMessageBox::No,
                    QMessageBox::Question) == QMessageBox::Yes) {
        m_model->Apply(HostsIntent::Hide, Prompts());
    }
    QDialog::reject();
}

void CVantrelDlg::ShowNotice(const Notice& notice) {
    // Beside the window, which stays usable.
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Vantrel"),
                                QString::fromStdString(notice.text), QMessageBox::Close, this);
    box->setObjectName(QStringLiteral("noticeBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    if (notice.offerHide) {
        box->setIcon(QMessageBox::Warning);
        QPushButton* hide =
            box->addButton(QString::fromUtf8(kHideAgainAction), QMessageBox::AcceptRole);
        box->setDefaultButton(hide);
        connect(hide, &QPushButton::clicked, this,
                [this] { m_model->Apply(HostsIntent::Hide, Prompts()); });
    }
    box->show();
}

PressPrompts CVantrelDlg::Prompts() {
    PressPrompts prompts;
    prompts.tell = [this](const std::string& text) {
        ShowMessage(this, QString::fromStdString(text), QStringLiteral("Vantrel"), QMessageBox::Ok,
                    QMessageBox::Warning);
    };
    prompts.offerToClose = [this](const std::function<void(const std::string&)>& waiting) {
        return OfferToCloseBrowserWindows(this, waiting);
    };
    return prompts;
}

void CVantrelDlg::Draw(const MainState& state) {
    m_statusIcon->setPixmap(
        Pictures::Load(state.hidden ? Pictures::kAdsHidden : Pictures::kAdsShown));
    m_statusLabel->SetLabelColor(state.hidden ? QColor(0, 125, 0) : QColor(255, 0, 0));
    m_statusLabel->setText(QString::fromStdString(state.status));
    m_hint->setText(QString::fromStdString(state.hint));
    m_btnToggle->setText(QString::fromStdString(state.toggle));
    m_btnToggle->setEnabled(!state.busy);
    m_btnSettings->setEnabled(!state.busy);
    // Disabling it passed the focus on; the next Enter belongs to the toggle again.
    if (m_busy && !state.busy) m_btnToggle->setFocus(Qt::OtherFocusReason);
    m_busy = state.busy;
    ShowNotes(state.notes);
}

void CVantrelDlg::ShowNotes(const std::vector<std::string>& notes) {
    QStringList lines;
    for (const std::string& line : notes) {
        if (!line.empty()) lines << QString::fromStdString(line);
    }
    const QString text = lines.join(QLatin1Char('\n'));
    const QString shown = FittedNotes(m_lblNotes, lines);
    m_lblNotes->setText(text.isEmpty() ? QString() : shown);
    m_lblNotes->setToolTip(shown == text ? QString() : text);
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
    for (const TimedShowChoice& choice : kTimedShowChoices) {
        const int minutes = choice.minutes;
        menu->addAction(QString::fromUtf8(choice.text), this,
                        [this, minutes] { m_model->ShowFor(minutes, Prompts()); });
    }
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

void CVantrelDlg::SetLastOne(std::function<bool()> lastOne) {
    m_lastOne = std::move(lastOne);
}

void CVantrelDlg::ShowSplash() {
    // A child of this window: it stays above it and goes with it.
    m_pSplash = new CSplashDlg(this);
    m_pSplash->Popup();
}
