// The push button that gives every command button of the program the same look: a rounded
// black outline, a white-to-grey-blue face, orange lines under the pointer, blue with focus.
#pragma once

#include <QPushButton>

class CXPButton : public QPushButton {
    Q_OBJECT

public:
    explicit CXPButton(QWidget* parent = nullptr);
    explicit CXPButton(const QString& text, QWidget* parent = nullptr);
    ~CXPButton() override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
