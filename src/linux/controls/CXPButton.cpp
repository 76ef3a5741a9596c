// Painting and hover tracking of the XP-style button. Every shape is laid down pixel by
// pixel with fillRect so the result matches the classic raster look exactly at a scale
// of 1, with no antialiasing creeping into outline, face or border lines.
#include "linux/controls/CXPButton.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/controls/ButtonOutline.h"

namespace {

// Window-system style rectangle: right and bottom edges excluded.
struct Rect {
    int left, top, right, bottom;
};

// Width of the 3-D edge the face is inset by, horizontally and vertically.
constexpr int kCxEdge = 2;
constexpr int kCyEdge = 2;
constexpr int kCornerEllipse = 10;
constexpr int kGradientSteps = 64;

// Colours of an embossed (disabled) caption: the classic highlight and shadow.
const QColor kEmbossHighlight(255, 255, 255);
const QColor kEmbossShadow(128, 128, 128);

void FillPixels(QPainter& dc, int left, int top, int right, int bottom, const QColor& color) {
    if (right > left && bottom > top)
        dc.fillRect(QRect(left, top, right - left, bottom - top), color);
}

}  // namespace

CXPButton::CXPButton(QWidget* parent) : QPushButton(parent) {
    Init();
}

CXPButton::CXPButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    Init();
}

CXPButton::~CXPButton() = default;

QFont CXPButton::CaptionFont() {
    // A font asked for with a height of 14 gets a 14-pixel cell (ascent plus descent), not a
    // 14-pixel em: take the largest size whose line fits into 14 pixels.
    static const QFont font = [] {
        QFont f(QStringLiteral("Arial"));
        for (int size = 14; size > 1; --size) {
            f.setPixelSize(size);
            if (QFontMetrics(f).height() <= 14) break;
        }
        return f;
    }();
    return font;
}

void CXPButton::Init() {
    m_fontText = CaptionFont();
    m_penOutline = {1, QColor(0, 0, 0)};
    m_penHoverLeft = {3, QColor(250, 196, 88)};
    m_penHoverTop = {2, QColor(252, 210, 121)};
    m_penHoverRight = {3, QColor(251, 202, 106)};
    m_penHoverBottom = {2, QColor(229, 151, 0)};
    m_penFocusLeft = {3, QColor(153, 198, 252)};
    m_penFocusTop = {2, QColor(162, 201, 255)};
    m_penFocusRight = {3, QColor(162, 189, 252)};
    m_penFocusBottom = {2, QColor(162, 201, 255)};
    // Moves without a button pressed must reach us so a lost hover state is picked up again.
    setMouseTracking(true);
}

void CXPButton::StartTracking() {
    // Enter and move events both mean the pointer rests on the button: hover at once.
    m_bMouseTracked = true;
    if (!m_bPointerOver) {
        m_bPointerOver = true;
        update();
    }
}

void CXPButton::enterEvent(QEnterEvent* event) {
    StartTracking();
    QPushButton::enterEvent(event);
}

void CXPButton::leaveEvent(QEvent* event) {
    m_bMouseTracked = false;
    if (m_bPointerOver) {
        m_bPointerOver = false;
        update();
    }
    QPushButton::leaveEvent(event);
}

void CXPButton::mouseMoveEvent(QMouseEvent* event) {
    if (!m_bMouseTracked && rect().contains(event->position().toPoint())) StartTracking();
    QPushButton::mouseMoveEvent(event);
}

