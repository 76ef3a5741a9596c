// The fetcher's shared promises (FetcherContract.h) on Linux: libcurl, a nested Qt event loop,
// https servers from cpp-httplib with a CA made for the run.
#include <QTimer>

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
