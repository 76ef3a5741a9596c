// The settings list's rules, as both systems' dialogs apply them: what a list saves as, and the one
// message that refuses a list or an address.
#include <gtest/gtest.h>

#include <string>

#include "core/hosts/HostsLine.h"
#include "core/settings/SettingsFile.h"
#include "core/settings/SettingsList.h"

namespace {

const std::string kNotADomain =
    "\", is not a domain name. Please enter one domain per line, such as "
    "pagead2.googlesyndication.com.";
const std::string kNotAnAddress = "Please enter an IP address such as 0.0.0.0 or 127.0.0.1.";
const std::string kTooLong = "Please enter no more than 15 characters.";

TEST(SettingsList, SavesEachDomainCleanedWithItsTwin) {
    // Blanks around a domain and one trailing dot go; lines left empty vanish; any line end.
    EXPECT_EQ(
        SettingsTextFor("a.example\r\n\r\n b.example.\t\r  \nad_server.example \n", "127.0.0.1"),
        "127.0.0.1 a.example\n::1 a.example\n127.0.0.1 b.example\n::1 b.example\n"
        "127.0.0.1 ad_server.example\n::1 ad_server.example\n");
    const std::pair<std::string, std::string> twins[] = {
        {"0.0.0.0", "::"}, {"127.9.8.7", "::1"}, {"::", "0.0.0.0"}, {"::1", "127.0.0.1"}};
    for (const auto& [address, twin] : twins) {
        const std::string text = SettingsTextFor("a.example", address);
        EXPECT_EQ(text, address + " a.example\n" + twin + " a.example\n");
        // Read back, the list shows the domain once.
        EXPECT_EQ(DomainListOf(SplitSettingsLines(text)), "a.example\n") << address;
    }
    EXPECT_EQ(SettingsTextFor(" \r\n\t\n", "0.0.0.0"), "");
    // The file's comments and blank lines are no domains of the list.
    EXPECT_EQ(DomainListOf(SplitSettingsLines("# ads\n0.0.0.0 a.example\n\n  # twin next\n:: "
                                              "a.example\n \n0.0.0.0 b.example\n")),
              "a.example\nb.example\n");
}

TEST(SettingsList, NamesTheFirstBadLineCountingLinesAsTheUserSeesThem) {
    // CR LF, a lone CR and a lone LF each end one line; the line is quoted without its blanks.
    const ListProblem problem =
        FindListProblem("good.example\r\n\rads example.com\nx;y.example\n", "0.0.0.0");
    EXPECT_EQ(problem.text, "Line 3, \"ads example.com" + kNotADomain);
    EXPECT_EQ(problem.line, 2);
    const ListProblem dotted = FindListProblem("ok.example\r\n\t-bad.example. \r\n", "::1");
    EXPECT_EQ(dotted.text, "Line 2, \"-bad.example." + kNotADomain);
    EXPECT_EQ(dotted.line, 1);
    // UTF-8 goes through as it is.
    EXPECT_EQ(FindListProblem("\xC3\xA9t\xC3\xA9.example", "0.0.0.0").text,
              "Line 1, \"\xC3\xA9t\xC3\xA9.example" + kNotADomain);
    EXPECT_TRUE(FindListProblem("a.example\n\n b.example. \n", "0.0.0.0").text.empty());
    EXPECT_TRUE(FindListProblem("", "0.0.0.0").text.empty());
}

TEST(SettingsList, RefusesAListLongerThanTheBlockMayHoldInDomains) {
    // Each domain takes two lines (its twin), so half the block's lines in domains fill it.
    std::string list;
    for (std::size_t i = 0; i < kMaxBlockLines / 2; ++i) {
        list += 'd';
        list += std::to_string(i);
        list += ".example\n";
    }
    const std::string saved = SettingsTextFor(list, "0.0.0.0");
    EXPECT_TRUE(FindListProblem(list, "0.0.0.0").text.empty());
    EXPECT_EQ(CheckBlockLines(SplitSettingsLines(saved)).verdict, BlockLinesCheck::Ok);

    const ListProblem problem = FindListProblem(list + "one-more.example", "0.0.0.0");
    EXPECT_EQ(problem.text, "The list is too long. Please enter no more than 2048 domains.");
    EXPECT_EQ(problem.line, -1);
}

TEST(SettingsList, AddressIsAtMostFifteenCharactersAndOfThisPC) {
    for (const char* address : {"0.0.0.0", "127.0.0.1", "127.9.8.7", "::", "::1"})
        EXPECT_EQ(FindAddressProblem(address), "") << address;
    for (const char* address : {"0000.0000.0000.0", "fe80::1:2:3:4:5:6"})
        EXPECT_EQ(FindAddressProblem(address), kTooLong) << address;
    for (const char* address :
         {"", "abc", "1.2.3", "256.0.0.1", " 127.0.0.1", "127.0.0.1 x", "0x7f.0.0.1",
          "203.0.113.66", "10.0.0.1", "fe80::1", "::ffff:1.2.3.4"})
        EXPECT_EQ(FindAddressProblem(address), kNotAnAddress) << address;
    // Characters, not bytes: fifteen two-byte letters fit the field.
    std::string letters;
    for (int i = 0; i < 15; ++i) letters += "\xC3\xA9";
    EXPECT_EQ(FindAddressProblem(letters), kNotAnAddress);
    EXPECT_EQ(FindAddressProblem(letters + "\xC3\xA9"), kTooLong);
}

}  // namespace
