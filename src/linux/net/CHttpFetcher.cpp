// The HTTP fetch client: one libcurl easy handle per fetch, driven on a worker thread while the
// calling thread waits in a nested event loop that the worker wakes when it is done.
#include "linux/net/CHttpFetcher.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "core/FetchBody.h"
#include "linux/net/NetConfig.h"
#include "linux/net/NetHooks.h"
#include "platform/LargeBlock.h"

namespace {

// One fetch at a time in the whole process.
std::mutex g_fetchMutex;
// Set while this thread waits inside Fetch.
thread_local bool t_bInFetch = false;

constexpr int kWorkerDone = 1;
// At most this many progress deliveries a second reach the calling thread.
constexpr std::chrono::milliseconds kProgressInterval{50};
// Large network reads keep a big download close to the speed of the curl tool: fewer reads and
// callbacks, each handing over more of the body (512 KiB is libcurl's older upper bound).
constexpr long kCurlBufferSize = 512 * 1024;
constexpr std::size_t kFileBufferSize = 256 * 1024;

const char kDownloadingText[] = "Downloading update ..";
const char kNoConnectionText[] = "Cannot open internet connection.";

// Hands the worker's progress to the sink on the calling thread: one delivery pending at a
// time, at most one per kProgressInterval, and always the newest count. The worker reports every
// 1,024-byte chunk, so its side only stores the count; the text is made when it is shown.
class CProgressRelay {
public:
    CProgressRelay(QObject* context, ProgressSink sink)
        : m_context(context), m_sink(std::move(sink)) {}

    // Worker thread, before the first Post.
    void SetLength(std::int64_t length) { m_length.store(length); }

    // Worker thread.
    void Post(std::uint64_t received) {
        m_received.store(received);
        if (m_context && !m_bArmed.load() && !m_bArmed.exchange(true)) {
            QMetaObject::invokeMethod(
                m_context, [this] { Deliver(); }, Qt::QueuedConnection);
        }
    }

    // Calling thread, once the worker has ended: the last count is always shown.
    void Flush() {
        if (HasNew()) Show();
    }

private:
    bool HasNew() const { return m_received.load() != m_shown; }

    void Show() {
        m_shown = m_received.load();
        m_sink(ProgressText(m_shown, m_length.load()));
    }

    // Calling thread.
    void Deliver() {
        if (!HasNew()) {
            m_bArmed.store(false);
            // A count stored just before the relay was disarmed woke no one: show it here,
            // unless the worker has already armed a new delivery for it.
            if (!HasNew() || m_bArmed.exchange(true)) return;
        }
        Show();
        QTimer::singleShot(kProgressInterval, m_context, [this] { Deliver(); });
    }

    static constexpr std::uint64_t kNothingShown = ~std::uint64_t{0};

    QObject* m_context;
    ProgressSink m_sink;
    std::atomic<std::uint64_t> m_received{kNothingShown};
    std::atomic<std::int64_t> m_length{-1};
    std::atomic<bool> m_bArmed{false};
    std::uint64_t m_shown = kNothingShown;  // calling thread only
};

// Everything the worker needs and produces. The calling thread touches the results only after
// joining the worker.
struct FetchJob {
    std::string strUrl;
    std::string strFile;
    bool bFileMode = false;
    std::chrono::milliseconds connectTimeout{};
    std::chrono::seconds stallTimeout{};
    std::size_t textLimit = 0;
    std::string strCaFile;
    CURL* curl = nullptr;
    QObject* context = nullptr;  // lives on the calling thread; null without an event loop
    CProgressRelay* relay = nullptr;

    CStringList lines;
    EFetchError error = EFetchError::None;
    long status = 0;

    std::atomic<bool> bAbort{false};
    // Worker only: when body bytes last arrived, for the stall limit.
    std::chrono::steady_clock::time_point lastProgress{};
    curl_off_t lastReceived = -1;
    bool bStalled = false;
    std::atomic<bool> bDone{false};
    std::mutex mutex;
    std::condition_variable cv;
    bool bCredentialsAnswered = false;
    std::optional<NetCredentials> credentials;

