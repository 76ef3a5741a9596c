// Pixel checks of the XP-style button: face gradient by state, outline and corners, the
// hover and focus lines, and where and how the caption lands.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>

#include "ButtonStates.h"

namespace {

const QColor kBackground(10, 120, 30);
const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);

// The face colour of gradient step i for divisors a (red, green) and b (blue).
QColor Step(int i, int a, int b) {
    return QColor(255 - i / a, 255 - i / a, 255 - i / b);
}

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

TEST_F(XPButtonTest, FocusAndHoverTakeInOffscreenWindow) {
    Shot("", {.focus = true});
    ASSERT_TRUE(button->hasFocus());
    Shot("", {.hover = true});
    EXPECT_TRUE(button->IsPointerOver());
}

TEST_F(XPButtonTest, FaceRowsFollowTheGradientInEveryState) {
    // Rows 2..20 of a 23-pixel button: steps 6, 9, 13, ... 59, 63, 63.
    const int steps[] = {6, 9, 13, 16, 19, 23, 26, 29, 33, 36, 39, 43, 46, 49, 53, 56, 59, 63, 63};

    // Idle, no caption: every face pixel is its row's colour, and nothing else is drawn.
    const QImage idle = Shot("", {});
    for (int y = 2; y <= 20; ++y)
        for (int x = 2; x <= W - 3; ++x)
            ASSERT_EQ(At(idle, x, y), Step(steps[y - 2], 3, 5)) << x << "," << y;

    struct Case {
        ButtonLook look;
        QColor end;
        int a, b;
    };
    const Case cases[] = {
        {{}, QColor(234, 234, 243), 3, 5},
        {{.isDefault = true}, QColor(234, 234, 240), 3, 4},
        {{.pressed = true}, QColor(234, 234, 240), 3, 4},
        {{.focus = true}, QColor(234, 234, 240), 3, 4},
        {{.hover = true}, QColor(240, 240, 243), 4, 5},
        {{.hover = true, .isDefault = true}, QColor(240, 240, 234), 4, 3},
        {{.hover = true, .focus = true}, QColor(240, 240, 234), 4, 3},
    };
    for (const Case& c : cases) {
        const QImage img = Shot("", c.look);
        // Columns 2 and 3 are clear of the inner lines at the top and bottom face rows.
        EXPECT_EQ(At(img, 2, 20), c.end);
        EXPECT_EQ(At(img, 3, 19), c.end);
        EXPECT_EQ(At(img, W - 3, 2), Step(6, c.a, c.b));
        EXPECT_EQ(At(img, W / 2, 11), Step(steps[9], c.a, c.b));
    }
}

TEST_F(XPButtonTest, OutlineIsRoundedAndCornersKeepTheBackground) {
    const QImage img = Shot("", {});
    // The corner pixels outside the rounding show the parent's background.
    for (const QPoint p :
         {QPoint(0, 0), QPoint(2, 0), QPoint(0, 2), QPoint(W - 1, 0), QPoint(W - 3, 0),
          QPoint(0, H - 1), QPoint(W - 1, H - 1), QPoint(W - 1, H - 3)})
        EXPECT_EQ(At(img, p.x(), p.y()), kBackground) << p.x() << "," << p.y();
    // One pixel of black outline, then white inside up to the face.
    for (const QPoint p :
         {QPoint(W / 2, 0), QPoint(W / 2, H - 1), QPoint(0, H / 2), QPoint(W - 1, H / 2),
          QPoint(1, 1), QPoint(3, 0), QPoint(0, 3), QPoint(W - 2, H - 2)})
        EXPECT_EQ(At(img, p.x(), p.y()), kBlack) << p.x() << "," << p.y();
    for (const QPoint p :
         {QPoint(W / 2, 1), QPoint(W / 2, H - 2), QPoint(1, H / 2), QPoint(W - 2, H / 2)})
        EXPECT_EQ(At(img, p.x(), p.y()), kWhite) << p.x() << "," << p.y();
    // The shape is the same seen from either side and from top or bottom.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const bool black = At(img, x, y) == kBlack;
            ASSERT_EQ(black, At(img, W - 1 - x, y) == kBlack) << x << "," << y;
            ASSERT_EQ(black, At(img, x, H - 1 - y) == kBlack) << x << "," << y;
            ASSERT_EQ(At(img, x, y) == kBackground, At(img, W - 1 - x, H - 1 - y) == kBackground);
        }
}

