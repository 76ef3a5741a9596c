// The session's one Vantrel, over a Unix socket that only the user can reach: the runtime folder
// is the user's own (mode 0700), the socket is made under umask 077, and a caller of another user
// is hung up on. A caller writes one byte, its wish, and waits for one byte back.
#include "linux/app/CSessionInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {
constexpr char kDone = 'K';

QByteArray SocketPath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) return {};
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/vantrel-session"));
    if (path.size() >= static_cast<int>(sizeof sockaddr_un::sun_path)) return {};
    return path;
}

sockaddr_un Address(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return address;
}

enum class Handed { Done, NoOne };

// Gives the running Vantrel the wish. One that takes it in but is too busy to answer soon will
// read it later: that counts as done.
Handed Hand(const QByteArray& path, CSessionInstance::Wish wish) {
    const sockaddr_un address = Address(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Handed::NoOne;
    Handed handed = Handed::NoOne;
    const char byte = static_cast<char>(wish);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, &byte, 1, MSG_NOSIGNAL) == 1) {
        pollfd reply{fd, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&reply, 1, 5000);
        } while (ready < 0 && errno == EINTR);
        char answer = 0;
        // No answer but a hang-up: that Vantrel was ending.
        if (ready == 0 || (ready > 0 && ::recv(fd, &answer, 1, 0) == 1 && answer == kDone))
            handed = Handed::Done;
    }
    ::close(fd);
    return handed;
}

// A caller whose wish has not come in yet: read only when its socket has something, never
// waited for.
class Caller : public QObject {
public:
    Caller(int fd, std::function<void(CSessionInstance::Wish)> wished, QObject* parent)
        : QObject(parent),
          m_fd(fd),
          m_wished(std::move(wished)),
          m_notifier(fd, QSocketNotifier::Read, this) {
        connect(&m_notifier, &QSocketNotifier::activated, this, &Caller::Read);
        // One that says nothing and keeps the line open is let go.
        QTimer::singleShot(5000, this, &Caller::Drop);
    }
    ~Caller() override { ::close(m_fd); }

private:
    void Read() {
        char byte = 0;
        const ssize_t n = ::recv(m_fd, &byte, 1, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        Drop();
        CSessionInstance::Wish wish;
        if (n == 0) {
            // Hung up without a word: an older start of the tray, whose menu comes forward.
            wish = CSessionInstance::Wish::Tray;
        } else if (n == 1 && (byte == static_cast<char>(CSessionInstance::Wish::Window) ||
                              byte == static_cast<char>(CSessionInstance::Wish::Tray))) {
            wish = static_cast<CSessionInstance::Wish>(byte);
            ::send(m_fd, &kDone, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        } else {
            return;
        }
        m_wished(wish);
    }
    void Drop() {
        m_notifier.setEnabled(false);
        deleteLater();
    }

    int m_fd;
    std::function<void(CSessionInstance::Wish)> m_wished;
    QSocketNotifier m_notifier;
};
}  // namespace

CSessionInstance::CSessionInstance() : m_path(SocketPath()) {}

CSessionInstance::~CSessionInstance() {
    if (m_socket >= 0) {
        m_notifier.reset();
        ::close(m_socket);
        ::unlink(m_path.constData());
    }
    // The lock goes last: whoever takes it next binds the socket anew.
    if (m_lock >= 0) ::close(m_lock);
}

bool CSessionInstance::Claim(Wish wish) {
    // Without a runtime folder no other Vantrel can be found: this one is alone.
    if (m_path.isEmpty()) return true;
    // Held for the process's life: the system lets go of it when the process ends, however.
    const QByteArray lockPath = m_path + ".lock";
    m_lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lock < 0) return true;
    // The holder may be starting (it listens within moments) or ending (its lock goes soon).
    bool locked = false;
    for (int attempt = 0; attempt < 50; ++attempt) {
        locked = ::flock(m_lock, LOCK_EX | LOCK_NB) == 0;
        if (locked) break;
        if (Hand(m_path, wish) == Handed::Done) return false;
        QThread::msleep(100);
    }
    if (!locked) {
        std::fprintf(stderr, "vantrel: another Vantrel holds %s but does not answer\n",
                     lockPath.constData());
        return false;
    }
    const sockaddr_un address = Address(m_path);
    // A socket left by a Vantrel that died: the lock says none runs.
    ::unlink(address.sun_path);
    m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const mode_t mask = ::umask(077);
    const bool bound =
        m_socket >= 0 &&
        ::bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(m_socket, 16) == 0;
    ::umask(mask);
    if (!bound) {
        // Still the only one: later starts find the lock and say that this one does not answer.
        if (m_socket >= 0) ::close(m_socket);
        m_socket = -1;
        return true;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CSessionInstance::Accept);
    return true;
}

void CSessionInstance::Accept() {
    for (;;) {
        const int fd = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::geteuid()) {
            ::close(fd);
            continue;
        }
        new Caller(
            fd, [this](Wish wish) { emit Wished(wish); }, this);
    }
}