    void Abort() {
        {
            std::lock_guard lock(mutex);
            bAbort = true;
        }
        cv.notify_all();
    }
};

enum class EDecision { Pending, Body, Retry, Redirect, Refuse };

// One request and its answer.
struct Exchange : ResponseHead {
    FetchJob* job = nullptr;
    std::string strUrl;
    bool bMayAsk = false;      // a 401 may still ask the user
    bool bRedirected = false;  // this is the request to a redirect target

    EDecision decision = EDecision::Pending;
    std::optional<NetCredentials> credentials;

    std::optional<CLineSplitter> splitter;
    std::size_t textBytes = 0;
    bool bTooLarge = false;
    std::FILE* file = nullptr;
    std::optional<CChunkWriter> writer;
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// The value of a header line whose name (at the start of the line, any letter case) is `name`.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':' ||
        !EqualsNoCase(line.substr(0, name.size()), name))
        return std::nullopt;
    return Trim(line.substr(name.size() + 1));
}

std::string RealmOf(std::string_view challenge) {
    const std::size_t pos = challenge.find("realm=\"");
    if (pos == std::string_view::npos) return {};
    const std::size_t start = pos + 7;
    const std::size_t end = challenge.find('"', start);
    return std::string(challenge.substr(start, end == std::string_view::npos ? end : end - start));
}

