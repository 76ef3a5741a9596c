// Benchmark child: one fetch in a fresh process with an event loop, as the upgrade check (text
// mode) or the installer download (file mode, with a progress sink) runs it.
#include <QCoreApplication>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/net/CHttpFetcher.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) return 2;
    const std::string_view mode = argv[1];
    CHttpFetcher fetcher;
    if (mode == "text") {
        // The bench's text body is larger than a page the program expects.
        fetcher.SetTextLimit(256u << 20);
        const CStringList& lines = fetcher.Fetch(argv[2], std::string());
        if (!fetcher.LastFetchSucceeded() || lines.empty()) return 1;
        return 0;
    }
    if (mode == "file" && argc >= 4) {
        std::string latest;
        std::size_t updates = 0;
        fetcher.Fetch(argv[2], argv[3], [&](const std::string& text) {
            latest = text;
            ++updates;
        });
        if (!fetcher.LastFetchSucceeded() || updates == 0) return 1;
        return 0;
    }
    return 2;
}
