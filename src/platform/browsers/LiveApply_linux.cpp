// The program's side of moving running browsers: resolve before, check after.
#include "platform/browsers/LiveApply.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "core/protection/ProtectionNotes.h"
#include "platform/browsers/BrowserProcesses.h"
#include "platform/browsers/SocketEnding.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/ElevatedHosts.h"
#include "platform/prefs/CRegistryStore.h"
#include "platform/protection/ProtectionCheck.h"
#include "platform/settings/SettingsFileIO.h"

namespace {

// A resolver that waits for dead DNS servers must not hold the toggle up for long.
constexpr auto kLookupLimit = std::chrono::seconds(3);

std::vector<std::string> ListedNames() {
    std::set<std::string> names;
    for (const HostsEntry& entry : BlockEntries(CHostsFile().ReadHostsFile()))
        names.insert(entry.name);
    std::ifstream settings(kSettingsFileName, std::ios::binary);
    std::ostringstream text;
    text << settings.rdbuf();
    for (const HostsEntry& entry : HostsEntries(text.str())) names.insert(entry.name);
    return {names.begin(), names.end()};
}

struct Lookups {
    std::mutex mutex;
    std::condition_variable done;
    std::size_t pending = 0;
    std::set<std::string> addresses;
};

void Resolve(const std::shared_ptr<Lookups>& lookups, const std::string& name) {
    std::set<std::string> found;
    for (const int family : {AF_INET, AF_INET6}) {
        addrinfo hints{};
        hints.ai_family = family;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0) continue;
        for (const addrinfo* ai = result; ai; ai = ai->ai_next) {
            if (ai->ai_family == AF_INET) {
                const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
                found.emplace(reinterpret_cast<const char*>(&in->sin_addr), 4);
            } else if (ai->ai_family == AF_INET6) {
                const auto* in6 = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr);
                found.emplace(reinterpret_cast<const char*>(&in6->sin6_addr), 16);
            }
        }
        ::freeaddrinfo(result);
    }
    const std::lock_guard<std::mutex> lock(lookups->mutex);
    lookups->addresses.insert(found.begin(), found.end());
    if (--lookups->pending == 0) lookups->done.notify_all();
}

std::vector<std::string> ResolveAll(const std::vector<std::string>& names) {
    auto lookups = std::make_shared<Lookups>();
    lookups->pending = names.size();
    for (const std::string& name : names) std::thread(Resolve, lookups, name).detach();
    std::unique_lock<std::mutex> lock(lookups->mutex);
    lookups->done.wait_for(lock, kLookupLimit, [&] { return lookups->pending == 0; });
    std::vector<std::string> peers;
    for (const std::string& address : lookups->addresses) {
        if (!IsThisMachine(address)) peers.push_back(address);
    }
    return peers;
}

bool FirefoxWithDohRunning() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || FirefoxDohProfiles(home).empty()) return false;
    for (const BrowserProcess& process : FindBrowserProcesses()) {
        if (process.browser == Browser::Firefox) return true;
    }
    return false;
}

}  // namespace

bool LiveApplyTurnedOn() {
    return CRegistryStore().ReadValue("Vantrel", kLiveApplyValue, HKEY_CURRENT_USER, "Software") !=
           "0";
}

LiveApplyRun PrepareLiveApply() {
    LiveApplyRun run;
    SetHelperExtraArguments({});
    const std::string path = CHostsFile().GetHostsPath();
    // Only root can announce and end connections: the program itself, or the helper for the
    // system file the user may not write.
    const bool privileged = ::geteuid() == 0 || HostsNeedHelper(path);
    // A sandbox file (VANTREL_HOSTS_FILE) is not what browsers resolve with: nothing to move,
    // and the machine's network is left alone.
    if (!LiveApplyTurnedOn() || !IsSystemHostsFile(path)) {
        run.before = LiveApplyBlock::TurnedOff;
    } else if (!privileged) {
        run.before = LiveApplyBlock::NoPrivilegedStep;
    } else if (BrowserSocketInodes(::getuid()).empty()) {
        return run;  // no browser runs: nothing to move
    }
    if (run.before != LiveApplyBlock::None) return run;
    run.peers = ResolveAll(ListedNames());
    std::vector<std::string> args = {kReconnectOption};
    for (const std::string& peer : run.peers) args.push_back(PeerAddressText(peer));
    // Too many to pass: the change is still announced, the connections are checked afterwards.
    if (args.size() > kMaxReconnectPeers + 1) args.resize(1);
    SetHelperExtraArguments(args);
    return run;
}

LiveApplyBlock FinishLiveApply(const LiveApplyRun& run, bool changed) {
    const bool helperRan = HelperRanWithExtras();
    SetHelperExtraArguments({});
    if (!changed) return LiveApplyBlock::TurnedOff;
    if (run.before != LiveApplyBlock::None) return run.before;
    if (!helperRan && ::geteuid() == 0) MoveBrowsersToNewAnswers(::getuid(), run.peers);
    LiveApplyFacts facts;
    facts.privileged = helperRan || ::geteuid() == 0;
    facts.socketEndingWorks = ProbeSocketEnding() != SocketEndingSupport::Unsupported;
    facts.firefoxDohRunning = FirefoxWithDohRunning();
    const auto left = BrowserSocketsTo(::getuid(), run.peers);
    facts.connectionsLeft = left ? left->size() : 1;  // an unreadable list proves nothing
    return WhyNotLive(facts);
}
