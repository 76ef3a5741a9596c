// The real message box, or the hook that tests install in its place.
#include "linux/controls/MessageBox.h"

#include <utility>

namespace {
MessageHook& Hook() {
    static MessageHook hook;
    return hook;
}
}  // namespace

QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::Icon icon) {
    if (Hook()) return Hook()(MessageRequest{owner, text, caption, buttons, icon});
    QMessageBox box(icon, caption, text, buttons, owner);
    box.setObjectName(QStringLiteral("messageBox"));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

MessageHook SetMessageHook(MessageHook hook) {
    return std::exchange(Hook(), std::move(hook));
}
