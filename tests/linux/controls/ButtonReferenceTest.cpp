// The checked-in reference sheets that the Windows build compares its buttons with
// (tests/windows/reference) are still what this build paints: outside the caption's glyphs
// exactly (the glyphs follow the fonts installed, so they are left to a person's eye). Each
// look of the button as two tiles, captioned then bare, one below the other; the looks in the
// order the Windows test lists them. The sheets this build painted are left in the test's
// folder: copy them over after a change to the button's look.
#include <gtest/gtest.h>

#include <QDir>
#include <QPainter>
#include <vector>

#include "ButtonStates.h"

namespace {

QImage RenderReferenceSheet(QSize size) {
    QWidget window;
    window.resize(size.width() + 20, 2 * size.height() + 40);
    auto* button = new CXPButton(&window);
    button->setGeometry(10, 10, size.width(), size.height());
    auto* other = new CXPButton(QStringLiteral("x"), &window);
    other->setGeometry(10, size.height() + 20, size.width(), size.height());
    ShowAndActivate(window);

    const std::vector<ButtonLook> looks = {{},
                                           {.hover = true},
                                           {.focus = true},
                                           {.hover = true, .focus = true},
                                           {.pressed = true},
                                           {.isDefault = true},
                                           {.hover = true, .isDefault = true},
                                           {.disabled = true}};
    QImage sheet(size.width(), size.height() * 2 * static_cast<int>(looks.size()),
                 QImage::Format_RGB32);
    QPainter painter(&sheet);
    int y = 0;
    for (const ButtonLook& look : looks) {
        for (const QString& caption : {QStringLiteral("Hide &Adsense"), QString()}) {
            button->setText(caption);
            if (!look.focus) other->setFocus();
            ApplyLook(*button, look);
            painter.drawImage(0, y, button->grab().toImage());
            y += size.height();
        }
    }
    return sheet;
}

TEST(ButtonReference, CheckedInSheetsAreWhatLinuxPaints) {
    const QDir folder(qEnvironmentVariable("VANTREL_TEST_SOURCE_DIR") +
                      QStringLiteral("/tests/windows/reference"));
    for (const QSize size : {QSize(86, 23), QSize(60, 34)}) {
        const QString name = QStringLiteral("xp_button_%1x%2").arg(size.width()).arg(size.height());
        const QImage painted = RenderReferenceSheet(size);
        painted.save(name + ".png");
        const QImage stored =
            QImage(folder.filePath(name + ".png")).convertToFormat(QImage::Format_RGB32);
        const std::string remake = name.toStdString() + ": if the button's look changed on " +
                                   "purpose, copy " + QDir::currentPath().toStdString() + "/" +
                                   name.toStdString() + ".png to tests/windows/reference";
        ASSERT_EQ(stored.size(), painted.size()) << remake;
        const int h = size.height();
        int differing = 0;
        for (int y = 0; y < painted.height(); ++y) {
            // Each captioned tile is followed by its bare twin: glyph pixels differ between them.
            const bool captioned = (y / h) % 2 == 0;
            for (int x = 0; x < painted.width(); ++x) {
                if (captioned && stored.pixel(x, y) != stored.pixel(x, y + h)) continue;
                if (painted.pixel(x, y) != stored.pixel(x, y)) ++differing;
            }
        }
        EXPECT_EQ(differing, 0) << remake;
    }
}

}  // namespace
