// The hosts block's shared promises (HostsFileContract.h) on this system, and what only POSIX
// has: FIFOs and devices as the settings file, the label search. (Refused opens and failing
// reads: stress/HostsStress.cpp's faults.)
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/hosts/HostsLine.h"
#include "core/hosts/HostsText.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/hosts/HostsTestSupport.h"
#include "platform/settings/SettingsFileIO.h"

using HostsFileContract = HostsDirTest;

inline std::vector<std::string> ProgramLeftovers(const std::string& dir) {
    return HiddenFiles(dir);
}

#include "platform/hosts/HostsFileContract.h"

namespace {

using Settings = HostsDirTest;

TEST_F(Settings, OnlyARegularFileOfBoundedSizeThatCanBeOpenedIsRead) {
    EXPECT_EQ(*ReadSettingsLines("new.txt"), (std::vector<std::string>{""}));
    EXPECT_TRUE(std::filesystem::exists(m_dir + "/new.txt"));
    SetHosts("a\n");
    const std::string settings = m_dir + "/vantrel_settings.txt";
    const std::pair<void (*)(const std::string&), const char*> cases[] = {
        // A name that can be neither opened nor created, whoever runs the test.
        {[](const std::string& p) { std::filesystem::create_symlink("/no/such/folder/x", p); },
         "The settings file vantrel_settings.txt can be neither read nor created."},
        {[](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
         "The settings file vantrel_settings.txt is not a regular file."},
        {[](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); },
         "The settings file vantrel_settings.txt is not a regular file."},
        {[](const std::string& p) { Spit(p, std::string(kMaxSettingsFileSize + 1, '\n')); },
         "The settings file vantrel_settings.txt is too long."},
    };
    for (const auto& [make, message] : cases) {
        std::filesystem::remove(settings);
        make(settings);
        std::string why;
        EXPECT_FALSE(ReadSettingsLines(kSettingsFileName, &why));
        EXPECT_EQ(why, message);
        CHostsFile hosts;
        EXPECT_FALSE(hosts.AddBlock());
        EXPECT_EQ(hosts.GetFailure(), message);
        EXPECT_EQ(Hosts(), "a\n");
    }
}

TEST(AdLabelSearch, FindsEveryPlacementAndNoNearMiss) {
    for (std::size_t at = 0; at + kAdLabel.size() <= 64; ++at) {
        std::string text(64, '.');
        text.replace(at, kAdLabel.size(), "GoogleSYNDICATION");
        EXPECT_EQ(FindAdLabel(text.data(), text.size()), text.data() + at) << at;
        for (std::size_t wrong = 0; wrong < kAdLabel.size(); ++wrong) {
            std::string miss = text;
            miss[at + wrong] = static_cast<char>(miss[at + wrong] ^ 0x40);  // not a letter's twin
            EXPECT_EQ(FindAdLabel(miss.data(), miss.size()), nullptr) << at << " " << wrong;
        }
    }
}

}  // namespace
