// Measures, without asserting, how much processor time the waiting thread spends while a slow
// download runs: a server trickles 1 KiB every 10 ms for about 5 s.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "linux/net/NetTestServers.h"
#include "platform/net/CHttpFetcher.h"

namespace {
double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
}  // namespace

TEST(FetchWaitBench, WaitingThreadCpuDuringThrottledDownload) {
    constexpr int kPieces = 500;
    RawServer server([](RawServer::Reply& reply, const std::string&) {
        reply.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kPieces * 1024) +
                   "\r\n\r\n");
        const std::string piece(1024, 'z');
        for (int i = 0; i < kPieces && reply.Send(piece); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return true;
    });
    const std::string file = MakeTempDir() + "/slow.bin";
    int deliveries = 0;
    CHttpFetcher fetcher;
    const double cpu0 = ThreadCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    fetcher.Fetch(server.Url("/slow"), file, [&](const std::string&) { ++deliveries; });
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = ThreadCpuSeconds() - cpu0;
    EXPECT_TRUE(fetcher.LastFetchSucceeded());
    std::printf("waiting thread: %.1f ms CPU in %.2f s wall (%.3f%%), %d progress deliveries\n",
                cpu * 1e3, wall, 100.0 * cpu / wall, deliveries);
    std::remove(file.c_str());
}
