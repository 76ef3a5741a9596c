// The colour label.
#include "controls/CColorLabel.h"

CColorLabel::CColorLabel(QWidget* parent) : QLabel(parent) {}

CColorLabel::~CColorLabel() = default;

CColorLabel& CColorLabel::SetLabelColor(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    setPalette(pal);
    repaint();
    return *this;
}
