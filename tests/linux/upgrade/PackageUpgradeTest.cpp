// The checks of an upgrade through the package manager, on small packages built here: the user's
// side and the privileged helper's, which must refuse everything but a newer vantrel package
// signed with the maker's key. No case here gets as far as apt-get.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "linux/net/UpdateInstaller.h"
#include "linux/root/PackageUpgrade.h"
#include "linux/root/UpgradeHelper.h"
#include "linux/upgrade/ScratchDir.h"

namespace fs = std::filesystem;

namespace {
class PackageUpgrade : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/bin/dpkg-deb", X_OK) != 0) GTEST_SKIP() << "dpkg-deb is not installed";
    }

    // A minimal binary package with one file.
    std::string Build(const std::string& name, const std::string& version) {
        const fs::path root = m_dir.Path() / ("root-" + name + "-" + version);
        fs::create_directories(root / "DEBIAN");
        fs::create_directories(root / "usr/share/doc" / name);
        std::ofstream(root / "usr/share/doc" / name / "README") << "test\n";
        std::ofstream(root / "DEBIAN/control")
            << "Package: " << name << "\nVersion: " << version
            << "\nArchitecture: all\nMaintainer: Test <t@example.invalid>\nDescription: test\n";
        const std::string deb = (m_dir.Path() / (name + "_" + version + ".deb")).string();
        const std::string command =
            "dpkg-deb --root-owner-group -b '" + root.string() + "' '" + deb + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return deb;
    }

    ScratchDir m_dir;
    fs::path m_scratch = m_dir.Path() / "scratch";
};
}  // namespace

TEST_F(PackageUpgrade, TheUsersSideWantsANewerVantrelPackage) {
    std::string version;
    EXPECT_EQ(CheckPackage(Build("vantrel", "1.1"), "1.0", version), UpgradeRefusal::kNone);
    EXPECT_EQ(version, "1.1");
    EXPECT_EQ(CheckPackage(Build("vantrel", "1.0.1"), "1.0", version), UpgradeRefusal::kNone);
    EXPECT_EQ(CheckPackage(Build("vantrel", "1.0"), "1.0", version), UpgradeRefusal::kNotNewer);
    // Debian's order, not the decimal one: 1.0~rc1 comes before 1.0.
    EXPECT_EQ(CheckPackage(Build("vantrel", "1.0~rc1"), "1.0", version), UpgradeRefusal::kNotNewer);
    EXPECT_EQ(CheckPackage(Build("vantrel-extra", "9.0"), "1.0", version),
              UpgradeRefusal::kNotOurPackage);
    const std::string text = (m_dir.Path() / "setup.exe").string();
    std::ofstream(text) << "MZ not a package\n";
    EXPECT_EQ(CheckPackage(text, "1.0", version), UpgradeRefusal::kNotOurPackage);
}

