// Dialog units follow the font: a larger font gives larger controls, and the message seam
// answers in place of a real box.
#include <gtest/gtest.h>

#include <QLabel>

#include "linux/controls/DialogUnits.h"
#include "linux/controls/MessageBox.h"

TEST(DialogUnits, ScaleWithTheFontAndFindControlsById) {
    QFont small = DialogUnits::DialogFont();
    small.setPixelSize(11);
    QFont large = small;
    large.setPixelSize(22);
    const DialogUnits a(small), b(large);
    EXPECT_GT(b.ToPixelsX(100), a.ToPixelsX(100));
    EXPECT_GT(b.ToPixelsY(100), a.ToPixelsY(100));
    EXPECT_EQ(a.ToPixelsY(8), a.BaseY());
    EXPECT_EQ(a.ToPixelsX(4), a.BaseX());

    QWidget dialog;
    auto* label = new QLabel(&dialog);
    SetControlId(label, 1002);
    EXPECT_EQ(FindControl<QLabel>(&dialog, 1002), label);
    EXPECT_EQ(FindControl(&dialog, 1003), nullptr);
}

TEST(MessageBox, HookAnswersInsteadOfTheBox) {
    MessageRequest seen{};
    SetMessageHook([&](const MessageRequest& r) {
        seen = r;
        return QMessageBox::Yes;
    });
    EXPECT_EQ(ShowMessage(nullptr, "text", "Vantrel", QMessageBox::Yes | QMessageBox::No,
                          QMessageBox::Question),
              QMessageBox::Yes);
    EXPECT_EQ(seen.caption, "Vantrel");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    SetMessageHook({});
}
