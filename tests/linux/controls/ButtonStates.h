// Puts an XP-style button into each of its looks the way a user would get there, so the
// behaviour test and the reference sheets see the same states.
#pragma once

#include <QApplication>
#include <QEnterEvent>
#include <QWidget>
#include <QWindow>

#include "linux/controls/CXPButton.h"

struct ButtonLook {
    bool hover = false;
    bool focus = false;
    bool pressed = false;
    bool isDefault = false;
    bool disabled = false;
};

// Shows a top-level window and lets it become exposed and active; offscreen this takes a
// few event rounds, bounded by count rather than by time.
inline void ShowAndActivate(QWidget& window) {
    window.show();
    window.activateWindow();
    for (int i = 0; i < 200; ++i) {
        QApplication::processEvents();
        if (window.windowHandle() && window.windowHandle()->isExposed() &&
            QApplication::activeWindow() == &window)
            break;
    }
}

inline void SendEnter(QWidget& w) {
    const QPointF p(3, 3);
    QEnterEvent enter(p, w.mapTo(w.window(), p), w.mapToGlobal(p));
    QApplication::sendEvent(&w, &enter);
}

inline void SendLeave(QWidget& w) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&w, &leave);
}

// The button must sit in a shown, active window for focus to take.
inline void ApplyLook(CXPButton& button, const ButtonLook& look) {
    button.setEnabled(!look.disabled);
    button.setDefault(look.isDefault);
    button.setDown(look.pressed);
    if (look.focus)
        button.setFocus();
    else
        button.clearFocus();
    if (look.hover)
        SendEnter(button);
    else
        SendLeave(button);
}
