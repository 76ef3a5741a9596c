// What the fetcher promises on every system, against servers on 127.0.0.1: each mode's request,
// lines, files and progress, status pages, redirects, the password question, the time and size
// limits, a broken body, the waiting thread's events, and https. Each system's test file
// includes it once and defines:
//   PostToEventLoop(task): runs task from the calling thread's event handling, later;
//   StartHttpsServers(): https servers that serve /page ("secure\n") and /to-http (a redirect to
//     http), or none (the https case is skipped).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/CHttpFetcher.h"
#include "platform/net/RawServer.h"

void PostToEventLoop(std::function<void()> task);

struct HttpsServers {
    std::string trusted;         // base URL of a server whose certificate the fetch trusts
    std::string untrusted;       // one whose certificate comes from a CA it does not trust
    std::string otherName;       // the trusted one under a name its certificate does not hold
    std::shared_ptr<void> keep;  // keeps them running
};
HttpsServers StartHttpsServers();

namespace contract {

using Lines = CStringList;
using namespace std::chrono_literals;

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The path of a request's first line.
inline std::string PathOf(const std::string& request) {
    const std::size_t start = request.find(' ') + 1;
    return request.substr(start, request.find(' ', start) - start);
}

}  // namespace contract

class FetcherContract : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("vantrel-fetch-" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(m_dir);
        CHttpFetcher::SetMessageSink(
            [this](const std::string& text) { m_messages.push_back(text); });
    }
    void TearDown() override {
        CHttpFetcher::SetMessageSink({});
        CHttpFetcher::SetCredentialsSource({});
        EXPECT_TRUE(m_messages.empty()) << m_messages.front();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string File(const char* name) const { return (m_dir / name).string(); }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

    std::filesystem::path m_dir;
    std::vector<std::string> m_messages;
};

TEST_F(FetcherContract, EachModeSendsItsRequestAndGetsLinesOrAFileWithProgress) {
    using namespace contract;
    std::string binary(2048, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7);
    RawServer server(RawServer::Answers([&](const std::string& request) {
        if (PathOf(request) == "/page?q=1") return HttpAnswer("200 OK", "one\r\ntwo\nthree");
        return HttpAnswer("200 OK", binary, !Has(request, "/nolength"));
    }));
    CHttpFetcher fetcher;
    // No scheme: "http://" goes in front.
    EXPECT_EQ(fetcher.Fetch("127.0.0.1:" + std::to_string(server.Port()) + "/page?q=1", ""),
              (Lines{"one\n", "two\n", "three"}));
    EXPECT_TRUE(fetcher.LastFetchSucceeded());
    const std::thread::id callingThread = std::this_thread::get_id();
    for (const auto& [path, last] :
         {std::pair{"/setup.bin", "Read 2048/2048 bytes"}, {"/nolength", "Read 2048 bytes"}}) {
        std::vector<std::string> texts;
        bool bOnCallingThread = true;
        fetcher.Fetch(server.Url(path), File("setup.bin"), [&](const std::string& text) {
            texts.push_back(text);
            bOnCallingThread = bOnCallingThread && std::this_thread::get_id() == callingThread;
        });
        EXPECT_TRUE(fetcher.LastFetchSucceeded());
        EXPECT_EQ(Read(File("setup.bin")), binary);
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts.front(), "Downloading update ..");
        EXPECT_EQ(texts.back(), last);
        EXPECT_TRUE(bOnCallingThread);
    }
    EXPECT_EQ(fetcher.Lines().size(), 3u) << "file mode leaves the list alone";

    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].rfind("GET /page?q=1 HTTP/1.0\r\n", 0), 0u) << requests[0];
    EXPECT_TRUE(Has(requests[0], "\r\nAccept: text/*\r\n")) << requests[0];
    EXPECT_TRUE(Has(requests[0], "\r\nUser-Agent: Linkcaster by Tarnel\r\n")) << requests[0];
    EXPECT_EQ(requests[1].rfind("GET /setup.bin HTTP/1.0\r\n", 0), 0u) << requests[1];
    EXPECT_TRUE(Has(requests[1], "\r\nUser-Agent: Pixelhaul!, " VANTREL_MAKER_HOST "\r\n"));
    EXPECT_FALSE(Has(requests[1], "Accept:")) << requests[1];
    for (const std::string& request : requests) {
        EXPECT_EQ(request.find("User-Agent:"), request.rfind("User-Agent:")) << request;
        for (const char* never : {"If-", "Range:", "Authorization:"})
            EXPECT_FALSE(Has(request, never)) << request;
    }
}

