// What a block line may be: only addresses of this PC, only names resolvers take from a hosts
// file. (How the dialog cleans a list: SettingsListTest.)
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/hosts/HostsLine.h"

using namespace std::string_literals;

namespace {

TEST(HostsLine, OnlyWildcardAndLoopbackAddressesAreLocal) {
    for (const char* address :
         {"0.0.0.0", "127.0.0.1", "127.0.0.2", "127.255.255.255", "127.1.0.9", "::", "::1",
          "0:0:0:0:0:0:0:1", "0::1", "0000::0001", "::0.0.0.1", "0:0:0:0:0:0:0:0", "::0"}) {
        EXPECT_TRUE(IsLocalAddress(address)) << address;
    }
    std::istringstream notLocal(
        "203.0.113.66 10.0.0.1 128.0.0.1 126.255.255.255 0.0.0.1 1.0.0.0 255.255.255.255 ::2 "
        "fe80::1 ::ffff:127.0.0.1 1:: ::1:0 127.0.0.01 0x7f.0.0.1 127.1 127.0.0.256 127.0.0.1. "
        "127..0.1 ::: ::1%lo 1::2::3 ::1: :1 0:0:0:0:0:0:0:0:1 0:0:0:0:0:0:0 00000::1 ::g");
    for (std::string address; notLocal >> address;)
        EXPECT_FALSE(IsLocalAddress(address)) << address;
    for (const std::string& address : {""s, " 127.0.0.1"s, "127.0.0.1 "s, "0.0.0.0\0"s, "::1\0"s})
        EXPECT_FALSE(IsLocalAddress(address)) << '"' << address << '"';
}

TEST(HostsLine, NamesAreWhatResolversTakeFromAHostsFile) {
    const std::string label63(63, 'a');
    const std::string longest =  // 253 characters
        label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
    for (const std::string& name :
         {"pagead2.googlesyndication.com"s, "ad_server.example.com"s, "_dmarc.example"s,
          "localhost"s, "3com.NET"s, "a-b.c"s, label63 + ".com"s, longest}) {
        EXPECT_TRUE(IsHostName(name)) << name;
    }
    for (const std::string& name :
         {""s, "a.com."s, ".a.com"s, "a..com"s, "-a.com"s, "a-.com"s, label63 + "a.com"s,
          longest + "b"s, "a.com;reboot"s, "$(reboot)"s, "a b"s, "a\tb"s, "*.com"s, "a/b"s,
          "\u00e4.com"s, "a.com\r"s, "a\0b"s}) {
        EXPECT_FALSE(IsHostName(name)) << '"' << name << '"';
    }
}

TEST(HostsLine, ABlockLineIsALocalAddressAndNamesEachAfterOneBlank) {
    for (const char* line : {"0.0.0.0 pagead2.googlesyndication.com", "127.0.0.1 a.example b_c",
                             ":: a.example", "::1 localhost ip6-localhost"}) {
        EXPECT_TRUE(IsBlockLine(line)) << line;
    }
    for (const std::string& line :
         {"203.0.113.66 login.mybank.example"s, "fe80::1 a.example"s, "0.0.0.0"s, "0.0.0.0 "s,
          "0.0.0.0  a.com"s, "0.0.0.0\ta.com"s, "0.0.0.0 a.com "s, "0.0.0.0 a.com # note"s,
          "# End Vantrel"s, "0.0.0.0 a.com\n127.0.0.1 b.com"s, "0.0.0.0\0 a.com"s, ""s}) {
        EXPECT_FALSE(IsBlockLine(line)) << '"' << line << '"';
    }
    std::string tooLong = "0.0.0.0";
    while (tooLong.size() <= kMaxBlockLineLength) tooLong += " " + std::string(60, 'x') + ".com";
    EXPECT_FALSE(IsBlockLine(tooLong));
}

TEST(HostsLine, CommentsAndBlankLinesAreLeftOutAndTheFinalEmptyLineStays) {
    // As the settings file yields them: a comment, a blank line, an indented comment, entries,
    // and the empty read after the final line break.
    const std::vector<std::string> lines = {
        "# ads", "", " \t", "  # more", "0.0.0.0 a.com", "#", "::1 a.com", "\t", ""};
    EXPECT_EQ(CheckBlockLines(lines).verdict, BlockLinesCheck::Ok);
    EXPECT_EQ(BlockLinesOf(lines), (std::vector<std::string>{"0.0.0.0 a.com", "::1 a.com", ""}));
    // Without a final line break the block ends with its last entry, whatever follows it.
    EXPECT_EQ(BlockLinesOf({"0.0.0.0 a.com", "", "# end"}),
              (std::vector<std::string>{"0.0.0.0 a.com"}));
    // A comment that names a marker is refused, as is a line that only looks like one.
    for (const char* line : {"# Begin Vantrel", "#End Vantrel here", "x # note", "0.0.0.0 a.com #"})
        EXPECT_EQ(CheckBlockLines({line}).verdict, BlockLinesCheck::BadLine) << line;
}

TEST(HostsLine, BlockLinesNumberAtMost4096AndTheRefusalNamesTheLine) {
    EXPECT_EQ(CheckBlockLines({}).verdict, BlockLinesCheck::Ok);
    const BlockLinesCheck bad =
        CheckBlockLines({"0.0.0.0 a.com", "", "0.0.0.0 b.com", "10.0.0.1 c.com"});
    EXPECT_EQ(bad.verdict, BlockLinesCheck::BadLine);
    EXPECT_EQ(bad.line, 3u);
    const std::vector<std::string> evil = {"0.0.0.0 a.com", "203.0.113.66 login.mybank.example",
                                           ""};
    const BlockLinesCheck refused = CheckBlockLines(evil);
    EXPECT_EQ(refused.line, 1u);
    EXPECT_EQ(BlockLinesProblem(refused, evil),
              "Ads cannot be hidden with this list: line 2 of vantrel_settings.txt, "
              "\"203.0.113.66 login.mybank.example\", is not a local address (0.0.0.0, 127.x.x.x, "
              ":: or ::1) followed by a domain name. Please correct the list in the Settings "
              "dialog.");

    // 2,048 domains, each with its IPv6 twin, fill the block exactly; one more line is too many.
    std::vector<std::string> lines;
    for (int i = 0; i < 2048; ++i) {
        lines.push_back("0.0.0.0 d" + std::to_string(i) + ".example");
        lines.push_back(":: d" + std::to_string(i) + ".example");
    }
    lines.emplace_back();
    EXPECT_EQ(CheckBlockLines(lines).verdict, BlockLinesCheck::Ok);
    lines.back() = "0.0.0.0 one-more.example";
    EXPECT_EQ(CheckBlockLines(lines).verdict, BlockLinesCheck::TooMany);
    EXPECT_NE(BlockLinesProblem(CheckBlockLines(lines), lines).find("more than 4096 lines"),
              std::string::npos);
}

}  // namespace
