// The upgrade page scanner against pages shaped like the maker's, and the broken ones.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <sstream>

#include "core/upgrade/UpgradePage.h"

namespace {
// Splits a page the way the fetcher delivers it: each line keeps its LF.
CStringList Lines(const std::string& page) {
    CStringList lines;
    size_t start = 0;
    while (start < page.size()) {
        const size_t lf = page.find('\n', start);
        const size_t end = lf == std::string::npos ? page.size() : lf + 1;
        lines.push_back(std::string_view(page).substr(start, end - start));
        start = end;
    }
    return lines;
}

UpgradePageInfo Parse(const std::string& page) {
    UpgradePageInfo info;
    ParseUpgradePage(Lines(page), info);
    return info;
}
}  // namespace

TEST(UpgradePage, ReadsAFullPage) {
    const UpgradePageInfo info = Parse(
        "<html><body>\n"
        "<!-- UPGRADE Version\n"
        "1.1\n"
        "-->\n"
        "<!-- UPGRADE Description\n"
        "Faster start.\n"
        "New domains.\n"
        "Fixed the About box.\n"
        "END UPGRADE Description -->\n"
        "<!-- UPGRADE Download Link\n"
        "https://example.invalid/setup.exe\n"
        "-->\n"
        "<!-- UPGRADE SHA256\n"
        "ABCDEF0123\n"
        "-->\n"
        "</body></html>\n");
    EXPECT_TRUE(info.bVersionFound);
    EXPECT_FLOAT_EQ(info.fNewVersion, 1.1f);
    EXPECT_GT(info.fNewVersion, 1.0f);
    EXPECT_EQ(info.strDescription, "Faster start.\nNew domains.\nFixed the About box.\n");
    EXPECT_EQ(info.strDownloadLink, "https://example.invalid/setup.exe\n");
    EXPECT_EQ(info.strSha256, "ABCDEF0123\n");
}

TEST(UpgradePage, VersionIsReadLikeAtof) {
    struct Case {
        const char* line;
        float expected;
    };
    const Case cases[] = {{"1.0\n", 1.0f},     {"1.00\n", 1.0f},       {"0.9\n", 0.9f},
                          {"latest\n", 0.0f},  {"  2.5 beta\n", 2.5f}, {"+3e0x\n", 3.0f},
                          {"\t-1.5\n", -1.5f}, {"1e400\n", HUGE_VALF}, {"", 0.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ReadVersionNumber(c.line), c.expected);
    }
    // Digits beyond the 99th character are not part of the number.
    EXPECT_EQ(ReadVersionNumber(std::string(98, ' ') + "12"), 1.0f);
}

TEST(UpgradePage, VersionIgnoresTheUsersDecimalComma) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    // The German locale's name on Linux, then on Windows.
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "German_Germany"))
        GTEST_SKIP() << "no German locale here";
    EXPECT_FLOAT_EQ(ReadVersionNumber("1.5\n"), 1.5f);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(UpgradePage, BrokenPagesKeepWhatWasRead) {
    UpgradePageInfo info =
        Parse("<!-- UPGRADE Description END UPGRADE Description -->\n<!-- UPGRADE Version\n1.5\n");
    EXPECT_EQ(info.strDescription, "") << "a description block on one line is empty";
    EXPECT_FLOAT_EQ(info.fNewVersion, 1.5f);

    info = Parse("<!-- upgrade version\n9.0\n<!-- upgrade download link\nx\n");
    EXPECT_FALSE(info.bVersionFound) << "lower-case markers are not markers";
    EXPECT_EQ(info.strDownloadLink, "");

    info = Parse("<!-- UPGRADE Description\nhalf\nof a\n");
    EXPECT_EQ(info.strDescription, "half\nof a\n");
    info = Parse("<!-- UPGRADE Download Link\nhttps://a.invalid/x\n<!-- UPGRADE Version\n");
    EXPECT_FALSE(info.bVersionFound);
    EXPECT_EQ(info.strDownloadLink, "https://a.invalid/x\n");
    EXPECT_FALSE(Parse("").bVersionFound);
}
