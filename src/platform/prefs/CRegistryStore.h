// The current user's lasting values: string values under the product's key "Software\<product>".
// On Windows they live in the registry; elsewhere in an INI file at the user's configuration
// location (~/.config/Vantrel/Vantrel.ini).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#ifdef _WIN32
// The registry's own root keys (HKEY_CURRENT_USER from <windows.h>) name the root.
struct HKEY__;
using RegistryRoot = HKEY__*;
#else
// The root a key hangs from. Only the current user's tree exists here.
enum class RegistryRoot { CurrentUser };
inline constexpr RegistryRoot HKEY_CURRENT_USER = RegistryRoot::CurrentUser;
#endif

// HKEY_CURRENT_USER, for code that includes no system header.
RegistryRoot CurrentUserRoot();

class CRegistryStore {
public:
    // An open key, whatever the platform keeps it in.
    class CKey;
    // How the last write found the product's key.
    enum Disposition : unsigned { kNone = 0, kCreatedNewKey = 1, kOpenedExistingKey = 2 };

    // Text longer than this is cut before it is stored (bytes, UTF-8).
    static constexpr std::size_t kMaxWrite = 9999;
    // A stored value this long or longer is not read back (bytes, UTF-8).
    static constexpr std::size_t kMaxRead = 999;

    CRegistryStore();
    virtual ~CRegistryStore();
    CRegistryStore(const CRegistryStore&) = delete;
    CRegistryStore& operator=(const CRegistryStore&) = delete;

    // Stores `data` as the value `valueName` of "Software\<productKey>", creating the key on
    // first use. False when the store cannot be written; never reports anything.
    bool WriteValue(const std::string& productKey, const std::string& valueName,
                    const std::string& data, RegistryRoot root);
    // The value `valueName` of "<parentKey>\<productKey>", or "" when it is missing, too long,
    // unreadable or the hyphen "-" that marks a value as not set.
    std::string ReadValue(const std::string& productKey, const std::string& valueName,
                          RegistryRoot root, const std::string& parentKey);

private:
    // The store is opened per operation and closed at its end; no handle outlives a call.
    std::unique_ptr<CKey> m_hKey;
    unsigned m_dwDisposition = kNone;
};
