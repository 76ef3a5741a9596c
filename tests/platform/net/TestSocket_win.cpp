// The test servers' socket calls on Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/net/TestSocket.h"

TestSocket ListenOnLoopback(int port, int* boundPort, int backlog) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    int len = sizeof addr;
    if (listener == INVALID_SOCKET ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener, backlog) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return kNoSocket;
    *boundPort = ntohs(addr.sin_port);
    return static_cast<TestSocket>(listener);
}

TestSocket AcceptOn(TestSocket listener) {
    const SOCKET client = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    return client == INVALID_SOCKET ? kNoSocket : static_cast<TestSocket>(client);
}

long ReceiveFrom(TestSocket socket, char* buffer, std::size_t size) {
    return ::recv(static_cast<SOCKET>(socket), buffer, static_cast<int>(size), 0);
}

bool SendAllTo(TestSocket socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = ::send(static_cast<SOCKET>(socket), bytes.data() + sent,
                             static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void ResetOnClose(TestSocket socket) {
    linger hard{1, 0};
    ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&hard), sizeof hard);
}

void StopListening(TestSocket listener) {
    ::closesocket(static_cast<SOCKET>(listener));  // the one way to wake accept()
}

void CloseListener(TestSocket) {}

void CloseSocket(TestSocket socket) {
    ::shutdown(static_cast<SOCKET>(socket), SD_SEND);
    ::closesocket(static_cast<SOCKET>(socket));
}

TestSocket StartConnecting(int port) {
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    ::connect(socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    return static_cast<TestSocket>(socket);
}
