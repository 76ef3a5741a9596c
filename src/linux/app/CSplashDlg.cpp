// The splash window: hidden after its time, or at the first click or key, and never shown again.
#include "linux/app/CSplashDlg.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

#include "linux/app/Pictures.h"
#include "linux/controls/DialogUnits.h"

CSplashDlg::CSplashDlg(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_timer(new QTimer(this)) {
    setObjectName(QStringLiteral("CSplashDlg"));
    // Never seen (no caption), but keeps the main window the only one named "Vantrel".
    setWindowTitle(QStringLiteral("Vantrel splash screen"));
    setAttribute(Qt::WA_ShowWithoutActivating, false);

    // The template's width; the height follows the picture so it is never distorted.
    const DialogUnits du(DialogUnits::DialogFont());
    const QSize size = Pictures::SplashWindowSize(du);
    setFixedSize(size);

    // The picture ignores the mouse, so a click on it reaches this window.
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("splashPicture"));
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    // A thin dark border, drawn around the picture.
    picture->setFrameStyle(QFrame::Box | QFrame::Plain);
    picture->setLineWidth(1);
    picture->setPixmap(Pictures::Load(Pictures::kSplash, Pictures::SplashPictureSize(du)));
    picture->setGeometry(0, 0, size.width(), size.height());

    m_timer->setObjectName(QStringLiteral("splashTimer"));
    m_timer->setSingleShot(true);
    m_timer->setInterval(kShowMs);
    connect(m_timer, &QTimer::timeout, this, &CSplashDlg::Dismiss);
}

CSplashDlg::~CSplashDlg() = default;

void CSplashDlg::PreparePicture() {
    Pictures::PrepareSplash(Pictures::SplashPictureSize(DialogUnits(DialogUnits::DialogFont())));
}

void CSplashDlg::Popup() {
    if (m_bShown) return;
    m_bShown = true;
    const QScreen* screen =
        parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen) move(screen->geometry().center() - rect().center());
    show();
    raise();
    activateWindow();
    m_timer->start();
}

void CSplashDlg::Dismiss() {
    m_timer->stop();
    if (!isVisible()) return;
    hide();
    // Hand the keyboard back to the window beneath.
    if (QWidget* owner = parentWidget()) owner->activateWindow();
}

void CSplashDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Dismiss();
    event->accept();
}

void CSplashDlg::keyPressEvent(QKeyEvent* event) {
    Dismiss();
    event->accept();
}
