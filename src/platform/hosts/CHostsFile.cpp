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
class PreparedSettings {
public:
    PreparedSettings() { m_lines = ReadBlockLines(&m_why, kSettingsFileName, &m_missing); }
    // The lines the block may hold, or nullopt with Why() saying why not.
    SettingsSource Source() {
        return [this] {
            if (m_missing) {
                m_missing = false;
                m_lines = ReadBlockLines(&m_why);
            }
            return m_lines;
        };
    }
    const std::string& Why() const { return m_why; }

private:
    std::optional<std::vector<std::string>> m_lines;
    std::string m_why;
    bool m_missing = false;
};

// The text of the first block in the CR-free text, begin marker through end marker; "" when
// there is no whole one.
std::string FirstBlock(const std::string& text) {
    const std::size_t begin = text.find(kBeginMarker);
    if (begin == std::string::npos) return {};
    const std::size_t end = text.find(kEndMarker, begin + kBeginMarker.size());
    if (end == std::string::npos) return {};
    return text.substr(begin, end + kEndMarker.size() - begin);
}

HostsResult Refused(HostsOutcome outcome, bool hidden, std::string sentence = {}) {
    HostsResult result;
    result.outcome = outcome;
    result.hidden = hidden;
    result.sentence = sentence.empty() ? SentenceOf(outcome) : std::move(sentence);
    return result;
}

// After a Hide that did what it could: a block without the label hides nothing.
void TellWhatHideLeft(HostsIntent intent, HostsResult& result) {
    if (intent == HostsIntent::Hide && result.Done() && !result.hidden)
        result.sentence = kNoAdLabelText;
}

// The program's own locked pass.
HostsResult Directly(const std::string& path, HostsIntent intent) {
    // The settings are read only for Hide, and only then is a missing settings file created.
    std::optional<PreparedSettings> settings;
    if (intent == HostsIntent::Hide) settings.emplace();
    const SettingsSource none = [] { return std::optional<std::vector<std::string>>(); };
    HostsResult result = ApplyIntentAt(path, intent, settings ? settings->Source() : none);
    if (result.outcome == HostsOutcome::BadSettings) result.sentence = settings->Why();
    TellWhatHideLeft(intent, result);
    return result;
}

// What Hide through the helper would refuse or find done, from the file's CR-free text: the
// settings lines to send go to *lines. nullopt when the helper is to be asked.
std::optional<HostsResult> CheckHide(const std::string& text, bool hidden,
                                     std::vector<std::string>* lines) {
    if (hidden) return Refused(HostsOutcome::Unchanged, true);
    const BlockState state = ClassifyBlock(text);
    if (state == BlockState::DamagedBlock) return Refused(HostsOutcome::Damaged, false);
    if (state == BlockState::ForeignMarker) return Refused(HostsOutcome::ForeignMarker, false);
    PreparedSettings settings;
    const std::optional<std::vector<std::string>> read = settings.Source()();
    if (!read) return Refused(HostsOutcome::BadSettings, false, settings.Why());
    if (!HasEntryLines(*read)) return Refused(HostsOutcome::EmptyList, false);
    *lines = *read;
    std::string block;
    if (state == BlockState::BlockPresent && AppendBlock(block, *lines) &&
        block == FirstBlock(text)) {
        return Refused(HostsOutcome::Unchanged, false);  // already this list's block
    }
    return std::nullopt;
}

// Through the privileged helper. Nothing to do asks for no password, nor does a request that
// would only be refused: the file is read (without a lock) and the settings checked first.
HostsResult ThroughHelper(const std::string& path, HostsIntent intent) {
    const HostsRead hosts = ReadHostsText(path);
    if (hosts.status == ReadStatus::Missing) {
        HostsResult result;
        result.blockLeft = false;
        return result;
    }
    if (hosts.status != ReadStatus::Ok)
        return Refused(HostsOutcome::Unreadable, false,
                       "The hosts file could not be read, so it was not changed.");
    const bool hidden = ContainsAdLabel(hosts.text);
    std::vector<std::string> lines;
    if (intent == HostsIntent::Show) {
        const BlockState state = ClassifyBlock(hosts.text);
        if (state == BlockState::DamagedBlock) return Refused(HostsOutcome::Damaged, hidden);
        if (state != BlockState::BlockPresent) {
            HostsResult result = Refused(HostsOutcome::Unchanged, hidden);
            result.blockLeft = false;
            return result;
        }
    } else if (std::optional<HostsResult> checked = CheckHide(hosts.text, hidden, &lines)) {
        TellWhatHideLeft(intent, *checked);
        return *checked;
    }
    HostsResult result = ApplyIntentThroughHelper(path, intent, lines);
    TellWhatHideLeft(intent, result);
    return result;
}
}  // namespace

CHostsFile::~CHostsFile() = default;

std::string CHostsFile::GetHostsPath() const {
    const std::string path = ConfiguredHostsPath();
    return filesys::FileExists(path) ? path : std::string();
}

std::string CHostsFile::ReadHostsFile() const {
    const std::string path = GetHostsPath();
    if (path.empty()) return {};
    return ReadHostsText(path).text;
}

bool CHostsFile::WriteHostsFile(const std::string& text) {
    const std::string path = GetHostsPath();
    return !path.empty() && WriteHostsText(path, text).Done();
}

bool CHostsFile::IsBlockActive() const {
    const std::string path = GetHostsPath();
    return !path.empty() && HostsHasAdLabel(path);
}

bool CHostsFile::AddBlock() {
    m_failure.clear();
    const std::string path = GetHostsPath();
    // Never create a hosts file, and leave the settings file alone when there is none.
    if (path.empty()) return false;
    // Only lines that send names to this PC go into the block, however it is written.
    PreparedSettings settings;
    const HostsResult result = AddBlockAt(path, settings.Source());
    m_failure = result.outcome == HostsOutcome::BadSettings ? settings.Why() : result.sentence;
    return result.Done();
}

bool CHostsFile::RemoveBlock() {
    const HostsResult result = ApplyIntent(HostsIntent::Show);
    return result.Done() || result.outcome == HostsOutcome::Missing;
}

HostsResult CHostsFile::ApplyIntent(HostsIntent intent) {
    const std::string path = ConfiguredHostsPath();
    HostsResult result =
        HostsNeedHelper(path) ? ThroughHelper(path, intent) : Directly(path, intent);
    m_failure = result.sentence;
    return result;
}
