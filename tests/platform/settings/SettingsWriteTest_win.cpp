// Saving the settings file on Windows: CR LF line ends, the file replaced as a whole, nothing
// left beside it, and a folder by that name left alone.
#include <gtest/gtest.h>

#include "platform/settings/SettingsFileIO.h"
#include "support/WinTestSupport.h"

namespace {

using SettingsWrite = HostsDirTest;

TEST_F(SettingsWrite, ReplacesTheFileWithCrLfLinesAndLeavesNothingBeside) {
    const std::string settings = m_dir + "\\vantrel_settings.txt";
    SetSettings("0.0.0.0 old.example\r\n:: old.example\r\n0.0.0.0 longer-than-the-new-list\r\n");
    ASSERT_TRUE(WriteSettingsText("127.0.0.1 a.example\n::1 a.example\n"));
    EXPECT_EQ(Slurp(settings), "127.0.0.1 a.example\r\n::1 a.example\r\n");
    EXPECT_EQ(*ReadSettingsLines(),
              (std::vector<std::string>{"127.0.0.1 a.example", "::1 a.example", ""}));
    ASSERT_TRUE(WriteSettingsText(""));
    EXPECT_EQ(Slurp(settings), "");
    EXPECT_EQ(TempFiles(m_dir), std::vector<std::string>());

    ::DeleteFileW(Utf8ToWide(settings).c_str());
    ASSERT_TRUE(::CreateDirectoryW(Utf8ToWide(settings).c_str(), nullptr));
    EXPECT_FALSE(WriteSettingsText("0.0.0.0 a.example\n"));
    EXPECT_NE(::GetFileAttributesW(Utf8ToWide(settings).c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    ::RemoveDirectoryW(Utf8ToWide(settings).c_str());
}

}  // namespace
