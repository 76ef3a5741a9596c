// The hosts block, as the program uses it: the file named by the environment or /etc/hosts and
// the settings file in the current directory.
#include "platform/hosts/CHostsFile.h"

#include "core/hosts/HostsText.h"
#include "platform/hosts/ElevatedHosts.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/settings/SettingsFileIO.h"

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

// The failure sentence for what the program's own add reports.
std::string FailureOf(EditOutcome outcome, const std::string& settingsWhy) {
    switch (outcome) {
        case EditOutcome::Busy:
            return kHostsBusyText;
        case EditOutcome::Refused:
            return settingsWhy;
        default:
            // A failed write of its own shows in the status read back from the file.
            return {};
    }
}

// The sentence for a refusal, or "" for none.
std::string ProblemText(BlockProblem problem, const std::string& settingsWhy) {
    switch (problem) {
        case BlockProblem::Damaged:
            return kDamagedBlockText;
        case BlockProblem::ForeignMarker:
            return kForeignMarkerText;
        case BlockProblem::EmptyList:
            return kEmptyListText;
        case BlockProblem::NoSettings:
            return settingsWhy;
        case BlockProblem::None:
            break;
    }
    return {};
}

// The text of the first block in the CR-free text, begin marker through end marker; "" when
// there is no whole one.
std::string FirstBlock(const std::string& text) {
    const std::size_t begin = text.find(kBeginMarker);
    if (begin == std::string::npos) return {};
    const std::size_t end = text.find(kEndMarker, begin + kBeginMarker.size());
    if (end == std::string::npos) return {};
    return text.substr(begin, end + kEndMarker.size() - begin);
}

struct Pressed {
    bool hidden = false;
    bool changed = false;
    bool done = false;  // the file is the way that was asked for, or no file is there to show
    bool mayHoldBlock = true;
    std::string why;
};

// The program's own locked pass.
Pressed Directly(const std::string& path, HostsIntent intent) {
    // The settings are read only for Hide, and only then is a missing settings file created.
    std::optional<CPreparedSettings> settings;
    if (intent == HostsIntent::Hide) settings.emplace();
    const SettingsSource none = [] { return std::optional<std::vector<std::string>>(); };
    const HostsChange change = ApplyIntentAt(path, intent, settings ? settings->Source() : none);
    const std::string settingsWhy = settings ? settings->Why() : std::string();
    Pressed pressed;
    pressed.hidden = change.hidden;
    pressed.changed = change.changed;
    pressed.done = change.outcome == EditOutcome::Unchanged ||
                   change.outcome == EditOutcome::Written ||
                   (intent == HostsIntent::Show && change.outcome == EditOutcome::Missing);
    pressed.mayHoldBlock = intent == HostsIntent::Hide || !pressed.done ||
                           (change.outcome == EditOutcome::Written && change.blockLeft);
    if (change.outcome == EditOutcome::Busy) {
        pressed.why = kHostsBusyText;
    } else if (change.outcome == EditOutcome::Refused) {
        pressed.why = ProblemText(change.problem, settingsWhy);
    } else if (pressed.done && intent == HostsIntent::Hide && !pressed.hidden) {
        pressed.why = kNoAdLabelText;
    }
    return pressed;
}

// Through the privileged helper. Nothing to do asks for no password, nor does a request that
// would only be refused: the file is read (without a lock) and the settings checked first.
Pressed ThroughHelper(const std::string& path, HostsIntent intent) {
    Pressed pressed;
    const HostsRead hosts = ReadHostsText(path);
    if (hosts.status == ReadStatus::Missing) {
        pressed.done = intent == HostsIntent::Show;
        pressed.mayHoldBlock = false;
        return pressed;
    }
    if (hosts.status != ReadStatus::Ok) {
        pressed.why = "The hosts file could not be read, so it was not changed.";
        return pressed;
    }
    pressed.hidden = ContainsAdLabel(hosts.text);
    const BlockState state = ClassifyBlock(hosts.text);
    std::vector<std::string> lines;
    if (intent == HostsIntent::Show) {
        if (state == BlockState::DamagedBlock) {
            pressed.why = kDamagedBlockText;
            return pressed;
        }
        if (state != BlockState::BlockPresent) {
            pressed.done = true;
            pressed.mayHoldBlock = false;
            return pressed;
        }
    } else {
        if (pressed.hidden) {
            pressed.done = true;
            return pressed;
        }
        pressed.why = ProblemText(state == BlockState::DamagedBlock    ? BlockProblem::Damaged
                                  : state == BlockState::ForeignMarker ? BlockProblem::ForeignMarker
                                                                       : BlockProblem::None,
                                  {});
        if (!pressed.why.empty()) return pressed;
        CPreparedSettings settings;
        const std::optional<std::vector<std::string>> read = settings.Source()();
        pressed.why = ProblemText(!read                   ? BlockProblem::NoSettings
                                  : !HasEntryLines(*read) ? BlockProblem::EmptyList
                                                          : BlockProblem::None,
                                  settings.Why());
        if (!pressed.why.empty()) return pressed;
        lines = *read;
        std::string block;
        if (state == BlockState::BlockPresent && AppendBlock(block, lines) &&
            block == FirstBlock(hosts.text)) {
            pressed.done = true;  // already this list's block, which hides nothing
            pressed.why = kNoAdLabelText;
            return pressed;
        }
    }
    const ElevatedChange change = ApplyIntentThroughHelper(path, intent, lines);
    pressed.hidden = change.hidden;
    pressed.changed = change.changed;
    pressed.done = change.done;
    pressed.why = change.why;
    if (pressed.done && intent == HostsIntent::Hide && !pressed.hidden)
        pressed.why = kNoAdLabelText;
    return pressed;
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
    const EditOutcome outcome = AddFirstBlock(path, settings.Source());
    const bool done = outcome == EditOutcome::Unchanged || outcome == EditOutcome::Written;
    if (!done) m_strFailure = FailureOf(outcome, settings.Why());
    return done;
}

bool CHostsFile::RemoveBlock() {
    ApplyIntent(HostsIntent::Show);
    return m_bDone;
}

bool CHostsFile::ApplyIntent(HostsIntent intent) {
    const std::string path = ConfiguredHostsPath();
    const Pressed pressed =
        HostsNeedHelper(path) ? ThroughHelper(path, intent) : Directly(path, intent);
    m_strFailure = pressed.why;
    m_bChanged = pressed.changed;
    m_bDone = pressed.done;
    m_bMayHoldBlock = pressed.mayHoldBlock;
    return pressed.hidden;
}