// The helper, with a throwaway maker's key, an installed vantrel 1.0 as far as it can tell, and
// an "installation" that only keeps a copy of what it was given.
class SignedUpgrade : public PackageUpgrade {
protected:
    void SetUp() override {
        PackageUpgrade::SetUp();
        if (IsSkipped()) return;
        if (access("/usr/bin/openssl", X_OK) != 0) GTEST_SKIP() << "openssl is not installed";
        fs::create_directories(m_scratch);
        m_key = NewKey("maker");
        m_otherKey = NewKey("other");
        const fs::path query = m_dir.Path() / "dpkg-query";
        std::ofstream(query) << "#!/bin/sh\nprintf 1.0\n";
        fs::permissions(query, fs::perms::owner_all);
        m_setup.strPublicKeyPem = ReadFile(m_key + ".pub");
        m_setup.strScratchBase = m_scratch.string();
        m_setup.strDpkgQuery = query.string();
        m_setup.installCommand = {"/bin/sh", "-c", "cp \"$0\" '" + m_installed.string() + "'"};
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string NewKey(const std::string& name) {
        const std::string key = (m_dir.Path() / name).string();
        const std::string command =
            "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out '" + key +
            "' 2>/dev/null && openssl pkey -in '" + key + "' -pubout -out '" + key + ".pub'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return key;
    }

    std::string Sign(const std::string& file, const std::string& key) {
        const std::string command =
            "openssl dgst -sha256 -sign '" + key + "' -out '" + file + ".sig' '" + file + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return ReadFile(file + ".sig");
    }

    // Runs the helper on the stream the program would send: signature line, then the package.
    int Helper(const std::vector<std::string>& args, const std::string& signature,
               const std::string& package) {
        const fs::path input = m_dir.Path() / "input";
        std::ofstream(input, std::ios::binary)
            << UpgradeHelperInputHead(signature) << ReadFile(package);
        const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
        const int status = RunUpgradeHelper(args, fd, m_setup);
        ::close(fd);
        return status;
    }

    UpgradeHelperSetup m_setup;
    std::string m_key;
    std::string m_otherKey;
    fs::path m_installed = m_dir.Path() / "installed.deb";
};

TEST_F(SignedUpgrade, OnlyTheMakersNewerVantrelOfTheNamedVersionReachesTheInstallation) {
    const std::string package = Build("vantrel", "1.1");
    const std::string signature = Sign(package, m_key);
    const std::vector<std::string> args = {"vantrel", "1.1"};

    // Each refusal is the same answer, and nothing gets as far as the installation.
    EXPECT_EQ(Helper(args, "", package), kUpgradeRefused);
    EXPECT_EQ(Helper(args, Sign(package, m_otherKey), package), kUpgradeRefused);
    std::string damaged = signature;
    damaged.back() = static_cast<char>(damaged.back() ^ 1);
    EXPECT_EQ(Helper(args, damaged, package), kUpgradeRefused);
    const std::string other = Build("vantrel-extra", "1.1");
    EXPECT_EQ(Helper(args, Sign(other, m_key), other), kUpgradeRefused);
    const std::string older = Build("vantrel", "0.9");
    EXPECT_EQ(Helper({"vantrel", "0.9"}, Sign(older, m_key), older), kUpgradeRefused);
    // The prompt named 1.2: a package of another version is not what the administrator allowed.
    EXPECT_EQ(Helper({"vantrel", "1.2"}, signature, package), kUpgradeRefused);
    EXPECT_EQ(Helper({"vantrel", "1.1\nInstalls nothing"}, signature, package), kUpgradeRefused);
    EXPECT_EQ(Helper({"other", "1.1"}, signature, package), kUpgradeRefused);
    // One byte more after the signed package is another file.
    const std::string grown = (m_dir.Path() / "grown.deb").string();
    std::ofstream(grown, std::ios::binary) << ReadFile(package) << '\n';
    EXPECT_EQ(Helper(args, signature, grown), kUpgradeRefused);
    EXPECT_FALSE(fs::exists(m_installed));

    // The signed package is handed on byte for byte (the stand-in dpkg-query still says 1.0, so
    // the helper then reports that the installation did not take).
    EXPECT_EQ(Helper(args, signature, package), kUpgradeInstallFailed);
    EXPECT_EQ(ReadFile(m_installed.string()), ReadFile(package));
    EXPECT_EQ(RunUpgradeHelper({"--can-verify"}, -1, m_setup), kUpgradeOk);
    // Every private copy is gone again.
    EXPECT_TRUE(fs::is_empty(m_scratch));
}

TEST_F(SignedUpgrade, WithoutAKeyNothingIsInstalled) {
    const std::string package = Build("vantrel", "1.1");
    const std::string signature = Sign(package, m_key);
    for (const std::string& pem : {std::string(), ReadFile(m_key)}) {
        // No key, or a private key where the public one belongs.
        m_setup.strPublicKeyPem = pem;
        EXPECT_EQ(RunUpgradeHelper({"--can-verify"}, -1, m_setup), kUpgradeRefused);
        EXPECT_EQ(Helper({"vantrel", "1.1"}, signature, package), kUpgradeRefused);
    }
    EXPECT_FALSE(fs::exists(m_installed));
}
