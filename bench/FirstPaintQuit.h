// Ends a dialog's modal loop right after its first paint: the moment it is on screen.
#pragma once

#include <QDialog>
#include <QEvent>
#include <QTimer>

class CFirstPaintQuit : public QObject {
public:
    explicit CFirstPaintQuit(QDialog* dialog) : m_dialog(dialog) {
        dialog->installEventFilter(this);
    }
    bool Painted() const { return m_bPainted; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_dialog && event->type() == QEvent::Paint && !m_bPainted) {
            m_bPainted = true;
            // After the paint pass has finished and reached the window.
            QTimer::singleShot(0, m_dialog, [this] { m_dialog->done(0); });
        }
        return false;
    }

private:
    QDialog* m_dialog;
    bool m_bPainted = false;
};
