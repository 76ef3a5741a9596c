// The pictures rendered at build time: every size the program asks for is there, other sizes
// still come out right, and the style's group-box picture is found where the style looks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPixmapCache>
#include <QStyle>

#include "linux/app/Pictures.h"
#include "linux/controls/DialogUnits.h"

namespace {
// Share of pixels that are not fully transparent.
double Coverage(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) opaque += qAlpha(argb.pixel(x, y)) != 0;
    return double(opaque) / (argb.width() * argb.height());
}
}  // namespace

TEST(Pictures, EveryPictureComesAtTheSizeShown) {
    for (int id : {Pictures::kAppIcon, Pictures::kHelpBook, Pictures::kAdsShown,
                   Pictures::kAdsHidden, Pictures::kCubes}) {
        SCOPED_TRACE(id);
        const QPixmap icon = Pictures::Load(id);
        EXPECT_EQ(icon.size(), QSize(32, 32));
        EXPECT_GT(Coverage(icon.toImage()), 0.2);
    }
    EXPECT_TRUE(Pictures::Load(999).isNull());
    for (int side : {16, 24, 32, 48, 64})
        EXPECT_EQ(Pictures::AppIcon().pixmap(side, side).size(), QSize(side, side)) << side;
    // Code outside the application shell opens the explanation icon as a file.
    EXPECT_EQ(QIcon(QStringLiteral(":/res/icon130.png")).pixmap(32, 32).toImage(),
              Pictures::Load(Pictures::kHelpBook).toImage());

    // The splash follows the dialog font, and fills its whole picture, also at a size not
    // rendered (a font far outside the usual ones), where it is scaled from the largest.
    for (const DialogUnits& units : {DialogUnits(DialogUnits::DialogFont()), DialogUnits(17, 30)}) {
        const QSize size = Pictures::SplashPictureSize(units);
        const QImage splash = Pictures::Load(Pictures::kSplash, size).toImage();
        EXPECT_EQ(splash.size(), size);
        EXPECT_EQ(Coverage(splash), 1.0);
        // The white top left and the blue band at the bottom.
        EXPECT_GT(qRed(splash.pixel(2, 2)), 240);
        const QRgb band = splash.pixel(splash.width() / 10, splash.height() - 3);
        EXPECT_GT(qBlue(band), qRed(band) + 60);
    }
    // Read ahead on a worker thread: the same picture; read ahead at another size: not used.
    const QSize size = Pictures::SplashPictureSize(DialogUnits(DialogUnits::DialogFont()));
    const QImage splash = Pictures::Load(Pictures::kSplash, size).toImage();
    Pictures::PrepareSplash(size);
    EXPECT_EQ(Pictures::Load(Pictures::kSplash, size).toImage(), splash);
    Pictures::PrepareSplash(size + QSize(10, 6));
    EXPECT_EQ(Pictures::Load(Pictures::kSplash, size).toImage(), splash);
}

TEST(Pictures, StylePictureIsWhereTheStyleLooksFirst) {
    if (QApplication::style()->name() != QLatin1String("fusion"))
        GTEST_SKIP() << "only the Fusion style frames group boxes with a picture";
    const QString path =
        QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png");
    QPixmapCache::clear();
    Pictures::PrepareStylePictures();  // read on a worker thread, taken by the preload
    Pictures::PreloadStylePictures();
    // The style gets the very picture it would have read itself...
    const QImage fromFile = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(QPixmap(path).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
              fromFile);
    // ...and gets it from the cache: an entry marked under the same key is what loading returns.
    QPixmap marked(fromFile.size());
    marked.fill(Qt::magenta);
    QPixmapCache::insert(Pictures::PixmapCacheKey(path), marked);
    EXPECT_EQ(QPixmap(path).toImage(), marked.toImage());
    QPixmapCache::clear();
}
