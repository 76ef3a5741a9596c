// The preferences store in the registry of the test's Wine prefix, HKEY_CURRENT_USER, key
// Software\Vantrel (which the installer test reads directly). The values the last test writes stay
// for `wine reg query` to show.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "platform/prefs/CRegistryStore.h"
#include "platform/system/WideText_win.h"

namespace {
const wchar_t kKey[] = L"Software\\Vantrel";
}  // namespace

class RegistryStoreContract : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
};

namespace {

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    bool found = false;
};

RawValue Raw(const wchar_t* name) {
    RawValue value;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.found = ::RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(),
                                         &size) == ERROR_SUCCESS;
    }
    ::RegCloseKey(key);
    return value;
}

void Plant(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(key);
}

std::string Read(const std::string& name) {
    return CRegistryStore().ReadValue("Vantrel", name, HKEY_CURRENT_USER, "Software");
}

}  // namespace

#include "platform/prefs/RegistryStoreContract.h"

namespace {

using RegistryStore = RegistryStoreContract;

TEST_F(RegistryStore, ValuesAreStringsWithTheirZeroAndWritesAreCutAt9999Bytes) {
    ASSERT_TRUE(contract::Write("m_IPAddress", ""));
    RawValue empty = Raw(L"m_IPAddress");
    ASSERT_TRUE(empty.found);
    EXPECT_EQ(empty.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(empty.bytes.size(), sizeof(wchar_t));  // the terminating zero alone

    ASSERT_TRUE(contract::Write("v", std::string(12000, 'b')));
    EXPECT_EQ(Raw(L"v").bytes.size(), 10000 * sizeof(wchar_t));
    // A cut never leaves half a UTF-8 character behind.
    ASSERT_TRUE(contract::Write("v", std::string(9998, 'c') + "\xC3\xA9"));
    EXPECT_EQ(Raw(L"v").bytes.size(), 9999 * sizeof(wchar_t));
}

TEST_F(RegistryStore, OtherProgramsValuesAreTakenAsTextUpToTheirFirstZero) {
    const wchar_t noZero[] = {L'1', L'2', L'3'};
    Plant(L"v", REG_SZ, noZero, sizeof noZero);
    EXPECT_EQ(Read("v"), "123");
    const char bytes[] = "raw\0more";
    Plant(L"v", REG_BINARY, bytes, sizeof bytes);
    EXPECT_EQ(Read("v"), "raw");
    Plant(L"v", REG_SZ, L"-", 2 * sizeof(wchar_t));
    EXPECT_EQ(Read("v"), "");
}

}  // namespace
