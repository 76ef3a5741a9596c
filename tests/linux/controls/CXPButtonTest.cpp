// What the XP-style button does beyond its looks (which ButtonReferenceTest holds against the
// reference sheets): hover that follows the pointer, the caption without its ampersands, centred,
// moved by a press and embossed when disabled, and a button too low for a face.
#include <gtest/gtest.h>

#include <QImage>
#include <QMouseEvent>

#include "ButtonStates.h"

namespace {

const QColor kBackground(10, 120, 30);
const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);

class XPButtonTest : public ::testing::Test {
protected:
    static constexpr int W = 75;
    static constexpr int H = 23;

    void SetUp() override {
        QPalette pal = window.palette();
        pal.setColor(QPalette::Window, kBackground);
        window.setPalette(pal);
        window.resize(200, 100);
        button = new CXPButton(&window);
        button->setGeometry(10, 10, W, H);
        other = new CXPButton(QStringLiteral("Other"), &window);
        other->setGeometry(10, 50, W, H);
        ShowAndActivate(window);
    }

    QImage Shot(const QString& caption, const ButtonLook& look) {
        button->setText(caption);
        if (!look.focus) other->setFocus();
        ApplyLook(*button, look);
        return button->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    static QColor At(const QImage& img, int x, int y) { return img.pixelColor(x, y); }

    // Bounding box of the caption's dark ink.
    static QRect Ink(const QImage& img) {
        QRect box;
        for (int y = 3; y < img.height() - 3; ++y)
            for (int x = 4; x < img.width() - 4; ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.red() < 110 && c.green() < 110 && c.blue() < 110) box |= QRect(x, y, 1, 1);
            }
        return box;
    }

    QWidget window;
    CXPButton* button = nullptr;
    CXPButton* other = nullptr;
};

TEST_F(XPButtonTest, HoverFollowsEnterLeaveAndMoves) {
    Shot("", {.focus = true});
    SendEnter(*button);
    EXPECT_TRUE(button->IsPointerOver());
    EXPECT_EQ(At(button->grab().toImage(), 2, H / 2), QColor(250, 196, 88));
    SendLeave(*button);
    EXPECT_FALSE(button->IsPointerOver());
    EXPECT_FALSE(button->IsMouseTracked());
    // Back to the focus look once the pointer has gone.
    EXPECT_EQ(At(button->grab().toImage(), 2, H / 2), QColor(153, 198, 252));

    // A move over the button picks tracking up again.
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), button->mapToGlobal(QPointF(5, 5)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &move);
    EXPECT_TRUE(button->IsMouseTracked());
    EXPECT_TRUE(button->IsPointerOver());
}

TEST_F(XPButtonTest, CaptionIsCentredWithoutAmpersandsAndShiftsWhenPressed) {
    const QImage plain = Shot("Settings", {});
    EXPECT_EQ(Shot("&Settings", {}), plain);
    EXPECT_EQ(Shot("Sett&&ings", {}), plain);

    // Centred on the face, within a glyph's side bearing.
    const QRect ink = Ink(plain);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_LE(std::abs(ink.left() - (W - 1 - ink.right())), 3);
    EXPECT_LE(std::abs(ink.top() - (H - 1 - ink.bottom())), 3);

    const QRect pressed = Ink(Shot("Settings", {.pressed = true}));
    EXPECT_EQ(pressed, ink.translated(1, 1));

    // No caption, no ink, even with the lines shown.
    EXPECT_TRUE(Ink(Shot("", {.hover = true, .focus = true})).isEmpty());
    EXPECT_TRUE(Ink(Shot("&", {})).isEmpty());
}

TEST_F(XPButtonTest, DisabledCaptionIsEmbossedOnTheSameFace) {
    const QImage enabled = Shot("Exit", {});
    const QImage disabled = Shot("Exit", {.disabled = true});
    EXPECT_TRUE(Ink(disabled).isEmpty());
    const QRect ink = Ink(enabled);
    int highlights = 0, shadows = 0;
    for (int y = ink.top(); y <= ink.bottom() + 1; ++y)
        for (int x = ink.left(); x <= ink.right() + 1; ++x) {
            const QColor c = At(disabled, x, y);
            highlights += c == kWhite;
            shadows += c == QColor(128, 128, 128);
        }
    EXPECT_GT(highlights, 3);
    EXPECT_GT(shadows, 3);
    // Outside the caption nothing changes.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (!ink.adjusted(-1, -1, 2, 2).contains(x, y)) {
                ASSERT_EQ(At(disabled, x, y), At(enabled, x, y)) << x << "," << y;
            }
        }
}

TEST_F(XPButtonTest, FlatButtonsPaintNoFaceRows) {
    // Too low for a face: outline only, and nothing is read past the last step.
    button->resize(W, 4);
    const QImage img = Shot("", {});
    EXPECT_EQ(At(img, W / 2, 0), kBlack);
    EXPECT_EQ(At(img, W / 2, 3), kBlack);
    EXPECT_EQ(At(img, W / 2, 1), kWhite);
    EXPECT_EQ(At(img, W / 2, 2), kWhite);
}

}  // namespace
