// The fetcher against real servers on 127.0.0.1: request bytes, redirects, status pages, lines,
// chunks and progress, TLS, failures, time limits, credentials and the one-fetch rule.
#include "linux/net/CHttpFetcher.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <fstream>

#include "linux/net/NetConfig.h"
#include "linux/net/NetHooks.h"
#include "linux/net/NetTestServers.h"

namespace {

using Lines = CStringList;

std::string Http10(const std::string& statusLine, const std::string& headers,
                   const std::string& body) {
    return "HTTP/1.0 " + statusLine + "\r\n" + headers + "\r\n" + body;
}

// Records every user-facing message; none is expected unless a test says so.
class FetcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetNetMessageHook([this](const std::string& text) { m_messages.push_back(text); });
        m_dir = MakeTempDir();
    }
    void TearDown() override {
        SetNetMessageHook({});
        SetCredentialsHook({});
        EXPECT_TRUE(m_messages.empty());
    }
    std::string File(const std::string& name) const { return m_dir + "/" + name; }

    std::vector<std::string> m_messages;
    std::string m_dir;
};

}  // namespace

TEST_F(FetcherTest, SendsExactlyTheModesRequest) {
    RawServer server(RawServer::Answer(Http10("200 OK", "", "hello\n")));
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    CHttpFetcher fetcher;
    // No scheme: "http://" goes in front.
    EXPECT_EQ(fetcher.Fetch(host + "/page?q=1", ""), Lines{"hello\n"});
    EXPECT_TRUE(fetcher.LastFetchSucceeded());
    fetcher.Fetch(server.Url("/setup.bin"), File("setup.bin"));
    EXPECT_EQ(ReadFile(File("setup.bin")), "hello\n");
    EXPECT_EQ(fetcher.Lines(), Lines{"hello\n"}) << "file mode leaves the list alone";

    // Nothing beyond the host and the mode's block: no conditional or cache headers.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "GET /page?q=1 HTTP/1.0\r\nHost: " + host +
                               "\r\nAccept: text/*\r\nUser-Agent: Linkcaster by Tarnel\r\n\r\n");
    EXPECT_EQ(requests[1], "GET /setup.bin HTTP/1.0\r\nHost: " + host +
                               "\r\nUser-Agent: Pixelhaul!, " VANTREL_MAKER_HOST "\r\n\r\n");
}

