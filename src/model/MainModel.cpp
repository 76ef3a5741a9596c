// The main window's state and decisions, the same on every system.
#include "model/MainModel.h"

#include <algorithm>

namespace {

// What the window says in each state.
struct StatusTexts {
    const char* status;
    const char* hint;
    const char* toggle;
};
constexpr StatusTexts kAdsHidden = {"Google Adsense advertisements are hidden on this PC.",
                                    "To restore ads, click the Show Adsense button.",
                                    "Show Adsense"};
constexpr StatusTexts kAdsShown = {"Google Adsense advertisements are not hidden on this PC.",
                                   "To hide ads, click the Hide Adsense button.", "Hide Adsense"};

}  // namespace

MainModel::MainModel(MainSeams seams) : m_seams(std::move(seams)) {}

MainModel::~MainModel() = default;

int MainModel::AddView(View view) {
    m_views.emplace_back(++m_lastView, std::move(view));
    return m_lastView;
}

void MainModel::RemoveView(int id) {
    std::erase_if(m_views, [id](const auto& view) { return view.first == id; });
}

void MainModel::Refresh() {
    ShowStatus(m_seams.passHostsFile(std::nullopt));
}

void MainModel::Toggle(const PressPrompts& prompts) {
    Apply(m_state.hidden ? HostsIntent::Show : HostsIntent::Hide, prompts);
}

void MainModel::Apply(HostsIntent intent, const PressPrompts& prompts) {
    if (m_state.busy) return;
    // Running browsers are moved onto the new answers in the same privileged step as the write.
    m_seams.prepareLiveApply();
    // One locked pass changes the file and says what it holds afterwards, so the status shows
    // what really happened.
    const HostsPass pass = m_seams.passHostsFile(intent);
    m_live = m_seams.finishLiveApply(pass.changed, pass.systemFile);
    m_restart.clear();
    WantTicks(false);
    ShowStatus(pass);
    if (!pass.failure.empty()) prompts.tell(pass.failure);
    // Browsers that were moved need not close: their old connections are gone.
    if (m_live.notLive != LiveApplyBlock::None) OfferToCloseBrowsers(prompts);
}

void MainModel::ShowStatus(const HostsPass& pass) {
    const StatusTexts& texts = pass.hidden ? kAdsHidden : kAdsShown;
    m_state.hidden = pass.hidden;
    m_state.status = texts.status;
    m_state.hint = texts.hint;
    m_state.toggle = texts.toggle;
    // What made the status is recomputed; the browsers to restart are the press's to set.
    m_facts = ProtectionFacts{};
    m_firefoxPids.clear();
    ++m_check;
    if (pass.hidden) {
        // Firefox with DNS over HTTPS reads the hosts file only as it starts: the ones running
        // now keep the old state until they are restarted.
        m_facts.dohProfiles = m_seams.firefoxDohProfiles();
        if (!m_facts.dohProfiles.empty()) m_firefoxPids = m_seams.firefoxProcesses();
        if (pass.systemFile) StartLookupCheck(pass.text);
    }
    if (!m_firefoxPids.empty()) WantTicks(true);
    Publish();
}

void MainModel::StartLookupCheck(const std::string& hostsText) {
    m_facts.checking = true;
    const unsigned check = m_check;
    const std::weak_ptr<bool> alive = m_alive;
    // The resolver may wait for DNS servers for seconds.
    m_seams.runOffThread([this, alive, check, lookups = m_seams.checkLookups, hostsText] {
        const LookupCheck result = lookups(hostsText);
        return std::function<void()>([this, alive, check, result] {
            if (alive.expired() || check != m_check) return;
            m_facts.checking = false;
            m_facts.notLocalV4 = result.notLocalV4;
            m_facts.notLocalV6 = result.notLocalV6;
            Publish();
        });
    });
}

void MainModel::OfferToCloseBrowsers(const PressPrompts& prompts) {
    // Browsers keep the old name lookups until they end.
    const BrowserOfferOutcome outcome = prompts.offerToClose([this](const std::string& text) {
        m_waiting = text;
        Publish();
    });
    if (outcome.found.empty() && outcome.mustRestart.empty()) return;
    m_restart = m_state.hidden ? outcome.mustRestart : std::vector<RunningBrowser>{};
    if (!m_restart.empty()) WantTicks(true);
    Publish();
}

void MainModel::Tick() {
    // A browser restarted since the change has read the new hosts file.
    const auto before = m_restart.size() + m_firefoxPids.size();
    std::erase_if(m_restart, [this](const RunningBrowser& browser) {
        return browser.pid && !m_seams.processRunning(*browser.pid);
    });
    std::erase_if(m_firefoxPids, [this](int pid) { return !m_seams.processRunning(pid); });
    if (m_restart.empty() && m_firefoxPids.empty()) WantTicks(false);
    if (m_restart.size() + m_firefoxPids.size() != before) Publish();
}

void MainModel::WantTicks(bool on) {
    if (on == m_ticking) return;
    m_ticking = on;
    m_seams.wantTicks(on);
}

std::vector<std::string> MainModel::NotesNow() const {
    if (!m_waiting.empty()) return {m_waiting};
    if (!m_state.hidden) return {};
    ProtectionFacts facts = m_facts;
    for (const RunningBrowser& browser : m_restart) facts.restart.push_back(browser.browser);
    facts.notLive = m_live.notLive;
    facts.cacheNotFlushed = m_live.cacheNotFlushed;
    if (m_firefoxPids.empty()) facts.dohProfiles.clear();
    return NotesLines(facts);
}

void MainModel::Publish() {
    m_state.notes = NotesNow();
    m_state.busy = !m_waiting.empty();
    // A copy: a view may go while it is told.
    const auto views = m_views;
    for (const auto& view : views) view.second(m_state);
}
