// The splash: above the main dialog, hidden by its timer, a click or a key, never shown again and
// gone with the dialog. The About box's texts.
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "linux/app/CAboutDlg.h"
#include "linux/app/CSplashDlg.h"
#include "linux/app/CVantrelDlg.h"
#include "linux/controls/DialogUnits.h"

using Splash = AppSandbox;

TEST_F(Splash, HidesWhenItsTimerRunsOutAndNeverComesBack) {
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
}

TEST_F(Splash, ClickOrKeyHidesIt) {
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

TEST(AboutBox, NamesTheProductAndClosesWithOk) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Vantrel");
    EXPECT_EQ(about.findChild<QLabel*>("aboutName")->text(), "Vantrel 1.0");
    const QLabel* line = about.findChild<QLabel*>("aboutLine");
    EXPECT_FALSE(line->text().isEmpty());
    for (const QLabel* label :
         {static_cast<const QLabel*>(about.findChild<QLabel*>("aboutName")), line})
        EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
    EXPECT_FALSE(about.findChild<QLabel*>("aboutIcon")->pixmap().isNull());

    auto* ok = FindControl<QPushButton>(&about, 1);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    about.show();
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}
