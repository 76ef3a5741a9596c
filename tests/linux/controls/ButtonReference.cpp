// Writes the button's reference sheets (ButtonReference.h) into a folder, as binary PPM, which
// the Windows test reads without an image library.
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "ButtonReference.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    for (const QSize size : ReferenceSizes()) {
        const QString path = out.filePath(ReferenceName(size));
        if (!RenderReferenceSheet(size).convertToFormat(QImage::Format_RGB888).save(path, "PPM")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
