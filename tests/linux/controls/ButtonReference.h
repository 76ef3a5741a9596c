// The XP-style button in each of its looks, with and without a caption, stacked into one
// picture: the Windows build paints the same sheet with GDI and compares it with this one
// (tests/windows/reference), outside the caption's glyphs.
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <vector>

#include "ButtonStates.h"

// The looks in the sheet's order; the Windows test lists the same ones.
inline std::vector<ButtonLook> ReferenceLooks() {
    return {{},
            {.hover = true},
            {.focus = true},
            {.hover = true, .focus = true},
            {.pressed = true},
            {.isDefault = true},
            {.hover = true, .isDefault = true},
            {.disabled = true}};
}

inline const char* ReferenceCaption() {
    return "Hide &Adsense";
}

// Each look as two tiles, captioned then bare, one below the other.
inline QImage RenderReferenceSheet(QSize size) {
    QWidget window;
    window.resize(size.width() + 20, 2 * size.height() + 40);
    auto* button = new CXPButton(&window);
    button->setGeometry(10, 10, size.width(), size.height());
    auto* other = new CXPButton(QStringLiteral("x"), &window);
    other->setGeometry(10, size.height() + 20, size.width(), size.height());
    ShowAndActivate(window);

    const std::vector<ButtonLook> looks = ReferenceLooks();
    QImage sheet(size.width(), size.height() * 2 * static_cast<int>(looks.size()),
                 QImage::Format_RGB32);
    QPainter painter(&sheet);
    int y = 0;
    for (const ButtonLook& look : looks) {
        for (const QString& caption : {QString::fromLatin1(ReferenceCaption()), QString()}) {
            button->setText(caption);
            if (!look.focus) other->setFocus();
            ApplyLook(*button, look);
            painter.drawImage(0, y, button->grab().toImage());
            y += size.height();
        }
    }
    painter.end();
    return sheet;
}

// Where the sheets are kept, per size.
inline QString ReferenceName(QSize size) {
    return QStringLiteral("xp_button_%1x%2.ppm").arg(size.width()).arg(size.height());
}

inline std::vector<QSize> ReferenceSizes() {
    return {QSize(86, 23), QSize(60, 34)};
}
