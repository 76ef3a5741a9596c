// The main window without a toolkit: what it shows (the status, the hint, the toggle's caption,
// the notes below the status), what a press does (one pass over the hosts file with the live
// apply around it, the failure told, the offer to close the browsers), the check of the listed
// names' answers, the watch for browsers that must restart, the timed Show that hides the ads
// again by itself and what a change of the hosts file by another program means. Each system's
// window and tray only draw the state and forward their presses, timer ticks and the folder
// watch's changes; what differs comes in through MainSeams (given once) and PressPrompts (the
// modal parts, from the view that pressed).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/protection/ProtectionNotes.h"
#include "platform/browsers/BrowserOffer.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/protection/ProtectionCheck.h"

using WallClock = std::chrono::system_clock;

// What every view of the main window shows.
struct MainState {
    bool hidden = false;             // ads are hidden: green, else red (the icon follows too)
    std::string status;              // the status line
    std::string hint;                // the line below the status
    std::string toggle;              // the toggle's caption: what a press asks for
    std::vector<std::string> notes;  // below the status, one sentence each
    bool busy = false;  // a press's browsers are closing: no toggle and no settings meanwhile
    std::optional<WallClock::time_point> hideAt;  // during a timed Show: when ads hide again

    bool operator==(const MainState&) const = default;
};

// One pass over the hosts file: a press's intent carried out, or (no intent) a read.
struct HostsPass {
    bool hidden = false;      // whether ads are hidden, as the file holds afterwards
    bool changed = false;     // the pass changed that
    std::string failure;      // why a change failed, in a sentence for the user
    bool systemFile = false;  // the file is the one the system's resolver reads
    std::string text;         // the file afterwards, when hidden and systemFile (for the lookups)
};

// After a press: what keeps the running browsers on their old answers.
struct LiveApplyResult {
    LiveApplyBlock notLive = LiveApplyBlock::None;  // None: the browsers need nothing more
    bool cacheNotFlushed = false;  // the resolver's cache may answer from before the change
};

// Work for the shell's executor: it runs off the user-interface thread and returns what then
// runs on that thread.
using OffThreadJob = std::function<std::function<void()>()>;

// The modal parts of a press, owned by the window of the view that pressed.
struct PressPrompts {
    // A warning with an OK button.
    std::function<void(const std::string& text)> tell;
    // Offers to close the running browsers and, on Yes, waits for them to end; `waiting` hears
    // what is awaited before the wait and "" after it.
    std::function<BrowserOfferOutcome(const std::function<void(const std::string&)>& waiting)>
        offerToClose;
};

// Something said to the user outside of a press: the tray's notification, or the window's.
struct Notice {
    std::string text;
    bool offerHide = false;  // with the action "Hide again"

    bool operator==(const Notice&) const = default;
};

// What the model asks of the system and of the shell that made it.
struct MainSeams {
    std::function<HostsPass(std::optional<HostsIntent>)> passHostsFile;
    // Around a press's pass: moving the running browsers onto the new answers, where the system
    // can, and flushing the resolver's cache.
    std::function<void()> prepareLiveApply;
    std::function<LiveApplyResult(bool changed, bool systemFile)> finishLiveApply;
    // The resolver's answers for the block's names in `hostsText`; may take seconds.
    std::function<LookupCheck(const std::string& hostsText)> checkLookups;
    // The shell's executor: never on the user-interface thread, and never the model's thread.
    std::function<void(OffThreadJob job)> runOffThread;
    std::function<std::vector<std::string>()> firefoxDohProfiles;
    std::function<std::vector<int>()> firefoxProcesses;  // Firefox's main processes now
    std::function<bool(int pid)> processRunning;
    // The shell's timer of about a second, which calls Tick: on or off.
    std::function<void(bool on)> wantTicks;
    // The wall clock, and how long a minute of a timed Show lasts (a test makes it short).
    std::function<WallClock::time_point()> now;
    std::chrono::milliseconds minute = std::chrono::minutes(1);
    // The user's lasting values (the preferences store); "" for a value not set.
    std::function<std::string(const std::string& name)> readValue;
    std::function<void(const std::string& name, const std::string& value)> writeValue;
    // Optional: the notices, and the modal parts of a change that no press asked for (the end of
    // a timed Show). Without them nothing is said.
    std::function<void(const Notice&)> notify;
    PressPrompts quietPrompts;
};

