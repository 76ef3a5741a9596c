// The test servers' socket calls on POSIX.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net/TestSocket.h"

TestSocket ListenOnLoopback(int port, int* boundPort, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return kNoSocket;
    *boundPort = ntohs(addr.sin_port);
    return fd;
}

TestSocket AcceptOn(TestSocket listener) {
    const int fd = ::accept(static_cast<int>(listener), nullptr, nullptr);
    return fd < 0 ? kNoSocket : fd;
}

long ReceiveFrom(TestSocket socket, char* buffer, std::size_t size) {
    return ::recv(static_cast<int>(socket), buffer, size, 0);
}

bool SendAllTo(TestSocket socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(static_cast<int>(socket), bytes.data() + sent, bytes.size() - sent,
                                 MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void ResetOnClose(TestSocket socket) {
    linger hard{1, 0};
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

void StopListening(TestSocket listener) {
    ::shutdown(static_cast<int>(listener), SHUT_RDWR);  // wakes accept()
}

void CloseListener(TestSocket listener) {
    ::close(static_cast<int>(listener));
}

void CloseSocket(TestSocket socket) {
    ::close(static_cast<int>(socket));
}

TestSocket StartConnecting(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    return fd;
}