// The number at the start of the status line's code, read within the line (the network
// library's buffer is not NUL-terminated) and capped, like atol, without running past it.
long StatusNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 100000) value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Parses `url` (resolved against `base` when given) into an absolute URL and its scheme.
bool ParseUrl(const std::string& url, const std::string* base, std::string* absolute,
              std::string* scheme) {
    CURLU* handle = curl_url();
    if (!handle) return false;
    bool ok = (!base || curl_url_set(handle, CURLUPART_URL, base->c_str(), 0) == CURLUE_OK) &&
              curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    char* part = nullptr;
    if (ok && curl_url_get(handle, CURLUPART_URL, &part, 0) == CURLUE_OK) {
        *absolute = part;
        curl_free(part);
    } else {
        ok = false;
    }
    if (ok && curl_url_get(handle, CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
        *scheme = part;
        curl_free(part);
    } else {
        ok = false;
    }
    curl_url_cleanup(handle);
    return ok;
}

std::optional<NetCredentials> AskOnCallingThread(FetchJob& job, const std::string& url,
                                                 const std::string& realm) {
    if (!job.context || !HasCredentialsHook()) return std::nullopt;
    {
        std::lock_guard lock(job.mutex);
        job.bCredentialsAnswered = false;
        job.credentials.reset();
    }
    // The hook shows a dialog, so it must run on the calling thread; this one waits for it.
    QMetaObject::invokeMethod(
        job.context,
        [&job, url, realm] {
            std::optional<NetCredentials> answer = AskCredentials(url, realm);
            {
                std::lock_guard lock(job.mutex);
                job.credentials = std::move(answer);
                job.bCredentialsAnswered = true;
            }
            job.cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(job.mutex);
    job.cv.wait(lock, [&job] { return job.bCredentialsAnswered || job.bAbort.load(); });
    return job.bCredentialsAnswered ? job.credentials : std::nullopt;
}

// End of an answer's head: read its body, or stop here and send again.
bool DecideOnHead(Exchange& ex) {
    FetchJob& job = *ex.job;
    if (ex.bMayAsk && ex.status == 401) {
        ex.bMayAsk = false;
        ex.credentials = AskOnCallingThread(job, ex.strUrl, ex.strRealm);
        job.lastReceived = -1;  // the time the user took is no stall
        if (ex.credentials) {
            ex.decision = EDecision::Retry;
            return false;
        }
    }
    if (!ex.bRedirected && (ex.status == 301 || ex.status == 302 || ex.status == 303)) {
        ex.decision = EDecision::Redirect;
        return false;
    }
    if (ex.bRedirected && ex.status != 200) {
        ex.decision = EDecision::Refuse;
        return false;
    }
    ex.decision = EDecision::Body;
    if (!job.bFileMode) {
        // The whole body in one allocation when its length is known (CRs only make it shorter),
        // and room for lines of 16 characters on average; untouched room costs no memory.
        if (ex.contentLength > 0) {
            const std::size_t chars =
                static_cast<std::size_t>(std::min(static_cast<std::uint64_t>(ex.contentLength),
                                                  static_cast<std::uint64_t>(job.textLimit)));
            job.lines.reserve(chars, chars / 16 + 1);
        }
        ex.splitter.emplace(job.lines);
        return true;
    }
    ex.file = std::fopen(job.strFile.c_str(), "wb");
    if (ex.file) std::setvbuf(ex.file, nullptr, _IOFBF, kFileBufferSize);
    CProgressRelay* relay = job.relay;
    if (relay) relay->SetLength(ex.contentLength);
    ex.writer.emplace(ex.file, [relay](std::uint64_t received) {
        if (relay) relay->Post(received);
    });
    return true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Exchange& ex = *static_cast<Exchange*>(user);
    const size_t length = size * count;
    if (!TakeHeadLine(ex, std::string_view(data, length))) return length;
    return DecideOnHead(ex) ? length : 0;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Exchange& ex = *static_cast<Exchange*>(user);
    const size_t length = size * count;
    if (ex.decision != EDecision::Body) return 0;
    if (ex.splitter) {
        const std::size_t room = ex.job->textLimit - ex.textBytes;
        ex.splitter->Feed(data, std::min(length, room));
        ex.textBytes += std::min(length, room);
        if (length > room) {
            ex.bTooLarge = true;
            return 0;
        }
        return length;
    }
    return ex.writer->Feed(data, length) ? length : 0;
}

// No exception may cross libcurl's C frames: one thrown inside a callback (out of memory, say)
// ends the transfer like any other failure.
template <size_t (*Callback)(char*, size_t, size_t, void*)>
size_t Guarded(char* data, size_t size, size_t count, void* user) noexcept {
    try {
        return Callback(data, size, count, user);
    } catch (...) {
        return 0;
    }
}

int OnTransferInfo(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    FetchJob& job = *static_cast<FetchJob*>(user);
    if (job.bAbort.load()) return 1;
    // curl's own low-speed check averages over several seconds, so a server that sends a burst
    // and then nothing would hold the fetch that much longer than the stall limit.
    const auto now = std::chrono::steady_clock::now();
    if (received != job.lastReceived) {
        job.lastReceived = received;
        job.lastProgress = now;
    } else if (now - job.lastProgress > job.stallTimeout) {
        job.bStalled = true;
        return 1;
    }
    return 0;
}

EFetchError ErrorOf(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return EFetchError::None;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return EFetchError::Unreachable;
        case CURLE_OPERATION_TIMEDOUT:
            return EFetchError::Timeout;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_USE_SSL_FAILED:
            return EFetchError::SecureChannel;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return EFetchError::BadUrl;
        case CURLE_ABORTED_BY_CALLBACK:
            return EFetchError::Aborted;
        default:
            return EFetchError::Transfer;
    }
}

void FinishText(FetchJob& job, Exchange& ex, CURLcode code) {
    if (code == CURLE_OK) {
        ex.splitter->Finish();
        job.error = EFetchError::None;
    } else {
        // The lines read so far stay; a line cut off by the failure is dropped.
        ex.splitter->Abandon();
        job.error = ex.bTooLarge ? EFetchError::TooLarge : ErrorOf(code);
    }
}

void FinishFile(FetchJob& job, Exchange& ex, CURLcode code) {
    CChunkWriter& writer = *ex.writer;
    if (code == CURLE_OK) writer.Finish();
    if (writer.MetHtml()) {
        job.error = EFetchError::HtmlPage;
    } else if (writer.WriteFailed()) {
        job.error = EFetchError::FileError;
    } else if (code != CURLE_OK) {
        job.error = ErrorOf(code);
    } else if (writer.Received() == 0) {
        job.error = EFetchError::EmptyBody;
    }
    if (ex.file) {
        if (std::fclose(ex.file) != 0 && job.error == EFetchError::None)
            job.error = EFetchError::FileError;
        ex.file = nullptr;
        // Whatever is left behind must be a complete body.
        if (job.error != EFetchError::None) std::remove(job.strFile.c_str());
    }
}

curl_slist* RequestHeaders(bool bFileMode) {
    curl_slist* headers = nullptr;
    if (bFileMode) {
        headers = curl_slist_append(headers, "User-Agent: Pixelhaul!, " VANTREL_MAKER_HOST);
        // Keeps curl from adding its default "Accept: */*".
        headers = curl_slist_append(headers, "Accept:");
    } else {
        headers = curl_slist_append(headers, "Accept: text/*");
        headers = curl_slist_append(headers, "User-Agent: Linkcaster by Tarnel");
    }
    return headers;
}

void RunJob(FetchJob& job) {
    std::string url;
    std::string scheme;
    if (!ParseUrl(NormaliseFetchUrl(job.strUrl), nullptr, &url, &scheme) ||
        (scheme != "http" && scheme != "https")) {
        job.error = EFetchError::BadUrl;
        return;
    }
    CURL* curl = job.curl;
    curl_slist* headers = RequestHeaders(job.bFileMode);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    // Redirects are followed here, under the rules below, never by curl.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // A direct connection: proxy settings of the environment are not used.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(job.connectTimeout.count()));
    // Nothing received for the stall time ends the transfer.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(job.stallTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!job.strCaFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, job.strCaFile.c_str());
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kCurlBufferSize);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Guarded<OnHeader>);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Guarded<OnBody>);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnTransferInfo);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &job);

    bool bMayAsk = true;
    bool bRedirected = false;
    std::optional<NetCredentials> credentials;
    for (;;) {
        Exchange ex;
        ex.job = &job;
        ex.strUrl = url;
        ex.bMayAsk = bMayAsk;
        ex.bRedirected = bRedirected;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, credentials ? CURLAUTH_BASIC : CURLAUTH_NONE);
        curl_easy_setopt(curl, CURLOPT_USERNAME, credentials ? credentials->user.c_str() : nullptr);
        curl_easy_setopt(curl, CURLOPT_PASSWORD,
                         credentials ? credentials->password.c_str() : nullptr);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &ex);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &ex);
        job.lastReceived = -1;  // each request has its own stall limit
        const CURLcode code = curl_easy_perform(curl);

        if (ex.decision == EDecision::Retry) {
            credentials = std::move(ex.credentials);
            bMayAsk = false;
            continue;
        }
        if (ex.decision == EDecision::Redirect) {
            std::string target;
            std::string targetScheme;
            job.error = ResolveRedirect(ex.strLocation, url, scheme, &target, &targetScheme);
            if (job.error == EFetchError::None) {
                url = target;
                scheme = targetScheme;
                bRedirected = true;
                bMayAsk = false;
                credentials.reset();  // never handed on to another address
                continue;
            }
            job.status = ex.status;
        } else if (ex.decision == EDecision::Refuse) {
            job.error = EFetchError::RedirectFailed;
            job.status = ex.status;
        } else if (ex.decision == EDecision::Pending) {
            job.error = code == CURLE_OK ? EFetchError::Transfer : ErrorOf(code);
        } else {
            job.status = ex.status;
            if (job.bFileMode) {
                FinishFile(job, ex, code);
            } else {
                FinishText(job, ex, code);
            }
        }
        break;
    }
    if (job.bStalled) job.error = EFetchError::Timeout;
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
}

}  // namespace

