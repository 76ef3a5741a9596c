// The portable rules behind the browser offer and the notes line: which program is which
// browser, the question's wording, the address twins, the notes, Firefox's DNS over HTTPS mode.
#include <gtest/gtest.h>

#include "core/browsers/BrowserNames.h"
#include "core/hosts/AddressTwin.h"
#include "core/protection/ProtectionNotes.h"
#include "core/settings/SettingsFile.h"

namespace {

TEST(BrowserNames, ProgramsAreKnownByClassOrExecutableInAnyCase) {
    const std::pair<const char*, Browser> known[] = {
        {"firefox-esr", Browser::Firefox},
        {"Firefox-esr", Browser::Firefox},
        {"firefox", Browser::Firefox},
        {"chromium", Browser::Chromium},
        {"Chromium-browser", Browser::Chromium},
        {"google-chrome", Browser::Chrome},
        {"chrome", Browser::Chrome},
        {"chrome.exe", Browser::Chrome},
        {"Microsoft-edge", Browser::Edge},
        {"msedge.exe", Browser::Edge},
        {"brave-browser", Browser::Brave},
        {"brave", Browser::Brave},
        {"opera", Browser::Opera},
        {"vivaldi-stable", Browser::Vivaldi},
        {"vivaldi-bin", Browser::Vivaldi},
        {"IEXPLORE.EXE", Browser::InternetExplorer},
    };
    for (const auto& [name, browser] : known) {
        EXPECT_EQ(BrowserOfProgram(name), browser) << name;
    }
    // Firefox's WM_CLASS instance, editors, terminals, an Electron app, near misses.
    for (const char* other :
         {"Navigator", "gedit", "xterm", "code", "chromium-editor", "firefox.sh", "", ".exe"}) {
        EXPECT_EQ(BrowserOfProgram(other), std::nullopt) << other;
    }
    EXPECT_EQ(BrowserOfTitle("Start – Mozilla Firefox"), Browser::Firefox);
    EXPECT_EQ(BrowserOfTitle("News - Internet Explorer"), Browser::InternetExplorer);
    EXPECT_EQ(BrowserOfTitle("New Tab - Chromium"), std::nullopt);
    EXPECT_EQ(BrowserOfTitle("mozilla firefox"), std::nullopt);
}

TEST(BrowserNames, QuestionKeepsTheOldTextForTheOldTwoAndNamesAnyOther) {
    const std::string classic =
        "Vantrel needs to close Microsoft Internet Explorer and Mozilla Firefox for changes to "
        "take effect. Would you like to close the windows now?";
    EXPECT_EQ(CloseQuestionText({Browser::Firefox}), classic);
    EXPECT_EQ(CloseQuestionText({Browser::InternetExplorer, Browser::Firefox, Browser::Firefox}),
              classic);
    EXPECT_EQ(CloseQuestionText({Browser::Chromium, Browser::Firefox, Browser::Chromium}),
              "Vantrel needs to close Mozilla Firefox and Chromium for changes to take effect. "
              "Would you like to close the windows now?");
    EXPECT_EQ(CloseQuestionText({Browser::Chrome}),
              "Vantrel needs to close Google Chrome for changes to take effect. Would you like "
              "to close the windows now?");
    EXPECT_EQ(BrowserListText({Browser::InternetExplorer, Browser::Vivaldi, Browser::Opera,
                               Browser::Brave, Browser::Edge, Browser::Chrome, Browser::Chromium,
                               Browser::Firefox}),
              "Mozilla Firefox, Chromium, Google Chrome, Microsoft Edge, Brave, Opera, Vivaldi "
              "and Internet Explorer");
}

TEST(AddressTwin, EachFamilyGetsTheOthersLocalAddress) {
    EXPECT_EQ(TwinAddress("0.0.0.0"), "::");
    EXPECT_EQ(TwinAddress("127.0.0.1"), "::1");
    EXPECT_EQ(TwinAddress("127.3.2.1"), "::1");
    EXPECT_EQ(TwinAddress("192.168.1.20"), "::");
    EXPECT_EQ(TwinAddress("::"), "0.0.0.0");
    EXPECT_EQ(TwinAddress("::1"), "127.0.0.1");
    for (const char* junk : {"", "localhost", "1.2.3", "256.0.0.1", "0.0.0.0.0", "1.2.3.4 "}) {
        EXPECT_EQ(TwinAddress(junk), "") << junk;
    }
}

// What the settings dialog shows of the file: each line's domain (what follows its first blank,
// else the whole line), a line right after its twin not at all, and a one-character line joined
// to the next, as the old dialog showed them.
TEST(SettingsFile, TheListShowsEachLinesDomainOnce) {
    EXPECT_EQ(DomainListOf(SplitSettingsLines("0.0.0.0 pagead2.googlesyndication.com\r\n"
                                              "bare-domain.example\n0.0.0.0 \n0.0.0.0 two words\n"
                                              "0.0.0.0 a.example\nx\n0.0.0.0 b.example\n")),
              "pagead2.googlesyndication.com\nbare-domain.example\n0.0.0.0 \ntwo words\n"
              "a.example\nxb.example\n");
    // Only the line right after its twin is one: a lone or a repeated line is still shown. Found
    // by fuzzing: a domain listed twice came back once.
    EXPECT_EQ(DomainListOf(SplitSettingsLines(
                  ":: a.example\n0.0.0.0 b.example\n::1 b.example\n0.0.0.0 b.example\n")),
              "a.example\nb.example\nb.example\nb.example\n");
    EXPECT_EQ(DomainListOf(
                  {"0.0.0.0 a.example", ":: a.example", "0.0.0.0 a.example", ":: a.example", ""}),
              "a.example\na.example\n");
}

TEST(ProtectionNotes, SayWhatLetsAdsThroughAndNothingElse) {
    EXPECT_TRUE(NotesLines({}).empty());

    ProtectionFacts facts;
    facts.restart = {Browser::Chromium, Browser::Firefox, Browser::Chromium};
    facts.notLocalV6 = {"tpc.googlesyndication.com", "pagead2.googlesyndication.com"};
    facts.dohProfiles = {"x.default-esr"};
    EXPECT_EQ(NotesLines(facts),
              (std::vector<std::string>{
                  "Restart Mozilla Firefox and Chromium: until then they can still show ads.",
                  "2 listed names are not answered locally (IPv6), for example "
                  "pagead2.googlesyndication.com."}));

    facts = {};
    facts.restart = {Browser::Chromium};
    facts.checking = true;
    facts.notLocalV4 = {"tpc.googlesyndication.com"};
    facts.dohProfiles = {"a.default", "b.work"};
    EXPECT_EQ(NotesLines(facts),
              (std::vector<std::string>{
                  "Restart Chromium: until then it can still show ads.",
                  "Checking that the listed names are answered locally...",
                  "Firefox (profiles a.default and b.work) uses DNS over HTTPS: it sees the "
                  "change only after a restart."}));

    facts = {};
    facts.notLocalV4 = {"a.example"};
    facts.notLocalV6 = {"a.example"};
    facts.cacheNotFlushed = true;
    EXPECT_EQ(NotesLines(facts),
              (std::vector<std::string>{
                  "a.example is not answered locally (IPv4 and IPv6).",
                  "Windows' DNS cache could not be flushed: names looked up before the change may "
                  "load ads until their cached answers expire."}));
}

TEST(ProtectionNotes, BlockEntriesAndFirefoxDnsOverHttpsMode) {
    const std::string hosts =
        "127.0.0.1 localhost\n0.0.0.0 Pagead2.example # mine\n# Begin Vantrel\n"
        "0.0.0.0 a.example\n::\ta.example  b.example\n\n# End Vantrel";
    const auto block = BlockEntries(hosts);
    ASSERT_EQ(block.size(), 3u);
    EXPECT_EQ(block[1].address, "::");
    EXPECT_EQ(block[2].name, "b.example");
    EXPECT_EQ(HostsEntries(hosts)[1].name, "pagead2.example");

    EXPECT_EQ(TrrMode(""), std::nullopt);
    EXPECT_EQ(TrrMode("user_pref(\"network.trr.mode\", 2);\n"), 2);
    EXPECT_EQ(TrrMode("user_pref(\"network.trr.mode\", 3);\nuser_pref(\"network.trr.mode\", 5);"),
              5);
    EXPECT_EQ(TrrMode("// user_pref(\"network.trr.mode\", 2);\n"), std::nullopt);
    EXPECT_EQ(TrrMode("user_pref(\"network.trr.mode_x\", 2);"), std::nullopt);
    EXPECT_TRUE(TrrModeOn(2));
    EXPECT_TRUE(TrrModeOn(3));
    EXPECT_FALSE(TrrModeOn(5));
    EXPECT_FALSE(TrrModeOn(std::nullopt));
}

}  // namespace
