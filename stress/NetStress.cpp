// Hostile servers on 127.0.0.1 against the fetcher: every fetch must end within its time limits,
// fail without leaving a partial download behind, and never stop the calling thread's events.
// Prints one line per server and mode; exits non-zero at the first broken promise.
//
//   vantrel_stress_net [connect-ms] [stall-ms]
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/upgrade/UpgradeRefusal.h"
#include "platform/net/CHttpFetcher.h"
#include "platform/net/NetTestServers_unix.h"

namespace {

using Clock = std::chrono::steady_clock;

int g_failures = 0;

void Expect(bool ok, const std::string& what) {
    if (ok) return;
    std::printf("FAILED: %s\n", what.c_str());
    ++g_failures;
}

std::string Head(const std::string& extra) {
    return "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n" + extra + "\r\n";
}

// A port on which nothing listens.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

struct Outcome {
    double seconds = 0;
    double longestGapMs = 0;  // longest time the calling thread's timer did not fire
    int ticks = 0;
    bool succeeded = false;
    std::string reason;
    std::size_t lines = 0;
    bool fileLeft = false;
    std::string file;
};

// One fetch with a 10 ms timer ticking on this thread.
Outcome TimedFetch(const std::string& url, bool fileMode, std::chrono::milliseconds connect,
                   std::chrono::milliseconds stall, const std::string& caFile) {
    Outcome outcome;
    std::filesystem::remove(kDownloadFile);
    CHttpFetcher fetcher;
    fetcher.SetTimeouts(connect, stall);
    if (!caFile.empty()) fetcher.SetCaFile(caFile);

    Clock::time_point last = Clock::now();
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        outcome.longestGapMs = std::max(
            outcome.longestGapMs, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        ++outcome.ticks;
    });
    timer.start();
    const Clock::time_point start = Clock::now();
    last = start;
    const auto& lines =
        fetcher.Fetch(url, fileMode ? kDownloadFile : "", [](const std::string&) {});
    const Clock::time_point end = Clock::now();
    timer.stop();
    outcome.longestGapMs = std::max(outcome.longestGapMs,
                                    std::chrono::duration<double, std::milli>(end - last).count());
    outcome.seconds = std::chrono::duration<double>(end - start).count();
    outcome.succeeded = fetcher.LastFetchSucceeded();
    outcome.reason = fetcher.LastFailureReason();
    outcome.lines = fileMode ? 0 : lines.size();
    outcome.fileLeft = PathExists(kDownloadFile);
    if (outcome.fileLeft) outcome.file = ReadFile(kDownloadFile);
    std::filesystem::remove(kDownloadFile);
    return outcome;
}

struct Scenario {
    std::string name;
    std::function<std::string()> url;  // built once the server runs
    // File mode may legitimately succeed (with exactly these bytes); empty: it must fail.
    std::string allowedFile;
    std::string caFile;
    int requests = 1;  // how many answers the fetch may wait for
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::chrono::milliseconds connect(argc > 1 ? std::atoi(argv[1]) : 2000);
    const std::chrono::milliseconds stall(argc > 2 ? std::atoi(argv[2]) : 2000);

    const std::string workDir = MakeTempDir();
    std::filesystem::current_path(workDir);

    const std::string body(60000, 'x');
    // One byte now, the next a minute later: the stall limit must end it first.
    RawServer drip([](RawServer::Reply& reply, const std::string&) {
        reply.Send(Head("Content-Length: 1000\r\n") + "M");
        return false;
    });
    RawServer silent([](RawServer::Reply&, const std::string&) { return false; });
    RawServer endless([&](RawServer::Reply& reply, const std::string&) {
        reply.Send(Head("Content-Length: 1000000\r\n") + body);
        return false;  // never sends the rest, never closes
    });
    RawServer hugeHeader(RawServer::Answer(Head("X-Filler: " + std::string(1 << 20, 'h') + "\r\n") +
                                           "MZ small body\n"));
    RawServer longer(RawServer::Answer(Head("Content-Length: 100000\r\n") + body));
    RawServer shorter(RawServer::Answer(Head("Content-Length: 100\r\n") + body));
    RawServer reset([&](RawServer::Reply& reply, const std::string&) {
        reply.Send(Head("Content-Length: 200000\r\n") + body);
        reply.Reset();  // close with a reset instead of an orderly end
        return true;
    });
    int loopPort = 0;
    RawServer loop([&](RawServer::Reply& reply, const std::string&) {
        reply.Send("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(loopPort) +
                   "/again\r\n\r\n");
        return true;
    });
    loopPort = loop.Port();
    const int refusingPort = ClosedPort();
    RawServer toRefusing(RawServer::Answer("HTTP/1.0 301 Moved\r\nLocation: http://127.0.0.1:" +
                                           std::to_string(refusingPort) + "/x\r\n\r\n"));