bool TakeHeadLine(ResponseHead& head, std::string_view raw) {
    const std::string_view line = Trim(raw);
    if (raw.size() >= 5 && EqualsNoCase(raw.substr(0, 5), "HTTP/")) {
        // A new answer's head (a 1xx answer may come before the real one).
        const std::size_t blank = line.find(' ');
        head.status = blank == std::string_view::npos ? 0 : StatusNumber(line.substr(blank + 1));
        head.strLocation.clear();
        head.strRealm.clear();
        head.contentLength = -1;
        return false;
    }
    if (line.empty()) return !(head.status >= 100 && head.status < 200);
    if (auto value = HeaderValue(line, "Location")) {
        if (head.strLocation.empty()) head.strLocation = *value;
    } else if (auto lengthValue = HeaderValue(line, "Content-Length")) {
        head.contentLength = std::atoll(std::string(*lengthValue).c_str());
    } else if (auto challenge = HeaderValue(line, "WWW-Authenticate")) {
        if (head.strRealm.empty()) head.strRealm = RealmOf(*challenge);
    }
    return false;
}

EFetchError ResolveRedirect(const std::string& location, const std::string& url,
                            const std::string& scheme, std::string* target,
                            std::string* targetScheme) {
    if (location.empty() || !ParseUrl(location, &url, target, targetScheme))
        return EFetchError::RedirectFailed;
    // http may move to https; a secure fetch never drops to plain http.
    if (*targetScheme != "https" && (*targetScheme != "http" || scheme == "https"))
        return EFetchError::RedirectRefused;
    return EFetchError::None;
}

