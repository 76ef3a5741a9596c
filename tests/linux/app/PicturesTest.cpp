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
    // The splash follows the dialog font, and fills its whole picture.
    const QSize splashSize = Pictures::SplashPictureSize(DialogUnits(DialogUnits::DialogFont()));
    const QPixmap splash = Pictures::Load(Pictures::kSplash, splashSize);
    EXPECT_EQ(splash.size(), splashSize);
    EXPECT_EQ(Coverage(splash.toImage()), 1.0);
    // Read ahead on a worker thread: the same picture; read ahead at another size: not used.
    Pictures::PrepareSplash(splashSize);
    EXPECT_EQ(Pictures::Load(Pictures::kSplash, splashSize).toImage(), splash.toImage());
    Pictures::PrepareSplash(splashSize + QSize(10, 6));
    EXPECT_EQ(Pictures::Load(Pictures::kSplash, splashSize).toImage(), splash.toImage());

    EXPECT_TRUE(Pictures::Load(999).isNull());
}

TEST(Pictures, SizesNotRenderedAreScaledFromTheLargest) {
    // A font far outside the usual ones.
    const QSize odd = Pictures::SplashPictureSize(DialogUnits(17, 30));
    const QPixmap splash = Pictures::Load(Pictures::kSplash, odd);
    EXPECT_EQ(splash.size(), odd);
    EXPECT_EQ(Coverage(splash.toImage()), 1.0);
    // The white top left and the blue band at the bottom survive the scaling.
    const QImage image = splash.toImage();
    EXPECT_GT(qBlue(image.pixel(2, 2)), 240);
    EXPECT_GT(qRed(image.pixel(2, 2)), 240);
    const QRgb band = image.pixel(image.width() / 10, image.height() - 3);
    EXPECT_GT(qBlue(band), qRed(band) + 60);

    const QPixmap big = Pictures::Load(Pictures::kAdsShown, QSize(100, 100));
    EXPECT_EQ(big.size(), QSize(100, 100));
    EXPECT_GT(Coverage(big.toImage()), 0.2);
}

TEST(Pictures, AppIconHasTheWindowManagersSizes) {
    const QIcon icon = Pictures::AppIcon();
    for (int side : {16, 24, 32, 48, 64}) {
        SCOPED_TRACE(side);
        EXPECT_EQ(icon.pixmap(side, side).size(), QSize(side, side));
    }
}

TEST(Pictures, IconsCanBeOpenedByFileName) {
    // Code outside the application shell opens the explanation icon as a file.
    Pictures::Load(Pictures::kHelpBook);  // registers the resources
    const QIcon icon(QStringLiteral(":/res/icon130.png"));
    EXPECT_EQ(icon.pixmap(32, 32).toImage(), Pictures::Load(Pictures::kHelpBook).toImage());
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
