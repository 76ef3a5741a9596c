// The hosts file on Windows: below the system folder, never named by the environment (the
// program runs elevated with the user's environment); test programs name their own file through
// SetHostsPathForTests().
#include <windows.h>

#include "platform/files/FileSys.h"
#include "platform/hosts/HostsPath.h"
#include "platform/hosts/HostsPathForTests_win.h"
#include "platform/system/WideText_win.h"

namespace {
std::wstring SystemHostsPath() {
    wchar_t buffer[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(buffer, length) + L"\\drivers\\etc\\hosts";
}

std::string& PathForTests() {
    static std::string s_path;
    return s_path;
}
}  // namespace

std::string DefaultHostsPath() {
    // The NT family keeps the file below the system folder; older Windows in \Windows.
    const std::string system = WideToUtf8(SystemHostsPath());
    if (!system.empty() && filesys::FileExists(system)) return system;
    if (filesys::FileExists("\\Windows\\hosts")) return "\\Windows\\hosts";
    return system;
}

void SetHostsPathForTests(const std::string& path) {
    PathForTests() = path;
}

std::string ConfiguredHostsPath() {
    const std::string& named = PathForTests();
    return named.empty() ? DefaultHostsPath() : named;
}

// Names compare without regard to letter case, as the file system does.
bool IsSystemHostsFile(const std::string& path) {
    if (path.empty()) return false;
    const std::wstring given = Utf8ToWide(filesys::Resolve(path));
    const std::wstring system = Utf8ToWide(filesys::Resolve(DefaultHostsPath()));
    return ::CompareStringOrdinal(given.c_str(), static_cast<int>(given.size()), system.c_str(),
                                  static_cast<int>(system.size()), TRUE) == CSTR_EQUAL;
}
