// The main window's model against fakes of the hosts file, the live apply, the executor, the
// browsers, the timer, the clock and the preferences store: what a press does and shows, and what
// follows; the timed Show and the watch's changes. Run by both builds.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "model/MainModel.h"

namespace {

const std::string kHidden = "Google Adsense advertisements are hidden on this PC.";
const std::string kShown = "Google Adsense advertisements are not hidden on this PC.";
const std::string kRestartFirefox = "Restart Mozilla Firefox: until then it can still show ads.";
const std::string kSomethingElse =
    "Something else removed Vantrel's block from the hosts file: ads are shown again.";
using std::chrono::minutes;
using std::chrono::seconds;

class MainModelTest : public ::testing::Test {
protected:
    MainModelTest() {
        MainSeams seams;
        seams.passHostsFile = [this](std::optional<HostsIntent> intent) {
            HostsPass pass;
            if (intent && m_failure.empty()) {
                const bool hide = *intent == HostsIntent::Hide;
                pass.changed = m_fileHidden != hide;
                m_fileHidden = hide;
            }
            if (intent) pass.failure = m_failure;
            pass.hidden = m_fileHidden;
            pass.systemFile = m_systemFile;
            if (pass.hidden && pass.systemFile) pass.text = "pass " + std::to_string(++m_passes);
            return pass;
        };
        seams.prepareLiveApply = [] {};
        seams.finishLiveApply = [this](bool, bool) { return m_live; };
        // The names "not answered locally" tell which pass a lookup belongs to.
        seams.checkLookups = [](const std::string& text) { return LookupCheck{{text}, {}}; };
        seams.runOffThread = [this](OffThreadJob job) { m_jobs.push_back(std::move(job)); };
        seams.firefoxDohProfiles = [this] { return m_doh; };
        seams.firefoxProcesses = [this] { return m_firefox; };
        seams.processRunning = [this](int pid) { return m_running.count(pid) > 0; };
        seams.wantTicks = [this](bool on) { m_ticking = on; };
        seams.now = [this] { return m_now; };
        seams.readValue = [this](const std::string& name) { return m_values[name]; };
        seams.writeValue = [this](const std::string& name, const std::string& value) {
            m_values[name] = value;
        };
        seams.notify = [this](const Notice& notice) { m_notices.push_back(notice); };
        seams.quietPrompts.tell = [this](const std::string& text) { m_told.push_back(text); };
        m_seams = seams;
        m_model = std::make_unique<MainModel>(std::move(seams));
        m_model->AddView([this](const MainState& state) { m_seen.push_back(state); });

        m_prompts.tell = [this](const std::string& text) { m_told.push_back(text); };
        m_prompts.offerToClose = [this](const std::function<void(const std::string&)>& waiting) {
            ++m_offers;
            if (m_offer.closeAccepted) {
                waiting("Waiting for Mozilla Firefox to close...");
                m_seenWhileWaiting = m_model->State();
                if (m_offers == 1) m_model->Toggle(m_prompts);  // a second press: not now
                waiting("");
            }
            return m_offer;
        };
    }

    // Runs a job of the executor as its thread would, then its result as the UI thread would.
    void FinishJob(std::size_t index) { m_jobs.at(index)()(); }
    std::vector<std::string> Notes() const { return m_model->State().notes; }
    std::vector<std::string> Notices() {
        std::vector<std::string> texts;
        for (const Notice& notice : m_notices) texts.push_back(notice.text);
        m_notices.clear();
        return texts;
    }
    void StoreDeadlineIn(WallClock::duration fromNow) {
        const auto at = (m_now + fromNow).time_since_epoch();
        m_values["TimedShowUntil"] =
            std::to_string(std::chrono::duration_cast<seconds>(at).count());
    }

