// The self-check on Windows: Firefox profiles with DNS over HTTPS below a folder the test makes,
// the DNS cache flush, and (run by lookup-check.sh, with a hosts file of its own in place of the
// one Wine's resolver reads) the lookups of the block's names in both families.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "platform/hosts/HostsPath.h"
#include "platform/protection/ProtectionCheck.h"
#include "support/WinTestSupport.h"

namespace {

using FirefoxProfilesTest = HostsDirTest;

void MakeProfile(const std::string& root, const std::string& name, const char* prefs,
                 const char* user) {
    const std::string folder = root + "\\" + name;
    ASSERT_TRUE(::CreateDirectoryW(Utf8ToWide(folder).c_str(), nullptr));
    if (prefs != nullptr) Spit(folder + "\\prefs.js", prefs);
    if (user != nullptr) Spit(folder + "\\user.js", user);
}

TEST_F(FirefoxProfilesTest, NamesTheProfilesThatUseDnsOverHttps) {
    std::string root = m_dir + "\\Mozilla";
    for (const char* part : {"", "\\Firefox", "\\Firefox\\Profiles"})
        ASSERT_TRUE(::CreateDirectoryW(Utf8ToWide(root + part).c_str(), nullptr));
    root += "\\Firefox\\Profiles";
    const char* on = "user_pref(\"network.trr.mode\", 2);\r\n";
    const char* only = "user_pref(\"network.trr.mode\", 3);\r\n";
    const char* off = "user_pref(\"network.trr.mode\", 5);\r\n";
    MakeProfile(root, "a1b2.default-release", on, nullptr);
    MakeProfile(root, "c3.work", only, off);    // user.js wins over prefs.js
    MakeProfile(root, "d4.forced", off, only);  // ... both ways
    MakeProfile(root, "e5.plain", "// nothing\r\n", nullptr);
    MakeProfile(root, "f6.no-prefs", nullptr, on);  // never started: not a profile yet

    EXPECT_EQ(FirefoxDohProfiles(m_dir),
              (std::vector<std::string>{"a1b2.default-release", "d4.forced"}));
    EXPECT_TRUE(FirefoxDohProfiles(m_dir + "\\missing").empty());
    // The user's roaming folder as the shell knows it; %APPDATA% does not move it.
    const std::string appData = EnvironmentUtf8(L"APPDATA");
    EXPECT_EQ(FirefoxProfilesHome(), appData);
    SetEnv(L"APPDATA", m_dir);
    EXPECT_EQ(FirefoxProfilesHome(), appData);
    SetEnv(L"APPDATA", appData);
    std::filesystem::remove_all(Utf8ToWide(m_dir + "\\Mozilla"));
}

TEST(DnsCache, IsFlushedThroughTheFunctionFoundAtRunTime) {
    EXPECT_TRUE(InvalidateHostsCache());
}

TEST(DnsCache, OnlyTheSystemHostsFileIsTheResolvers) {
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    const std::string hosts = WideToUtf8(std::wstring(system, length)) + "\\drivers\\etc\\hosts";
    EXPECT_TRUE(IsSystemHostsFile(hosts));
    std::string upper = hosts;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(IsSystemHostsFile(upper));
    EXPECT_TRUE(IsSystemHostsFile(hosts.substr(0, hosts.size() - 5) + "..\\etc\\hosts"));
    EXPECT_FALSE(IsSystemHostsFile(hosts + ".bak"));
    EXPECT_FALSE(IsSystemHostsFile(""));
}

// VANTREL_TEST_RESOLVER_HOSTS names the hosts file the resolver reads while this runs.
TEST(Lookups, OnlyAnswersFromTheHostsFileCountAsLocal) {
    const std::string path = EnvironmentUtf8(L"VANTREL_TEST_RESOLVER_HOSTS");
    if (path.empty()) GTEST_SKIP() << "run by lookup-check.sh";
    const std::string text = Slurp(path);
    ASSERT_NE(text, "<missing>");
    // The file as the resolver reads it: every name of the block answered from it, in each
    // family it lists (IPv6 lookups of a name listed for IPv4 alone find nothing).
    const LookupCheck local = CheckLookups(BlockEntries(text), HostsEntries(text));
    EXPECT_TRUE(local.notLocalV4.empty()) << local.notLocalV4.front();
    EXPECT_TRUE(local.notLocalV6.empty()) << local.notLocalV6.front();

    // A block that lists names the file does not hold, or holds with another address.
    const std::string claimed =
        "# Begin Vantrel\n0.0.0.0 leak.example\n:: leak.example\n"
        "0.0.0.0 elsewhere.example\n0.0.0.0 pagead2.googlesyndication.com\n# End Vantrel\n";
    const LookupCheck leaks = CheckLookups(BlockEntries(claimed), HostsEntries(claimed));
    EXPECT_EQ(leaks.notLocalV4, (std::vector<std::string>{"leak.example", "elsewhere.example"}));
    EXPECT_EQ(leaks.notLocalV6,
              (std::vector<std::string>{"leak.example", "pagead2.googlesyndication.com"}));
}

}  // namespace