TEST_F(XPButtonTest, InnerLinesShowHoverOverFocus) {
    const QColor hoverLeft(250, 196, 88), hoverTop(252, 210, 121), hoverRight(251, 202, 106),
        hoverBottom(229, 151, 0);
    const QColor focusLeft(153, 198, 252), focusTop(162, 201, 255), focusRight(162, 189, 252);

    auto expectLines = [&](const QImage& img, QColor l, QColor t, QColor r, QColor b) {
        // Three pixels wide at the sides, two high at top and bottom, centred on the face edge.
        for (int x : {1, 2, 3}) EXPECT_EQ(At(img, x, H / 2), l) << x;
        for (int x : {W - 4, W - 3, W - 2}) EXPECT_EQ(At(img, x, H / 2), r) << x;
        for (int y : {1, 2}) EXPECT_EQ(At(img, W / 2, y), t) << y;
        for (int y : {H - 3, H - 2}) EXPECT_EQ(At(img, W / 2, y), b) << y;
        // Ends: side lines run over rows 5..H-5, top and bottom over columns 4..W-5.
        EXPECT_EQ(At(img, 2, 5), l);
        EXPECT_EQ(At(img, 2, H - 5), l);
        EXPECT_NE(At(img, 2, 4), l);
        EXPECT_NE(At(img, 2, H - 4), l);
        EXPECT_EQ(At(img, 4, 1), t);
        EXPECT_EQ(At(img, W - 5, 1), t);
        EXPECT_EQ(At(img, 3, 1), kWhite);
        EXPECT_EQ(At(img, W - 4, 1), kWhite);
        EXPECT_EQ(At(img, W - 5, H - 2), b);
        EXPECT_EQ(At(img, 0, H / 2), kBlack);
        EXPECT_EQ(At(img, W / 2, 0), kBlack);
    };
    expectLines(Shot("", {.hover = true}), hoverLeft, hoverTop, hoverRight, hoverBottom);
    expectLines(Shot("", {.focus = true}), focusLeft, focusTop, focusRight, focusTop);
    expectLines(Shot("", {.hover = true, .focus = true}), hoverLeft, hoverTop, hoverRight,
                hoverBottom);

    // Neither pointer nor focus (pressed and default included): no inner lines.
    for (const ButtonLook look :
         {ButtonLook{}, ButtonLook{.pressed = true}, ButtonLook{.isDefault = true}}) {
        const QImage img = Shot("", look);
        EXPECT_EQ(At(img, 2, H / 2), At(img, W / 2, H / 2));
        EXPECT_EQ(At(img, 1, H / 2), kWhite);
        EXPECT_EQ(At(img, W / 2, 1), kWhite);
    }
}

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

    // Centred by the advance width of the shown text, from the face's middle.
    const QFontMetrics fm(CXPButton::CaptionFont());
    EXPECT_EQ(fm.height(), 14);
    const int left = W / 2 - fm.horizontalAdvance("Settings") / 2;
    const QRect ink = Ink(plain);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GE(ink.left(), left);
    EXPECT_LE(ink.left(), left + 2);
    EXPECT_LE(std::abs((ink.left() - 0) - (W - 1 - ink.right())), 3);
    EXPECT_GE(ink.top(), H / 2 - fm.height() / 2);
    EXPECT_LE(ink.bottom(), H / 2 - fm.height() / 2 + fm.height());

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
