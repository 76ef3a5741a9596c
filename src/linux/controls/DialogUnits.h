// Dialog templates are laid out in dialog units; this converts them to pixels with the
// metrics of the font the dialog really uses, so no text is clipped whatever the font.
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

class DialogUnits {
public:
    // The font every dialog of the program uses.
    static QFont DialogFont();

    explicit DialogUnits(const QFont& font = DialogFont());
    // Known base units, for sizes worked out without a font (pictures rendered at build time).
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

    int ToPixelsX(int dlu) const;
    int ToPixelsY(int dlu) const;
    QRect ToPixels(int x, int y, int width, int height) const;

    // Places a control at its template geometry.
    void Place(QWidget* control, int x, int y, int width, int height) const;

private:
    int m_baseX;
    int m_baseY;
};

// Gives a control the id it has in its dialog template; tests find controls by it.
void SetControlId(QWidget* control, int id);
int ControlId(const QWidget* control);
// The first child of `dialog` that carries the id, or nullptr.
QWidget* FindControl(const QWidget* dialog, int id);
template <class T>
T* FindControl(const QWidget* dialog, int id) {
    return qobject_cast<T*>(FindControl(dialog, id));
}
