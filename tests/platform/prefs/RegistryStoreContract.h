// What the preferences store promises on every platform, through its own two calls only.
// Include after defining a fixture class RegistryStoreContract whose SetUp leaves the product's
// key absent.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/prefs/CRegistryStore.h"

namespace contract {

inline bool Write(const std::string& name, const std::string& data) {
    return CRegistryStore().WriteValue("Vantrel", name, data, HKEY_CURRENT_USER);
}

inline std::string Read(const std::string& name) {
    return CRegistryStore().ReadValue("Vantrel", name, HKEY_CURRENT_USER, "Software");
}

}  // namespace contract

TEST_F(RegistryStoreContract, MissingValuesReadEmptyUntilTheFirstWrite) {
    EXPECT_EQ(contract::Read("m_IPAddress"), "");
    EXPECT_TRUE(contract::Write("m_IPAddress", "127.0.0.1"));
    EXPECT_EQ(contract::Read("m_IPAddress"), "127.0.0.1");
    EXPECT_EQ(contract::Read("UpgradeDate"), "");
    // The read takes its parent key from the caller.
    EXPECT_EQ(CRegistryStore().ReadValue("Vantrel", "m_IPAddress", HKEY_CURRENT_USER, "Elsewhere"),
              "");
}

TEST_F(RegistryStoreContract, TheLastWriteWinsAndOtherValuesStay) {
    ASSERT_TRUE(contract::Write("UpgradeDate", "7 4 2006"));
    ASSERT_TRUE(contract::Write("m_IPAddress", "0.0.0.0"));
    ASSERT_TRUE(contract::Write("m_IPAddress", "::1"));
    EXPECT_EQ(contract::Read("m_IPAddress"), "::1");
    EXPECT_EQ(contract::Read("UpgradeDate"), "7 4 2006");
}

TEST_F(RegistryStoreContract, AHyphenOrNothingMeansNotSet) {
    ASSERT_TRUE(contract::Write("m_IPAddress", "-"));
    EXPECT_EQ(contract::Read("m_IPAddress"), "");
    ASSERT_TRUE(contract::Write("m_IPAddress", ""));
    EXPECT_EQ(contract::Read("m_IPAddress"), "");
    ASSERT_TRUE(contract::Write("m_IPAddress", "--"));
    EXPECT_EQ(contract::Read("m_IPAddress"), "--");
    ASSERT_TRUE(contract::Write("m_IPAddress", "7"));
    EXPECT_EQ(contract::Read("m_IPAddress"), "7");
}

TEST_F(RegistryStoreContract, ValuesUpTo999BytesReadBackAndLongerOnesReadEmpty) {
    ASSERT_TRUE(contract::Write("v", std::string(999, 'a')));
    EXPECT_EQ(contract::Read("v"), std::string(999, 'a'));
    ASSERT_TRUE(contract::Write("v", std::string(1000, 'a')));
    EXPECT_EQ(contract::Read("v"), "");
    ASSERT_TRUE(contract::Write("v", std::string(12000, 'b')));
    EXPECT_EQ(contract::Read("v"), "");
    // Counted in UTF-8 bytes: 500 two-byte characters are 1,000 bytes.
    std::string accents;
    for (int i = 0; i < 499; ++i) accents += "\xC3\xA9";
    ASSERT_TRUE(contract::Write("v", accents + "x"));
    EXPECT_EQ(contract::Read("v"), accents + "x");
    ASSERT_TRUE(contract::Write("v", accents + "\xC3\xA9"));
    EXPECT_EQ(contract::Read("v"), "");
}

TEST_F(RegistryStoreContract, Utf8SurvivesAndTextEndsAtTheFirstNul) {
    const std::string utf8 = "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC";
    ASSERT_TRUE(contract::Write("v", utf8));
    EXPECT_EQ(contract::Read("v"), utf8);
    ASSERT_TRUE(contract::Write("v", std::string("ab\0cd", 5)));
    EXPECT_EQ(contract::Read("v"), "ab");
}
