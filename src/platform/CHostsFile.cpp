// The hosts block, as the program uses it: the file named by the environment or /etc/hosts and
// the settings file in the current directory.
#include "platform/CHostsFile.h"

#include "core/HostsText.h"
#include "platform/ElevatedHosts.h"
#include "platform/HostsFileIO.h"
#include "platform/SettingsFileIO.h"

namespace {
// The settings file is read and checked before the hosts file is locked. A missing one is
// created (empty) only when the block is then added, as it always was.
class CPreparedSettings {
public:
    CPreparedSettings() { m_lines = ReadBlockLines(&m_strWhy, kSettingsFileName, &m_bMissing); }
    // The lines the block may hold, or nullopt with Why() saying why not.
    SettingsSource Source() {
        return [this] {
            if (m_bMissing) {
                m_bMissing = false;
                m_lines = ReadBlockLines(&m_strWhy);
            }
            return m_lines;
        };
    }
    const std::string& Why() const { return m_strWhy; }

private:
    std::optional<std::vector<std::string>> m_lines;
    std::string m_strWhy;
    bool m_bMissing = false;
};

// The failure sentence for what the program's own pass reports.
std::string FailureOf(EditOutcome outcome, bool damaged, const std::string& settingsWhy) {
    switch (outcome) {
        case EditOutcome::Busy:
            return kHostsBusyText;
        case EditOutcome::Refused:
            return damaged ? kDamagedBlockText : settingsWhy;
        default:
            // A failed write of its own shows in the status read back from the file.
            return {};
    }
}
}  // namespace

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
    CPreparedSettings settings;
    std::string why;
    std::optional<bool> done = AddBlockThroughHelper(path, settings.Source(), &why);
    if (done && !*done && why.empty()) why = settings.Why();  // refused before any password
    if (!done) {
        const EditOutcome outcome = AddFirstBlock(path, settings.Source());
        done = outcome == EditOutcome::Unchanged || outcome == EditOutcome::Written;
        why = FailureOf(outcome, false, settings.Why());
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
        bool left = true;
        const EditOutcome outcome = CutFirstBlock(path, kTextLineEnd, &left);
        done = outcome == EditOutcome::Missing || outcome == EditOutcome::Unchanged ||
               outcome == EditOutcome::Written;
        m_bMayHoldBlock = !*done || (outcome == EditOutcome::Written && left);
        why = FailureOf(outcome, true, {});
    }
    if (!*done) m_strFailure = why;
    return *done;
}

bool CHostsFile::ToggleBlock() {
    m_strFailure.clear();
    const std::string path = ConfiguredHostsPath();
    CPreparedSettings settings;
    if (HostsNeedHelper(path)) {
        // The helper makes the change in one pass of its own and reports the state after it.
        const std::optional<std::vector<std::string>> lines = settings.Source()();
        // Refused settings can only be cut: then no password is asked for an add that would
        // only be refused.
        if (!lines && !IsBlockActive()) {
            m_strFailure = settings.Why();
            m_bToggleChanged = false;
            return false;
        }
        const ElevatedToggle toggle = ToggleBlockThroughHelper(path, lines, settings.Why());
        m_strFailure = toggle.why;
        m_bToggleChanged = toggle.changed;
        return toggle.hidden;
    }
    const HostsToggle toggle = ToggleBlockAt(path, settings.Source());
    m_strFailure = FailureOf(toggle.outcome, toggle.damaged, settings.Why());
    m_bToggleChanged = toggle.Changed();
    return toggle.hidden;
}
