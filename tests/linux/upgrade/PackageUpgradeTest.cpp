// The checks of an upgrade through the package manager, on small packages built here: the ones
// the program makes before it asks for a password and the privileged helper makes again, which
// must refuse everything but a newer vantrel package signed with the maker's key, each refusal
// with its own reason. No case here gets as far as apt-get.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "linux/root/UpgradeHelper.h"
#include "linux/upgrade/ScratchDir.h"
#include "linux/upgrade/TestPackages.h"
#include "platform/upgrade/PackageCheck_unix.h"

namespace fs = std::filesystem;

namespace {
class PackageUpgrade : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanMakeTestPackages()) GTEST_SKIP() << "dpkg-deb or openssl is not installed";
        m_key = NewKey(m_dir.Path(), "maker");
        m_otherKey = NewKey(m_dir.Path(), "other");
        m_pem = FileBytes(m_key + ".pub");
    }

    std::string Build(const std::string& name, const std::string& version) {
        return BuildPackage(m_dir.Path(), name, version);
    }

    ScratchDir m_dir;
    std::string m_key;
    std::string m_otherKey;
    std::string m_pem;
};
}  // namespace

TEST_F(PackageUpgrade, TheChecksRefuseEachFaultWithItsOwnReason) {
    const std::string good = Build("vantrel", "1.1");
    const std::string signature = Sign(good, m_key);
    PackageFields fields;
    EXPECT_EQ(CheckSignedPackage(good, signature, m_pem, "1.0", fields), UpgradeRefusal::kNone);
    EXPECT_EQ(fields.name, "vantrel");
    EXPECT_EQ(fields.version, "1.1");

    // The faults the helper's own test does not reach (SignedUpgrade below).
    struct Case {
        const char* name;
        std::string file;
        std::string signature;
        UpgradeRefusal expected;
    };
    std::string damaged = signature;
    damaged.back() = static_cast<char>(damaged.back() ^ 1);
    const std::string text = (m_dir.Path() / "setup.exe").string();
    std::ofstream(text) << "MZ not a package\n";
    const std::string same = Build("vantrel", "1.0");
    const std::string candidate = Build("vantrel", "1.0~rc1");  // before 1.0 in Debian's order
    const Case cases[] = {
        {"signature damaged", good, damaged, UpgradeRefusal::kBadSignature},
        {"signature with bytes after it", good, signature + '\0', UpgradeRefusal::kBadSignature},
        {"not a package", text, Sign(text, m_key), UpgradeRefusal::kNotOurPackage},
        {"the same version", same, Sign(same, m_key), UpgradeRefusal::kNotNewer},
        {"an older version", candidate, Sign(candidate, m_key), UpgradeRefusal::kNotNewer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckSignedPackage(c.file, c.signature, m_pem, "1.0", fields), c.expected);
    }
    // No key, or a private key where the public one belongs.
    EXPECT_FALSE(IsMakerKey(""));
    EXPECT_FALSE(IsMakerKey(FileBytes(m_key)));

    // The download's digest, which the upgrade compares with the page's.
    std::ofstream("abc") << "abc";
    EXPECT_EQ(Sha256HexOfFile("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256HexOfFile("missing"), "");
}

namespace {
// The helper, with the throwaway maker's key, an installed vantrel 1.0 as far as it can tell, and
// an "installation" that only keeps a copy of what it was given.
class SignedUpgrade : public PackageUpgrade {
protected:
    void SetUp() override {
        PackageUpgrade::SetUp();
        if (IsSkipped()) return;
        fs::create_directories(m_scratch);
        const fs::path query = m_dir.Path() / "dpkg-query";
        std::ofstream(query) << "#!/bin/sh\nprintf 1.0\n";
        fs::permissions(query, fs::perms::owner_all);
        m_setup.strPublicKeyPem = m_pem;
        m_setup.strScratchBase = m_scratch.string();
        m_setup.strDpkgQuery = query.string();
        m_setup.installCommand = {"/bin/sh", "-c",
                                  "echo installing; cp \"$0\" '" + m_installed.string() + "'"};
    }

    // Runs the helper on the stream the program would send: signature line, then the package.
    int Helper(const std::vector<std::string>& args, const std::string& signature,
               const std::string& package) {
        const fs::path input = m_dir.Path() / "input";
        std::ofstream(input, std::ios::binary)
            << UpgradeHelperInputHead(signature) << FileBytes(package);
        const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
        const int status = RunUpgradeHelper(args, fd, m_setup);
        ::close(fd);
        return status;
    }

    UpgradeHelperSetup m_setup;
    fs::path m_scratch = m_dir.Path() / "scratch";
    fs::path m_installed = m_dir.Path() / "installed.deb";
};
}  // namespace

TEST_F(SignedUpgrade, OnlyTheMakersNewerVantrelOfTheNamedVersionReachesTheInstallation) {
    const std::string package = Build("vantrel", "1.1");
    const std::string signature = Sign(package, m_key);
    const std::vector<std::string> args = {"vantrel", "1.1"};

    // Each refusal says which reason, and nothing gets as far as the installation.
    EXPECT_EQ(Helper(args, "", package), kUpgradeBadSignature);
    EXPECT_EQ(Helper(args, Sign(package, m_otherKey), package), kUpgradeBadSignature);
    // One byte more after the signed package is another file.
    const std::string grown = (m_dir.Path() / "grown.deb").string();
    std::ofstream(grown, std::ios::binary) << FileBytes(package) << '\n';
    EXPECT_EQ(Helper(args, signature, grown), kUpgradeBadSignature);
    const std::string other = Build("vantrel-extra", "1.1");
    EXPECT_EQ(Helper(args, Sign(other, m_key), other), kUpgradeNotOurPackage);
    // The prompt named 1.2: a package of another version is not what the administrator allowed.
    EXPECT_EQ(Helper({"vantrel", "1.2"}, signature, package), kUpgradeNotOurPackage);
    EXPECT_EQ(Helper({"vantrel", "1.1\nInstalls nothing"}, signature, package),
              kUpgradeNotOurPackage);
    EXPECT_EQ(Helper({"other", "1.1"}, signature, package), kUpgradeNotOurPackage);
    const std::string older = Build("vantrel", "0.9");
    EXPECT_EQ(Helper({"vantrel", "0.9"}, Sign(older, m_key), older), kUpgradeNotNewer);
    EXPECT_FALSE(fs::exists(m_installed));

    // The signed package is handed on byte for byte (the stand-in dpkg-query still says 1.0, so
    // the helper then reports that the installation did not take). What the installation said
    // went to the log, whose end is told on standard error only because it failed.
    testing::internal::CaptureStderr();
    EXPECT_EQ(Helper(args, signature, package), kUpgradeInstallFailed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vantrel-upgrade-helper: apt-get did not install the package; its output:\n"
              "installing\n");
    EXPECT_EQ(FileBytes(m_installed.string()), FileBytes(package));
    // Every private copy is gone again.
    EXPECT_TRUE(fs::is_empty(m_scratch));

    // Without a key, or with a private key where the public one belongs, nothing is installed.
    fs::remove(m_installed);
    for (const std::string& pem : {std::string(), FileBytes(m_key)}) {
        m_setup.strPublicKeyPem = pem;
        EXPECT_EQ(Helper(args, signature, package), kUpgradeBadSignature);
    }
    EXPECT_FALSE(fs::exists(m_installed));
}

TEST_F(SignedUpgrade, ARunRemovesOnlyTheCopiesLeftBehind) {
    // Left by a helper that was killed: this helper's name, private, old. Kept: a copy another
    // helper is still working on (it holds its lock), one just made, and anything that is not
    // such a copy.
    const auto folder = [&](const std::string& name, int mode, bool old) {
        const fs::path path = m_scratch / name;
        fs::create_directories(path);
        std::ofstream(path / "vantrel-upgrade.deb") << "left";
        ::chmod(path.c_str(), static_cast<mode_t>(mode));
        if (old) {
            const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
        return path;
    };
    const fs::path left = folder("vantrel-upgrade-a1B2c3", 0700, true);
    const fs::path busy = folder("vantrel-upgrade-d4E5f6", 0700, true);
    const fs::path fresh = folder("vantrel-upgrade-g7H8i9", 0700, false);
    const fs::path shared = folder("vantrel-upgrade-j0K1l2", 0755, true);
    const fs::path otherName = folder("vantrel-upgrade-m3N4o5p6", 0700, true);
    const fs::path target = folder("elsewhere", 0700, true);
    fs::create_directory_symlink(target, m_scratch / "vantrel-upgrade-q7R8s9");
    const int lock = ::open(busy.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);

    const std::string package = Build("vantrel", "1.1");
    EXPECT_EQ(Helper({"vantrel", "1.1"}, Sign(package, m_key), package), kUpgradeInstallFailed);
    ::close(lock);
    EXPECT_FALSE(fs::exists(left));
    for (const fs::path& kept : {busy, fresh, shared, otherName, target / "vantrel-upgrade.deb"})
        EXPECT_TRUE(fs::exists(kept)) << kept;
    EXPECT_TRUE(fs::is_symlink(m_scratch / "vantrel-upgrade-q7R8s9"));
}
