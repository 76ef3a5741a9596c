// The WinINet fetch client against servers on 127.0.0.1 that this test runs: the bytes of its
// requests, bodies as lines and as files, redirects, credentials, time limits, the message pump;
// https against servers that fetcher_https_test.sh starts, with a CA in the prefix's Root store.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <wincrypt.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "support/WinTestSupport.h"
#include "windows/net/CHttpFetcher.h"

namespace {

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

std::string Answer(const std::string& head, const std::string& body, bool bLength = true) {
    return "HTTP/1.0 " + head + "\r\n" +
           (bLength ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") + "\r\n" +
           body;
}

std::vector<std::string> AsVector(const CStringList& lines) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i) out.push_back(lines.String(i));
    return out;
}

class Fetcher : public HostsDirTest {
protected:
    std::string File(const char* name) const { return m_dir + "\\" + name; }
};

TEST_F(Fetcher, SendsEachModesRequestAndDeliversLinesOrAFile) {
    std::string body(2048, 'x');
    RawServer server([&](const std::string& request) {
        if (request.find("GET /page ") == 0) return Answer("200 OK", "one\r\ntwo\nthree");
        if (request.find("GET /html ") == 0) return Answer("404 Not Found", "<HTML>gone</html>");
        return Answer("200 OK", body, request.find("/nolength") == std::string::npos);
    });
    CHttpFetcher fetcher;
    EXPECT_EQ(AsVector(fetcher.Fetch(server.Url("/page"), "")),
              (std::vector<std::string>{"one\n", "two\n", "three"}));
    EXPECT_TRUE(fetcher.LastFetchSucceeded());
    const std::string text = server.Requests().at(0);
    EXPECT_EQ(text.find("GET /page HTTP/1.0\r\n"), 0u) << text;
    EXPECT_NE(text.find("\r\nAccept: text/*\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nUser-Agent: Linkcaster by Tarnel\r\n"), std::string::npos) << text;
    EXPECT_EQ(Count(text, "User-Agent:"), 1u) << text;

    std::vector<std::string> progress;
    const auto sink = [&](const std::string& line) { progress.push_back(line); };
    fetcher.Fetch(server.Url("/setup.exe"), File("NewUpdate.exe"), sink);
    EXPECT_TRUE(fetcher.LastFetchSucceeded());
    EXPECT_EQ(Slurp(File("NewUpdate.exe")), body);
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front(), "Downloading update ..");
    EXPECT_EQ(progress.back(), "Read 2048/2048 bytes");
    const std::string file = server.Requests().at(1);
    EXPECT_EQ(file.find("GET /setup.exe HTTP/1.0\r\n"), 0u) << file;
    EXPECT_NE(file.find("\r\nUser-Agent: Pixelhaul!, "), std::string::npos) << file;
    EXPECT_EQ(file.find("Accept:"), std::string::npos) << file;
    // The text list is what the last text fetch left.
    EXPECT_EQ(fetcher.Lines().size(), 3u);

    progress.clear();
    fetcher.Fetch(server.Url("/nolength"), File("NewUpdate.exe"), sink);
    EXPECT_EQ(progress.back(), "Read 2048 bytes");

    // A page instead of the file leaves no file, not even one from before.
    fetcher.Fetch(server.Url("/html"), File("NewUpdate.exe"), sink);
    EXPECT_EQ(fetcher.LastError(), EFetchError::HtmlPage);
    EXPECT_FALSE(Exists(File("NewUpdate.exe")));
    EXPECT_EQ(AsVector(fetcher.Fetch(server.Url("/html"), "")),
              (std::vector<std::string>{"<HTML>gone</html>"}));
}

