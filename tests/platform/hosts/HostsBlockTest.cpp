// The hosts block byte for byte, grouped by the state the file is in, plus the settings reader
// and the presence test.
#include <sys/stat.h>
#include <unistd.h>

#include "core/HostsLine.h"
#include "core/HostsText.h"
#include "platform/CHostsFile.h"
#include "platform/FileOps.h"
#include "platform/HostsFileIO.h"
#include "platform/SettingsFileIO.h"
#include "platform/hosts/HostsTestSupport.h"

namespace {

const std::string kTwoSettings = "0.0.0.0 a.example\r\n0.0.0.0 b.example\r\n";
const std::string kTwoLinesBlock =
    "# Begin Vantrel\n0.0.0.0 a.example\n0.0.0.0 b.example\n\n# End Vantrel";

using NoBlock = HostsDirTest;

TEST_F(NoBlock, AddAppendsSettingsLinesAndRemoveGivesBackTheEarlierContent) {
    SetHosts("127.0.0.1 localhost\r\n");
    SetSettings(kTwoSettings);
    CHostsFile hosts;
    EXPECT_TRUE(hosts.AddBlock());
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\n" + kTwoLinesBlock);
    EXPECT_TRUE(hosts.AddBlock());  // a second add changes nothing
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\n" + kTwoLinesBlock);
    EXPECT_TRUE(hosts.RemoveBlock());
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\n");
}

TEST_F(NoBlock, LastLineWithoutBreakCarriesTheBeginMarkerAndComesBack) {
    SetHosts("a\r\nb");
    SetSettings("0.0.0.0 a.example");
    CHostsFile hosts;
    EXPECT_TRUE(hosts.AddBlock());
    EXPECT_EQ(Hosts(), "a\nb# Begin Vantrel\n0.0.0.0 a.example\n# End Vantrel");
    EXPECT_TRUE(hosts.RemoveBlock());
    EXPECT_EQ(Hosts(), "a\nb");
}

TEST_F(NoBlock, EmptyOrMissingSettingsGiveOneEmptyLineAndMissingIsCreated) {
    SetHosts("x\n");
    CHostsFile hosts;
    EXPECT_TRUE(hosts.AddBlock());
    EXPECT_EQ(Hosts(), "x\n# Begin Vantrel\n\n# End Vantrel");
    EXPECT_TRUE(std::filesystem::exists(m_dir + "/vantrel_settings.txt"));
    EXPECT_EQ(Slurp(m_dir + "/vantrel_settings.txt"), "");
}

TEST_F(NoBlock, RemoveLeavesTheFileUntouched) {
    SetHosts("127.0.0.1 localhost\r\n");
    const ino_t inode = InodeOf(m_hosts);
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n");  // not rewritten: its CR LF stays
    EXPECT_EQ(InodeOf(m_hosts), inode);
}

TEST_F(NoBlock, NoHostsFileIsNeverCreated) {
    CHostsFile hosts;
    EXPECT_EQ(hosts.GetHostsPath(), "");
    EXPECT_EQ(hosts.ReadHostsFile(), "");
    EXPECT_FALSE(hosts.IsBlockActive());
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_TRUE(hosts.RemoveBlock());
    EXPECT_FALSE(hosts.WriteHostsFile("x\n"));
    EXPECT_FALSE(std::filesystem::exists(m_hosts));
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/vantrel_settings.txt"));
}

using ForeignMarker = HostsDirTest;

TEST_F(ForeignMarker, AnyFormOfTheBeginTextStopsAddingAndIsNoBlockToRemove) {
    for (const std::string text : {"#Begin Vantrel\nx\n# End Vantrel", "a\n#  Begin Vantrel!\n"}) {
        SetHosts(text);
        SetSettings(kTwoSettings);
        CHostsFile hosts;
        EXPECT_EQ(ClassifyBlock(text), BlockState::ForeignMarker);
        EXPECT_TRUE(hosts.AddBlock());
        EXPECT_EQ(Hosts(), text);
    }
    SetHosts("#Begin Vantrel\nx\n# End Vantrel");
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), "#Begin Vantrel\nx\n# End Vantrel");
}

