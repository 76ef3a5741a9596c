// The main window without a toolkit: what it shows (the status, the hint, the toggle's caption,
// the notes below the status), what a press does (one pass over the hosts file with the live
// apply around it, the failure told, the offer to close the browsers), the check of the listed
// names' answers and the watch for browsers that must restart. Each system's window only draws
// the state and forwards its presses and timer ticks; what differs comes in through MainSeams
// (given once) and PressPrompts (the modal parts, from the view that pressed).
#pragma once

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

// What every view of the main window shows.
struct MainState {
    bool hidden = false;             // ads are hidden: green, else red (the icon follows too)
    std::string status;              // the status line
    std::string hint;                // the line below the status
    std::string toggle;              // the toggle's caption: what a press asks for
    std::vector<std::string> notes;  // below the status, one sentence each
    bool busy = false;  // a press's browsers are closing: no toggle and no settings meanwhile

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
};

// The modal parts of a press, owned by the window of the view that pressed.
struct PressPrompts {
    // A warning with an OK button.
    std::function<void(const std::string& text)> tell;
    // Offers to close the running browsers and, on Yes, waits for them to end; `waiting` hears
    // what is awaited before the wait and "" after it.
    std::function<BrowserOfferOutcome(const std::function<void(const std::string&)>& waiting)>
        offerToClose;
};

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
    // Makes the file hide or show ads, whatever it held: a press from any view, or a timer. The
    // state then shows what the file holds; a failure the user can act on is told, and the
    // browsers are offered to be closed unless they were moved onto the new answers. Nothing
    // happens while an earlier press's browsers are closing.
    void Apply(HostsIntent intent, const PressPrompts& prompts);
    // The toggle: asks for what its caption says, Hide while ads are shown and Show while hidden.
    void Toggle(const PressPrompts& prompts);
    // The shell's timer, while the model wants ticks: drops the browsers that have ended.
    void Tick();

private:
    void ShowStatus(const HostsPass& pass);
    void StartLookupCheck(const std::string& hostsText);
    void OfferToCloseBrowsers(const PressPrompts& prompts);
    void WantTicks(bool on);
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
    unsigned m_check = 0;  // the lookups whose answer counts: earlier ones are stale
    // Goes with the results of work off the thread: they are dropped once the model is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