TEST_F(FetcherContract, StatusPagesAreDeliveredAndStoredUnlessTheyHoldHtml) {
    using namespace contract;
    RawServer server(RawServer::Answers([](const std::string& request) {
        if (PathOf(request) == "/plain") return HttpAnswer("404 Not Found", "not\r\nhere");
        if (PathOf(request) == "/empty") return HttpAnswer("200 OK", "");
        // The tag in the second 1,024-byte chunk, in capitals.
        return HttpAnswer("404 Not Found", std::string(1500, ' ') + "<HTML><body>404</body>");
    }));
    CHttpFetcher fetcher;
    EXPECT_EQ(fetcher.Fetch(server.Url("/plain"), ""), (Lines{"not\n", "here"}));
    EXPECT_EQ(fetcher.LastHttpStatus(), 404);
    EXPECT_FALSE(fetcher.LastFetchSucceeded());
    EXPECT_EQ(fetcher.LastFailureReason(), "the server answered 404");
    fetcher.Fetch(server.Url("/plain"), File("plain"));
    EXPECT_EQ(Read(File("plain")), "not\r\nhere");
    EXPECT_FALSE(fetcher.LastFetchSucceeded());

    std::ofstream(File("page")) << "an older download";
    fetcher.Fetch(server.Url("/page"), File("page"));
    EXPECT_FALSE(Exists(File("page")));
    EXPECT_EQ(fetcher.LastError(), EFetchError::HtmlPage);
    fetcher.Fetch(server.Url("/empty"), File("empty"));
    EXPECT_FALSE(Exists(File("empty")));
    EXPECT_EQ(fetcher.LastError(), EFetchError::EmptyBody);
}

