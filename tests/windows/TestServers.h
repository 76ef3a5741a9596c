// Servers for the network tests: a raw HTTP server on 127.0.0.1 inside the test program, and
// what https_test.sh's https servers need: their CA in the Wine prefix's Root store and the
// CAs' revocation lists served where the certificates say.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <wincrypt.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/WinTestSupport.h"

// Answers each connection, one after the other, with what the handler makes of its request.
// An empty answer: the server reads the request and says nothing until the test ends.
class RawServer {
public:
    using Handler = std::function<std::string(const std::string& request)>;

    explicit RawServer(Handler handler, int port = 0) : m_handler(std::move(handler)) {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        m_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<u_short>(port));
        int len = sizeof addr;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(m_listener, 8);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~RawServer() {
        m_bStop = true;
        ::closesocket(m_listener);
        m_thread.join();
        for (const SOCKET held : m_held) ::closesocket(held);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::vector<std::string> Requests() {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    void Serve() {
        while (!m_bStop) {
            const SOCKET client = ::accept(m_listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int got = ::recv(client, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            const std::string answer = m_handler(request);
            if (answer.empty()) {
                m_held.push_back(client);
                continue;
            }
            ::send(client, answer.data(), static_cast<int>(answer.size()), 0);
            ::shutdown(client, SD_SEND);
            ::closesocket(client);
        }
    }

    Handler m_handler;
    SOCKET m_listener = INVALID_SOCKET;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<SOCKET> m_held;
};

inline std::string Answer(const std::string& head, const std::string& body, bool bLength = true) {
    return "HTTP/1.0 " + head + "\r\n" +
           (bLength ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") + "\r\n" +
           body;
}

// Trusts the run's CA (the script takes it out of the store again) and serves the revocation
// lists, for as long as it lives. Made before the process's first https request: the process
// keeps the trust it finds then.
class TestHttps {
public:
    explicit TestHttps(const std::string& dir)
        : m_revocation(
              [dir](const std::string& request) {
                  const std::string name = request.substr(5, request.find(' ', 5) - 5);
                  return Answer("200 OK\r\nContent-Type: application/pkix-crl",
                                Slurp(dir + "\\" + name));
              },
              std::stoi(EnvironmentUtf8(L"VANTREL_CRL_PORT"))) {
        const std::string der = Slurp(dir + "\\ca.der");
        const HCERTSTORE root = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                                CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (root == nullptr) return;
        m_bTrusted =
            ::CertAddEncodedCertificateToStore(
                root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
        ::CertCloseStore(root, 0);  // written to the prefix's registry now
    }
    bool Trusted() const { return m_bTrusted; }

private:
    RawServer m_revocation;
    bool m_bTrusted = false;
};
