// What the hosts block promises on every system, byte for byte in the system's line ends.
// Include after defining a fixture class HostsFileContract (a private folder as the working
// directory, the hosts file in it named by VANTREL_HOSTS_FILE, with Hosts(), SetHosts(),
// SetSettings(), m_dir and m_hosts) and ProgramLeftovers(dir), the names of files the program
// left beside the hosts file. Writers killed and at work at once on both systems:
// stress/HostsStress.cpp, stress/HostsStress_win.cpp.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/hosts/HostsText.h"
#include "core/hosts/UninstallReport.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/hosts/Uninstall.h"
#include "platform/settings/SettingsFileIO.h"

namespace contract {

// The text as this system writes it: every LF as its line end.
inline std::string Written(const std::string& text) {
    std::string bytes;
    AppendWithLineEnds(bytes, text, kTextLineEnd);
    return bytes;
}

const std::string kTwoSettings = "0.0.0.0 a.example\r\n0.0.0.0 b.example\r\n";
const std::string kTwoLinesBlock =
    "# Begin Vantrel\n0.0.0.0 a.example\n0.0.0.0 b.example\n\n# End Vantrel";

}  // namespace contract

TEST_F(HostsFileContract, AddAndRemoveGiveEveryLineTheSystemsLineEnd) {
    SetSettings(contract::kTwoSettings);
    for (const std::string input :
         {"127.0.0.1 localhost\r\n::1 localhost\r\n", "127.0.0.1 localhost\n::1 localhost\n",
          "127.0.0.1 localhost\r\n::1 localhost\n"}) {
        SetHosts(input);
        CHostsFile hosts;
        EXPECT_FALSE(hosts.IsBlockActive());
        ASSERT_TRUE(hosts.AddBlock());
        const std::string added =
            contract::Written("127.0.0.1 localhost\n::1 localhost\n" + contract::kTwoLinesBlock);
        EXPECT_EQ(Hosts(), added);
        EXPECT_EQ(hosts.ReadHostsFile().find('\r'), std::string::npos);
        ASSERT_TRUE(hosts.AddBlock());  // a second add writes nothing
        EXPECT_EQ(Hosts(), added);
        ASSERT_TRUE(hosts.RemoveBlock());
        EXPECT_EQ(Hosts(), contract::Written("127.0.0.1 localhost\n::1 localhost\n"));
    }
    // A last line without a break carries the begin marker, and comes back as it was.
    SetHosts("a\r\nb");
    SetSettings("0.0.0.0 a.example");
    ASSERT_TRUE(CHostsFile().AddBlock());
    EXPECT_EQ(Hosts(), contract::Written("a\nb# Begin Vantrel\n0.0.0.0 a.example\n# End Vantrel"));
    ASSERT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), contract::Written("a\nb"));
    EXPECT_EQ(ProgramLeftovers(m_dir), std::vector<std::string>());
}

TEST_F(HostsFileContract, WithoutABlockNothingIsRewrittenAndNoHostsFileIsEverCreated) {
    SetHosts("a\r\nb\n");  // either line end would change on a rewrite
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), "a\r\nb\n");

    std::remove(m_hosts.c_str());
    CHostsFile hosts;
    EXPECT_EQ(hosts.GetHostsPath(), "");
    EXPECT_EQ(hosts.ReadHostsFile(), "");
    EXPECT_FALSE(hosts.IsBlockActive());
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_TRUE(hosts.RemoveBlock());
    EXPECT_FALSE(hosts.ApplyIntent(HostsIntent::Hide).hidden);
    EXPECT_FALSE(hosts.WriteHostsFile("x\n"));
    EXPECT_FALSE(filesys::FileExists(m_hosts));
    EXPECT_FALSE(filesys::FileExists(kSettingsFileName));  // left alone without a hosts file
}

TEST_F(HostsFileContract, MissingSettingsAreMadeEmptyAndGiveOneEmptyLine) {
    SetHosts("x\n");
    ASSERT_TRUE(CHostsFile().AddBlock());
    EXPECT_EQ(Hosts(), contract::Written("x\n# Begin Vantrel\n\n# End Vantrel"));
    EXPECT_TRUE(filesys::FileExists(kSettingsFileName));
    const std::string a4999(4999, 'a');
    SetSettings(a4999 + "\n" + a4999 + "b\r\nlast");
    EXPECT_EQ(*ReadSettingsLines(), (std::vector<std::string>{a4999, "", a4999, "b", "last"}));
}

