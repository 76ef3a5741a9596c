// The program's pictures (icons and the splash picture), rendered from SVG at build time.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

#include "linux/controls/DialogUnits.h"

// Sizes are inline: the build step that renders the pictures needs them too.
namespace Pictures {
enum Id {
    kAppIcon = 128,
    kHelpBook = 130,
    kAdsShown = 132,
    kAdsHidden = 133,
    kCubes = 150,
    kSplash = 135,
};

// The picture's natural size: 32 x 32 for icons, 330 x 190 for the splash.
inline QSize NaturalSize(int id) {
    return id == kSplash ? QSize(330, 190) : QSize(32, 32);
}
// The picture at `size` (its natural size when empty), in logical pixels; sharp on high-DPI
// screens too. A null pixmap for an unknown id.
QPixmap Load(int id, QSize size = {});
// Starts reading the splash picture at `size` on a worker thread, so that the reading overlaps
// the building of the main dialog; the next Load(kSplash, size) takes it from there.
void PrepareSplash(QSize size);
// The application icon at the sizes window managers ask for.
QIcon AppIcon();
// Puts the picture the Fusion style frames group boxes with into the pixmap cache, read by
// Qt's own PNG reader. Left to the style, that first read loads every image plugin installed
// (a dozen libraries) only to ask each whether it reads PNG. Nothing changes on screen.
void PreloadStylePictures();
// Starts that read on a worker thread; the next PreloadStylePictures takes the picture from there.
void PrepareStylePictures();
// The key under which QPixmap's loading from `path` looks in the pixmap cache first.
QString PixmapCacheKey(const QString& path);

// The splash window in the dialog's units: the template's width, and the height that keeps the
// picture's proportions. The picture fills it inside a one-pixel border.
inline QSize SplashWindowSize(const DialogUnits& du) {
    const int width = du.ToPixelsX(220);
    return {width, width * 190 / 330};
}
inline QSize SplashPictureSize(const DialogUnits& du) {
    return SplashWindowSize(du) - QSize(2, 2);
}
}  // namespace Pictures
