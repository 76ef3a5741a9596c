// The hosts block, as the program uses it: the file named by the environment or /etc/hosts and
// the settings file in the current directory.
#include "platform/CHostsFile.h"

#include "core/HostsText.h"
#include "platform/ElevatedHosts.h"
#include "platform/HostsFileIO.h"
#include "platform/SettingsFileIO.h"

CHostsFile::~CHostsFile() = default;

std::string CHostsFile::GetHostsPath() const {
    const std::string path = ConfiguredHostsPath();
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
    m_strFailure.clear();
    const std::string path = GetHostsPath();
    // Never create a hosts file, and leave the settings file alone when there is none.
    if (path.empty()) return false;
    // Only lines that send names to this PC go into the block, however it is written.
    std::string why;
    const SettingsSource settings = [&why] { return ReadBlockLines(&why); };
    std::optional<bool> done = AddBlockThroughHelper(path, settings, &why);
    if (!done) {
        done = AddBlockAt(path, settings);
        if (!*done && HostsLockWasBusy()) why = kHostsBusyText;
    }
    if (!*done) m_strFailure = why;
    return *done;
}

bool CHostsFile::RemoveBlock() {
    m_strFailure.clear();
    m_bMayHoldBlock = true;
    const std::string path = GetHostsPath();
    if (path.empty()) {
        m_bMayHoldBlock = false;
        return true;
    }
    std::string why;
    std::optional<bool> done = RemoveBlockThroughHelper(path, &why);
    if (!done) {
        done = RemoveBlockAt(path, kTextLineEnd, &m_bMayHoldBlock);
        if (!*done && HostsLockWasBusy())
            why = kHostsBusyText;
        else if (!*done && ClassifyBlock(ReadHostsText(path).text) == BlockState::DamagedBlock)
            why = kDamagedBlockText;
    }
    if (!*done) m_strFailure = why;
    return *done;
}
