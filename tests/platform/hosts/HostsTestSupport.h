// A private folder per test, the hosts file inside it named by VANTREL_HOSTS_FILE and the
// folder as the working directory, plus small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void Spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Names in the folder that start with a dot: temporary files and backups of the writer.
inline std::vector<std::string> HiddenFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == '.') names.push_back(name);
    }
    return names;
}

class HostsDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vantrel-hosts-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_hosts = m_dir + "/hosts";
        m_oldCwd = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);
        ::setenv("VANTREL_HOSTS_FILE", m_hosts.c_str(), 1);
    }
    void TearDown() override {
        std::filesystem::current_path(m_oldCwd);
        ::unsetenv("VANTREL_HOSTS_FILE");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string Hosts() const { return Slurp(m_hosts); }
    void SetHosts(const std::string& bytes) const { Spit(m_hosts, bytes); }
    void SetSettings(const std::string& bytes) const {
        Spit(m_dir + "/vantrel_settings.txt", bytes);
    }

    std::string m_dir;
    std::string m_hosts;
    std::filesystem::path m_oldCwd;
};
