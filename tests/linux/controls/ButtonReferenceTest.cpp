// The checked-in reference sheets that the Windows build compares its buttons with are still
// what this build paints: outside the caption's glyphs exactly (the glyphs follow the fonts
// installed, so they are left to a person's eye).
#include <gtest/gtest.h>

#include <QDir>

#include "ButtonReference.h"

TEST(ButtonReference, CheckedInSheetsAreWhatLinuxPaints) {
    const QDir folder(qEnvironmentVariable("VANTREL_TEST_SOURCE_DIR") +
                      QStringLiteral("/tests/windows/reference"));
    for (const QSize size : ReferenceSizes()) {
        const QImage painted = RenderReferenceSheet(size).convertToFormat(QImage::Format_RGB32);
        const QImage stored =
            QImage(folder.filePath(ReferenceName(size))).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(stored.size(), painted.size())
            << ReferenceName(size).toStdString() << ": run xp_button_reference to remake it";
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
        EXPECT_EQ(differing, 0) << ReferenceName(size).toStdString()
                                << ": run xp_button_reference to remake it";
    }
}
