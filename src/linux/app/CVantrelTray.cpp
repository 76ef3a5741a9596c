// The tray icon on QSystemTrayIcon: a StatusNotifierItem where the desktop offers one, an
// XEmbed icon otherwise.
#include "linux/app/CVantrelTray.h"

#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPainter>
#include <QSaveFile>
#include <QStandardPaths>

#include "linux/app/CModelHost.h"
#include "linux/app/Pictures.h"
#include "linux/controls/MessageBox.h"

namespace {
// The launcher in PATH, as the desktop's own menu entry starts it: it runs the program in the
// user's Vantrel folder.
const char* const kAutostartEntry =
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Name=Vantrel tray\n"
    "Comment=Shows whether Google AdSense ads are hidden and hides them again after a timed "
    "Show\n"
    "Exec=vantrel --tray\n"
    "Icon=vantrel\n"
    "Terminal=false\n"
    "X-GNOME-Autostart-enabled=true\n";

// The status picture with a disc in the status line's colour over its lower right half, which
// still reads at a tray's 16 pixels.
QIcon TrayPicture(bool hidden) {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap =
            Pictures::Load(hidden ? Pictures::kAdsHidden : Pictures::kAdsShown, QSize(size, size));
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, size / 16.0));
        painter.setBrush(hidden ? QColor(0, 125, 0) : QColor(255, 0, 0));
        const double disc = size * 0.56;
        painter.drawEllipse(
            QRectF(size - disc - size / 32.0, size - disc - size / 32.0, disc, disc));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
}  // namespace

QString CVantrelTray::AutostartPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/vantrel-tray.desktop");
}

CVantrelTray::CVantrelTray(CModelHost& host) : m_host(host) {
    m_icon.setObjectName(QStringLiteral("trayIcon"));
    m_menu.setObjectName(QStringLiteral("trayMenu"));
    m_toggle = m_menu.addAction(QStringLiteral("Hide ads"), this, [this] {
        m_host.Model().Apply(m_hidden ? HostsIntent::Show : HostsIntent::Hide, Prompts());
    });
    for (const TimedShowChoice& choice : kTimedShowChoices) {
        const int minutes = choice.minutes;
        m_menu.addAction(QString::fromUtf8(choice.text), this,
                         [this, minutes] { m_host.Model().ShowFor(minutes, Prompts()); });
    }
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Open Vantrel"), this, &CVantrelTray::OpenWindowAsked);
    m_startWithDesktop = m_menu.addAction(QStringLiteral("Start with my desktop"));
    m_startWithDesktop->setCheckable(true);
    connect(m_startWithDesktop, &QAction::triggered, this, &CVantrelTray::SetStartWithDesktop);
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Exit"), this, &CVantrelTray::Exit);
    // The entry may have been removed or added by hand meanwhile.
    connect(&m_menu, &QMenu::aboutToShow, this,
            [this] { m_startWithDesktop->setChecked(QFileInfo::exists(AutostartPath())); });
    m_icon.setContextMenu(&m_menu);

    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    emit OpenWindowAsked();
            });
    connect(&m_icon, &QSystemTrayIcon::messageClicked, this, [this] {
        if (m_noticeOffersHide) m_host.Model().Apply(HostsIntent::Hide, Prompts());
    });

    m_view = m_host.Model().AddView([this](const MainState& state) { Draw(state); });
}

CVantrelTray::~CVantrelTray() {
    m_host.Model().RemoveView(m_view);
}

void CVantrelTray::Show() {
    Draw(m_host.Model().State());
    m_icon.show();
}

void CVantrelTray::SetWindow(QWidget* window) {
    m_window = window;
}

PressPrompts CVantrelTray::Prompts() {
    // The application's: over the window when it is open.
    return m_host.QuietPrompts();
}

void CVantrelTray::Draw(const MainState& state) {
    if (!m_drawn || state.hidden != m_hidden) m_icon.setIcon(TrayPicture(state.hidden));
    m_drawn = true;
    m_hidden = state.hidden;
    m_toggle->setText(state.hidden ? QStringLiteral("Show ads") : QStringLiteral("Hide ads"));
    m_toggle->setEnabled(!state.busy);
    QString tip = state.hidden ? QStringLiteral("Vantrel: ads are hidden.")
                               : QStringLiteral("Vantrel: ads are shown.");
    if (state.hideAt) {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(state.hideAt->time_since_epoch());
        const QTime at = QDateTime::fromSecsSinceEpoch(seconds.count()).time();
        tip += QStringLiteral(" They will be hidden again at %1.")
                   .arg(QLocale::system().toString(at, QLocale::ShortFormat));
    }
    m_icon.setToolTip(tip);
}

void CVantrelTray::ShowNotice(const Notice& notice) {
    m_noticeOffersHide = notice.offerHide;
    QString text = QString::fromStdString(notice.text);
    if (notice.offerHide) {
        text += QStringLiteral("\n%1: click here.").arg(QString::fromUtf8(kHideAgainAction));
    }
    m_icon.showMessage(QStringLiteral("Vantrel"), text,
                       notice.offerHide ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information,
                       notice.offerHide ? 60000 : 10000);
}

void CVantrelTray::PopUpMenu() {
    m_startWithDesktop->setChecked(QFileInfo::exists(AutostartPath()));
    m_menu.popup(QCursor::pos());
    m_menu.activateWindow();
}

void CVantrelTray::Exit() {
    if (m_host.Model().TimedShowRunning() &&
        ShowMessage(m_window, QString::fromUtf8(kHideAgainNowQuestion), QStringLiteral("Vantrel"),
                    QMessageBox::Yes | QMessageBox::No,
                    QMessageBox::Question) == QMessageBox::Yes) {
        m_host.Model().Apply(HostsIntent::Hide, Prompts());
    }
    m_icon.hide();
    QApplication::quit();
}

void CVantrelTray::SetStartWithDesktop(bool on) {
    const QString path = AutostartPath();
    if (!on) {
        QFile::remove(path);
    } else {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(kAutostartEntry) < 0 || !file.commit())
            ShowMessage(m_window,
                        QStringLiteral("The autostart entry %1 could not be written.").arg(path),
                        QStringLiteral("Vantrel"), QMessageBox::Ok, QMessageBox::Warning);
    }
    m_startWithDesktop->setChecked(QFileInfo::exists(path));
}
