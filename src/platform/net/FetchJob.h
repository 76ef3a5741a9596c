// One fetch: what the worker makes of the transport's answers (the redirect, password, body and
// time-limit rules, the same on every system), and what it shares with the calling thread, which
// watches the limits, shows the progress and answers the password question while it waits.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/CStringList.h"
#include "core/net/FetchBody.h"
#include "core/net/FetchError.h"
#include "core/net/HttpHead.h"
#include "platform/net/CHttpFetcher.h"
#include "platform/net/HttpTransport.h"

// Where a redirect from `from` to `location` leads: None with the target, RedirectFailed when
// there is no usable target, RedirectRefused when it is not followed.
EFetchError ResolveRedirect(const std::string& location, const FetchUrl& from, FetchUrl* target);

using FetchClock = std::chrono::steady_clock;

// Hands a download's byte count to the calling thread: the worker only stores it, and wakes the
// calling thread when it is not already looking; the calling thread shows the newest count at
// most once every interval, and the last one at the end.
class CProgressRelay {
public:
    static constexpr std::chrono::milliseconds kInterval{50};

    // Worker thread, before the first Post.
    void SetLength(std::int64_t length) { m_length.store(length); }
    // Worker thread: true when the calling thread must be woken.
    bool Post(std::uint64_t received);
    // Calling thread: shows the newest count if one is due; returns when to look again (nothing:
    // the next count wakes it).
    std::optional<FetchClock::time_point> Serve(FetchClock::time_point now,
                                                const ProgressSink& sink);
    // Calling thread, once the worker has ended.
    void Flush(const ProgressSink& sink);

private:
    bool HasNew() const { return m_received.load() != m_shown; }
    void Show(FetchClock::time_point now, const ProgressSink& sink);

    static constexpr std::uint64_t kNothingShown = ~std::uint64_t{0};

    std::atomic<std::uint64_t> m_received{kNothingShown};
    std::atomic<std::int64_t> m_length{-1};
    std::atomic<bool> m_bArmed{false};
    std::uint64_t m_shown = kNothingShown;         // calling thread only
    std::optional<FetchClock::time_point> m_next;  // calling thread only
};

struct FetchOrder {
    std::string strUrl;
    std::string strFile;  // empty: text mode
    std::chrono::milliseconds connectTimeout{};
    std::chrono::milliseconds stallTimeout{};
    std::size_t textLimit = 0;
    CredentialsSource credentials;  // called on the calling thread only
    bool bProgress = false;         // the calling thread shows the download's progress
};

class CFetchJob final : private IHttpExchange {
public:
    CFetchJob(FetchOrder order, std::unique_ptr<CHttpTransport> transport);
    ~CFetchJob();
    CFetchJob(const CFetchJob&) = delete;
    CFetchJob& operator=(const CFetchJob&) = delete;

    // Worker thread: the whole fetch; its last act is to wake the calling thread.
    void Run();

    // Calling thread. How the worker wakes it (nothing: it no longer waits).
    void SetWaker(std::function<void()> wake);
    bool Done() const;
    // Waits without handling events; false when the worker has not ended by then.
    bool WaitDone(FetchClock::time_point until);
    // When the time limit passes; nothing while the user is asked for a password.
    std::optional<FetchClock::time_point> Deadline() const;
    // Answers a password question that the worker waits on.
    void ServeQuestion();
    std::optional<FetchClock::time_point> ServeProgress(FetchClock::time_point now,
                                                        const ProgressSink& sink);
    void FlushProgress(const ProgressSink& sink) { m_relay.Flush(sink); }
    // Ends the transfer; `why` is then the fetch's result. No file is left behind.
    void Abort(EFetchError why);

    // Calling thread, once Done (the error also after Abort).
    EFetchError Error() const { return m_abortReason.value_or(m_error); }
    long Status() const { return m_status; }
    CStringList TakeLines() { return std::move(m_lines); }

private:
    enum class EOutcome { Pending, Redirect, Refused, Body };

    bool FileMode() const { return !m_order.strFile.empty(); }
    void RunRequests();
    void Touch();
    void Wake();
    bool AskCredentials(const std::string& realm, std::optional<FetchCredentials>& credentials);
    std::optional<FetchCredentials> AskCallingThread(const std::string& realm);
    void StartBody(std::int64_t contentLength);
    void FinishText(EFetchError transfer);
    void FinishFile(EFetchError transfer);

    void OnConnecting() override;
    void OnConnected() override;
    void OnActivity() override { Touch(); }
    EHeadAction OnHead(const ResponseHead& head,
                       std::optional<FetchCredentials>& credentials) override;
    bool OnBody(const char* data, std::size_t size) override;

    const FetchOrder m_order;
    const std::unique_ptr<CHttpTransport> m_transport;
    CProgressRelay m_relay;

    // Worker only, until Done.
    FetchUrl m_url;
    bool m_bMayAsk = true;  // a 401 may still ask the user
    bool m_bRedirected = false;
    EOutcome m_outcome = EOutcome::Pending;
    ResponseHead m_head;
    std::uint64_t m_bodyBytes = 0;
    std::optional<CLineSplitter> m_splitter;
    std::size_t m_textBytes = 0;
    bool m_bTooLarge = false;
    std::FILE* m_file = nullptr;
    std::optional<CChunkWriter> m_writer;
    CStringList m_lines;
    EFetchError m_error = EFetchError::None;
    long m_status = 0;

    // The time limits: when the connection last moved, and what it is doing.
    std::atomic<FetchClock::rep> m_lastActivity;
    std::atomic<bool> m_bConnecting{true};
    std::atomic<bool> m_bUserAsked{false};
    std::atomic<bool> m_bAbandoned{false};
    std::optional<EFetchError> m_abortReason;  // calling thread only

    // Guards what follows; the worker waits on m_cv for the answer, the calling thread for Done.
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bDone = false;
    struct Question {
        std::string url;
        std::string realm;
    };
    std::optional<Question> m_question;
    bool m_bAnswered = false;
    std::optional<FetchCredentials> m_answer;
    std::mutex m_wakeMutex;
    std::function<void()> m_wake;
};
