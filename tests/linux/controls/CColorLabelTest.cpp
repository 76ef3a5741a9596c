// The colour label: colours fixed at construction, a new text colour on screen at once, and
// the face-coloured background left as it was.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include "ButtonStates.h"
#include "linux/controls/CColorLabel.h"

namespace {

// Counts the paints a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

bool HasPixel(const QImage& img, const QColor& c) {
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, y) == c) return true;
    return false;
}

// What the window system shows of the window, not a fresh rendering of the widget.
QImage OnScreen(QWidget& window, QWidget& child) {
    const QImage all = window.screen()->grabWindow(window.winId()).toImage();
    return all.copy(QRect(child.mapTo(&window, QPoint(0, 0)), child.size()))
        .convertToFormat(QImage::Format_RGB32);
}

class ColorLabelTest : public ::testing::Test {
protected:
    void SetUp() override { saved = QApplication::palette(); }
    void TearDown() override { QApplication::setPalette(saved); }
    QPalette saved;
};

TEST_F(ColorLabelTest, ColoursAreReadOnceAtConstruction) {
    QPalette pal = saved;
    pal.setColor(QPalette::WindowText, QColor(20, 40, 160));
    pal.setColor(QPalette::Button, QColor(90, 90, 90));
    pal.setColor(QPalette::Window, QColor(200, 190, 150));
    QApplication::setPalette(pal);
    CColorLabel label;
    label.setText("Ads are shown.");
    label.resize(200, 24);
    QApplication::setPalette(saved);

    const QImage img = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(img.pixelColor(0, 0), QColor(200, 190, 150));
    EXPECT_EQ(img.pixelColor(199, 23), QColor(200, 190, 150));
    EXPECT_TRUE(HasPixel(img, QColor(20, 40, 160)));
    EXPECT_EQ(label.font(), QApplication::font());
}

TEST_F(ColorLabelTest, SetLabelColorRepaintsAtOnceAndChains) {
    QWidget window;
    window.resize(260, 60);
    auto* label = new CColorLabel(&window);
    label->setGeometry(10, 10, 220, 24);
    label->setText("Ads are shown.");
    ShowAndActivate(window);
    const QColor face = label->BackColor();
    PaintCounter counter;
    label->installEventFilter(&counter);

    // No event processing between the call and the look: the window already shows it.
    CColorLabel& same = label->SetLabelColor(QColor(255, 0, 0));
    EXPECT_EQ(&same, label);
    EXPECT_EQ(counter.paints, 1);
    QImage shown = OnScreen(window, *label);
    EXPECT_TRUE(HasPixel(shown, QColor(255, 0, 0)));
    EXPECT_EQ(shown.pixelColor(0, 0), face);

    // The same colour again still repaints.
    label->SetLabelColor(QColor(255, 0, 0));
    EXPECT_EQ(counter.paints, 2);

    // Chained, with the text set afterwards: the new text in the last colour.
    label->SetLabelColor(QColor(255, 0, 0)).SetLabelColor(QColor(0, 125, 0));
    label->setText("Ads are hidden.");
    shown = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(HasPixel(shown, QColor(0, 125, 0)));
    EXPECT_FALSE(HasPixel(shown, QColor(255, 0, 0)));
    EXPECT_EQ(shown.pixelColor(0, 0), face);
    EXPECT_EQ(shown.pixelColor(label->width() - 1, label->height() - 1), face);
}

}  // namespace