// The question before the last window or tray ends during a timed Show (Yes hides).
inline constexpr const char* kHideAgainNowQuestion = "Hide ads again now?";
// The action a notice with offerHide carries.
inline constexpr const char* kHideAgainAction = "Hide again";
// The timed Shows the tray's menu and the window's menu offer.
struct TimedShowChoice {
    int minutes;
    const char* text;
};
inline constexpr TimedShowChoice kTimedShowChoices[] = {
    {10, "Show ads for 10 minutes"}, {30, "Show ads for 30 minutes"}, {60, "Show ads for 1 hour"}};

class MainModel {
public:
    using View = std::function<void(const MainState&)>;

    explicit MainModel(MainSeams seams);
    ~MainModel();
    MainModel(const MainModel&) = delete;
    MainModel& operator=(const MainModel&) = delete;

    // Every view hears every change of the state, in the order they were added.
    int AddView(View view);
    void RemoveView(int id);
    const MainState& State() const { return m_state; }

    // Reads the hosts file and shows what it holds.
    void Refresh();
    // At the program's start: shows what the file holds and takes up a timed Show that another
    // run stored; one whose time has passed (the program ended, crashed, the PC restarted)
    // hides the ads at once and says so.
    void Start();
    // Makes the file hide or show ads, whatever it held: a press from any view. It ends a timed
    // Show. The state then shows what the file holds; a failure the user can act on is told, and
    // the browsers are offered to be closed unless they were moved onto the new answers. Nothing
    // happens while an earlier press's browsers are closing.
    void Apply(HostsIntent intent, const PressPrompts& prompts);
    // The toggle: asks for what its caption says, Hide while ads are shown and Show while hidden.
    void Toggle(const PressPrompts& prompts);
    // Shows ads for `minutes` (of the seams' length) and then hides them again by itself.
    void ShowFor(int minutes, const PressPrompts& prompts);
    // The shell's timer, while the model wants ticks: drops the browsers that have ended, counts
    // down a timed Show and ends it.
    void Tick();
    // The hosts file's folder changed: shows what the file holds now and, when something other
    // than Vantrel showed the ads, says so with the offer to hide them again.
    void FileChanged();
    // Whether the last window or tray must ask kHideAgainNowQuestion before it ends.
    bool TimedShowRunning() const { return m_deadline.has_value(); }

private:
    HostsPass Change(HostsIntent intent, const PressPrompts& prompts);
    void HideAfterTimedShow(const char* notice);
    void LoadDeadline();
    void StoreDeadline(std::optional<WallClock::time_point> deadline);
    void Notify(const Notice& notice);
    void ShowStatus(const HostsPass& pass);
    void StartLookupCheck(const std::string& hostsText);
    void OfferToCloseBrowsers(const PressPrompts& prompts);
    void UpdateTicks();
    std::vector<std::string> NotesNow() const;
    // Recomputes the notes and tells every view.
    void Publish();

    MainSeams m_seams;
    MainState m_state;
    std::vector<std::pair<int, View>> m_views;
    int m_lastView = 0;
    ProtectionFacts m_facts;  // what the last status found, without the browsers to restart
    LiveApplyResult m_live;   // the last press's
    std::string m_waiting;    // what the browser offer waits for, while it does
    std::vector<RunningBrowser> m_restart;
    std::vector<int> m_firefoxPids;  // Firefox processes that started before the change
    bool m_ticking = false;
    std::optional<WallClock::time_point> m_deadline;  // a timed Show's, as stored
    bool m_warned = false;  // the timed Show's last minute has been announced
    unsigned m_check = 0;   // the lookups whose answer counts: earlier ones are stale
    // Goes with the results of work off the thread: they are dropped once the model is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