TEST_F(Fetcher, FollowsOneRedirectByItsLocationAndNeverHandsOnCredentials) {
    RawServer target([](const std::string& request) {
        if (request.find("GET /again ") == 0) return Answer("302 Found\r\nLocation: /x", "");
        if (request.find("GET /missing ") == 0) return Answer("404 Not Found", "no");
        return Answer("200 OK", "target\n");
    });
    RawServer origin([&](const std::string& request) {
        if (request.find("GET /locked ") == 0) {
            if (request.find("Authorization:") == std::string::npos)
                return Answer("401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"", "");
            return Answer("302 Found\r\nLocation: " + target.Url("/page"), "");
        }
        const std::string path = request.substr(4, request.find(' ', 4) - 4);
        return Answer("302 Found\r\nContent-Location: /elsewhere\r\nLocation: " +
                          target.Url(path == "/" ? "/page" : path),
                      "");
    });
    CHttpFetcher fetcher;
    int asked = 0;
    fetcher.SetCredentialsSource([&](const std::string&) {
        ++asked;
        return std::optional<FetchCredentials>({"user", "secret"});
    });
    EXPECT_EQ(AsVector(fetcher.Fetch(origin.Url("/"), "")), (std::vector<std::string>{"target\n"}));
    EXPECT_TRUE(fetcher.LastFetchSucceeded());

    EXPECT_TRUE(fetcher.Fetch(origin.Url("/missing"), "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::RedirectFailed);
    EXPECT_TRUE(fetcher.Fetch(origin.Url("/again"), "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::RedirectFailed);

    EXPECT_EQ(AsVector(fetcher.Fetch(origin.Url("/locked"), "")),
              (std::vector<std::string>{"target\n"}));
    EXPECT_EQ(asked, 1);
    const std::vector<std::string> sent = origin.Requests();
    EXPECT_NE(sent.back().find("Authorization: Basic"), std::string::npos) << sent.back();
    for (const std::string& request : target.Requests())
        EXPECT_EQ(request.find("Authorization"), std::string::npos) << request;
}

TEST_F(Fetcher, TimeLimitsEndASilentServerAndAHangingConnect) {
    RawServer silent([](const std::string&) { return std::string(); });
    CHttpFetcher fetcher;
    fetcher.SetTimeouts(std::chrono::milliseconds(500), std::chrono::milliseconds(1000));
    EXPECT_TRUE(fetcher.Fetch(silent.Url("/"), "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::Timeout);

    // A listener that never accepts: once its queue is full, connecting hangs.
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::vector<SOCKET> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        u_long nonBlocking = 1;
        ::ioctlsocket(fillers.back(), FIONBIO, &nonBlocking);
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&addr), len);
    }
    fetcher.SetTimeouts(std::chrono::milliseconds(300), std::chrono::milliseconds(30000));
    EXPECT_TRUE(fetcher.Fetch("127.0.0.1:" + std::to_string(ntohs(addr.sin_port)), "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::Timeout);
    ::closesocket(listener);
    for (const SOCKET filler : fillers) ::closesocket(filler);
}

TEST_F(Fetcher, TheWaitingThreadKeepsHandlingMessages) {
    RawServer slow([](const std::string&) {
        ::Sleep(700);
        return Answer("200 OK", "late\n");
    });
    CHttpFetcher fetcher;
    static int s_ticks = 0;
    static CHttpFetcher* s_fetcher = &fetcher;
    static EFetchError s_nested = EFetchError::None;
    s_ticks = 0;
    const HWND window =
        ::CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ::SetTimer(window, 1, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        if (++s_ticks == 1) {
            s_fetcher->Fetch("http://127.0.0.1:1/", "");
            s_nested = s_fetcher->LastError();
        }
    });
    EXPECT_EQ(AsVector(fetcher.Fetch(slow.Url("/"), "")), (std::vector<std::string>{"late\n"}));
    ::KillTimer(window, 1);
    ::DestroyWindow(window);
    EXPECT_GE(s_ticks, 3);
    EXPECT_EQ(s_nested, EFetchError::Busy);
}

// https: a CA made for this run, added to the prefix's own Root store; servers from the script.
TEST_F(Fetcher, HttpsIsCheckedAgainstTheRootStoreAndNeverDropsToHttp) {
    const std::string dir = EnvironmentUtf8(L"VANTREL_HTTPS_DIR");
    if (dir.empty()) GTEST_SKIP() << "run by fetcher_https_test.sh";
    const std::string trusted = EnvironmentUtf8(L"VANTREL_HTTPS_URL");
    const std::string untrusted = EnvironmentUtf8(L"VANTREL_HTTPS_UNTRUSTED_URL");
    // The CAs' revocation lists, which the system fetches to check the servers' certificates.
    RawServer revocation(
        [&](const std::string& request) {
            const std::string name = request.substr(5, request.find(' ', 5) - 5);
            return Answer("200 OK\r\nContent-Type: application/pkix-crl", Slurp(dir + "\\" + name));
        },
        std::stoi(EnvironmentUtf8(L"VANTREL_CRL_PORT")));

    // Before the first https request: the process keeps the trust it finds then.
    const std::string der = Slurp(dir + "\\ca.der");
    const HCERTSTORE root =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(::CertAddEncodedCertificateToStore(
        root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    ::CertCloseStore(root, 0);  // written to the prefix's registry now
    // fetcher_https_test.sh takes the run's CA out of the store again.

    CHttpFetcher fetcher;
    fetcher.SetTimeouts(std::chrono::milliseconds(5000), std::chrono::milliseconds(5000));

    EXPECT_EQ(AsVector(fetcher.Fetch(trusted + "/page", "")),
              (std::vector<std::string>{"secure\n"}));
    EXPECT_TRUE(fetcher.LastFetchSucceeded());
    // Another CA's certificate stays refused.
    EXPECT_TRUE(fetcher.Fetch(untrusted + "/page", "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::SecureChannel);
    // https to http is refused; http to https is followed.
    EXPECT_TRUE(fetcher.Fetch(trusted + "/to-http", "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::RedirectRefused);
    RawServer plain([&](const std::string&) {
        return Answer("302 Found\r\nLocation: " + trusted + "/page", "");
    });
    EXPECT_EQ(AsVector(fetcher.Fetch(plain.Url("/"), "")), (std::vector<std::string>{"secure\n"}));
}

}  // namespace
