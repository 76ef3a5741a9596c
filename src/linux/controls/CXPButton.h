// The push button that gives every command button of the program the same look: a rounded
// black outline, a white-to-grey-blue face, orange lines under the pointer, blue with focus.
#pragma once

#include <QColor>
#include <QFont>
#include <QPushButton>
#include <cstdint>

class QPainter;

class CXPButton : public QPushButton {
    Q_OBJECT

public:
    explicit CXPButton(QWidget* parent = nullptr);
    explicit CXPButton(const QString& text, QWidget* parent = nullptr);
    ~CXPButton() override;

    // Arial with a 14-pixel cell height: the caption font of every button.
    static QFont CaptionFont();

    // Hover tracking, read by the tests.
    bool IsPointerOver() const { return m_bPointerOver; }
    bool IsMouseTracked() const { return m_bMouseTracked; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // A wide line as the classic raster engine lays it down: `width` pixels centred across
    // the line, the end point left out.
    struct Pen {
        int width;
        QColor color;
    };

    void Init();
    void StartTracking();
    void PaintButton(QPainter& dc, const QRect& item, const QString& caption);
    void PaintOutline(QPainter& dc, const QRect& r) const;
    void PaintGradient(QPainter& dc, const QRect& r) const;
    void PaintBorderLines(QPainter& dc, const QRect& r) const;
    static void LineTo(QPainter& dc, const Pen& pen, QPoint from, QPoint to);

    QFont m_fontText;
    Pen m_penOutline;
    Pen m_penHoverLeft;
    Pen m_penHoverTop;
    Pen m_penHoverRight;
    Pen m_penHoverBottom;
    Pen m_penFocusLeft;
    Pen m_penFocusTop;
    Pen m_penFocusRight;
    Pen m_penFocusBottom;
    bool m_bPointerOver = false;
    bool m_bMouseTracked = false;
    bool m_bFocus = false;
    bool m_bEmphasis = false;
    std::uint16_t m_baseRed = 255;
    std::uint16_t m_baseGreen = 255;
    std::uint16_t m_baseBlue = 255;
};
