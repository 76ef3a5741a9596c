// The seams that are the same on every system, over the platform's functions: the hosts file,
// the browsers, the clock and the preferences store.
#include "model/SystemSeams.h"

#include "platform/browsers/BrowserProcesses.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsPath.h"
#include "platform/prefs/CRegistryStore.h"

namespace {

// The one place that asks the hosts file.
HostsPass PassHostsFile(std::optional<HostsIntent> intent) {
    HostsPass pass;
    CHostsFile hosts;
    if (intent) {
        const HostsResult result = hosts.ApplyIntent(*intent);
        pass.hidden = result.hidden;
        pass.changed = result.changed;
        pass.failure = result.sentence;
    } else {
        pass.hidden = hosts.IsBlockActive();
    }
    pass.systemFile = IsSystemHostsFile(ConfiguredHostsPath());
    if (pass.hidden && pass.systemFile) pass.text = hosts.ReadHostsFile();
    return pass;
}

std::vector<int> FirefoxProcesses() {
    std::vector<int> pids;
    for (const BrowserProcess& process : FindBrowserProcesses()) {
        if (process.browser == Browser::Firefox) pids.push_back(process.pid);
    }
    return pids;
}

}  // namespace

MainSeams SystemSeams() {
    MainSeams seams;
    seams.passHostsFile = PassHostsFile;
    seams.checkLookups = [](const std::string& text) {
        return CheckLookups(BlockEntries(text), HostsEntries(text));
    };
    seams.firefoxDohProfiles = [] { return FirefoxDohProfiles(FirefoxProfilesHome()); };
    seams.firefoxProcesses = FirefoxProcesses;
    seams.processRunning = [](int pid) { return ProcessRunning(pid); };
    seams.now = [] { return WallClock::now(); };
    seams.readValue = [](const std::string& name) {
        return CRegistryStore().ReadValue("Vantrel", name, CurrentUserRoot(), "Software");
    };
    seams.writeValue = [](const std::string& name, const std::string& value) {
        CRegistryStore().WriteValue("Vantrel", name, value, CurrentUserRoot());
    };
    SetSystemLiveApply(seams);
    return seams;
}