using BlockPresent = HostsDirTest;

TEST_F(BlockPresent, TextAfterTheEndMarkerSurvivesRemoval) {
    SetHosts("a\r\n# Begin Vantrel\r\n0.0.0.0 x\r\n# End Vantrel\r\nb\r\n");
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), "a\n\nb\n");
}

TEST_F(BlockPresent, OnlyTheFirstBlockGoes) {
    SetHosts("# Begin Vantrel\n1\n# End Vantrel\n# Begin Vantrel\n2\n# End Vantrel");
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), "\n# Begin Vantrel\n2\n# End Vantrel");
}

using DamagedBlock = HostsDirTest;

TEST_F(DamagedBlock, BeginWithoutEndIsLeftAlone) {
    const std::string text = "a\r\n# Begin Vantrel\r\n0.0.0.0 x\r\n";
    SetHosts(text);
    SetSettings(kTwoSettings);
    CHostsFile hosts;
    EXPECT_FALSE(hosts.RemoveBlock());
    EXPECT_TRUE(hosts.AddBlock());
    EXPECT_EQ(Hosts(), text);
}

TEST_F(DamagedBlock, AnEndMarkerBeforeTheBeginMarkerDoesNotCount) {
    const std::string text = "# End Vantrel\na\n# Begin Vantrel\nx\n";
    SetHosts(text);
    EXPECT_EQ(ClassifyBlock(text), BlockState::DamagedBlock);
    EXPECT_FALSE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), text);

    SetHosts(text + "# End Vantrel");
    EXPECT_TRUE(CHostsFile().RemoveBlock());
    EXPECT_EQ(Hosts(), "# End Vantrel\na\n");
}

TEST(LineEndConversion, ConversionWritesEveryLfAsTheLineEndAtAnySlicing) {
    const std::string text = "a\n\nb\nc";
    for (const std::string lineEnd : {"\n", "\r\n"}) {
        std::string whole;
        AppendWithLineEnds(whole, text, lineEnd);
        std::string sliced;
        for (char c : text) AppendWithLineEnds(sliced, std::string(1, c), lineEnd);
        EXPECT_EQ(whole, sliced);
        EXPECT_EQ(whole, lineEnd == "\n" ? "a\n\nb\nc" : "a\r\n\r\nb\r\nc");
    }
}

using LineEnds = HostsDirTest;

TEST_F(LineEnds, CrLfFormOfTheWholeRoundTrip) {
    SetHosts("127.0.0.1 localhost\n");
    SetSettings(kTwoSettings);
    EXPECT_TRUE(AddBlockAt(m_hosts, *ReadSettingsLines(), "\r\n"));
    EXPECT_EQ(Hosts(),
              "127.0.0.1 localhost\r\n# Begin Vantrel\r\n0.0.0.0 a.example\r\n0.0.0.0 b.example\r\n"
              "\r\n# End Vantrel");
    EXPECT_TRUE(RemoveBlockAt(m_hosts, "\r\n"));
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n");
    EXPECT_TRUE(RemoveBlockAt(m_hosts));  // nothing to cut: still CR LF
    EXPECT_EQ(Hosts(), "127.0.0.1 localhost\r\n");
    EXPECT_TRUE(CHostsFile().WriteHostsFile("x\r\ny\n"));  // a CR in the text is kept as given
    EXPECT_EQ(Hosts(), "x\r\ny\n");
}

using Settings = HostsDirTest;

TEST_F(Settings, LongLinesBreakIntoPiecesOf4999) {
    const std::string a4999(4999, 'a');
    SetSettings(a4999 + "\n" + a4999 + "b\r\nlast");
    const auto lines = ReadSettingsLines();
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, (std::vector<std::string>{a4999, "", a4999, "b", "last"}));
}

TEST_F(Settings, AFinalLineBreakGivesOneEmptyLineMore) {
    SetSettings("x\r\ny\n");
    EXPECT_EQ(*ReadSettingsLines(), (std::vector<std::string>{"x", "y", ""}));
    SetSettings("");
    EXPECT_EQ(*ReadSettingsLines(), (std::vector<std::string>{""}));
}

