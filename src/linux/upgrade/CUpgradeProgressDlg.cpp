// Status window of template 105.
#include "linux/upgrade/CUpgradeProgressDlg.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QLabel>
#include <QThread>
#include <QWindow>

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
    m_status->installEventFilter(this);
}

CUpgradeProgressDlg::~CUpgradeProgressDlg() = default;

void CUpgradeProgressDlg::SetStatusText(const QString& text) {
    if (text == m_status->text()) return;
    m_bTextPainted = false;
    m_status->setText(text);
}

bool CUpgradeProgressDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_status && event->type() == QEvent::Paint) m_bTextPainted = true;
    return QDialog::eventFilter(watched, event);
}

void CUpgradeProgressDlg::ShowPainted() {
    if (!isVisible()) show();
    // A window manager maps the window in its own time; one pass of the event loop right after
    // show() often comes before the window is exposed, and the user then sees whatever was
    // beneath it for as long as the caller blocks.
    QDeadlineTimer patience(5000);
    const auto exposed = [this] {
        const QWindow* window = windowHandle();
        return window && window->isExposed();
    };
    while (!(exposed() && m_bTextPainted) && !patience.hasExpired()) {
        if (exposed()) m_status->update();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!(exposed() && m_bTextPainted)) QThread::msleep(5);
    }
}

QString CUpgradeProgressDlg::StatusText() const {
    return m_status->text();
}
