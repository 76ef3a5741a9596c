// Painting of the XP-style button.
#include "controls/CXPButton.h"

CXPButton::CXPButton(QWidget* parent) : QPushButton(parent) {}

CXPButton::CXPButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

CXPButton::~CXPButton() = default;

void CXPButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
}
