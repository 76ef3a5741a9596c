// The checks that decide whether a downloaded installer may run, and the program runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "linux/net/UpdateInstaller.h"
#include "linux/upgrade/ScratchDir.h"

namespace {
const std::string kAbcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}
}  // namespace

TEST(UpdateInstaller, Sha256OfFile) {
    ScratchDir dir;
    WriteFile("abc", "abc");
    EXPECT_EQ(Sha256OfFile("abc"), kAbcDigest);
    EXPECT_EQ(Sha256OfFile("missing"), "");
}

TEST(UpdateInstaller, DigestDecidesNotExistence) {
    ScratchDir dir;
    WriteFile("NewUpdate.exe", "abc");
    std::string upper = kAbcDigest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(CheckDownload(true, "NewUpdate.exe", "  " + upper + "\r\n"), UpgradeRefusal::kNone);
    EXPECT_EQ(CheckDownload(false, "NewUpdate.exe", kAbcDigest), UpgradeRefusal::kDownloadFailed);
    WriteFile("NewUpdate.exe", "abd");
    EXPECT_EQ(CheckDownload(true, "NewUpdate.exe", kAbcDigest), UpgradeRefusal::kDigestMismatch);
    std::filesystem::remove("NewUpdate.exe");
    EXPECT_EQ(CheckDownload(true, "NewUpdate.exe", kAbcDigest), UpgradeRefusal::kDownloadFailed);
}

TEST(UpdateInstaller, SpawnPassesArgumentsVerbatimAndWaits) {
    ScratchDir dir("dir with blanks ");
    // The program records its arguments and only then finishes: waiting means the record is there.
    WriteFile("record.sh",
              "#!/bin/sh\nsleep 0.2\nprintf '%s|[%s]|%s\\n' \"$0\" \"$1\" \"$#\" > out\nexit 3\n");
    ASSERT_TRUE(MakeOwnerExecutable("record.sh"));
    struct stat info {};
    ASSERT_EQ(stat("record.sh", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    const std::string program = (std::filesystem::current_path() / "record.sh").string();
    const int status = SpawnAndWait(program, {program, " /SILENT; touch hacked"});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    std::ifstream out("out");
    std::string line;
    std::getline(out, line);
    EXPECT_EQ(line, program + "|[ /SILENT; touch hacked]|1");
    EXPECT_FALSE(std::filesystem::exists("hacked"));
    EXPECT_EQ(SpawnAndWait("./missing", {"missing"}), -1);
}
