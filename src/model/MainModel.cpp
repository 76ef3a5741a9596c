// The main window's state and decisions, the same on every system.
#include "model/MainModel.h"

#include <algorithm>
#include <charconv>

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

// Lasting values: when a timed Show ends (seconds since 1970, UTC), and what Vantrel last made
// the hosts file do ("hidden" or "shown", written before each change and after it), by which
// every copy of Vantrel tells its own changes from another program's.
const std::string kDeadlineValue = "TimedShowUntil";
const std::string kLeftValue = "HostsLeftBy";
const char* LeftText(bool hidden) {
    return hidden ? "hidden" : "shown";
}

const char* const kLastMinute = "Ads will be hidden again in one minute.";
const char* const kHiddenAgain = "The time to show ads is over: ads are hidden again.";
const char* const kHiddenAtStart =
    "The time to show ads ran out while Vantrel was not running: ads are hidden again.";
const char* const kSomethingElse =
    "Something else removed Vantrel's block from the hosts file: ads are shown again.";

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

void MainModel::Start() {
    LoadDeadline();
    const HostsPass pass = m_seams.passHostsFile(std::nullopt);
    if (m_seams.readValue(kLeftValue).empty())
        m_seams.writeValue(kLeftValue, LeftText(pass.hidden));
    // Ads hidden meanwhile end the timed Show.
    if (m_deadline && pass.hidden) StoreDeadline(std::nullopt);
    ShowStatus(pass);
    if (m_deadline && *m_deadline <= m_seams.now()) HideAfterTimedShow(kHiddenAtStart);
}

void MainModel::Toggle(const PressPrompts& prompts) {
    Apply(m_state.hidden ? HostsIntent::Show : HostsIntent::Hide, prompts);
}

void MainModel::Apply(HostsIntent intent, const PressPrompts& prompts) {
    if (m_state.busy) return;
    StoreDeadline(std::nullopt);
    Change(intent, prompts);
}

void MainModel::ShowFor(int minutes, const PressPrompts& prompts) {
    if (m_state.busy) return;
    StoreDeadline(std::nullopt);
    const HostsPass pass = Change(HostsIntent::Show, prompts);
    // A Show that failed leaves nothing to hide again.
    if (pass.hidden) return;
    StoreDeadline(m_seams.now() + minutes * m_seams.minute);
    UpdateTicks();
    Publish();
}

HostsPass MainModel::Change(HostsIntent intent, const PressPrompts& prompts) {
    // Said before the file changes, so that another copy's watch never takes the change for
    // another program's; and again afterwards with what the file holds.
    m_seams.writeValue(kLeftValue, LeftText(intent == HostsIntent::Hide));
    // Running browsers are moved onto the new answers in the same privileged step as the write.
    m_seams.prepareLiveApply();
    // One locked pass changes the file and says what it holds afterwards, so the status shows
    // what really happened.
    const HostsPass pass = m_seams.passHostsFile(intent);
    m_seams.writeValue(kLeftValue, LeftText(pass.hidden));
    m_live = m_seams.finishLiveApply(pass.changed, pass.systemFile);
    m_restart.clear();
    ShowStatus(pass);
    if (!pass.failure.empty() && prompts.tell) prompts.tell(pass.failure);
    // Browsers that were moved need not close: their old connections are gone.
    if (m_live.notLive != LiveApplyBlock::None && prompts.offerToClose) {
        OfferToCloseBrowsers(prompts);
    }
    return pass;
}

void MainModel::HideAfterTimedShow(const char* notice) {
    if (m_state.busy) return;  // the press's browsers are closing: the next tick
    const HostsPass pass = Change(HostsIntent::Hide, m_seams.quietPrompts);
    if (pass.hidden) {
        StoreDeadline(std::nullopt);
        // Another copy of Vantrel may have hidden them already: nothing to say then.
        if (pass.changed) Notify({notice, false});
    } else {
        // The file could not be changed (the failure was told): again in a minute, and a crash
        // meanwhile still leaves a passed deadline for the next start.
        StoreDeadline(m_seams.now() + m_seams.minute);
        m_warned = true;
    }
    UpdateTicks();
    Publish();
}

