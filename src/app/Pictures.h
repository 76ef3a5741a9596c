// The program's pictures (icons and the splash picture), drawn from SVG at the size asked.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

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
QSize NaturalSize(int id);
// The picture rendered at `size` (its natural size when empty); a null pixmap for an unknown id.
QPixmap Load(int id, QSize size = {});
// The application icon at the sizes window managers ask for.
QIcon AppIcon();
}  // namespace Pictures
