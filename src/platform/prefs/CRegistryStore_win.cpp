// The preferences store in the registry: HKEY_CURRENT_USER\Software\<product>, string values.
// Text is UTF-8 inside the program and UTF-16 in the registry; the limits count UTF-8 bytes,
// as on the other platforms.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/prefs/CRegistryStore.h"
#include "platform/prefs/RegistryValues.h"
#include "platform/system/WideText_win.h"

namespace {

// Room for the longest value read back, its terminating zero and one character more, so a
// longer value is told apart from one that fits.
constexpr DWORD kReadUnits = CRegistryStore::kMaxRead + 2;

}  // namespace

// An open registry key, closed when it goes.
class CRegistryStore::CKey {
public:
    HKEY m_hHandle = nullptr;
    CKey() = default;
    ~CKey() {
        if (m_hHandle != nullptr) ::RegCloseKey(m_hHandle);
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;
};

RegistryRoot CurrentUserRoot() {
    return HKEY_CURRENT_USER;
}

CRegistryStore::CRegistryStore() = default;
CRegistryStore::~CRegistryStore() = default;

bool CRegistryStore::WriteValue(const std::string& productKey, const std::string& valueName,
                                const std::string& data, RegistryRoot root) {
    const std::wstring path = L"Software\\" + Utf8ToWide(productKey);
    const std::wstring text = Utf8ToWide(TextToStore(data));

    DWORD disposition = 0;
    m_hKey = std::make_unique<CKey>();
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                          nullptr, &m_hKey->m_hHandle, &disposition) != ERROR_SUCCESS) {
        m_hKey.reset();
        return false;
    }
    m_dwDisposition = disposition;
    // The terminating zero is stored with the text.
    const LSTATUS stored =
        ::RegSetValueExW(m_hKey->m_hHandle, Utf8ToWide(valueName).c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    m_hKey.reset();
    return stored == ERROR_SUCCESS;
}

std::string CRegistryStore::ReadValue(const std::string& productKey, const std::string& valueName,
                                      RegistryRoot root, const std::string& parentKey) {
    const std::wstring path = Utf8ToWide(parentKey + "\\" + productKey);
    m_hKey = std::make_unique<CKey>();
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &m_hKey->m_hHandle) !=
        ERROR_SUCCESS) {
        m_hKey.reset();
        return {};
    }
    std::vector<wchar_t> buffer(kReadUnits + 1, L'\0');
    DWORD type = REG_NONE;
    DWORD size = kReadUnits * sizeof(wchar_t);
    const LSTATUS queried =
        ::RegQueryValueExW(m_hKey->m_hHandle, Utf8ToWide(valueName).c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(buffer.data()), &size);
    m_hKey.reset();
    if (queried != ERROR_SUCCESS) return {};

    // Whatever the value holds is taken as text: string types as the registry's UTF-16, anything
    // else as the 8-bit text the bytes spell.
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        const std::wstring_view wide(buffer.data(), size / sizeof(wchar_t));
        return TextReadBack(WideToUtf8(wide.substr(0, wide.find(L'\0'))));
    }
    return TextReadBack(std::string(reinterpret_cast<const char*>(buffer.data()), size));
}