TEST_F(HostsFileContract, OnlyTheFirstWholeBlockGoesAndADamagedOneStaysAndSaysSo) {
    SetHosts("a\r\n# Begin Vantrel\r\n0.0.0.0 x\r\n# End Vantrel\r\nb\r\n");
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), contract::Written("a\n\nb\n"));
    SetHosts("# Begin Vantrel\n1\n# End Vantrel\n# Begin Vantrel\n2\n# End Vantrel");
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), contract::Written("\n# Begin Vantrel\n2\n# End Vantrel"));
    SetHosts("# End Vantrel\na\n# Begin Vantrel\nx\n# End Vantrel");
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), contract::Written("# End Vantrel\na\n"));

    // Any form of the begin text stops adding and is no block to remove; a damaged block stays,
    // and says so.
    SetSettings(contract::kTwoSettings);
    for (const std::string text :
         {"#Begin Vantrel\nx\n# End Vantrel", "a\n#  Begin Vantrel!\n",
          "a\r\n# Begin Vantrel\r\n0.0.0.0 x\r\n", "# End Vantrel\na\n# Begin Vantrel\nx\n"}) {
        SetHosts(text);
        CHostsFile hosts;
        const bool damaged = text.find("# Begin") != std::string::npos;
        EXPECT_EQ(hosts.RemoveBlock(), !damaged);
        EXPECT_EQ(hosts.GetFailure(), damaged ? kDamagedBlockText : "");
        EXPECT_TRUE(hosts.AddBlock());
        EXPECT_EQ(Hosts(), text);
    }
}

TEST_F(HostsFileContract, OnlyLocalBlockLinesAreWrittenAndTheRefusalSaysWhich) {
    // Whoever can write the settings file must not get this line into the hosts file.
    SetHosts("a\n");
    SetSettings("0.0.0.0 a.example\n203.0.113.66 login.mybank.example\n");
    CHostsFile hosts;
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_NE(hosts.GetFailure().find("line 2 of vantrel_settings.txt, "
                                      "\"203.0.113.66 login.mybank.example\""),
              std::string::npos)
        << hosts.GetFailure();
    // A line holding a marker (also once its CR is gone, also in a comment) would make a block
    // that cannot be removed whole (the line rules themselves: tests/core/HostsLineTest.cpp).
    SetSettings("0.0.0.0 a.example\n# End Vantrel\n");
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_NE(hosts.GetFailure().find("line 2 of"), std::string::npos);
    for (const std::string& marker : {std::string("# End Vantrel"), std::string("# End Van\rtrel")})
        EXPECT_EQ(AddBlockAt(m_hosts, {"0.0.0.0 a.example", marker}).outcome,
                  HostsOutcome::BadSettings);
    EXPECT_EQ(Hosts(), "a\n");
    SetSettings("127.0.0.1 ad_server.example\n::1 ad_server.example\n");
    EXPECT_TRUE(hosts.AddBlock());
    EXPECT_EQ(hosts.GetFailure(), "");
}

