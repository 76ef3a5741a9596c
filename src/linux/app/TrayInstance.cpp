// The session's one tray, over a Unix socket that only the user can reach (the runtime folder
// is the user's own, mode 0700).
#include "linux/app/TrayInstance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <cstring>

namespace {
QByteArray SocketPath() {
    return QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                             QStringLiteral("/vantrel-tray"));
}

bool Address(sockaddr_un& address) {
    const QByteArray path = SocketPath();
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= static_cast<int>(sizeof address.sun_path)) return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

// Connects and hangs up: a connection is the whole message.
bool Reach() {
    sockaddr_un address{};
    if (!Address(address)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool reached =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return reached;
}
}  // namespace

CTrayInstance::CTrayInstance() : m_lock(QFile::decodeName(SocketPath()) + QStringLiteral(".lock")) {
    // Held for the tray's life; only a dead holder's lock is taken over.
    m_lock.setStaleLockTime(0);
}

CTrayInstance::~CTrayInstance() {
    if (m_socket < 0) return;
    m_notifier.reset();
    ::close(m_socket);
    ::unlink(SocketPath().constData());
}

bool CTrayInstance::Claim() {
    if (!m_lock.tryLock(0)) {
        // The other tray may still be starting: it listens within moments.
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (Reach()) return false;
            QThread::msleep(100);
        }
        return false;
    }
    sockaddr_un address{};
    if (!Address(address)) return true;  // a tray without the socket is still the only one
    // A socket left by a tray that died: the lock says no tray runs.
    ::unlink(address.sun_path);
    m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const mode_t mask = ::umask(077);
    const bool bound =
        m_socket >= 0 &&
        ::bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(m_socket, 4) == 0;
    ::umask(mask);
    if (!bound) {
        if (m_socket >= 0) ::close(m_socket);
        m_socket = -1;
        return true;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CTrayInstance::Accept);
    return true;
}

void CTrayInstance::Accept() {
    const int client = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    ::close(client);
    emit Called();
}

bool TrayIsRunning() {
    return Reach();
}
