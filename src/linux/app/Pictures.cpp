// Pictures are hand-written SVG in res/, rendered at build time at each size shown here.
#include "linux/app/Pictures.h"

#include <QApplication>
#include <QDateTime>
#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmapCache>
#include <QRegularExpression>
#include <QResource>
#include <QString>
#include <QStyle>
#include <QtEndian>
#include <cstring>
#include <future>
#include <system_error>
#include <utility>

// The resources live in a static library: nothing would pull them into the program otherwise.
static void InitResources() {
    Q_INIT_RESOURCE(resources);
    Q_INIT_RESOURCE(pictures);
}

namespace Pictures {
namespace {
void EnsureResources() {
    static const bool once = (InitResources(), true);
    (void)once;
}

bool IsKnown(int id) {
    switch (id) {
        case kAppIcon:
        case kHelpBook:
        case kAdsShown:
        case kAdsHidden:
        case kCubes:
        case kSplash:
            return true;
        default:
            return false;
    }
}

QString PathOf(int id, QSize size, int scale) {
    return QStringLiteral(":/pictures/%1-%2x%3%4.argb")
        .arg(id)
        .arg(size.width())
        .arg(size.height())
        .arg(scale == 2 ? QStringLiteral("@2x") : QString());
}

// Bare premultiplied ARGB pixels, little-endian, `size` logical pixels at `scale`: no decoding,
// no conversion, and no image plugins loaded to find out what the file is.
QImage Read(int id, QSize size, int scale) {
    const QResource resource(PathOf(id, size, scale));
    if (!resource.isValid()) return {};
    const QByteArray bytes = resource.uncompressedData();
    QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull() || bytes.size() != image.sizeInBytes()) return {};
    std::memcpy(image.bits(), bytes.constData(), bytes.size());
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
        auto* pixels = reinterpret_cast<quint32*>(image.bits());
        for (qsizetype i = 0; i < image.sizeInBytes() / 4; ++i)
            pixels[i] = qFromLittleEndian(pixels[i]);
    }
    return image;
}

// For a size nobody rendered (an unusual font or screen scale): the largest rendering, which
// scaled down smoothly looks as good as drawing the SVG at that size.
QImage Largest(int id) {
    static const QRegularExpression name(QStringLiteral("^(\\d+)-(\\d+)x(\\d+)(@2x)?\\.argb$"));
    QDirIterator it(QStringLiteral(":/pictures"));
    QImage best;
    while (it.hasNext()) {
        const QRegularExpressionMatch m = name.match(it.next().section(QLatin1Char('/'), -1));
        if (!m.hasMatch() || m.captured(1).toInt() != id) continue;
        const QSize size(m.captured(2).toInt(), m.captured(3).toInt());
        const int scale = m.capturedLength(4) ? 2 : 1;
        const QSize pixels = size * scale;
        if (qint64(pixels.width()) * pixels.height() > qint64(best.width()) * best.height())
            best = Read(id, size, scale);
    }
    return best;
}
// QPixmap::load's cache key: the path, then the time and size of the file and the pixmap type,
// each written as the hex digits of its bytes, low nibble first.
template <class T>
QString HexBytes(T value) {
    static const char kDigits[] = "0123456789abcdef";
    QString text;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    for (std::size_t i = 0; i < sizeof value; ++i) {
        text += QLatin1Char(kDigits[bytes[i] & 0xf]);
        text += QLatin1Char(kDigits[bytes[i] >> 4]);
    }
    return text;
}
}  // namespace

QString PixmapCacheKey(const QString& path) {
    const QFileInfo info(path);
    return QStringLiteral("qt_pixmap") + info.absoluteFilePath() +
           HexBytes(uint(info.lastModified().toSecsSinceEpoch())) + HexBytes(quint64(info.size())) +
           HexBytes(uint(0));
}

namespace {
// The splash picture being read on a worker thread, and the size and scale it is read at.
struct PreparedSplash {
    QSize size;
    int scale = 0;
    std::future<QImage> image;
};

PreparedSplash& Prepared() {
    static PreparedSplash prepared;
    return prepared;
}

// Only renderings that exist are read ahead; other scales go through Load's scaling.
int ExactScale() {
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    return ratio == 1.0 ? 1 : ratio == 2.0 ? 2 : 0;
}
}  // namespace

void PrepareSplash(QSize size) {
    PreparedSplash& prepared = Prepared();
    const int scale = ExactScale();
    if (scale == 0 || prepared.image.valid()) return;
    EnsureResources();
    try {
        prepared.image =
            std::async(std::launch::async, [size, scale] { return Read(kSplash, size, scale); });
    } catch (const std::system_error&) {
        return;  // no thread to be had: Load reads it when it is needed
    }
    prepared.size = size;
    prepared.scale = scale;
}

QPixmap Load(int id, QSize size) {
    if (!IsKnown(id)) return {};
    EnsureResources();
    if (size.isEmpty()) size = NaturalSize(id);
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QImage image;
    PreparedSplash& prepared = Prepared();
    if (id == kSplash && prepared.image.valid()) {
        QImage ready = prepared.image.get();
        if (prepared.size == size && prepared.scale == ExactScale()) image = std::move(ready);
    }
    if (image.isNull() && (ratio == 1.0 || ratio == 2.0)) image = Read(id, size, int(ratio));
    if (image.isNull()) {
        image = Largest(id).scaled((QSizeF(size) * ratio).toSize(), Qt::IgnoreAspectRatio,
                                   Qt::SmoothTransformation);
    }
    image.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(std::move(image));
}

QIcon AppIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64}) icon.addPixmap(Load(kAppIcon, QSize(side, side)));
    return icon;
}

namespace {
const QString& GroupBoxPicturePath() {
    static const QString path =
        QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png");
    return path;
}

bool StyleIsFusion() {
    return QApplication::style()->name() == QLatin1String("fusion");
}

QImage ReadGroupBoxPicture() {
    QImageReader reader(GroupBoxPicturePath(), "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

std::future<QImage>& PreparedGroupBoxPicture() {
    static std::future<QImage> image;
    return image;
}
}  // namespace

void PrepareStylePictures() {
    std::future<QImage>& image = PreparedGroupBoxPicture();
    if (image.valid() || !StyleIsFusion()) return;
    try {
        image = std::async(std::launch::async, ReadGroupBoxPicture);
    } catch (const std::system_error&) {
        // No thread to be had: PreloadStylePictures reads it itself.
    }
}

void PreloadStylePictures() {
    std::future<QImage>& prepared = PreparedGroupBoxPicture();
    QImage image = prepared.valid() ? prepared.get() : QImage();
    if (!StyleIsFusion()) return;
    const QString key = PixmapCacheKey(GroupBoxPicturePath());
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return;
    // An unknown key (another Qt) costs nothing: the style reads the file itself, as before.
    if (image.isNull()) image = ReadGroupBoxPicture();
    if (!image.isNull()) QPixmapCache::insert(key, QPixmap::fromImage(image));
}
}  // namespace Pictures