void MainModel::FileChanged() {
    const HostsPass pass = m_seams.passHostsFile(std::nullopt);
    // Another copy of Vantrel may have started or ended a timed Show.
    LoadDeadline();
    const bool byVantrel = m_seams.readValue(kLeftValue) == LeftText(pass.hidden);
    if (!byVantrel) m_seams.writeValue(kLeftValue, LeftText(pass.hidden));
    // Ads hidden by whomever end a timed Show.
    if (m_deadline && pass.hidden) StoreDeadline(std::nullopt);
    if (pass.hidden == m_state.hidden) {
        UpdateTicks();
        Publish();
        return;
    }
    // What the last press left for the browsers no longer applies.
    m_live = {};
    m_restart.clear();
    ShowStatus(pass);
    if (!pass.hidden && !byVantrel) Notify({kSomethingElse, true});
}

void MainModel::LoadDeadline() {
    const std::string text = m_seams.readValue(kDeadlineValue);
    const std::optional<WallClock::time_point> before = m_deadline;
    m_deadline.reset();
    if (text.empty()) return;
    long long seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    const WallClock::time_point now = m_seams.now();
    if (error != std::errc() || end != text.data() + text.size()) {
        // Not a deadline Vantrel wrote: the safe reading is that it has passed.
        m_deadline = now;
    } else {
        m_deadline = WallClock::time_point(std::chrono::seconds(seconds));
        // A clock set back meanwhile never makes a Show last longer than the longest choice.
        const WallClock::time_point latest = now + 60 * m_seams.minute;
        if (*m_deadline > latest) m_deadline = latest;
    }
    if (m_deadline != before) m_warned = false;
}

void MainModel::StoreDeadline(std::optional<WallClock::time_point> deadline) {
    // In whole seconds, rounded up as stored: the Show never ends before its time, and this copy
    // counts down what another copy reads back.
    if (deadline) deadline = std::chrono::ceil<std::chrono::seconds>(*deadline);
    if (deadline == m_deadline && deadline) return;
    m_deadline = deadline;
    m_warned = false;
    std::string text;
    if (deadline) {
        text = std::to_string(
            std::chrono::duration_cast<std::chrono::seconds>(deadline->time_since_epoch()).count());
    }
    m_seams.writeValue(kDeadlineValue, text);
}

void MainModel::Notify(const Notice& notice) {
    if (m_seams.notify) m_seams.notify(notice);
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
    UpdateTicks();
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
    UpdateTicks();
    Publish();
}

void MainModel::Tick() {
    // A browser restarted since the change has read the new hosts file.
    std::erase_if(m_restart, [this](const RunningBrowser& browser) {
        return browser.pid && !m_seams.processRunning(*browser.pid);
    });
    std::erase_if(m_firefoxPids, [this](int pid) { return !m_seams.processRunning(pid); });
    if (m_deadline) {
        const auto left = *m_deadline - m_seams.now();
        if (left <= WallClock::duration::zero()) return HideAfterTimedShow(kHiddenAgain);
        if (left <= m_seams.minute && !m_warned) {
            m_warned = true;
            Notify({kLastMinute, false});
        }
    }
    UpdateTicks();
    if (NotesNow() != m_state.notes) Publish();
}

void MainModel::UpdateTicks() {
    const bool on = !m_restart.empty() || !m_firefoxPids.empty() || m_deadline.has_value();
    if (on == m_ticking) return;
    m_ticking = on;
    m_seams.wantTicks(on);
}

std::vector<std::string> MainModel::NotesNow() const {
    if (!m_waiting.empty()) return {m_waiting};
    if (!m_state.hidden) {
        if (!m_deadline) return {};
        // Whole minutes, rounded up, less the second the deadline was rounded by: "in 10
        // minutes" right after "Show ads for 10 minutes".
        const auto left = *m_deadline - m_seams.now() - std::chrono::seconds(1);
        const long long minutes =
            left <= WallClock::duration::zero()
                ? 0
                : (left + m_seams.minute - WallClock::duration(1)) / m_seams.minute;
        if (minutes <= 1) return {"Ads will be hidden again in less than a minute."};
        return {"Ads will be hidden again in " + std::to_string(minutes) + " minutes."};
    }
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
    m_state.hideAt = m_state.hidden ? std::nullopt : m_deadline;
    // A copy: a view may go while it is told.
    const auto views = m_views;
    for (const auto& view : views) view.second(m_state);
}
