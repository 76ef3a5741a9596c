// A fetch as the calling thread sees it: one at a time in the process, a worker thread per fetch,
// and the wait for it, which shows the worker's progress, answers its password question and ends
// the transfer at its time limits or when the program quits.
#include "platform/net/CHttpFetcher.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/net/FetchJob.h"
#include "platform/net/FetchWait.h"
#include "platform/net/HttpTransport.h"
#include "platform/system/LargeBlock.h"

namespace {

// One fetch at a time in the whole process.
std::mutex g_fetchMutex;
// Set while this thread waits inside Fetch.
thread_local bool t_bInFetch = false;

// How long a wait that has given up on a transfer still waits for the worker to notice.
constexpr std::chrono::milliseconds kAbortGrace{2000};

const char kDownloadingText[] = "Downloading update ..";
const char kNoConnectionText[] = "Cannot open internet connection.";

// What every fetcher of the process shares; made on first use, since tests set it from their own
// static initialisers.
struct Shared {
    std::mutex mutex;
    std::string strCaFile;
    CredentialsSource credentials;
    FetchMessageSink message;
};
Shared& TheShared() {
    static Shared shared;
    return shared;
}

template <typename T>
T Swap(T& slot, T value) {
    std::lock_guard lock(TheShared().mutex);
    return std::exchange(slot, std::move(value));
}

template <typename T>
T Copy(const T& slot) {
    std::lock_guard lock(TheShared().mutex);
    return slot;
}

void ShowMessage(const std::string& text) {
    const FetchMessageSink sink = Copy(TheShared().message);
    if (sink) {
        sink(text);
    } else {
        CFetchWait::ShowBySystem(text);
    }
}

std::optional<FetchClock::time_point> Earliest(std::optional<FetchClock::time_point> a,
                                               std::optional<FetchClock::time_point> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

// Waits for the job's worker while this thread handles its events. False when the worker was
// left behind: it did not end within the grace after its transfer was given up (a connection
// attempt that the network library does not let go of).
bool WaitForJob(CFetchJob& job, const ProgressSink& progress) {
    CFetchWait wait;
    job.SetWaker([&wait] { wait.Wake(); });
    std::optional<FetchClock::time_point> graceEnd;
    std::optional<FetchClock::time_point> progressAt;
    bool bEnded = true;
    while (!job.Done()) {
        const FetchClock::time_point now = FetchClock::now();
        std::optional<FetchClock::time_point> until = graceEnd;
        if (graceEnd && now >= *graceEnd) {
            bEnded = false;
            break;
        }
        if (!graceEnd) until = job.Deadline();
        if (!graceEnd && until && now >= *until) {
            job.Abort(EFetchError::Timeout);
            graceEnd = now + kAbortGrace;
            continue;
        }
        if (wait.Wait(Earliest(until, progressAt)) == CFetchWait::EWoke::Quit) {
            // The program is quitting: this thread handles no more events.
            if (!graceEnd) job.Abort(EFetchError::Aborted);
            bEnded = job.WaitDone(graceEnd.value_or(FetchClock::now() + kAbortGrace));
            break;
        }
        job.ServeQuestion();
        progressAt = job.ServeProgress(FetchClock::now(), progress);
    }
    job.SetWaker(nullptr);
    return bEnded;
}

}  // namespace

void CHttpFetcher::SetDefaultCaFile(std::string path) {
    Swap(TheShared().strCaFile, std::move(path));
}

CredentialsSource CHttpFetcher::SetCredentialsSource(CredentialsSource source) {
    return Swap(TheShared().credentials, std::move(source));
}

FetchMessageSink CHttpFetcher::SetMessageSink(FetchMessageSink sink) {
    return Swap(TheShared().message, std::move(sink));
}

CHttpFetcher::CHttpFetcher() : m_strCaFile(Copy(TheShared().strCaFile)) {
    // The body's lines may fill a large list: its blocks come from the system, for huge pages.
    SetLargeBlockSource(SystemLargeBlocks());
}

CHttpFetcher::~CHttpFetcher() = default;

void CHttpFetcher::SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall) {
    m_connectTimeout = connect;
    m_stallTimeout = stall;
}

bool CHttpFetcher::LastFetchSucceeded() const {
    return m_lastError == EFetchError::None && m_lastStatus >= 200 && m_lastStatus < 300;
}

std::string CHttpFetcher::LastFailureReason() const {
    return FetchFailureReason(m_lastError, m_lastStatus);
}

const CStringList& CHttpFetcher::Refuse(EFetchError error, bool bFileMode) {
    m_lastError = error;
    m_lastStatus = 0;
    if (!bFileMode) m_lines.clear();
    return m_lines;
}

const CStringList& CHttpFetcher::Fetch(std::string strUrl, std::string strFile,
                                       ProgressSink progress) {
    const bool bFileMode = !strFile.empty();
    // A Fetch started on a thread that already waits inside one (from its event loop, say by a
    // button of the dialog that started the first) is refused at once with an empty result: the
    // global mutex cannot wait here without deadlocking this thread, and the two would share
    // this thread's wait.
    if (t_bInFetch) return Refuse(EFetchError::Busy, bFileMode);
    t_bInFetch = true;
    struct InFetchReset {
        ~InFetchReset() { t_bInFetch = false; }
    } inFetchReset;
    std::lock_guard fetchLock(g_fetchMutex);

    std::unique_ptr<CHttpTransport> transport =
        CHttpTransport::Make({m_connectTimeout, m_stallTimeout, m_strCaFile});
    if (!transport) {
        ShowMessage(kNoConnectionText);
        return Refuse(EFetchError::NoConnection, bFileMode);
    }
    if (bFileMode && progress) progress(kDownloadingText);
    // Shared with the worker: a worker that the wait leaves behind keeps the job until it ends.
    const auto job = std::make_shared<CFetchJob>(
        FetchOrder{std::move(strUrl), std::move(strFile), m_connectTimeout, m_stallTimeout,
                   m_textLimit, Copy(TheShared().credentials), bFileMode && progress},
        std::move(transport));
    std::thread worker;
    try {
        worker = std::thread([job] { job->Run(); });
    } catch (const std::system_error&) {
        return Refuse(EFetchError::NoConnection, bFileMode);
    }
    const bool bEnded = WaitForJob(*job, progress);
    if (bEnded) {
        worker.join();
        job->FlushProgress(progress);
    } else {
        worker.detach();
    }
    m_lastError = job->Error();
    m_lastStatus = bEnded ? job->Status() : 0;
    if (!bFileMode) m_lines = bEnded ? job->TakeLines() : CStringList();
    return m_lines;
}
