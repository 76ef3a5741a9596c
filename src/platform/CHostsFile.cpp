// The hosts block, as the program uses it: the file named by the environment or /etc/hosts and
// the settings file in the current directory.
#include "platform/CHostsFile.h"

#include <cstdlib>

#include "platform/ElevatedHosts.h"
#include "platform/HostsFileIO.h"
#include "platform/SettingsFileIO.h"

CHostsFile::~CHostsFile() = default;

std::string CHostsFile::GetHostsPath() const {
    const char* overridden = std::getenv("VANTREL_HOSTS_FILE");
    const std::string path =
        overridden != nullptr && *overridden != '\0' ? overridden : DefaultHostsPath();
    return FileExists(path) ? path : std::string();
}

std::string CHostsFile::ReadHostsFile() const {
    const std::string path = GetHostsPath();
    if (path.empty()) return {};
    return ReadHostsText(path).text;
}

bool CHostsFile::WriteHostsFile(const std::string& text) {
    const std::string path = GetHostsPath();
    return !path.empty() && WriteHostsText(path, text);
}

bool CHostsFile::IsBlockActive() const {
    const std::string path = GetHostsPath();
    return !path.empty() && HostsHasAdLabel(path);
}

bool CHostsFile::AddBlock() {
    const std::string path = GetHostsPath();
    // Never create a hosts file, and leave the settings file alone when there is none.
    if (path.empty()) return false;
    if (const std::optional<bool> elevated = AddBlockThroughHelper(path)) return *elevated;
    return AddBlockAt(path, [] { return ReadSettingsLines(); });
}

bool CHostsFile::RemoveBlock() {
    const std::string path = GetHostsPath();
    if (path.empty()) return true;
    if (const std::optional<bool> elevated = RemoveBlockThroughHelper(path)) return *elevated;
    return RemoveBlockAt(path);
}
