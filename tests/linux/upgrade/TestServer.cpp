// The upgrade tests' local server, on the fetcher tests' httplib server and test CA.
#include "linux/upgrade/TestServer.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

const TestCertificates& Certificates() {
    static const TestCertificates certificates = [] {
        TestCertificates made = MakeTestCertificates("IP:127.0.0.1,DNS:localhost");
        static const std::string dir = made.dir;
        std::atexit([] { std::filesystem::remove_all(dir); });
        return made;
    }();
    return certificates;
}

TestServer::TestServer(bool tls)
    : m_server(tls ? std::make_unique<HttpServer>(Certificates().certFile, Certificates().keyFile)
                   : std::make_unique<HttpServer>()) {
    m_server->Server().Get(
        ".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::function<void()> hook;
            Reply reply{404, "<html><body>Not Found</body></html>", "text/html"};
            {
                std::lock_guard lock(m_mutex);
                ++m_hits[request.path];
                if (auto found = m_replies.find(request.path); found != m_replies.end())
                    reply = found->second;
                if (auto found = m_hooks.find(request.path); found != m_hooks.end())
                    hook = found->second;
            }
            if (hook) hook();
            response.status = reply.status;
            response.set_content(reply.body, reply.contentType.c_str());
        });
    m_server->Start();
    m_url = m_server->Url("");
}

TestServer::~TestServer() {
    Stop();
}

void TestServer::Stop() {
    m_server.reset();
}

void TestServer::Serve(const std::string& path, Reply reply) {
    std::lock_guard lock(m_mutex);
    m_replies[path] = std::move(reply);
}

void TestServer::OnRequest(const std::string& path, std::function<void()> hook) {
    std::lock_guard lock(m_mutex);
    m_hooks[path] = std::move(hook);
}

std::string TestServer::Url(const std::string& path) const {
    return m_url + path;
}

int TestServer::Hits(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    auto found = m_hits.find(path);
    return found == m_hits.end() ? 0 : found->second;
}

std::string DeadUrl(const std::string& path) {
    // Bind a port and never listen on it: connections to it are refused.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    static std::vector<int> held;  // kept bound so no other test takes the port
    held.push_back(fd);
    return "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + path;
}
