// Saving the settings file on Windows: CR LF line ends, the file replaced as a whole, nothing
// left beside it, and a folder by that name left alone.
#include <gtest/gtest.h>

#include "platform/settings/SettingsFileIO.h"
#include "support/WinTestSupport.h"

namespace {

using SettingsWrite = HostsDirTest;

TEST_F(SettingsWrite, ReplacesTheFileWithCrLfLinesAndLeavesNothingBeside) {
    SetSettings("0.0.0.0 old.example\r\n:: old.example\r\n0.0.0.0 longer-than-the-new-list\r\n");
    ASSERT_TRUE(WriteSettingsText("127.0.0.1 a.example\n::1 a.example\n"));
    EXPECT_EQ(Slurp(m_dir + "\\vantrel_settings.txt"), "127.0.0.1 a.example\r\n::1 a.example\r\n");
    // Read back, the lines are the ones written.
    EXPECT_EQ(*ReadSettingsLines(),
              (std::vector<std::string>{"127.0.0.1 a.example", "::1 a.example", ""}));

    ASSERT_TRUE(WriteSettingsText(""));
    EXPECT_EQ(Slurp(m_dir + "\\vantrel_settings.txt"), "");
    WIN32_FIND_DATAW found{};
    int entries = 0;
    const HANDLE search = ::FindFirstFileW(Utf8ToWide(m_dir + "\\*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") ++entries;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    EXPECT_EQ(entries, 1) << "a temporary file was left beside the settings file";
}

TEST_F(SettingsWrite, AFolderByThatNameIsLeftAlone) {
    const std::string folder = m_dir + "\\vantrel_settings.txt";
    ASSERT_TRUE(::CreateDirectoryW(Utf8ToWide(folder).c_str(), nullptr));
    EXPECT_FALSE(WriteSettingsText("0.0.0.0 a.example\n"));
    const DWORD attributes = ::GetFileAttributesW(Utf8ToWide(folder).c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    ::RemoveDirectoryW(Utf8ToWide(folder).c_str());
}

}  // namespace
