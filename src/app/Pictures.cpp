// Pictures are hand-written SVG in the resources, rendered here so they stay sharp at any size.
#include "app/Pictures.h"

#include <QPainter>
#include <QString>
#include <QSvgRenderer>

// The resources live in a static library: nothing would pull them into the program otherwise.
static void InitResources() {
    Q_INIT_RESOURCE(resources);
}

namespace Pictures {
namespace {
QString PathOf(int id) {
    static const bool once = (InitResources(), true);
    (void)once;
    switch (id) {
        case kAppIcon:
        case kHelpBook:
        case kAdsShown:
        case kAdsHidden:
        case kCubes:
            return QStringLiteral(":/res/icon%1.svg").arg(id);
        case kSplash:
            return QStringLiteral(":/res/splash135.svg");
        default:
            return {};
    }
}
}  // namespace

QSize NaturalSize(int id) {
    return id == kSplash ? QSize(330, 190) : QSize(32, 32);
}

QPixmap Load(int id, QSize size) {
    const QString path = PathOf(id);
    if (path.isEmpty()) return {};
    if (size.isEmpty()) size = NaturalSize(id);
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64}) icon.addPixmap(Load(kAppIcon, QSize(side, side)));
    return icon;
}
}  // namespace Pictures
