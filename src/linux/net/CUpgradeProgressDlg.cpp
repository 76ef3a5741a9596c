// Status window of template 105.
#include "linux/net/CUpgradeProgressDlg.h"

#include <QLabel>

#include "linux/controls/DialogUnits.h"

CUpgradeProgressDlg::CUpgradeProgressDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("upgradeProgressDialog"));
    setWindowTitle(QStringLiteral("Checking for any upgrades .."));
    // Caption but no system menu: the work it reports cannot be cancelled.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);
    const DialogUnits units(font());
    setFixedSize(units.ToPixelsX(168), units.ToPixelsY(26));

    m_status = new QLabel(QStringLiteral("Checking for new upgrades of the software .."), this);
    SetControlId(m_status, kStatusId);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    units.Place(m_status, 12, 7, 144, 10);
}

CUpgradeProgressDlg::~CUpgradeProgressDlg() = default;

void CUpgradeProgressDlg::SetStatusText(const QString& text) {
    m_status->setText(text);
}

QString CUpgradeProgressDlg::StatusText() const {
    return m_status->text();
}
