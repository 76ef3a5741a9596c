// Local servers for the fetcher's tests: a raw socket server that records the exact request
// bytes and answers with scripted bytes, an httplib server, and a test CA made with openssl.
#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Serves one connection at a time on 127.0.0.1. The handler writes the answer to the socket and
// returns true to close it, false to keep it open until the server ends (a server that stalls).
class RawServer {
public:
    using Handler = std::function<bool(int fd, const std::string& request)>;

    explicit RawServer(Handler handler, int backlog = 16);
    ~RawServer();

    int Port() const { return m_port; }
    std::string Url(const std::string& path) const;
    std::vector<std::string> Requests() const;

    // A handler that answers with these bytes (optionally after a pause) and closes.
    static Handler Answer(std::string response, int delayMs = 0);

private:
    void Run();

    Handler m_handler;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_bStop{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<int> m_heldFds;
    std::thread m_thread;
};

bool SendAll(int fd, const std::string& bytes);

// An httplib server (plain or TLS) on 127.0.0.1, listening from construction.
class HttpServer {
public:
    HttpServer();                                                 // plain http
    HttpServer(const std::string& cert, const std::string& key);  // https
    ~HttpServer();

    httplib::Server& Server() { return *m_server; }
    std::string Url(const std::string& path) const;
    void Start();

private:
    std::unique_ptr<httplib::Server> m_server;
    bool m_bSecure = false;
    int m_port = 0;
    std::thread m_thread;
};

// A CA and a server certificate for the given subjectAltName, made in a fresh directory.
struct TestCertificates {
    std::string dir, caFile, certFile, keyFile;
};
TestCertificates MakeTestCertificates(const std::string& subjectAltName);

std::string MakeTempDir();
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);
