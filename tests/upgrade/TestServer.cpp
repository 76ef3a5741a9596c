// The upgrade tests' local server.
#include "upgrade/TestServer.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace {
void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

TestCertificates MakeCertificates() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-ca-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    const std::string dir = pattern;
    std::ofstream(dir + "/ext.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                       "basicConstraints=CA:FALSE\n";
    const std::string quiet = " 2>/dev/null";
    Run("cd '" + dir +
        "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
        " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Vantrel Test CA'" +
        quiet);
    Run("cd '" + dir +
        "' && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
        " -keyout server.key -out server.csr -subj '/CN=127.0.0.1'" +
        quiet);
    Run("cd '" + dir +
        "' && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key"
        " -CAcreateserial -out server.pem -days 2 -extfile ext.cnf" +
        quiet);
    static const std::string kept = dir;
    std::atexit([] { std::filesystem::remove_all(kept); });
    return {dir + "/ca.pem", dir + "/server.pem", dir + "/server.key"};
}
}  // namespace

const TestCertificates& Certificates() {
    static const TestCertificates certificates = MakeCertificates();
    return certificates;
}

TestServer::TestServer(bool tls) : m_tls(tls) {
    if (tls) {
        const TestCertificates& files = Certificates();
        m_server =
            std::make_unique<httplib::SSLServer>(files.certFile.c_str(), files.keyFile.c_str());
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    m_server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
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
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) throw std::runtime_error("cannot bind the test server");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() does nothing until the loop runs, so a quick test would hang in the destructor.
    while (!m_server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer() {
    Stop();
}

void TestServer::Stop() {
    if (!m_thread.joinable()) return;
    m_server->stop();
    m_thread.join();
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
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + path;
}

int TestServer::Hits(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    auto found = m_hits.find(path);
    return found == m_hits.end() ? 0 : found->second;
}

std::string DeadUrl(const std::string& path) {
    // Bind a port and keep it closed for listening: connections to it are refused.
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