TEST_F(Settings, MissingIsCreatedEmptyAndUnopenableIsNothing) {
    EXPECT_EQ(*ReadSettingsLines("new.txt"), (std::vector<std::string>{""}));
    EXPECT_TRUE(std::filesystem::exists(m_dir + "/new.txt"));
    // A name that can be neither opened nor created, whoever runs the test.
    std::filesystem::create_symlink(m_dir + "/no/such/folder", m_dir + "/vantrel_settings.txt");
    EXPECT_FALSE(ReadSettingsLines());

    SetHosts("a\n");
    EXPECT_FALSE(CHostsFile().AddBlock());
    EXPECT_EQ(Hosts(), "a\n");
}

TEST_F(Settings, ALineHoldingTheEndMarkerAddsNothingEvenWithACRInside) {
    // Removing would stop at that line and leave the rest of the block in the hosts file. The
    // next read drops the CR, so the marker counts as the block will hold it.
    for (const std::string& marker :
         {std::string("# End Vantrel"), std::string("# End Van\rtrel")}) {
        std::string text = "a\n";
        EXPECT_FALSE(AppendBlock(text, {"0.0.0.0 a.example", marker, "0.0.0.0 b.example"}));
        EXPECT_EQ(text, "a\n");
        SetHosts("a\n");
        EXPECT_FALSE(AddBlockAt(m_hosts, {"0.0.0.0 a.example", marker, "0.0.0.0 b.example"}));
        EXPECT_EQ(Hosts(), "a\n");
    }
}

TEST_F(Settings, OnlyLocalBlockLinesAreWrittenAndTheRefusalSaysWhich) {
    // Whoever can write the settings file must not get this line into the hosts file.
    SetHosts("a\n");
    SetSettings("0.0.0.0 a.example\n203.0.113.66 login.mybank.example\n");
    CHostsFile hosts;
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_EQ(Hosts(), "a\n");
    EXPECT_NE(hosts.GetFailure().find("line 2 of vantrel_settings.txt, "
                                      "\"203.0.113.66 login.mybank.example\""),
              std::string::npos)
        << hosts.GetFailure();
    for (const char* settings :
         {"0.0.0.0 a.example # Begin Vantrel\n", "0.0.0.0 a.example \n", "0.0.0.0 a.example.\n",
          "\n0.0.0.0 a.example\n", "0.0.0.0 a.example\n\n"}) {
        SetSettings(settings);
        EXPECT_FALSE(hosts.AddBlock()) << settings;
        EXPECT_FALSE(hosts.GetFailure().empty());
        EXPECT_EQ(Hosts(), "a\n");
    }
    SetSettings("127.0.0.1 ad_server.example\n::1 ad_server.example\n");
    EXPECT_TRUE(hosts.AddBlock());
    EXPECT_EQ(hosts.GetFailure(), "");
}

TEST_F(Settings, OnlyARegularFileOfBoundedSizeIsRead) {
    SetHosts("a\n");
    const std::string settings = m_dir + "/vantrel_settings.txt";
    struct Case {
        void (*make)(const std::string& path);
        const char* message;
    };
    const Case cases[] = {
        {[](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
         "The settings file vantrel_settings.txt is not a regular file."},
        {[](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); },
         "The settings file vantrel_settings.txt is not a regular file."},
        {[](const std::string& p) {
             std::filesystem::remove(p);
             Spit(p, std::string(kMaxSettingsFileSize + 1, '\n'));
         },
         "The settings file vantrel_settings.txt is too long."},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(settings);
        c.make(settings);
        std::string why;
        EXPECT_FALSE(ReadSettingsLines(kSettingsFileName, &why));
        EXPECT_EQ(why, c.message);
        CHostsFile hosts;
        EXPECT_FALSE(hosts.AddBlock());
        EXPECT_EQ(hosts.GetFailure(), c.message);
        EXPECT_EQ(Hosts(), "a\n");
    }
}

using Unreadable = HostsDirTest;

