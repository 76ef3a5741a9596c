// The system resolver sees the block: run as root in a private mount namespace where a copy of
// /etc, with a hosts file of its own bind-mounted over /etc/hosts, stands in for the real /etc,
// and a /run of its own holds the lock.
// The machine's own hosts file and /etc are never touched.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsTestSupport.h"

namespace {

constexpr int kSkip = 77;

// The IPv4 addresses the resolver gives for name; empty when it gives none.
std::vector<std::string> Resolve(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    std::vector<std::string> addresses;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0) return addresses;
    for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        addresses.emplace_back(text);
    }
    ::freeaddrinfo(result);
    return addresses;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

using Resolver = HostsDirTest;

// Runs in the child, inside its own mount namespace; reports through the pipe and exit status.
int RunInNamespace(const std::string& dir, const std::vector<std::string>& domains, int report) {
    auto say = [report](const std::string& text) {
        (void)!::write(report, text.data(), text.size());
    };
    if (::unshare(CLONE_NEWNS) != 0) {
        say(std::string("unshare(CLONE_NEWNS) failed: ") + std::strerror(errno));
        return kSkip;
    }
    // Nothing mounted here may reach the machine's namespace.
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        say(std::string("making mounts private failed: ") + std::strerror(errno));
        return kSkip;
    }
    // The system file's lock goes into a /run of this namespace's own.
    if (::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
        say(std::string("mounting a private /run failed: ") + std::strerror(errno));
        return kSkip;
    }
    const std::string etc = dir + "/etc";
    std::filesystem::create_directory(etc);
    for (const char* name : {"nsswitch.conf", "host.conf", "gai.conf", "resolv.conf"}) {
        std::error_code ignored;
        std::filesystem::copy_file(std::string("/etc/") + name, etc + "/" + name, ignored);
    }
    Spit(etc + "/hosts", "");
    const std::string hostsFile = dir + "/bound-hosts";
    Spit(hostsFile, "127.0.0.1 localhost\n::1 localhost\n");
    if (::mount(etc.c_str(), "/etc", nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(hostsFile.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
        say(std::string("bind mount failed: ") + std::strerror(errno));
        return kSkip;
    }
    if (!SameFile("/etc/hosts", hostsFile) || !SameFile("/etc", etc)) {
        say("the bind mounts did not take effect");
        return 1;
    }
    ::unsetenv("VANTREL_HOSTS_FILE");
    CHostsFile hosts;
    if (hosts.GetHostsPath() != "/etc/hosts") return say("hosts path is not /etc/hosts"), 1;

    // Renaming over a mount point fails with EBUSY: this goes through the in-place rewrite.
    if (!hosts.ApplyIntent(HostsIntent::Hide).hidden) return say("Hide failed"), 1;
    if (!hosts.IsBlockActive()) return say("block not active after Hide"), 1;
    struct stat lock {};
    if (::lstat("/run/vantrel-hosts.lock", &lock) != 0 || !S_ISREG(lock.st_mode) ||
        lock.st_uid != 0 || (lock.st_mode & 07777) != 0600) {
        return say("the system file was not locked through a root-only file in /run"), 1;
    }
    for (const std::string& domain : domains) {
        if (Resolve(domain) != std::vector<std::string>{"0.0.0.0"}) {
            return say(domain + " does not resolve to 0.0.0.0 with the block"), 1;
        }
    }
    if (!hosts.RemoveBlock()) return say("RemoveBlock failed"), 1;
    if (Slurp(hostsFile) != "127.0.0.1 localhost\n::1 localhost\n") {
        return say("removal did not restore the file"), 1;
    }
    for (const std::string& domain : domains) {
        for (const std::string& address : Resolve(domain)) {
            if (address == "0.0.0.0") return say(domain + " still resolves to 0.0.0.0"), 1;
        }
    }
    if (!HiddenFiles(etc).empty()) return say("files left beside /etc/hosts"), 1;
    return 0;
}

TEST_F(Resolver, ListedDomainsResolveToTheLocalAddressOnlyWhileTheBlockIsThere) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a private mount namespace";
    const std::string settings = Slurp(SourceDir() + "/res/vantrel_settings.txt");
    ASSERT_FALSE(settings.empty());
    SetSettings(settings);
    std::vector<std::string> domains;
    std::istringstream in(settings);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("0.0.0.0 ", 0) == 0) domains.push_back(line.substr(8));
    }
    ASSERT_GE(domains.size(), 13u);

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        ::_exit(RunInNamespace(m_dir, domains, pipeFds[1]));
    }
    ::close(pipeFds[1]);
    std::string message;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "child died: " << message;
    if (WEXITSTATUS(status) == kSkip) GTEST_SKIP() << message;
    EXPECT_EQ(WEXITSTATUS(status), 0) << message;
}

}  // namespace
