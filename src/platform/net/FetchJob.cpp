// The rules of one fetch, on its worker thread: the request's header lines, at most one redirect
// (never from https down to http), one password question, the text and file bodies, and the
// state the calling thread reads to end a transfer at its time limits.
#include "platform/net/FetchJob.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Room for the body's characters when the length is known (CRs only make it shorter), and for
// lines of 16 characters on average; untouched room costs no memory.
constexpr std::size_t kAverageLine = 16;
constexpr std::size_t kFileBufferSize = 256 * 1024;

// Each mode's request lines: the text mode asks for text, the download says who asks for it.
std::vector<std::string> RequestHeaderLines(bool bFileMode) {
    if (bFileMode) return {"User-Agent: Pixelhaul!, " VANTREL_MAKER_HOST};
    return {"Accept: text/*", "User-Agent: Linkcaster by Tarnel"};
}

bool IsRedirect(long status) {
    return status == 301 || status == 302 || status == 303;
}

}  // namespace

EFetchError ResolveRedirect(const std::string& location, const FetchUrl& from, FetchUrl* target) {
    std::optional<FetchUrl> parsed;
    if (!location.empty()) parsed = ParseFetchUrl(location, &from);
    if (!parsed) return EFetchError::RedirectFailed;
    // http may move to https; a secure fetch never drops to plain http.
    if (parsed->scheme != "https" && (parsed->scheme != "http" || from.scheme == "https"))
        return EFetchError::RedirectRefused;
    *target = std::move(*parsed);
    return EFetchError::None;
}

bool CProgressRelay::Post(std::uint64_t received) {
    m_received.store(received);
    return !m_bArmed.load() && !m_bArmed.exchange(true);
}

std::optional<FetchClock::time_point> CProgressRelay::Serve(FetchClock::time_point now,
                                                            const ProgressSink& sink) {
    if (!m_bArmed.load()) return std::nullopt;
    if (m_next && now < *m_next) return m_next;
    if (!HasNew()) {
        m_bArmed.store(false);
        m_next.reset();
        // A count stored just before the relay was disarmed woke no one: show it here, unless
        // the worker has already armed it again and woken this thread for it.
        if (!HasNew() || m_bArmed.exchange(true)) return std::nullopt;
    }
    Show(now, sink);
    return m_next;
}

void CProgressRelay::Flush(const ProgressSink& sink) {
    if (sink && HasNew()) Show(FetchClock::now(), sink);
}

void CProgressRelay::Show(FetchClock::time_point now, const ProgressSink& sink) {
    m_shown = m_received.load();
    m_next = now + kInterval;
    sink(ProgressText(m_shown, m_length.load()));
}

CFetchJob::CFetchJob(FetchOrder order, std::unique_ptr<CHttpTransport> transport)
    : m_order(std::move(order)),
      m_transport(std::move(transport)),
      m_lastActivity(FetchClock::now().time_since_epoch().count()) {}

CFetchJob::~CFetchJob() {
    if (m_file) std::fclose(m_file);
}

