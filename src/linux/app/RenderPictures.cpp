// Build step: renders the SVG pictures at every size the program shows them, plus their @2x
// versions for high-DPI screens, and writes the resource file that embeds them. Drawing SVG at
// start cost the program a quarter of its start-up, and the SVG library with it.
//
// Usage: vantrel_render_pictures SVG_DIR OUT_DIR
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>
#include <QTextStream>
#include <QtEndian>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "linux/app/Pictures.h"

namespace {
struct Rendering {
    int id;
    QSize size;         // logical pixels
    bool twice = true;  // also at @2x
};

QString SourceName(int id) {
    return id == Pictures::kSplash ? QStringLiteral("splash135.svg")
                                   : QStringLiteral("icon%1.svg").arg(id);
}

QString OutputName(int id, QSize size, int scale, const char* suffix) {
    return QStringLiteral("%1-%2x%3%4.%5")
        .arg(id)
        .arg(size.width())
        .arg(size.height())
        .arg(scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale))
        .arg(QLatin1String(suffix));
}

std::vector<Rendering> Renderings() {
    std::vector<Rendering> list;
    for (int id :
         {Pictures::kHelpBook, Pictures::kAdsShown, Pictures::kAdsHidden, Pictures::kCubes})
        list.push_back({id, Pictures::NaturalSize(id)});
    // The window icon's sizes, and the About box's 32 x 32.
    for (int side : {16, 24, 32, 48, 64}) list.push_back({Pictures::kAppIcon, QSize(side, side)});
    // The splash follows the dialog font; these base units cover the fonts a desktop may give,
    // the common ones also for high-DPI screens. Any other size is scaled from the largest of
    // these at run time.
    for (int baseX = 4; baseX <= 12; ++baseX)
        list.push_back({Pictures::kSplash, Pictures::SplashPictureSize(DialogUnits(baseX, 8)),
                        baseX >= 5 && baseX <= 8});
    return list;
}

// The SVG drawn over the whole of a transparent image.
QImage Render(QSvgRenderer& renderer, QSize pixels) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    return image;
}

bool Write(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// The program's copy: bare premultiplied ARGB pixels as little-endian 32-bit words, the form Qt
// paints from, size in the name. The resource compiler compresses it; reading it back is one
// decompression and a copy, with no decoding or conversion.
bool WriteRaw(const QImage& image, const QString& path) {
    QByteArray bytes;
    bytes.reserve(image.width() * image.height() * 4);
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const quint32 pixel = qToLittleEndian(row[x]);
            bytes.append(reinterpret_cast<const char*>(&pixel), sizeof pixel);
        }
    }
    return Write(path, bytes);
}

// A PNG beside it, to look at, and for code that opens an icon by its file name.
bool WritePng(const QImage& image, const QString& path) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") && Write(path, bytes);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SVG_DIR OUT_DIR\n", argv[0]);
        return 2;
    }
    // The splash's texts need the font database, which needs a platform; no display is needed.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QDir sources(QString::fromLocal8Bit(argv[1]));
    const QDir out(QString::fromLocal8Bit(argv[2]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[2]);
        return 1;
    }

    QString qrc;
    QTextStream list(&qrc);
    list << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/pictures\">\n";
    QString aliases;
    for (const Rendering& r : Renderings()) {
        QSvgRenderer renderer(sources.filePath(SourceName(r.id)));
        if (!renderer.isValid()) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(SourceName(r.id)));
            return 1;
        }
        for (int scale : {1, 2}) {
            if (scale == 2 && !r.twice) continue;
            const QImage image = Render(renderer, r.size * scale);
            const QString raw = OutputName(r.id, r.size, scale, "argb");
            const QString png = OutputName(r.id, r.size, scale, "png");
            if (!WriteRaw(image, out.filePath(raw)) || !WritePng(image, out.filePath(png)))
                return 1;
            // The small pictures the main dialog shows at its start are stored as they are:
            // decompressing each one would cost more than reading it.
            list << (r.id == Pictures::kSplash ? "    <file>"
                                               : "    <file compression-algorithm=\"none\">")
                 << raw << "</file>\n";
            if (r.id != Pictures::kSplash && r.size == Pictures::NaturalSize(r.id))
                aliases += QStringLiteral("    <file alias=\"icon%1%2.png\">%3</file>\n")
                               .arg(r.id)
                               .arg(scale == 1 ? QString() : QStringLiteral("@2x"))
                               .arg(png);
        }
    }
    list << "  </qresource>\n  <qresource prefix=\"/res\">\n"
         << aliases << "  </qresource>\n</RCC>\n";
    list.flush();

    QSaveFile file(out.filePath(QStringLiteral("pictures.qrc")));
    if (!file.open(QIODevice::WriteOnly) || file.write(qrc.toUtf8()) < 0 || !file.commit()) {
        std::fprintf(stderr, "cannot write the resource list\n");
        return 1;
    }
    return 0;
}
