// Benchmark child: a slow file-mode download shown in the real status window, measuring the
// processor time that the waiting (user-interface) thread spends while the transfer runs.
// Prints "<thread CPU µs> <wall µs> <progress updates>".
#include <time.h>

#include <QApplication>
#include <QString>
#include <chrono>
#include <cstdio>

#include "linux/upgrade/CUpgradeProgressDlg.h"
#include "platform/net/CHttpFetcher.h"

namespace {
long long ThreadCpuMicros() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    CUpgradeProgressDlg progress;
    progress.show();
    QApplication::processEvents();

    CHttpFetcher fetcher;
    long long updates = 0;
    const long long cpuBefore = ThreadCpuMicros();
    const auto wallBefore = std::chrono::steady_clock::now();
    fetcher.Fetch(argv[1], argv[2], [&](const std::string& text) {
        progress.SetStatusText(QString::fromStdString(text));
        ++updates;
    });
    const auto wallAfter = std::chrono::steady_clock::now();
    const long long cpuAfter = ThreadCpuMicros();
    if (!fetcher.LastFetchSucceeded()) return 1;
    std::printf(
        "%lld %lld %lld\n", cpuAfter - cpuBefore,
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::microseconds>(wallAfter - wallBefore).count()),
        updates);
    return 0;
}
