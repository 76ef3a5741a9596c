// Packages, keys and signatures for the upgrade tests.
#include "linux/upgrade/TestPackages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

bool CanMakeTestPackages() {
    return access("/usr/bin/dpkg-deb", X_OK) == 0 && access("/usr/bin/openssl", X_OK) == 0;
}

std::string BuildPackage(const fs::path& dir, const std::string& name, const std::string& version) {
    const fs::path root = dir / ("root-" + name + "-" + version);
    fs::create_directories(root / "DEBIAN");
    fs::create_directories(root / "usr/share/doc" / name);
    std::ofstream(root / "usr/share/doc" / name / "README") << "test\n";
    std::ofstream(root / "DEBIAN/control")
        << "Package: " << name << "\nVersion: " << version
        << "\nArchitecture: all\nMaintainer: Test <t@example.invalid>\nDescription: test\n";
    const std::string deb = (dir / (name + "_" + version + ".deb")).string();
    const std::string command =
        "dpkg-deb --root-owner-group -b '" + root.string() + "' '" + deb + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return deb;
}

std::string NewKey(const fs::path& dir, const std::string& name) {
    const std::string key = (dir / name).string();
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
    return FileBytes(file + ".sig");
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