    // TLS: a certificate for another name, and an expired one, both from a CA the fetch trusts.
    const TestCertificates other = MakeTestCertificates("DNS:other.example");
    const TestCertificates valid = MakeTestCertificates("IP:127.0.0.1");
    {
        std::ofstream(valid.dir + "/expire.sh")
            << "set -e\ncd " << valid.dir << "\nexec 2>>openssl.log >/dev/null\n"
            << ": > index.txt\necho 1000 > serial\n"
            << "printf '[ca]\\ndefault_ca=d\\n[d]\\ndatabase=index.txt\\nnew_certs_dir=.\\n"
               "serial=serial\\ndefault_md=sha256\\npolicy=p\\nunique_subject=no\\n"
               "[p]\\ncommonName=supplied\\n' > ca.cnf\n"
            << "openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in server.csr"
               " -out expired.pem -startdate 20200101000000Z -enddate 20200102000000Z"
               " -extfile ext\n";
        if (std::system(("bash " + valid.dir + "/expire.sh").c_str()) != 0) {
            std::printf("FAILED: could not make an expired certificate (see %s/openssl.log)\n",
                        valid.dir.c_str());
            return 1;
        }
    }
    HttpServer wrongName(other.certFile, other.keyFile);
    HttpServer expired(valid.dir + "/expired.pem", valid.keyFile);
    for (HttpServer* server : {&wrongName, &expired}) {
        server->Server().Get("/", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("MZ installer\n", "application/octet-stream");
        });
        server->Start();
    }

    const std::vector<Scenario> scenarios = {
        {"drips one byte a minute", [&] { return drip.Url("/"); }, "", "", 1},
        {"accepts and never answers", [&] { return silent.Url("/"); }, "", "", 1},
        {"never ends the body", [&] { return endless.Url("/"); }, "", "", 1},
        {"1 MB header line", [&] { return hugeHeader.Url("/"); }, "", "", 1},
        {"Content-Length larger than the body", [&] { return longer.Url("/"); }, "", "", 1},
        // HTTP ends the body at its declared length; the installer's digest judges the file.
        {"Content-Length smaller than the body", [&] { return shorter.Url("/"); },
         body.substr(0, 100), "", 1},
        {"reset in the middle", [&] { return reset.Url("/"); }, "", "", 1},
        {"redirect loop", [&] { return loop.Url("/"); }, "", "", 2},
        {"redirect to a port that refuses", [&] { return toRefusing.Url("/"); }, "", "", 2},
        {"TLS certificate for another name", [&] { return wrongName.Url("/"); }, "", other.caFile,
         1},
        {"expired TLS certificate", [&] { return expired.Url("/"); }, "", valid.caFile, 1},
    };

    const double limit = std::chrono::duration<double>(connect).count() +
                         std::chrono::duration<double>(stall).count();
    const auto start = Clock::now();
    int fetches = 0;
    double longestGap = 0;
    for (const Scenario& scenario : scenarios) {
        for (const bool fileMode : {false, true}) {
            const Outcome o = TimedFetch(scenario.url(), fileMode, connect, stall, scenario.caFile);
            ++fetches;
            longestGap = std::max(longestGap, o.longestGapMs);
            const std::string label = scenario.name + (fileMode ? " (file)" : " (text)");
            std::printf("net: %-45s %5.2f s, %4d ticks, longest gap %4.0f ms: %s%s\n",
                        label.c_str(), o.seconds, o.ticks, o.longestGapMs,
                        o.succeeded ? "succeeded" : o.reason.c_str(),
                        o.fileLeft ? ", file kept" : "");
            // Each answer may use the connection limit and the stall limit; one second of slack.
            Expect(o.seconds <= scenario.requests * limit + 1.0, label + ": did not end in time");
            Expect(o.longestGapMs < 500, label + ": the calling thread's events stopped");
            if (fileMode) {
                if (scenario.allowedFile.empty()) {
                    Expect(!o.succeeded, label + ": reported success");
                    Expect(!o.fileLeft, label + ": a partial NewUpdate.exe was left");
                } else {
                    Expect(!o.fileLeft || o.file == scenario.allowedFile,
                           label + ": the file kept is not the declared body");
                }
            } else if (scenario.allowedFile.empty()) {
                Expect(!o.succeeded, label + ": reported success");
            }
        }
    }
    std::printf(
        "net: %d fetches against %zu hostile servers, %d failed checks, longest pause of "
        "the calling thread's timer %.0f ms, %.1f s\n",
        fetches, scenarios.size(), g_failures, longestGap,
        std::chrono::duration<double>(Clock::now() - start).count());
    std::filesystem::current_path("/");
    std::filesystem::remove_all(workDir);
    std::filesystem::remove_all(other.dir);
    std::filesystem::remove_all(valid.dir);
    return g_failures == 0 ? 0 : 1;
}
