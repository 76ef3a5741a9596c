// Local servers for the Linux network tests (here and in linux/upgrade): an httplib server
// (plain or TLS) and a test CA made with openssl, beside the raw server both systems share.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "platform/net/RawServer.h"

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
