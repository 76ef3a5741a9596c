// The small modeless status window shown while the upgrade page or the new installer is fetched.
#pragma once

#include <QDialog>

class QLabel;

class CUpgradeProgressDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kStatusId = 1000;

    explicit CUpgradeProgressDlg(QWidget* parent = nullptr);
    ~CUpgradeProgressDlg() override;

    // The status line (control 1000).
    void SetStatusText(const QString& text);
    QString StatusText() const;

    // Shows the window and returns once it is on the screen with its current text painted, so
    // it stays readable while the caller blocks (waiting for another program) and dispatches
    // nothing. Gives up after a few seconds on a display that never exposes it.
    void ShowPainted();
    // Whether the status line has been painted since its text last changed.
    bool TextPainted() const { return m_bTextPainted; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_status = nullptr;
    bool m_bTextPainted = false;
};