namespace {
// Made on first use: tests set it from their own static initialisers.
struct DefaultCaFile {
    std::mutex mutex;
    std::string path;
};
DefaultCaFile& TheDefaultCaFile() {
    static DefaultCaFile file;
    return file;
}
}  // namespace

void CHttpFetcher::SetDefaultCaFile(std::string path) {
    DefaultCaFile& file = TheDefaultCaFile();
    std::lock_guard lock(file.mutex);
    file.path = std::move(path);
}

CHttpFetcher::CHttpFetcher() {
    // The body's lines may fill a large list: its blocks come from the system, for huge pages.
    SetLargeBlockSource(SystemLargeBlocks());
    DefaultCaFile& file = TheDefaultCaFile();
    std::lock_guard lock(file.mutex);
    m_strCaFile = file.path;
}

CHttpFetcher::~CHttpFetcher() = default;

void CHttpFetcher::SetTimeouts(std::chrono::milliseconds connect, std::chrono::seconds stall) {
    m_connectTimeout = connect;
    m_stallTimeout = stall;
}

bool CHttpFetcher::LastFetchSucceeded() const {
    return m_lastError == EFetchError::None && m_lastStatus >= 200 && m_lastStatus < 300;
}

std::string CHttpFetcher::LastFailureReason() const {
    return FetchFailureReason(m_lastError, m_lastStatus);
}

const CStringList& CHttpFetcher::Fetch(std::string strUrl, std::string strFile,
                                       ProgressSink progress) {
    const bool bFileMode = !strFile.empty();
    // A Fetch started on a thread that already waits inside one (from its event loop, say by a
    // button of the dialog that started the first) is refused at once with an empty result:
    // the global mutex cannot wait here without deadlocking this thread, and the two would share
    // this thread's wait.
    if (t_bInFetch) {
        m_lastError = EFetchError::Busy;
        m_lastStatus = 0;
        if (!bFileMode) m_lines.clear();
        return m_lines;
    }
    t_bInFetch = true;
    struct InFetchReset {
        ~InFetchReset() { t_bInFetch = false; }
    } inFetchReset;

    static std::once_flag curlInit;
    std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::lock_guard fetchLock(g_fetchMutex);

    CURL* curl = curl_easy_init();
    if (!curl) {
        ShowNetMessage(kNoConnectionText);
        m_lastError = EFetchError::NoConnection;
        m_lastStatus = 0;
        if (!bFileMode) m_lines.clear();
        return m_lines;
    }
    if (bFileMode && progress) progress(kDownloadingText);

    FetchJob job;
    job.strUrl = std::move(strUrl);
    job.strFile = std::move(strFile);
    job.bFileMode = bFileMode;
    job.connectTimeout = m_connectTimeout;
    job.stallTimeout = m_stallTimeout;
    job.textLimit = m_textLimit;
    job.strCaFile = m_strCaFile;
    job.curl = curl;

    std::optional<QEventLoop> loop;
    if (QCoreApplication::instance()) loop.emplace();
    job.context = loop ? &*loop : nullptr;
    std::optional<CProgressRelay> relay;
    if (bFileMode && progress) relay.emplace(job.context, std::move(progress));
    job.relay = relay ? &*relay : nullptr;

    std::thread worker([&job] {
        RunJob(job);
        job.bDone = true;
        if (QObject* context = job.context) {
            QMetaObject::invokeMethod(
                context, [context] { static_cast<QEventLoop*>(context)->exit(kWorkerDone); },
                Qt::QueuedConnection);
        }
    });
    if (loop) {
        while (!job.bDone.load()) {
            // Anyone else ending this loop (the application quitting) cancels the transfer.
            if (loop->exec() != kWorkerDone && !job.bDone.load()) {
                job.Abort();
                break;
            }
        }
    }
    worker.join();
    if (relay) relay->Flush();
    curl_easy_cleanup(curl);

    m_lastError = job.error;
    m_lastStatus = job.status;
    if (!bFileMode) m_lines = std::move(job.lines);
    return m_lines;
}
