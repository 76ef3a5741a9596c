// One tray per user session: a lock file and a local socket in the user's runtime folder. A second
// tray reaches the first through the socket (which brings the first one's menu forward) and ends.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QSocketNotifier>
#include <memory>

class CTrayInstance : public QObject {
    Q_OBJECT

public:
    CTrayInstance();
    ~CTrayInstance() override;

    // True when this is now the session's tray and listens; false when another one runs, which
    // was reached.
    bool Claim();

signals:
    // Another start of the tray reached this one.
    void Called();

private:
    void Accept();

    QLockFile m_lock;
    int m_socket = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// Whether the session's tray runs (it answers on its socket).
bool TrayIsRunning();