void CFetchJob::Run() {
    try {
        RunRequests();
    } catch (...) {
        // Out of memory, say: the fetch fails, and a download begun is not left behind.
        m_error = EFetchError::Transfer;
        if (m_file) {
            std::fclose(m_file);
            m_file = nullptr;
            RemoveBodyFile(m_order.strFile);
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_bDone = true;
    }
    m_cv.notify_all();
    Wake();
}

void CFetchJob::RunRequests() {
    std::optional<FetchUrl> url = ParseFetchUrl(NormaliseFetchUrl(m_order.strUrl), nullptr);
    if (!url || (url->scheme != "http" && url->scheme != "https")) {
        m_error = EFetchError::BadUrl;
        return;
    }
    const std::vector<std::string> headers = RequestHeaderLines(FileMode());
    for (;;) {
        if (m_bAbandoned) {
            m_error = EFetchError::Aborted;
            return;
        }
        m_url = *url;
        m_outcome = EOutcome::Pending;
        Touch();  // each request has its own limits
        const EFetchError transfer = m_transport->Get(m_url, headers, *this);
        if (m_outcome == EOutcome::Redirect) {
            m_error = ResolveRedirect(m_head.strLocation, m_url, &*url);
            if (m_error == EFetchError::None) {
                m_bRedirected = true;
                m_bMayAsk = false;  // credentials are never offered to another address
                continue;
            }
        } else if (m_outcome == EOutcome::Refused) {
            m_error = EFetchError::RedirectFailed;
        } else if (m_outcome == EOutcome::Pending) {
            m_error = transfer == EFetchError::None ? EFetchError::Transfer : transfer;
            return;
        } else {
            // A body that ends before the length its head gave broke off, whatever the library
            // says.
            const bool bShort = m_head.contentLength >= 0 &&
                                m_bodyBytes < static_cast<std::uint64_t>(m_head.contentLength);
            const EFetchError body =
                transfer == EFetchError::None && bShort ? EFetchError::Transfer : transfer;
            if (FileMode()) {
                FinishFile(body);
            } else {
                FinishText(body);
            }
        }
        m_status = m_head.status;
        return;
    }
}

void CFetchJob::Touch() {
    m_lastActivity.store(FetchClock::now().time_since_epoch().count());
}

void CFetchJob::OnConnecting() {
    m_bConnecting = true;
    Touch();
}

void CFetchJob::OnConnected() {
    m_bConnecting = false;
    Touch();
}

EHeadAction CFetchJob::OnHead(const ResponseHead& head,
                              std::optional<FetchCredentials>& credentials) {
    Touch();
    m_head = head;
    if (m_bMayAsk && head.status == 401) {
        // Once a fetch; a second 401 is read as the body.
        m_bMayAsk = false;
        if (AskCredentials(head.strRealm, credentials)) return EHeadAction::Resend;
    }
    if (!m_bRedirected && IsRedirect(head.status)) {
        m_outcome = EOutcome::Redirect;
        return EHeadAction::Stop;
    }
    if (m_bRedirected && head.status != 200) {
        m_outcome = EOutcome::Refused;
        return EHeadAction::Stop;
    }
    if (m_bAbandoned) return EHeadAction::Stop;
    m_outcome = EOutcome::Body;
    StartBody(head.contentLength);
    return EHeadAction::Body;
}

bool CFetchJob::AskCredentials(const std::string& realm,
                               std::optional<FetchCredentials>& credentials) {
    m_bUserAsked = true;
    bool bResend = false;
    if (m_order.credentials) {
        credentials = AskCallingThread(realm);
        bResend = credentials.has_value();
    } else {
        bResend = m_transport->AskWithSystemDialog();
    }
    m_bUserAsked = false;
    Touch();  // the time the user took is no stall
    return bResend && !m_bAbandoned;
}

std::optional<FetchCredentials> CFetchJob::AskCallingThread(const std::string& realm) {
    std::unique_lock lock(m_mutex);
    m_question = Question{m_url.text, realm};
    m_bAnswered = false;
    lock.unlock();
    Wake();
    lock.lock();
    m_cv.wait(lock, [this] { return m_bAnswered || m_bAbandoned.load(); });
    m_question.reset();
    return m_bAnswered ? std::exchange(m_answer, std::nullopt) : std::nullopt;
}

void CFetchJob::StartBody(std::int64_t contentLength) {
    if (!FileMode()) {
        if (contentLength > 0) {
            const std::size_t chars =
                static_cast<std::size_t>(std::min(static_cast<std::uint64_t>(contentLength),
                                                  static_cast<std::uint64_t>(m_order.textLimit)));
            m_lines.reserve(chars, chars / kAverageLine + 1);
        }
        m_splitter.emplace(m_lines);
        return;
    }
    m_file = OpenBodyFile(m_order.strFile);
    if (m_file) std::setvbuf(m_file, nullptr, _IOFBF, kFileBufferSize);
    m_relay.SetLength(contentLength);
    CChunkWriter::ProgressFn progress;
    if (m_order.bProgress) {
        progress = [this](std::uint64_t received) {
            if (m_relay.Post(received)) Wake();
        };
    }
    m_writer.emplace(m_file, std::move(progress));
}

bool CFetchJob::OnBody(const char* data, std::size_t size) {
    Touch();
    if (m_outcome != EOutcome::Body || m_bAbandoned) return false;
    m_bodyBytes += size;
    if (m_writer) return m_writer->Feed(data, size);
    const std::size_t taken = std::min(size, m_order.textLimit - m_textBytes);
    m_splitter->Feed(data, taken);
    m_textBytes += taken;
    m_bTooLarge = taken < size;
    return !m_bTooLarge;
}

void CFetchJob::FinishText(EFetchError transfer) {
    if (transfer == EFetchError::None && !m_bTooLarge && !m_bAbandoned) {
        m_splitter->Finish();
        return;
    }
    // The lines read so far stay; a line cut off by the failure is dropped.
    m_splitter->Abandon();
    m_error = m_bTooLarge                     ? EFetchError::TooLarge
              : transfer == EFetchError::None ? EFetchError::Aborted
                                              : transfer;
}

void CFetchJob::FinishFile(EFetchError transfer) {
    CChunkWriter& writer = *m_writer;
    const bool bComplete = transfer == EFetchError::None && !writer.Stopped() && !m_bAbandoned;
    if (bComplete) writer.Finish();
    if (writer.MetHtml()) {
        m_error = EFetchError::HtmlPage;
    } else if (writer.WriteFailed()) {
        m_error = EFetchError::FileError;
    } else if (!bComplete) {
        m_error = transfer == EFetchError::None ? EFetchError::Aborted : transfer;
    } else if (writer.Received() == 0) {
        m_error = EFetchError::EmptyBody;
    }
    if (!m_file) return;
    if (std::fclose(m_file) != 0 && m_error == EFetchError::None) m_error = EFetchError::FileError;
    m_file = nullptr;
    // Whatever is left behind must be a complete body.
    if (m_error != EFetchError::None || m_bAbandoned) RemoveBodyFile(m_order.strFile);
}

void CFetchJob::Wake() {
    std::lock_guard lock(m_wakeMutex);
    if (m_wake) m_wake();
}

void CFetchJob::SetWaker(std::function<void()> wake) {
    std::lock_guard lock(m_wakeMutex);
    m_wake = std::move(wake);
}

bool CFetchJob::Done() const {
    std::lock_guard lock(m_mutex);
    return m_bDone;
}

bool CFetchJob::WaitDone(FetchClock::time_point until) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_until(lock, until, [this] { return m_bDone; });
}

std::optional<FetchClock::time_point> CFetchJob::Deadline() const {
    if (m_bUserAsked.load()) return std::nullopt;
    const FetchClock::time_point last{FetchClock::duration(m_lastActivity.load())};
    return last + (m_bConnecting.load() ? m_order.connectTimeout : m_order.stallTimeout);
}

void CFetchJob::ServeQuestion() {
    std::optional<Question> question;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bAnswered) question = m_question;
    }
    if (!question) return;
    std::optional<FetchCredentials> answer = m_order.credentials(question->url, question->realm);
    {
        std::lock_guard lock(m_mutex);
        m_answer = std::move(answer);
        m_bAnswered = true;
    }
    m_cv.notify_all();
}

std::optional<FetchClock::time_point> CFetchJob::ServeProgress(FetchClock::time_point now,
                                                               const ProgressSink& sink) {
    if (!sink) return std::nullopt;
    return m_relay.Serve(now, sink);
}

void CFetchJob::Abort(EFetchError why) {
    m_abortReason = why;
    {
        std::lock_guard lock(m_mutex);
        m_bAbandoned = true;
    }
    m_cv.notify_all();
    m_transport->Abort();
}
