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

private:
    QLabel* m_status = nullptr;
};