void CXPButton::paintEvent(QPaintEvent* event) {
    // Compose the clip rectangle off-screen and copy it in one go.
    const QRect clip = event->rect();
    if (clip.isEmpty()) return;
    const qreal dpr = devicePixelRatioF();
    QImage buffer(clip.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    buffer.setDevicePixelRatio(dpr);
    {
        QPainter dc(&buffer);
        dc.translate(-clip.topLeft());
        dc.fillRect(clip, palette().color(QPalette::Window));
        PaintButton(dc, rect(), text());
    }
    QPainter target(this);
    target.drawImage(clip.topLeft(), buffer);
}

void CXPButton::PaintButton(QPainter& dc, const QRect& item, const QString& caption) {
    Rect r{item.left(), item.top(), item.left() + item.width(), item.top() + item.height()};
    PaintOutline(dc, item);

    m_bFocus = hasFocus();
    m_bEmphasis = m_bFocus;
    const bool pressed = isDown();
    if (pressed || isDefault()) m_bEmphasis = true;

    r.left += kCxEdge;
    r.right -= kCxEdge;
    r.top += kCyEdge;
    r.bottom -= kCyEdge;
    const QRect face(r.left, r.top, r.right - r.left, r.bottom - r.top);
    PaintGradient(dc, face);
    if (m_bFocus || m_bPointerOver) PaintBorderLines(dc, face);

    if (caption.isEmpty()) return;
    QString shown = caption;
    shown.remove(QLatin1Char('&'));
    const QFontMetrics fm(m_fontText);
    const int cx = fm.horizontalAdvance(shown);
    const int cy = fm.height();
    int x = (r.left + r.right) / 2 - cx / 2;
    int y = (r.top + r.bottom) / 2 - cy / 2;
    if (pressed) {
        ++x;
        ++y;
    }
    dc.setFont(m_fontText);
    const int baseline = fm.ascent();
    if (!isEnabled()) {
        dc.setPen(kEmbossHighlight);
        dc.drawText(x + 1, y + 1 + baseline, shown);
        dc.setPen(kEmbossShadow);
        dc.drawText(x, y + baseline, shown);
    } else {
        dc.setPen(QColor(0, 0, 0));
        dc.drawText(x, y + baseline, shown);
    }
}

void CXPButton::PaintOutline(QPainter& dc, const QRect& item) const {
    // The outline's runs come from the core, so every system's button has the same corners.
    const QColor white(255, 255, 255);
    for (const OutlineRun& run : RoundedOutline(item.left(), item.top(), item.left() + item.width(),
                                                item.top() + item.height(), kCornerEllipse))
        FillPixels(dc, run.left, run.y, run.right, run.y + 1,
                   run.outline ? m_penOutline.color : white);
}

void CXPButton::PaintGradient(QPainter& dc, const QRect& face) const {
    const int a = m_bPointerOver ? 4 : 3;
    int b;
    if (m_bPointerOver)
        b = m_bEmphasis ? 3 : 5;
    else
        b = m_bEmphasis ? 4 : 5;
    QColor brushes[kGradientSteps];
    for (int i = 0; i < kGradientSteps; ++i)
        brushes[i] = QColor(static_cast<std::uint8_t>(m_baseRed - i / a),
                            static_cast<std::uint8_t>(m_baseGreen - i / a),
                            static_cast<std::uint8_t>(m_baseBlue - i / b));

    const int w = face.width();
    const int h = face.height();
    if (h <= 0) return;
    // Rows count from the button's own top, so the face never starts at pure white.
    for (int y = face.top(); y < h + 2; ++y) {
        const int n = std::min(63 * y / h, kGradientSteps - 1);
        FillPixels(dc, face.left(), y, w + 2, y + 1, brushes[n]);
    }
}

void CXPButton::PaintBorderLines(QPainter& dc, const QRect& face) const {
    const bool focusLook = m_bFocus && !m_bPointerOver;
    const Pen& left = focusLook ? m_penFocusLeft : m_penHoverLeft;
    const Pen& right = focusLook ? m_penFocusRight : m_penHoverRight;
    const Pen& top = focusLook ? m_penFocusTop : m_penHoverTop;
    const Pen& bottom = focusLook ? m_penFocusBottom : m_penHoverBottom;
    const int l = face.left(), t = face.top();
    const int r = face.left() + face.width(), btm = face.top() + face.height();
    LineTo(dc, left, {l, btm - 3}, {l, t + 2});
    LineTo(dc, right, {r - 1, btm - 3}, {r - 1, t + 2});
    LineTo(dc, top, {l + 2, t}, {r - 2, t});
    LineTo(dc, bottom, {l + 2, btm}, {r - 2, btm});
}

void CXPButton::LineTo(QPainter& dc, const Pen& pen, QPoint from, QPoint to) {
    // Horizontal or vertical only. Across the line a pen of width n covers the pixels from
    // -(n / 2) to (n - 1) / 2 (3 -> -1..1, 2 -> -1..0); along it the end point is left out.
    const int lo = -(pen.width / 2), hi = (pen.width - 1) / 2;
    if (from.y() == to.y()) {
        const int s0 = from.x() <= to.x() ? from.x() : to.x() + 1;
        const int s1 = from.x() <= to.x() ? to.x() : from.x() + 1;
        FillPixels(dc, s0, from.y() + lo, s1, from.y() + hi + 1, pen.color);
    } else if (from.x() == to.x()) {
        const int s0 = from.y() <= to.y() ? from.y() : to.y() + 1;
        const int s1 = from.y() <= to.y() ? to.y() : from.y() + 1;
        FillPixels(dc, from.x() + lo, s0, from.x() + hi + 1, s1, pen.color);
    }
}