TEST_F(FetcherTest, FollowsOneRedirectWhoseAnswerIs200) {
    HttpServer http;
    auto& s = http.Server();
    s.Get("/final", [](const auto&, auto& res) { res.set_content("done\n", "text/plain"); });
    s.Get("/missing", [](const auto&, auto& res) {
        res.status = 404;
        res.set_content("gone\n", "text/plain");
    });
    s.Get(R"(/move/(\d+)/(.*))", [](const httplib::Request& req, httplib::Response& res) {
        res.status = std::stoi(req.matches[1]);
        res.set_header("Location", req.matches[2].str());
        res.set_content("moved\n", "text/plain");
    });
    http.Start();
    CHttpFetcher fetcher;
    for (const char* status : {"301", "302", "303"}) {
        EXPECT_EQ(fetcher.Fetch(http.Url("/move/") + status + "/" + http.Url("/final"), ""),
                  Lines{"done\n"})
            << status;
    }
    EXPECT_EQ(fetcher.Fetch(http.Url("/move/302//final"), ""), Lines{"done\n"}) << "relative";

    // A second redirect, or a target answering anything but 200, gives nothing.
    const std::string twice = http.Url("/move/302/") + http.Url("/move/302/") + http.Url("/final");
    EXPECT_TRUE(fetcher.Fetch(twice, "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::RedirectFailed);
    EXPECT_TRUE(fetcher.Fetch(http.Url("/move/301/") + http.Url("/missing"), "").empty());
    EXPECT_EQ(fetcher.LastFailureReason(), "the server the request was sent on to answered 404");
    // Other statuses are read as the body.
    EXPECT_EQ(fetcher.Fetch(http.Url("/move/307/") + http.Url("/final"), ""), Lines{"moved\n"});
}

TEST_F(FetcherTest, RedirectTargetIsTheLocationHeaderNotContentLocation) {
    RawServer target(RawServer::Answer(Http10("200 OK", "", "right\n")));
    RawServer wrong(RawServer::Answer(Http10("200 OK", "", "wrong\n")));
    RawServer mover(RawServer::Answer(Http10(
        "302 Found",
        "Content-Location: " + wrong.Url("/") + "\r\nlocation:  " + target.Url("/") + "\r\n", "")));
    CHttpFetcher fetcher;
    EXPECT_EQ(fetcher.Fetch(mover.Url("/"), ""), Lines{"right\n"});
    RawServer noLocation(RawServer::Answer(Http10("302 Found", "X-Location: /x\r\n", "")));
    EXPECT_TRUE(fetcher.Fetch(noLocation.Url("/"), "").empty());
}

TEST_F(FetcherTest, StatusPagesAreDeliveredAndStoredUnlessTheyHoldHtml) {
    HttpServer http;
    http.Server().Get("/plain", [](const auto&, auto& res) {
        res.status = 404;
        res.set_content("not\r\nhere", "text/plain");
    });
    http.Server().Get("/page", [](const auto&, auto& res) {
        res.status = 404;
        res.set_content(std::string(1500, ' ') + "<HTML><body>404</body>", "text/html");
    });
    http.Start();
    CHttpFetcher fetcher;
    EXPECT_EQ(fetcher.Fetch(http.Url("/plain"), ""), (Lines{"not\n", "here"}));
    EXPECT_EQ(fetcher.LastHttpStatus(), 404);
    EXPECT_FALSE(fetcher.LastFetchSucceeded());
    EXPECT_EQ(fetcher.LastFailureReason(), "the server answered 404");

    fetcher.Fetch(http.Url("/plain"), File("plain"));
    EXPECT_EQ(ReadFile(File("plain")), "not\r\nhere");
    EXPECT_FALSE(fetcher.LastFetchSucceeded());

    std::ofstream(File("page")) << "an older download";
    fetcher.Fetch(http.Url("/page"), File("page"));
    EXPECT_FALSE(PathExists(File("page")));
    EXPECT_EQ(fetcher.LastError(), EFetchError::HtmlPage);
}

TEST_F(FetcherTest, FileOf2048BytesAndItsProgressWithAndWithoutLength) {
    std::string body(2048, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
    HttpServer http;
    http.Server().Get(
        "/f", [&](const auto&, auto& res) { res.set_content(body, "application/octet-stream"); });
    http.Start();
    RawServer raw(RawServer::Answer(Http10("200 OK", "", body)));  // ends at close

    const Qt::HANDLE uiThread = QThread::currentThreadId();
    for (const auto& [url, last] :
         {std::pair{http.Url("/f"), "Read 2048/2048 bytes"}, {raw.Url("/f"), "Read 2048 bytes"}}) {
        std::vector<std::string> texts;
        bool bOnUiThread = true;
        CHttpFetcher fetcher;
        fetcher.Fetch(url, File("f"), [&](const std::string& text) {
            texts.push_back(text);
            bOnUiThread = bOnUiThread && QThread::currentThreadId() == uiThread;
        });
        EXPECT_TRUE(fetcher.LastFetchSucceeded());
        EXPECT_EQ(ReadFile(File("f")), body);
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts.front(), "Downloading update ..");
        EXPECT_EQ(texts.back(), last);
        EXPECT_TRUE(bOnUiThread);
    }
}

TEST_F(FetcherTest, EmptyBodyLeavesNoFile) {
    RawServer raw(RawServer::Answer(Http10("200 OK", "", "")));
    CHttpFetcher fetcher;
    fetcher.Fetch(raw.Url("/"), File("empty"));
    EXPECT_FALSE(PathExists(File("empty")));
    EXPECT_EQ(fetcher.LastError(), EFetchError::EmptyBody);
}

TEST_F(FetcherTest, TextBodyBeyondTheLimitIsAFailureKeepingWholeLines) {
    RawServer raw(RawServer::Answer(Http10("200 OK", "", std::string(600, 'a') + "\nbbbbbbb")));
    CHttpFetcher fetcher;
    fetcher.SetTextLimit(604);
    EXPECT_EQ(fetcher.Fetch(raw.Url("/"), ""), Lines{std::string(600, 'a') + "\n"});
    EXPECT_EQ(fetcher.LastError(), EFetchError::TooLarge);

    // A body shorter than its announced length broke off: the cut line goes too.
    RawServer shortBody(RawServer::Answer(Http10("200 OK", "Content-Length: 5000\r\n", "one\ntw")));
    fetcher.SetTextLimit(CHttpFetcher::kDefaultTextLimit);
    EXPECT_EQ(fetcher.Fetch(shortBody.Url("/"), ""), Lines{"one\n"});
    EXPECT_EQ(fetcher.LastError(), EFetchError::Transfer);
    // Announced beyond the limit: the list does not take the announced size on trust.
    RawServer boast(
        RawServer::Answer(Http10("200 OK", "Content-Length: 99999999999\r\n", "x\nyz")));
    EXPECT_EQ(fetcher.Fetch(boast.Url("/"), ""), Lines{"x\n"});
    EXPECT_EQ(fetcher.LastError(), EFetchError::Transfer);
}

TEST_F(FetcherTest, HttpsWithVerifiedCertificateAndHost) {
    const TestCertificates certs = MakeTestCertificates("IP:127.0.0.1");
    HttpServer https(certs.certFile, certs.keyFile);
    https.Server().Get("/page",
                       [](const auto&, auto& res) { res.set_content("safe\n", "text/plain"); });
    https.Start();
    HttpServer http;
    http.Server().Get("/up", [&](const auto&, auto& res) { res.set_redirect(https.Url("/page")); });
    http.Start();
    RawServer plain(RawServer::Answer(Http10("200 OK", "", "plain\n")));
    https.Server().Get("/down", [&](const auto&, auto& res) { res.set_redirect(plain.Url("/")); });

    CHttpFetcher fetcher;
    fetcher.SetCaFile(certs.caFile);
    EXPECT_EQ(fetcher.Fetch(https.Url("/page"), ""), Lines{"safe\n"});
    EXPECT_EQ(fetcher.Fetch(http.Url("/up"), ""), Lines{"safe\n"}) << "http to https is followed";
    EXPECT_TRUE(fetcher.Fetch(https.Url("/down"), "").empty()) << "https to http is refused";
    EXPECT_EQ(fetcher.LastError(), EFetchError::RedirectRefused);

    // The host name is checked too: the certificate names only 127.0.0.1.
    std::string byName = https.Url("/page");
    byName.replace(byName.find("127.0.0.1"), 9, "localhost");
    EXPECT_TRUE(fetcher.Fetch(byName, "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::SecureChannel);

    const TestCertificates other = MakeTestCertificates("IP:127.0.0.1");
    fetcher.SetCaFile(other.caFile);
    EXPECT_TRUE(fetcher.Fetch(https.Url("/page"), "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::SecureChannel);
}

TEST_F(FetcherTest, NoServerGivesNothingAndNoMessage) {
    int port;
    {
        RawServer gone(RawServer::Answer(""));
        port = gone.Port();
    }
    std::ofstream(File("keep")) << "older";
    CHttpFetcher fetcher;
    EXPECT_TRUE(fetcher.Fetch("127.0.0.1:" + std::to_string(port) + "/", "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::Unreachable);
    EXPECT_EQ(fetcher.LastFailureReason(), "the server could not be reached");
    fetcher.Fetch("127.0.0.1:" + std::to_string(port) + "/", File("keep"));
    EXPECT_FALSE(fetcher.LastFetchSucceeded());
}

TEST_F(FetcherTest, TimeLimitsEndASilentServerAndAHangingConnect) {
    // Accepts and never answers.
    RawServer silent([](int, const std::string&) { return false; });
    CHttpFetcher fetcher;
    fetcher.SetTimeouts(std::chrono::milliseconds(500), std::chrono::seconds(1));
    EXPECT_TRUE(fetcher.Fetch(silent.Url("/"), "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::Timeout);

    // A listener that never accepts: once its queue is full, new connection attempts are
    // dropped and connect() hangs.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&addr), len);
    }
    fetcher.SetTimeouts(std::chrono::milliseconds(300), std::chrono::seconds(30));
    EXPECT_TRUE(fetcher.Fetch("127.0.0.1:" + std::to_string(ntohs(addr.sin_port)), "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::Timeout);
    ::close(listener);
    for (int fd : fillers) ::close(fd);
}

TEST_F(FetcherTest, SecondFetchOnTheWaitingThreadIsRefused) {
    RawServer slow(RawServer::Answer(Http10("200 OK", "", "outer\n"), 300));
    CHttpFetcher outer;
    CHttpFetcher inner;
    Lines innerResult{"stale"};
    QTimer::singleShot(0, [&] { innerResult = inner.Fetch(slow.Url("/"), ""); });
    EXPECT_EQ(outer.Fetch(slow.Url("/"), ""), Lines{"outer\n"});
    EXPECT_TRUE(innerResult.empty());
    EXPECT_EQ(inner.LastError(), EFetchError::Busy);
    EXPECT_EQ(slow.Requests().size(), 1u);
}

TEST_F(FetcherTest, AnswerTo401AsksOnceOnTheUiThread) {
    HttpServer http;
    http.Server().Get("/secret", [](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") == "Basic dXNlcjpwdw==") {  // user:pw
            res.set_content("secret\n", "text/plain");
        } else {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"Updates\"");
            res.set_content("denied\n", "text/plain");
        }
    });
    http.Start();
    int asked = 0;
    std::string realm;
    std::string password = "pw";
    const Qt::HANDLE uiThread = QThread::currentThreadId();
    SetCredentialsHook([&](const std::string&, const std::string& r) {
        ++asked;
        realm = r;
        EXPECT_EQ(QThread::currentThreadId(), uiThread);
        return std::optional<NetCredentials>({"user", password});
    });
    CHttpFetcher fetcher;
    EXPECT_EQ(fetcher.Fetch(http.Url("/secret"), ""), Lines{"secret\n"});
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(realm, "Updates");

    password = "wrong";  // the second 401 is read as the body
    EXPECT_EQ(fetcher.Fetch(http.Url("/secret"), ""), Lines{"denied\n"});
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(fetcher.LastHttpStatus(), 401);
}
