// A static text whose colour the program sets at run time (the main dialog's status line).
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>

class CColorLabel : public QLabel {
    Q_OBJECT

public:
    explicit CColorLabel(QWidget* parent = nullptr);
    ~CColorLabel() override;

    // Stores the text colour and repaints at once; returns the label for chaining.
    CColorLabel& SetLabelColor(const QColor& color);

    QColor TextColor() const { return m_textColor; }
    QColor BackColor() const { return m_backColor; }

private:
    void ApplyColors();

    QColor m_textColor;
    QColor m_backColor;
    QFont m_fontText;
};