TEST_F(HostsFileContract, APressDoesWhatItAsksForAndReportsWhatTheFileHoldsAfterwards) {
    SetSettings("0.0.0.0 pagead2.googlesyndication.com\n");
    SetHosts("127.0.0.1 localhost\n");
    const std::string hidden = contract::Written(
        "127.0.0.1 localhost\n# Begin Vantrel\n0.0.0.0 pagead2.googlesyndication.com\n\n"
        "# End Vantrel");
    CHostsFile hosts;
    for (const HostsIntent intent :
         {HostsIntent::Hide, HostsIntent::Hide, HostsIntent::Show, HostsIntent::Show}) {
        const bool hide = intent == HostsIntent::Hide;
        const std::string before = Hosts();
        const HostsResult result = hosts.ApplyIntent(intent);
        EXPECT_EQ(result.hidden, hide);
        // The second of each asks for what the file already is: nothing is written.
        EXPECT_EQ(result.changed, before != Hosts());
        EXPECT_EQ(result.outcome,
                  before != Hosts() ? HostsOutcome::Written : HostsOutcome::Unchanged);
        EXPECT_EQ(Hosts(), hide ? hidden : contract::Written("127.0.0.1 localhost\n"));
        EXPECT_EQ(result.sentence, "");
    }

    // Each answer is what a fresh read of the file says, also where the label stands outside the
    // block, or where the text on either side of the cut block joins into it.
    for (const std::string text :
         {"googlesyndication\n# Begin Vantrel\nx\n# End Vantrel",
          "# Begin Vantrel\nx\n# End Vantrel\n# GoogleSyndication",
          "# Begin Vantrel\n0.0.0.0 googlesyndication.com\n# End Vantrel\nafter\n",
          "googlesyn# Begin Vantrel\n0.0.0.0 googlesyndication.com\n# End Vantrel\ndication",
          "googlesyn# Begin Vantrel\n0.0.0.0 x.example\n# End Vantreldication",
          "# Begin Vantrel\ngooglesyndication\n"}) {
        SetHosts(text);
        const bool shown = hosts.ApplyIntent(HostsIntent::Show).hidden;
        EXPECT_EQ(shown, CHostsFile().IsBlockActive()) << text;
    }
    EXPECT_EQ(hosts.GetFailure(), kDamagedBlockText);  // the last one has no end marker

    // Settings that may not go into the file are refused, and the state stays.
    SetSettings("203.0.113.66 login.mybank.example\n");
    SetHosts("a\n");
    const HostsResult refused = hosts.ApplyIntent(HostsIntent::Hide);
    EXPECT_FALSE(refused.hidden || refused.changed);
    EXPECT_EQ(refused.outcome, HostsOutcome::BadSettings);
    EXPECT_NE(refused.sentence, "");
    EXPECT_EQ(Hosts(), "a\n");
}

TEST_F(HostsFileContract, HideMendsABlockThatHidesNothingAndNeverWritesAnEmptyOne) {
    const std::string labelBlock =
        "# Begin Vantrel\n0.0.0.0 pagead2.googlesyndication.com\n\n# End Vantrel";
    CHostsFile hosts;
    // An empty list (also a missing one, which is made empty, or one of comments) is refused.
    SetHosts("a\n");
    for (const char* settings : {"", "# nothing yet\n"}) {
        if (*settings != '\0') SetSettings(settings);
        const HostsResult result = hosts.ApplyIntent(HostsIntent::Hide);
        EXPECT_FALSE(result.hidden);
        EXPECT_EQ(result.sentence, kEmptyListText);
        EXPECT_EQ(Hosts(), "a\n");
    }

    // A block that hides nothing (an empty one, or one of a list without the label) is replaced
    // where it stands by the list's block, in the same pass.
    SetSettings("0.0.0.0 pagead2.googlesyndication.com\n");
    for (const std::string old : {"# Begin Vantrel\n\n# End Vantrel",
                                  "# Begin Vantrel\r\n0.0.0.0 ads.example\r\n# End Vantrel"}) {
        SetHosts("a\n" + old + "\nb\n");
        const HostsResult result = hosts.ApplyIntent(HostsIntent::Hide);
        EXPECT_TRUE(result.hidden && result.changed);
        EXPECT_EQ(result.sentence, "");
        EXPECT_EQ(Hosts(), contract::Written("a\n" + labelBlock + "\nb\n"));
    }

    // A list without the label writes its block and says that ads are still not hidden; pressed
    // again it writes nothing and says so again. Show takes such a block out.
    SetSettings("0.0.0.0 ads.example\n");
    SetHosts("a\n");
    for (int press = 0; press < 2; ++press) {
        const HostsResult result = hosts.ApplyIntent(HostsIntent::Hide);
        EXPECT_FALSE(result.hidden || result.changed);
        EXPECT_EQ(result.sentence, kNoAdLabelText);
        EXPECT_EQ(Hosts(),
                  contract::Written("a\n# Begin Vantrel\n0.0.0.0 ads.example\n\n# End Vantrel"));
    }
    EXPECT_EQ(hosts.ApplyIntent(HostsIntent::Show).sentence, "");
    EXPECT_EQ(Hosts(), contract::Written("a\n"));

    // Where no block of Vantrel's can be told apart, nothing is written and the user learns why.
    SetSettings("0.0.0.0 pagead2.googlesyndication.com\n");
    for (const auto& [text, why] :
         {std::pair<std::string, const char*>{"a\n#Begin Vantrel\n", kForeignMarkerText},
          {"a\n# Begin Vantrel\n0.0.0.0 x.example\n", kDamagedBlockText}}) {
        SetHosts(text);
        EXPECT_EQ(hosts.ApplyIntent(HostsIntent::Hide).sentence, why);
        EXPECT_EQ(Hosts(), text);
    }
}

