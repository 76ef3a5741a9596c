// The splash window: the product picture over the main dialog for its first three seconds.
#pragma once

#include <QDialog>

class QTimer;

class CSplashDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kShowMs = 3000;

    // `owner` keeps the splash above itself and destroys it with itself.
    explicit CSplashDlg(QWidget* owner);
    ~CSplashDlg() override;

    // Starts reading the picture for a splash that is about to be made.
    static void PreparePicture();
    // Shows the splash centred on the screen and starts its timer; only the first call shows it.
    void Popup();
    // The single-shot timer that hides the splash.
    QTimer* HideTimer() const { return m_timer; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Dismiss();

    QTimer* m_timer;
    bool m_bShown = false;
};
