// The fetcher's shared promises (FetcherContract.h) on Linux: libcurl, a nested Qt event loop,
// https servers from cpp-httplib with a CA made for the run.
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "platform/net/FetcherContract.h"
#include "platform/net/NetTestServers_unix.h"

void PostToEventLoop(std::function<void()> task) {
    QTimer::singleShot(0, std::move(task));
}

HttpsServers StartHttpsServers() {
    struct Running {
        TestCertificates trusted = MakeTestCertificates("IP:127.0.0.1");
        TestCertificates other = MakeTestCertificates("IP:127.0.0.1");
        HttpServer good{trusted.certFile, trusted.keyFile};
        HttpServer bad{other.certFile, other.keyFile};
        ~Running() { CHttpFetcher::SetDefaultCaFile({}); }
    };
    auto running = std::make_shared<Running>();
    for (HttpServer* server : {&running->good, &running->bad}) {
        server->Server().Get(
            "/page", [](const auto&, auto& res) { res.set_content("secure\n", "text/plain"); });
        server->Server().Get("/to-http", [](const auto&, auto& res) {
            res.set_redirect("http://127.0.0.1:1/page");
        });
        server->Start();
    }
    CHttpFetcher::SetDefaultCaFile(running->trusted.caFile);
    std::string otherName = running->good.Url("");
    otherName.replace(otherName.find("127.0.0.1"), 9, "localhost");
    return {running->good.Url(""), running->bad.Url(""), otherName, running};
}

// A machine whose libcurl cannot be loaded: the fetch says it cannot connect, and the program goes
// on. In a child started afresh, whose loader finds a broken libcurl first.
TEST_F(FetcherContract, WithoutLibcurlTheFetcherSaysItCannotConnect) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::ofstream(File("libcurl.so.4")) << "not a library\n";
    const char* old = std::getenv("LD_LIBRARY_PATH");
    const std::string saved = old ? old : "";
    setenv("LD_LIBRARY_PATH", m_dir.c_str(), 1);
    EXPECT_EXIT(
        {
            CHttpFetcher fetcher;
            const bool failed = fetcher.Fetch("http://127.0.0.1:1/page", "").empty() &&
                                fetcher.LastError() == EFetchError::NoConnection;
            for (const std::string& text : m_messages) std::fprintf(stderr, "[%s]\n", text.c_str());
            std::_Exit(failed ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "\\[Cannot open internet connection\\.\\]");
    if (old)
        setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
    else
        unsetenv("LD_LIBRARY_PATH");
}
