// The colour label: colours and font are read once, at construction, so a later change of
// the desktop's palette does not reach a label that already exists.
#include "linux/controls/CColorLabel.h"

#include <QApplication>
#include <QPalette>

CColorLabel::CColorLabel(QWidget* parent)
    : QLabel(parent),
      m_textColor(QApplication::palette().color(QPalette::WindowText)),
      // The face colour that dialogs are painted with, so the label blends into its dialog.
      m_backColor(QApplication::palette().color(QPalette::Window)),
      m_fontText(QApplication::font()) {
    setFont(m_fontText);
    // The face colour is the label's background role, but the label fills nothing itself: a
    // style may shade the group box it sits in, and a filled label would show as a band there.
    ApplyColors();
}

CColorLabel::~CColorLabel() = default;

void CColorLabel::ApplyColors() {
    // Roles are set explicitly so the label never follows later palette changes; a disabled
    // label keeps the greyed text of its palette.
    QPalette pal = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        pal.setColor(group, QPalette::WindowText, m_textColor);
    pal.setColor(QPalette::Window, m_backColor);
    setPalette(pal);
}

CColorLabel& CColorLabel::SetLabelColor(const QColor& color) {
    m_textColor = color;
    ApplyColors();
    repaint();
    return *this;
}
