// One Vantrel per user session, whether it started as the window or as the tray: a lock file and
// a local socket in the user's runtime folder. A later start connects, says what it was started
// for (the window or the tray) and ends; the running one does it.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class CSessionInstance : public QObject {
    Q_OBJECT

public:
    // What a start of the program is for.
    enum class Wish : char { Window = 'W', Tray = 'T' };

    CSessionInstance();
    ~CSessionInstance() override;

    // True when this process is now the session's Vantrel and listens; false when another one
    // runs, which was handed the wish.
    bool Claim(Wish wish);

signals:
    // Another start handed over its wish.
    void Wished(CSessionInstance::Wish wish);

private:
    void Accept();

    QByteArray m_path;  // the socket's; empty without a usable runtime folder
    int m_lock = -1;    // the lock file, locked while this process is the session's Vantrel
    int m_socket = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