    MainSeams m_seams;  // for a second copy of Vantrel over the same file and store
    std::unique_ptr<MainModel> m_model;
    PressPrompts m_prompts;
    bool m_fileHidden = false, m_systemFile = false, m_ticking = false;
    std::string m_failure;
    int m_passes = 0, m_offers = 0;
    LiveApplyResult m_live;
    std::vector<OffThreadJob> m_jobs;
    std::vector<std::string> m_doh, m_told;
    std::vector<int> m_firefox;
    std::set<int> m_running;
    BrowserOfferOutcome m_offer;
    MainState m_seenWhileWaiting;
    std::vector<MainState> m_seen;
    WallClock::time_point m_now = WallClock::time_point(seconds(1'800'000'000));
    std::map<std::string, std::string> m_values;
    std::vector<Notice> m_notices;
};

TEST_F(MainModelTest, APressAsksForWhatTheCaptionSaidAndEveryViewShowsWhatTheFileHolds) {
    std::vector<MainState> second;
    const int id = m_model->AddView([&second](const MainState& state) { second.push_back(state); });
    m_model->Refresh();
    const MainState shown = m_model->State();
    EXPECT_FALSE(shown.hidden);
    EXPECT_EQ(shown.status, kShown);
    EXPECT_EQ(shown.hint, "To hide ads, click the Hide Adsense button.");
    EXPECT_EQ(shown.toggle, "Hide Adsense");

    m_model->Toggle(m_prompts);
    EXPECT_TRUE(m_fileHidden);
    EXPECT_EQ(m_model->State().status, kHidden);
    EXPECT_EQ(m_model->State().hint, "To restore ads, click the Show Adsense button.");
    EXPECT_EQ(m_model->State().toggle, "Show Adsense");
    EXPECT_TRUE(Notes().empty());

    // Another program showed the ads meanwhile: the caption still says Show, and Show it is.
    m_fileHidden = false;
    m_model->Toggle(m_prompts);
    EXPECT_FALSE(m_fileHidden);
    EXPECT_EQ(m_model->State(), shown);
    EXPECT_EQ(m_offers, 0);  // the browsers were moved: nothing to ask

    // A failure is told once; the status shows what the file holds.
    m_failure = "The settings file lists no AdSense domain.";
    m_model->Toggle(m_prompts);
    EXPECT_EQ(m_told, std::vector<std::string>{m_failure});
    EXPECT_EQ(m_model->State(), shown);

    EXPECT_EQ(second, m_seen);
    m_model->RemoveView(id);
    m_model->Refresh();
    EXPECT_EQ(second.size() + 1, m_seen.size());
}

TEST_F(MainModelTest, OnlyTheLatestLookupCheckCountsAndOnlyWhileTheModelLives) {
    m_systemFile = true;
    m_fileHidden = true;
    m_model->Refresh();
    EXPECT_EQ(Notes(),
              std::vector<std::string>{"Checking that the listed names are answered locally..."});
    m_model->Refresh();

    FinishJob(1);
    EXPECT_EQ(Notes(), std::vector<std::string>{"pass 2 is not answered locally (IPv4)."});
    const std::size_t shown = m_seen.size();
    FinishJob(0);  // the first check's answer comes late: dropped
    EXPECT_EQ(m_seen.size(), shown);

    m_model->Toggle(m_prompts);
    EXPECT_EQ(m_jobs.size(), 2u);  // no check while ads are shown

    m_fileHidden = true;
    m_model->Refresh();
    m_model.reset();
    FinishJob(2);  // the window is gone: nothing is touched
}

TEST_F(MainModelTest, TheOfferComesOnlyWhenTheBrowsersWereNotMovedAndTheWatchFollowsThem) {
    m_model->Refresh();
    m_live = {LiveApplyBlock::NoPrivilegedStep, false};
    m_offer.found = {Browser::Firefox};
    m_offer.closeAccepted = true;
    m_offer.mustRestart = {{Browser::Firefox, 41}};
    m_running = {41};
    m_model->Toggle(m_prompts);
    EXPECT_EQ(m_offers, 1);
    // While the browsers close: the wait in the notes, no second press.
    EXPECT_TRUE(m_seenWhileWaiting.busy);
    EXPECT_EQ(m_seenWhileWaiting.notes,
              std::vector<std::string>{"Waiting for Mozilla Firefox to close..."});
    EXPECT_FALSE(m_model->State().busy);
    EXPECT_EQ(Notes(), (std::vector<std::string>{
                           kRestartFirefox,
                           "Open browsers were not updated: that needs administrator rights."}));
    EXPECT_TRUE(m_ticking);

    // The restart watch: the notes follow the browser's end, and the ticks stop.
    m_model->Tick();
    EXPECT_EQ(Notes().size(), 2u);
    m_running.clear();
    m_model->Tick();
    EXPECT_TRUE(Notes().empty());
    EXPECT_FALSE(m_ticking);

    // Show: asked again, but nothing to restart for shown ads; a Windows cache note goes too.
    m_live = {LiveApplyBlock::NotOnThisSystem, true};
    m_offer.closeAccepted = false;
    m_running = {41};
    m_model->Toggle(m_prompts);
    EXPECT_EQ(m_offers, 2);
    EXPECT_TRUE(Notes().empty());
    EXPECT_FALSE(m_ticking);
    m_model->Toggle(m_prompts);
    EXPECT_EQ(Notes(), (std::vector<std::string>{
                           kRestartFirefox,
                           "Windows' DNS cache could not be flushed: names looked up before the "
                           "change may load ads until their cached answers expire."}));

    // Firefox with DNS over HTTPS is named while one from before the change runs.
    m_live = {};
    m_doh = {"default-esr"};
    m_firefox = {7};
    m_running = {7};
    m_model->Apply(HostsIntent::Hide, m_prompts);
    EXPECT_EQ(Notes(), std::vector<std::string>{"Firefox (profile default-esr) uses DNS over "
                                                "HTTPS: it sees the change only after a restart."});
    EXPECT_TRUE(m_ticking);
    m_running.clear();
    m_model->Tick();
    EXPECT_TRUE(Notes().empty());
    EXPECT_FALSE(m_ticking);
}

TEST_F(MainModelTest, ATimedShowCountsDownWarnsOnceAndHidesAgainByItselfUnlessAPressEndsIt) {
    m_fileHidden = true;
    m_model->Start();
    m_model->ShowFor(10, m_prompts);
    EXPECT_FALSE(m_fileHidden);
    EXPECT_EQ(m_values["TimedShowUntil"], "1800000600");
    EXPECT_EQ(m_model->State().hideAt, m_now + minutes(10));
    EXPECT_EQ(Notes(), std::vector<std::string>{"Ads will be hidden again in 10 minutes."});
    EXPECT_TRUE(m_ticking);

    m_now += minutes(9) + seconds(1);
    m_model->Tick();
    m_model->Tick();
    EXPECT_EQ(Notices(), std::vector<std::string>{"Ads will be hidden again in one minute."});
    EXPECT_EQ(Notes(), std::vector<std::string>{"Ads will be hidden again in less than a minute."});

    // The file is busy at the deadline: told, and tried again a minute later.
    m_failure = "Another program holds the hosts file.";
    m_now += minutes(1);
    m_model->Tick();
    EXPECT_EQ(m_told, std::vector<std::string>{m_failure});
    EXPECT_FALSE(m_fileHidden);
    EXPECT_TRUE(m_model->TimedShowRunning());
    m_failure.clear();
    m_now += minutes(1);
    m_model->Tick();
    EXPECT_TRUE(m_fileHidden);
    EXPECT_EQ(Notices(),
              std::vector<std::string>{"The time to show ads is over: ads are hidden again."});
    EXPECT_FALSE(m_model->TimedShowRunning());
    EXPECT_EQ(m_values["TimedShowUntil"], "");
    EXPECT_FALSE(m_model->State().hideAt);
    EXPECT_FALSE(m_ticking);

    // A plain Show ends the timer: nothing hides the ads later.
    m_model->ShowFor(60, m_prompts);
    m_model->Apply(HostsIntent::Show, m_prompts);
    EXPECT_FALSE(m_model->TimedShowRunning());
    m_now += minutes(61);
    m_model->Tick();
    EXPECT_FALSE(m_fileHidden);
    EXPECT_TRUE(Notices().empty());
}

TEST_F(MainModelTest, AStartAfterAPassedOrUnreadableDeadlineHidesAtOnceAndSaysSo) {
    const std::string atStart =
        "The time to show ads ran out while Vantrel was not running: ads are hidden again.";
    for (const std::string stored : {"1799999999", "soon"}) {
        m_fileHidden = false;
        m_values["TimedShowUntil"] = stored;
        MainModel model(m_seams);
        model.Start();
        EXPECT_TRUE(m_fileHidden) << stored;
        EXPECT_EQ(Notices(), std::vector<std::string>{atStart}) << stored;
        EXPECT_EQ(m_values["TimedShowUntil"], "");
    }
    // A deadline to come is taken up; one beyond the longest choice (a clock set back) is cut.
    m_fileHidden = false;
    StoreDeadlineIn(minutes(600));
    m_model->Start();
    EXPECT_FALSE(m_fileHidden);
    EXPECT_TRUE(Notices().empty());
    EXPECT_EQ(Notes(), std::vector<std::string>{"Ads will be hidden again in 60 minutes."});
}

TEST_F(MainModelTest, OnlyAChangeThatNoVantrelMadeIsReportedWithTheOfferToHideAgain) {
    m_fileHidden = true;
    m_model->Start();
    m_model->FileChanged();  // nothing changed: nothing said
    m_fileHidden = false;    // another program rewrote the file without the block
    m_model->FileChanged();
    EXPECT_FALSE(m_model->State().hidden);
    ASSERT_EQ(m_notices.size(), 1u);
    EXPECT_EQ(m_notices[0], (Notice{kSomethingElse, true}));
    m_notices.clear();

    // Vantrel's own changes, and another copy's (which it records before it writes), are not.
    m_model->Apply(HostsIntent::Hide, m_prompts);
    m_model->FileChanged();
    MainModel other(m_seams);
    other.ShowFor(30, m_prompts);
    m_model->FileChanged();
    EXPECT_FALSE(m_model->State().hidden);
    EXPECT_TRUE(m_model->TimedShowRunning());  // the other copy's timed Show is taken up
    EXPECT_TRUE(m_notices.empty());

    // Ads hidden by whomever end the timed Show.
    m_fileHidden = true;
    m_model->FileChanged();
    EXPECT_FALSE(m_model->TimedShowRunning());
    EXPECT_EQ(m_values["TimedShowUntil"], "");
}

}  // namespace
