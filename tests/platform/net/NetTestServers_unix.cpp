// Local servers and certificates for the Linux network tests.
#include "platform/net/NetTestServers_unix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

HttpServer::HttpServer() : m_server(std::make_unique<httplib::Server>()) {}

HttpServer::HttpServer(const std::string& cert, const std::string& key)
    : m_server(std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str())), m_bSecure(true) {
    if (!m_server->is_valid()) throw std::runtime_error("bad test certificate");
}

void HttpServer::Start() {
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() does nothing until the loop runs, so a quick test would hang in the destructor.
    while (!m_server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

HttpServer::~HttpServer() {
    m_server->stop();
    if (m_thread.joinable()) m_thread.join();
}

std::string HttpServer::Url(const std::string& path) const {
    return std::string(m_bSecure ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) +
           path;
}

std::string MakeTempDir() {
    char pattern[] = "/tmp/vantrel-net-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    return pattern;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

TestCertificates MakeTestCertificates(const std::string& subjectAltName) {
    TestCertificates c;
    c.dir = MakeTempDir();
    c.caFile = c.dir + "/ca.pem";
    c.certFile = c.dir + "/server.pem";
    c.keyFile = c.dir + "/server.key";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::ofstream(c.dir + "/make.sh")
        << "set -e\ncd " << c.dir << "\nexec 2>openssl.log\n"
        << "openssl req -x509" << ec << " -keyout ca.key -out ca.pem -days 2"
        << " -subj /CN=Vantrel-Test-CA -addext basicConstraints=critical,CA:TRUE"
        << " -addext keyUsage=critical,keyCertSign\n"
        << "openssl req" << ec << " -keyout server.key -out server.csr -subj /CN=vantrel-test\n"
        << "printf 'subjectAltName=" << subjectAltName << "\\nbasicConstraints=CA:FALSE\\n' > ext\n"
        << "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
        << " -out server.pem -days 2 -extfile ext >/dev/null\n";
    if (std::system(("bash " + c.dir + "/make.sh").c_str()) != 0)
        throw std::runtime_error("openssl failed in " + c.dir);
    return c;
}
