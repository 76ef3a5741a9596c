// A child process for the crash and concurrency tests of the hosts file:
//   hosts_toggler loop <hosts> <event>  adds and removes a block for ever (until killed), after
//                                       setting the inherited event whose handle value is given
//   hosts_toggler toggle <count>      toggles as the main dialog does, in the working folder
//   hosts_toggler append <hosts> <count>  appends a numbered line per locked edit
// Exit status 0 when every step worked and there was never more than one block.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "core/HostsText.h"
#include "platform/CHostsFile.h"
#include "platform/HostsFileIO.h"
#include "platform/WideText_win.h"

namespace {

std::size_t CountBegins(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t pos = text.find(kBeginMarker); pos != std::string::npos;
         pos = text.find(kBeginMarker, pos + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring mode = argv[1];
    if (mode == L"loop" && argc >= 4) {
        const std::string hosts = WideToUtf8(argv[2]);
        // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle value passed by the parent
        ::SetEvent(reinterpret_cast<HANDLE>(
            static_cast<std::uintptr_t>(std::wcstoull(argv[3], nullptr, 10))));
        const std::vector<std::string> lines = {"0.0.0.0 a.example", "0.0.0.0 b.example", ""};
        for (;;) {
            AddBlockAt(hosts, lines);
            RemoveBlockAt(hosts);
        }
    }
    if (mode == L"toggle") {
        const int count = std::wcstol(argv[2], nullptr, 10);
        for (int i = 0; i < count; ++i) {
            CHostsFile hosts;
            const bool active = hosts.IsBlockActive();
            const bool ok = active ? hosts.RemoveBlock() : hosts.AddBlock();
            if (!ok) {
                std::fprintf(stderr, "toggler: %s failed at step %d, error %lu\n",
                             active ? "removing" : "adding", i, ::GetLastError());
                return 1;
            }
            if (CountBegins(hosts.ReadHostsFile()) > 1) {
                std::fprintf(stderr, "toggler: two blocks after step %d\n", i);
                return 1;
            }
        }
        return 0;
    }
    if (mode == L"append" && argc >= 4) {
        const std::string hosts = WideToUtf8(argv[2]);
        const int count = std::wcstol(argv[3], nullptr, 10);
        for (int i = 0; i < count; ++i) {
            const EditOutcome outcome = EditHostsFile(hosts, [i](std::string& text) {
                if (!text.empty() && text.back() != '\n') text += '\n';
                text += "10.2.0.1 appended" + std::to_string(i) + "\n";
                return EditVerdict::Write;
            });
            if (outcome != EditOutcome::Written) return 1;
        }
        return 0;
    }
    return 2;
}
