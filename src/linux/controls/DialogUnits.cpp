// Dialog-unit conversion the way Windows maps them: the horizontal base unit is
// the average width of the alphabet in the dialog font, the vertical one the font's height.
#include "linux/controls/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>
#include <QWidget>

namespace {
const char* const kControlIdProperty = "controlId";

int MulDiv(int number, int numerator, int denominator) {
    // Rounds half away from zero, as the platform's MulDiv does.
    const long long product = static_cast<long long>(number) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}
}  // namespace

QFont DialogUnits::DialogFont() {
    return QApplication::font();
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (alphabet / 26 + 1) / 2;
    m_baseY = metrics.height();
}

int DialogUnits::ToPixelsX(int dlu) const {
    return MulDiv(dlu, m_baseX, 4);
}

int DialogUnits::ToPixelsY(int dlu) const {
    return MulDiv(dlu, m_baseY, 8);
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const {
    return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(width), ToPixelsY(height));
}

void DialogUnits::Place(QWidget* control, int x, int y, int width, int height) const {
    control->setGeometry(ToPixels(x, y, width, height));
}

void SetControlId(QWidget* control, int id) {
    control->setProperty(kControlIdProperty, id);
    if (control->objectName().isEmpty()) control->setObjectName(QStringLiteral("ctl%1").arg(id));
}

int ControlId(const QWidget* control) {
    const QVariant id = control->property(kControlIdProperty);
    return id.isValid() ? id.toInt() : -1;
}

QWidget* FindControl(const QWidget* dialog, int id) {
    const auto children = dialog->findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (ControlId(child) == id) return child;
    }
    return nullptr;
}