TEST_F(FetcherContract, OneRedirectByItsLocationIsFollowedWhenItsTargetAnswers200) {
    using namespace contract;
    // /<status>/<location> answers that status with that Location.
    RawServer server(RawServer::Answers([](const std::string& request) {
        const std::string path = PathOf(request);
        if (path == "/final") return HttpAnswer("200 OK", "done\n");
        if (path == "/wrong") return HttpAnswer("200 OK", "wrong\n");
        if (path == "/missing") return HttpAnswer("404 Not Found", "gone\n");
        if (path == "/both")
            return HttpAnswer("302 Found\r\nContent-Location: /wrong\r\nlocation:  /final", "");
        if (path == "/none") return HttpAnswer("302 Found\r\nX-Location: /final", "");
        return HttpAnswer(path.substr(1, 3) + " Moved\r\nLocation: " + path.substr(5), "moved\n");
    }));
    CHttpFetcher fetcher;
    for (const char* status : {"301", "302", "303"}) {
        EXPECT_EQ(fetcher.Fetch(server.Url("/") + status + "/" + server.Url("/final"), ""),
                  Lines{"done\n"})
            << status;
    }
    EXPECT_EQ(fetcher.Fetch(server.Url("/302//final"), ""), Lines{"done\n"}) << "relative";
    EXPECT_EQ(fetcher.Fetch(server.Url("/both"), ""), Lines{"done\n"});
    EXPECT_TRUE(fetcher.Fetch(server.Url("/none"), "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::RedirectFailed);

    // A second redirect, or a target answering anything but 200, gives nothing.
    EXPECT_TRUE(fetcher.Fetch(server.Url("/302/") + server.Url("/302//final"), "").empty());
    EXPECT_EQ(fetcher.LastFailureReason(),
              "the server sent the request on to an address that could not be used");
    EXPECT_TRUE(fetcher.Fetch(server.Url("/301/") + server.Url("/missing"), "").empty());
    EXPECT_EQ(fetcher.LastFailureReason(), "the server the request was sent on to answered 404");
    // Other statuses are read as the body.
    EXPECT_EQ(fetcher.Fetch(server.Url("/307//final"), ""), Lines{"moved\n"});
}

TEST_F(FetcherContract, A401AsksOnceOnTheCallingThreadAndNeverForARedirectTarget) {
    using namespace contract;
    RawServer target(RawServer::Answers([](const std::string&) {
        return HttpAnswer("401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"Other\"", "no\n");
    }));
    // A server of its own for each case: WinINet sends accepted credentials to their server
    // again, unasked, as long as the process runs.
    const auto origin = [&target] {
        return std::make_unique<RawServer>(RawServer::Answers([&target](
                                                                  const std::string& request) {
            if (PathOf(request) == "/open")
                return HttpAnswer("302 Found\r\nLocation: " + target.Url("/locked"), "");
            if (!Has(request, "\r\nAuthorization: Basic dXNlcjpwdw==\r\n"))  // user:pw
                return HttpAnswer("401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"Updates\"",
                                  "denied\n");
            if (PathOf(request) == "/moved")
                return HttpAnswer("302 Found\r\nLocation: " + target.Url("/locked"), "");
            return HttpAnswer("200 OK", "secret\n");
        }));
    };
    std::vector<std::string> asked;
    std::string password = "pw";
    const std::thread::id callingThread = std::this_thread::get_id();
    CHttpFetcher::SetCredentialsSource([&](const std::string& url, const std::string& realm) {
        asked.push_back(url + " " + realm);
        EXPECT_EQ(std::this_thread::get_id(), callingThread);
        return std::optional<FetchCredentials>({"user", password});
    });
    CHttpFetcher fetcher;
    const auto right = origin();
    EXPECT_EQ(fetcher.Fetch(right->Url("/secret"), ""), Lines{"secret\n"});
    EXPECT_EQ(asked, std::vector<std::string>{right->Url("/secret") + " Updates"});

    password = "wrong";  // the second 401 is read as the body
    const auto wrong = origin();
    EXPECT_EQ(fetcher.Fetch(wrong->Url("/secret"), ""), Lines{"denied\n"});
    EXPECT_EQ(fetcher.LastHttpStatus(), 401);
    EXPECT_EQ(asked.size(), 2u);

    password = "pw";
    const auto moved = origin();
    EXPECT_TRUE(fetcher.Fetch(moved->Url("/moved"), "").empty());
    EXPECT_EQ(fetcher.LastFailureReason(), "the server the request was sent on to answered 401");
    EXPECT_TRUE(fetcher.Fetch(moved->Url("/open"), "").empty());
    EXPECT_EQ(asked.size(), 3u);
    ASSERT_EQ(target.Requests().size(), 2u);
    for (const std::string& request : target.Requests())
        EXPECT_FALSE(Has(request, "Authorization")) << request;
}

TEST_F(FetcherContract, LimitsEndSilentServersHangingConnectsAndTooLargeOrBrokenBodies) {
    using namespace contract;
    RawServer silent([](RawServer::Reply&, const std::string&) { return false; });
    CHttpFetcher fetcher;
    fetcher.SetTimeouts(500ms, 1000ms);
    EXPECT_TRUE(fetcher.Fetch(silent.Url("/"), "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::Timeout);
    {
        const CHangingPort hanging;
        fetcher.SetTimeouts(300ms, 30000ms);
        EXPECT_TRUE(fetcher.Fetch("127.0.0.1:" + std::to_string(hanging.Port()), "").empty());
        EXPECT_EQ(fetcher.LastError(), EFetchError::Timeout);
    }
    fetcher.SetTimeouts(CHttpFetcher::kDefaultConnectTimeout, CHttpFetcher::kDefaultStallTimeout);

    RawServer large(RawServer::Answer(HttpAnswer("200 OK", std::string(600, 'a') + "\nbbbbbbb")));
    fetcher.SetTextLimit(604);
    EXPECT_EQ(fetcher.Fetch(large.Url("/"), ""), Lines{std::string(600, 'a') + "\n"});
    EXPECT_EQ(fetcher.LastError(), EFetchError::TooLarge);
    fetcher.SetTextLimit(CHttpFetcher::kDefaultTextLimit);

    // A body shorter than it says (and far beyond the text limit): what came is not taken
    // for all, and the line it cuts short is dropped.
    RawServer broken(
        RawServer::Answer("HTTP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\nx\nyz"));
    EXPECT_EQ(fetcher.Fetch(broken.Url("/"), ""), Lines{"x\n"});
    EXPECT_EQ(fetcher.LastError(), EFetchError::Transfer);
    std::ofstream(File("setup.bin")) << "older";
    fetcher.Fetch(broken.Url("/"), File("setup.bin"));
    EXPECT_FALSE(fetcher.LastFetchSucceeded());
    EXPECT_FALSE(Exists(File("setup.bin")));

    int closedPort = 0;
    {
        const RawServer gone(RawServer::Answer(""));
        closedPort = gone.Port();
    }
    EXPECT_TRUE(fetcher.Fetch("127.0.0.1:" + std::to_string(closedPort) + "/", "").empty());
    EXPECT_EQ(fetcher.LastFailureReason(), "the server could not be reached");
}

TEST_F(FetcherContract, TheWaitingThreadHandlesItsEventsAndRefusesASecondFetch) {
    using namespace contract;
    RawServer slow(RawServer::Answer(HttpAnswer("200 OK", "outer\n"), 500));
    CHttpFetcher outer;
    CHttpFetcher inner;
    std::optional<EFetchError> nested;
    PostToEventLoop([&] {
        EXPECT_TRUE(inner.Fetch(slow.Url("/"), "").empty());
        nested = inner.LastError();
    });
    EXPECT_EQ(outer.Fetch(slow.Url("/"), ""), Lines{"outer\n"});
    EXPECT_EQ(nested, EFetchError::Busy);
    EXPECT_EQ(slow.Requests().size(), 1u);
}

TEST_F(FetcherContract, HttpsIsVerifiedAndNeverDropsToHttp) {
    using namespace contract;
    const HttpsServers https = StartHttpsServers();
    if (https.trusted.empty()) GTEST_SKIP() << "no https servers here";
    CHttpFetcher fetcher;
    EXPECT_EQ(fetcher.Fetch(https.trusted + "/page", ""), Lines{"secure\n"});
    for (const std::string& base : {https.untrusted, https.otherName}) {
        EXPECT_TRUE(fetcher.Fetch(base + "/page", "").empty()) << base;
        EXPECT_EQ(fetcher.LastError(), EFetchError::SecureChannel) << base;
    }
    EXPECT_TRUE(fetcher.Fetch(https.trusted + "/to-http", "").empty());
    EXPECT_EQ(fetcher.LastError(), EFetchError::RedirectRefused);
    RawServer plain(
        RawServer::Answer(HttpAnswer("302 Found\r\nLocation: " + https.trusted + "/page", "")));
    EXPECT_EQ(fetcher.Fetch(plain.Url("/"), ""), Lines{"secure\n"}) << "http to https is followed";
}
