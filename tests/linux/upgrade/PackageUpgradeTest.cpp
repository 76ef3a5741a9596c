// The checks of an upgrade through the package manager, on small packages built here: the user's
// side and the privileged helper's, which must refuse everything but a newer vantrel package
// that is exactly the file the user's side checked. No case here gets as far as apt-get.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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

    int Helper(const std::string& deb, const std::string& digest) {
        UpgradeHelperSetup setup;
        setup.strScratchBase = m_scratch.string();
        return RunUpgradeHelper({deb, digest}, setup);
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

TEST_F(PackageUpgrade, TheHelperChecksTheVeryFileItWouldInstall) {
    fs::create_directories(m_scratch);
    const std::string other = Build("other", "9.0");
    // Never newer than an installed vantrel, and none may be installed: apt-get is never reached.
    const std::string old = Build("vantrel", "0.1");
    const std::string otherDigest = Sha256OfFile(other);
    const std::string oldDigest = Sha256OfFile(old);

    EXPECT_EQ(Helper(old, otherDigest), kUpgradeWrongDigest);
    EXPECT_EQ(Helper(other, otherDigest), kUpgradeNotVantrel);
    EXPECT_EQ(Helper(old, oldDigest), kUpgradeNotNewer);
    // A link could be turned to another file between the checks and the installation.
    const fs::path link = m_dir.Path() / "link.deb";
    fs::create_symlink(old, link);
    EXPECT_EQ(Helper(link.string(), oldDigest), kUpgradeUnreadable);
    EXPECT_EQ(Helper(m_dir.Path().string(), oldDigest), kUpgradeUnreadable);
    EXPECT_EQ(Helper("vantrel_0.1.deb", oldDigest), kUpgradeUsage);
    EXPECT_EQ(Helper(old, "not a digest"), kUpgradeUsage);
    EXPECT_EQ(RunUpgradeHelper({old}, {}), kUpgradeUsage);
    // Every private copy is gone again.
    EXPECT_TRUE(fs::is_empty(m_scratch));
}
