// A local web server for the upgrade tests: plain or TLS on 127.0.0.1 with an ephemeral port,
// its certificate signed by a throw-away CA that only this test process trusts.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/net/NetTestServers_unix.h"

// Made once per process; the files live until the process ends.
const TestCertificates& Certificates();

class TestServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::string contentType = "text/html";
    };

    explicit TestServer(bool tls = true);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    void Serve(const std::string& path, Reply reply);
    // Called on the server's thread before the reply is sent.
    void OnRequest(const std::string& path, std::function<void()> hook);
    std::string Url(const std::string& path) const;
    int Hits(const std::string& path) const;
    void Stop();

private:
    std::unique_ptr<HttpServer> m_server;
    std::string m_url;
    mutable std::mutex m_mutex;
    std::map<std::string, Reply> m_replies;
    std::map<std::string, std::function<void()>> m_hooks;
    std::map<std::string, int> m_hits;
};

// A URL on 127.0.0.1 where nothing listens.
std::string DeadUrl(const std::string& path);
