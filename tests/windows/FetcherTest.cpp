// The WinINet fetch client against servers on 127.0.0.1 that this test runs: the bytes of its
// requests, bodies as lines and as files, redirects, credentials, time limits, the message pump;
// https against servers that https_test.sh starts, with a CA in the prefix's Root store.
#include "windows/TestServers.h"
#include "windows/net/CHttpFetcher.h"

namespace {

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
    EXPECT_EQ(fetcher.LastFailureReason(), "the server the request was sent on to answered 404");
    EXPECT_TRUE(fetcher.Fetch(origin.Url("/again"), "").empty());
    EXPECT_EQ(fetcher.LastFailureReason(),
              "the server sent the request on to an address that could not be used");

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
    if (dir.empty()) GTEST_SKIP() << "run by https_test.sh";
    const std::string trusted = EnvironmentUtf8(L"VANTREL_HTTPS_URL");
    const std::string untrusted = EnvironmentUtf8(L"VANTREL_HTTPS_UNTRUSTED_URL");
    TestHttps https(dir);
    ASSERT_TRUE(https.Trusted());

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
