// A child process for the crash and concurrency cases of the hosts file (HostsChildren.h):
//   hosts_toggler loop <hosts> <event>    adds and removes a block for ever (until killed), after
//                                         setting the inherited event whose handle value is given
//   hosts_toggler press <count>           presses Hide and Show in turn, in the working folder
//   hosts_toggler append <hosts> <count>  appends a numbered line per locked edit
// Exit status 0 when every step worked, every press ended as it asked, and there was never more
// than one block.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "platform/hosts/HostsChildren.h"
#include "platform/hosts/HostsPathForTests_win.h"
#include "platform/system/WideText_win.h"

int wmain(int argc, wchar_t** argv) {
    // The parent test names the hosts file in the environment, which the program never reads.
    if (const wchar_t* hosts = ::_wgetenv(L"VANTREL_HOSTS_FILE"))
        SetHostsPathForTests(WideToUtf8(hosts));
    if (argc < 3) return 2;
    const std::wstring mode = argv[1];
    if (mode == L"loop" && argc >= 4) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle value passed by the parent
        ::SetEvent(reinterpret_cast<HANDLE>(
            static_cast<std::uintptr_t>(std::wcstoull(argv[3], nullptr, 10))));
        children::AddAndRemoveForever(WideToUtf8(argv[2]));
    }
    if (mode == L"press") return children::PressInTurns(std::wcstol(argv[2], nullptr, 10)) ? 0 : 1;
    if (mode == L"append" && argc >= 4)
        return children::AppendNumberedLines(WideToUtf8(argv[2]), std::wcstol(argv[3], nullptr, 10))
                   ? 0
                   : 1;
    return 2;
}
