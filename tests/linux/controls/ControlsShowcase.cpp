// Renders every look of the XP-style button and the colour label in red and green into one
// PNG, once at true size and once magnified, so the pixels can be judged by eye.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "ButtonStates.h"
#include "linux/controls/CColorLabel.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QString out =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("controls_showcase.png");

    QWidget window;
    window.resize(400, 200);
    auto* button = new CXPButton(&window);
    button->setGeometry(10, 10, 100, 23);
    auto* elsewhere = new CXPButton(QStringLiteral("x"), &window);
    elsewhere->setGeometry(10, 100, 86, 23);
    auto* label = new CColorLabel(&window);
    label->setGeometry(10, 50, 260, 16);
    ShowAndActivate(window);

    struct Row {
        const char* name;
        QString caption;
        ButtonLook look;
    };
    const Row rows[] = {
        {"normal", "Hide Adsense", {}},
        {"hover", "Hide Adsense", {.hover = true}},
        {"focus", "Hide Adsense", {.focus = true}},
        {"focus + hover", "Hide Adsense", {.hover = true, .focus = true}},
        {"pressed", "Hide Adsense", {.pressed = true}},
        {"pressed + hover", "Hide Adsense", {.hover = true, .pressed = true}},
        {"default", "&Exit", {.isDefault = true}},
        {"default + hover", "&Exit", {.hover = true, .isDefault = true}},
        {"disabled", "Upgrade", {.disabled = true}},
        {"&Settings", "&Settings", {}},
        {"empty caption", "", {}},
    };

    QList<QPair<QString, QImage>> shots;
    for (const Row& row : rows) {
        button->setText(row.caption);
        if (!row.look.focus) elsewhere->setFocus();
        ApplyLook(*button, row.look);
        shots.append({QString::fromLatin1(row.name), button->grab().toImage()});
    }
    ApplyLook(*button, {});
    label->setText(QStringLiteral("Ads are shown."));
    label->SetLabelColor(QColor(255, 0, 0));
    shots.append({QStringLiteral("label red"), label->grab().toImage()});
    label->setText(QStringLiteral("Ads are hidden."));
    label->SetLabelColor(QColor(0, 125, 0));
    shots.append({QStringLiteral("label green"), label->grab().toImage()});

    const int zoom = 4, rowHeight = 23 * zoom + 8, nameWidth = 130, trueWidth = 280;
    QImage sheet(nameWidth + trueWidth + 110 * zoom, rowHeight * int(shots.size()) + 8,
                 QImage::Format_RGB32);
    sheet.fill(window.palette().color(QPalette::Window));
    QPainter p(&sheet);
    int y = 4;
    for (const auto& [name, img] : shots) {
        p.setPen(Qt::black);
        p.drawText(6, y + 16, name);
        p.drawImage(nameWidth, y, img);
        p.drawImage(QRect(nameWidth + trueWidth, y, img.width() * zoom, img.height() * zoom), img);
        y += rowHeight;
    }
    p.end();
    if (!sheet.save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s\n", qPrintable(out));
    return 0;
}
