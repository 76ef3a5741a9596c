// Every message box of the program goes through ShowMessage, so that tests can answer
// them through a hook instead of clicking a real box.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

struct MessageRequest {
    QWidget* owner;
    QString text;
    QString caption;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
};

using MessageHook = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

// Shows a modal message box owned by `owner` and returns the button pressed.
QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::Icon icon = QMessageBox::NoIcon);

// Replaces the real box (tests); an empty hook restores it. Returns the previous hook.
MessageHook SetMessageHook(MessageHook hook);