// The label in any letter case anywhere means hidden, the CRs dropped first. Files are read in
// pieces of 64 KiB: what straddles a piece boundary must still be found, in a file with CRs and
// in one without (whose start is copied as it is).
TEST_F(HostsFileContract, TheLabelAndTheMarkersAreFoundAnywhere) {
    const std::pair<const char*, bool> cases[] = {
        {"# my own: PageAd2.GoogleSyndication.COM\r\n", true},
        {"googlesyndicatio\nn", false},
        {"googleSynd\r\r\nication", false},
        {"googleSynd\r\rication", true}};
    for (const auto& [text, hidden] : cases) {
        SetHosts(text);
        EXPECT_EQ(CHostsFile().IsBlockActive(), hidden) << text;
    }
    auto filler = [](std::size_t size, bool cr) {
        std::string text(size, 'x');
        for (std::size_t i = 98; i + 1 < size; i += 100) text.replace(i, 2, cr ? "\r\n" : "x\n");
        return text;
    };
    const std::string block = "# Begin Vantrel\r\n0.0.0.0 a\r\n# End Vantrel\r\ntail\r\n";
    for (const bool cr : {true, false}) {
        for (std::size_t split : {1, 2, 14, 15, 16, 30}) {
            SCOPED_TRACE(split);
            const std::string before = filler((1 << 16) - split, cr);
            SetHosts(before + block);
            std::string expected = before + block;
            DropCarriageReturns(expected);
            ASSERT_EQ(CutBlock(expected), CutResult::Cut);
            EXPECT_TRUE(CHostsFile().RemoveBlock());
            EXPECT_EQ(Hosts(), contract::Written(expected));

            SetHosts(before + "Google\rSyndication");
            EXPECT_TRUE(CHostsFile().IsBlockActive());
            SetHosts(before + "GoogleSyndicatio" + filler(100, cr));
            EXPECT_FALSE(CHostsFile().IsBlockActive());
        }
    }
}

TEST_F(HostsFileContract, UninstallSaysWhetherABlockIsLeftInTheSameWordsEverywhere) {
    SetHosts("a\n# Begin Vantrel\nx\n# End Vantrel");
    UninstallResult result = RunUninstall();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(Hosts(), contract::Written("a\n"));

    // Left for a person to remove: the lines to delete and the file.
    SetHosts("a\n# Begin Vantrel\nx\ny\n");
    result = RunUninstall();
    EXPECT_EQ(result.status, kUninstallByHand);
    EXPECT_EQ(result.error, "vantrel: the block in " + m_hosts +
                                " is damaged: line 2 is \"# Begin Vantrel\", but no \"# End "
                                "Vantrel\" follows it, so Vantrel cannot tell where its block "
                                "ends and left the file as it is. Edit the file as an "
                                "administrator: delete line 2, and those of lines 3 to 4 that "
                                "Vantrel added (ad domains sent to a local address), then save "
                                "it.");

    // Near and far: the second block in the same read as the first, and many reads behind it.
    for (const int filler : {0, 20000}) {
        std::string between;
        for (int i = 0; i < filler; ++i) between += "127.0.0.1 kept.example\n";
        SetHosts("# Begin Vantrel\n1\n# End Vantrel\n" + between +
                 "# Begin Vantrel\n2\n# End Vantrel");
        result = RunUninstall();
        EXPECT_EQ(result.status, kUninstallByHand);
        const std::string lines = std::to_string(2 + filler) + " to " + std::to_string(4 + filler);
        EXPECT_EQ(result.error, "vantrel: " + m_hosts + " holds another Vantrel block, at lines " +
                                    lines +
                                    " (\"# Begin Vantrel\" to \"# End Vantrel\"), which Vantrel "
                                    "did not remove. Edit the file as an administrator: delete "
                                    "lines " +
                                    lines + ", then save it.");
    }

    std::remove(m_hosts.c_str());
    result = RunUninstall();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.error, "");
}
