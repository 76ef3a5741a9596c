// The upgrade dialog of template 104 and what the flow shows through it.
#include "linux/upgrade/CUpgradeDlg.h"

#include <QLabel>

#include "linux/controls/CXPButton.h"
#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"
#include "linux/upgrade/CUpgradeProgressDlg.h"
#include "linux/upgrade/NetConfig.h"
#include "platform/prefs/CRegistryStore.h"

CUpgradeDlg::CUpgradeDlg(QWidget* parent)
    : QDialog(parent), m_flow(*this, m_fetch, m_installer, VANTREL_DOWNLOAD_PAGE) {
    setObjectName(QStringLiteral("upgradeDialog"));
    setWindowTitle(QStringLiteral("Check for Upgrade"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogUnits units(font());
    setFixedSize(units.ToPixelsX(160), units.ToPixelsY(58));

    // Created in template order, which is also the tab order.
    m_btnOK = new CXPButton(QStringLiteral("&OK"), this);
    SetControlId(m_btnOK, 1);
    m_btnOK->setObjectName(QStringLiteral("okButton"));
    // Enter starts the check, as in any dialog whose OK is its default command.
    m_btnOK->setAutoDefault(false);
    m_btnOK->setDefault(true);
    units.Place(m_btnOK, 21, 37, 50, 14);

    m_btnClose = new CXPButton(QStringLiteral("&Close"), this);
    SetControlId(m_btnClose, 2);
    m_btnClose->setObjectName(QStringLiteral("closeButton"));
    m_btnClose->setAutoDefault(false);
    units.Place(m_btnClose, 77, 37, 50, 14);

    auto* question = new QLabel(
        QStringLiteral("Would you like to check for an upgrade of this software?"), this);
    question->setObjectName(QStringLiteral("questionText"));
    question->setWordWrap(true);
    question->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    units.Place(question, 21, 7, 117, 18);

    connect(m_btnOK, &QPushButton::clicked, this, &CUpgradeDlg::accept);
    connect(m_btnClose, &QPushButton::clicked, this, &CUpgradeDlg::reject);
}

CUpgradeDlg::~CUpgradeDlg() {
    SaveUpgradeDate();
}

std::string CUpgradeDlg::UpgradePageUrl() {
    // Only the build chooses it: no environment may point the program at another server.
    return VANTREL_UPGRADE_URL;
}

void CUpgradeDlg::showEvent(QShowEvent* event) {
    m_flow.Open();
    if (!m_flow.IsChecking()) {
        ShowCheckState();
        m_btnOK->setFocus();
    }
    QDialog::showEvent(event);
}

void CUpgradeDlg::accept() {
    m_flow.Check();
}

void CUpgradeDlg::reject() {
    // Closing in the middle of a check would leave it running against a closed dialog.
    if (m_flow.IsChecking()) return;
    done(QDialog::Rejected);
}

void CUpgradeDlg::SaveUpgradeDate() {
    const std::string text = m_flow.UpgradeDateText();
    if (text.empty()) return;
    CRegistryStore store;
    store.WriteValue(m_flow.ProductName(), "UpgradeDate", text, HKEY_CURRENT_USER);
}

bool CUpgradeDlg::ShowMessage(const UpgradeMessage& message) {
    static const QMessageBox::Icon kIcons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                               QMessageBox::Warning};
    const QMessageBox::StandardButtons buttons =
        message.yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    return ::ShowMessage(this, QString::fromStdString(message.text),
                         QString::fromStdString(message.caption), buttons,
                         kIcons[static_cast<int>(message.icon)]) == QMessageBox::Yes;
}

void CUpgradeDlg::ShowProgress(const std::string& title) {
    CloseProgress();
    m_pProgress = new CUpgradeProgressDlg(this);
    if (!title.empty()) m_pProgress->setWindowTitle(QString::fromStdString(title));
    m_pProgress->show();
}

void CUpgradeDlg::SetProgressText(const std::string& text) {
    if (m_pProgress) m_pProgress->SetStatusText(QString::fromStdString(text));
}

void CUpgradeDlg::PaintProgress(const std::string& text) {
    if (!m_pProgress) return;
    m_pProgress->SetStatusText(QString::fromStdString(text));
    m_pProgress->ShowPainted();
}

void CUpgradeDlg::CloseProgress() {
    if (!m_pProgress) return;
    m_pProgress->hide();
    delete m_pProgress;
    m_pProgress = nullptr;
}

void CUpgradeDlg::ShowCheckState() {
    // The buttons are off while a check runs; after one, OK stays off until the next opening.
    m_btnClose->setEnabled(!m_flow.IsChecking());
    m_btnOK->setEnabled(m_flow.CanCheck());
    if (m_flow.IsChecked()) m_btnClose->setFocus();
}

void CUpgradeDlg::CloseDialog() {
    done(QDialog::Rejected);
}