TEST_F(Unreadable, AFileThatCannotBeReadIsNeitherEmptiedNorRewritten) {
    // A folder by the hosts file's name: it opens, but every read fails.
    std::filesystem::create_directory(m_hosts);
    CHostsFile hosts;
    EXPECT_EQ(ReadHostsText(m_hosts).status, ReadStatus::Unreadable);
    EXPECT_FALSE(hosts.AddBlock());
    EXPECT_FALSE(hosts.RemoveBlock());
    EXPECT_FALSE(hosts.IsBlockActive());
    EXPECT_TRUE(std::filesystem::is_directory(m_hosts));
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/vantrel_settings.txt"));
    EXPECT_TRUE(FileExists(m_hosts));
}

TEST_F(Unreadable, RefusedOpenOrFailingReadWritesNothing) {
    const std::string text = "a\n# Begin Vantrel\n# End Vantrel";
    SetHosts(text);
    EXPECT_EQ(ReadHostsText(m_hosts).status, ReadStatus::Ok);
    FileOps ops = DefaultFileOps();
    ops.open = [](const char*, int, mode_t) -> int {
        errno = EACCES;
        return -1;
    };
    {
        CScopedFileOps scoped(ops);
        EXPECT_EQ(ReadHostsText(m_hosts).status, ReadStatus::Unreadable);
        EXPECT_FALSE(CHostsFile().RemoveBlock());
        EXPECT_FALSE(CHostsFile().AddBlock());
    }
    ops = DefaultFileOps();
    ops.read = [](int, void*, size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    {
        CScopedFileOps scoped(ops);
        EXPECT_FALSE(CHostsFile().RemoveBlock());
    }
    EXPECT_EQ(Hosts(), text);
}

using Presence = HostsDirTest;

TEST_F(Presence, TheLabelInAnyCaseAnywhereMeansHidden) {
    CHostsFile hosts;
    SetHosts("127.0.0.1 localhost\n");
    EXPECT_FALSE(hosts.IsBlockActive());
    SetHosts("# my own: PageAd2.GoogleSyndication.COM\n");
    EXPECT_TRUE(hosts.IsBlockActive());
    SetHosts("googlesyndicatio\nn");
    EXPECT_FALSE(hosts.IsBlockActive());
    SetHosts("googleSynd\r\r\nication");  // CRs are dropped before the search
    EXPECT_FALSE(hosts.IsBlockActive());
    SetHosts("googleSynd\r\rication");
    EXPECT_TRUE(hosts.IsBlockActive());
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

using Streaming = HostsDirTest;

// Files are read in pieces of 64 KiB: what straddles a piece boundary must still be found.
TEST_F(Streaming, MarkersAndLabelAcrossReadBoundariesAreFound) {
    auto filler = [](std::size_t size) {
        std::string text(size, 'x');
        for (std::size_t i = 98; i + 1 < size; i += 100) text.replace(i, 2, "\r\n");
        return text;
    };
    const std::string block = "# Begin Vantrel\r\n0.0.0.0 a\r\n# End Vantrel\r\ntail\r\n";
    for (std::size_t split : {1, 2, 8, 14, 15, 16, 30}) {
        SCOPED_TRACE(split);
        const std::string before = filler((1 << 16) - split);
        SetHosts(before + block);
        std::string expected = before + block;
        DropCarriageReturns(expected);
        ASSERT_EQ(CutBlock(expected), CutResult::Cut);
        EXPECT_TRUE(CHostsFile().AddBlock());
        EXPECT_TRUE(CHostsFile().RemoveBlock());
        EXPECT_EQ(Hosts(), expected);

        SetHosts(before + "GoogleSyndication");
        EXPECT_TRUE(CHostsFile().IsBlockActive());
        SetHosts(before + "Google\rSyndication");
        EXPECT_TRUE(CHostsFile().IsBlockActive());
        SetHosts(before + "GoogleSyndicatio" + filler(100));
        EXPECT_FALSE(CHostsFile().IsBlockActive());
    }
}

TEST(FileExistsTest, OnlyNoSuchFileCountsAsAbsent) {
    EXPECT_FALSE(FileExists("/no/such/file"));
    EXPECT_TRUE(FileExists("/"));
    EXPECT_TRUE(FileExists("/proc/self/status"));
}

}  // namespace
