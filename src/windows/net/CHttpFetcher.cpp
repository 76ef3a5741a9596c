// The HTTP fetch client on WinINet: one session per fetch, driven on a worker thread; the calling
// thread waits in MsgWaitForMultipleObjects for the worker's end, its progress event or a
// message, and dispatches its messages meanwhile.
#include "windows/net/CHttpFetcher.h"

#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "core/FetchBody.h"
#include "platform/MessagePump_win.h"
#include "platform/WideText_win.h"
#include "windows/net/NetConfig.h"

namespace {

// One fetch at a time in the whole process.
std::mutex g_fetchMutex;
// Set while this thread waits inside Fetch.
thread_local bool t_bInFetch = false;

const char kDownloadingText[] = "Downloading update ..";
const wchar_t kNoConnectionText[] = L"Cannot open internet connection.";
const wchar_t kTextHeaders[] = L"Accept: text/*\r\nUser-Agent: Linkcaster by Tarnel\r\n";
const wchar_t kFileHeaders[] = L"User-Agent: Pixelhaul!, " VANTREL_MAKER_HOST_W L"\r\n";

// Always from the server, never into a cache, an open connection reused, redirects handled here.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT |
                                INTERNET_FLAG_DONT_CACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;
static_assert(kRequestFlags == 0xA4200000);

constexpr std::size_t kReadSize = 64 * 1024;
// How long a wait that has given up on a transfer still waits for the worker to notice.
constexpr ULONGLONG kAbortGrace = 2000;

struct Internet {
    HINTERNET h = nullptr;
    Internet() = default;
    explicit Internet(HINTERNET handle) : h(handle) {}
    Internet(const Internet&) = delete;
    Internet& operator=(const Internet&) = delete;
    ~Internet() { Reset(); }
    void Reset(HINTERNET handle = nullptr) {
        if (h) ::InternetCloseHandle(h);
        h = handle;
    }
};

struct Url {
    std::wstring full;
    bool bHttps = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring object;  // path and query
};

// Splits an absolute http or https URL; nothing for anything else.
std::optional<Url> CrackUrl(const std::wstring& text) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
        parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts))
        return std::nullopt;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return std::nullopt;
    Url url;
    url.full = text;
    url.bHttps = parts.nScheme == INTERNET_SCHEME_HTTPS;
    url.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    url.port = parts.nPort;
    url.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) url.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (url.object.empty()) url.object = L"/";
    if (url.host.empty()) return std::nullopt;
    return url;
}

// Everything the worker needs and produces; the calling thread reads the results after the
// worker has ended.
struct FetchJob {
    std::string strUrl;
    std::string strFile;
    bool bFileMode = false;
    DWORD connectTimeout = 0;
    DWORD stallTimeout = 0;
    std::size_t textLimit = 0;
    HANDLE progressEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    // The worker waits here for the calling thread's answer.
    HANDLE credentialsEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    bool bAskCredentials = false;  // a CredentialsSource is set

    // Shared while the worker runs.
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    std::atomic<std::uint64_t> received{kNone};
    std::atomic<std::int64_t> contentLength{-1};
    std::atomic<bool> bCredentialsWanted{false};
    // The time limits, watched by the calling thread: when the worker last saw the connection
    // move, whether it is still connecting, and whether it waits for the user instead.
    std::atomic<ULONGLONG> lastActivity{0};
    std::atomic<bool> bConnecting{true};
    std::atomic<bool> bUserAsked{false};
    std::atomic<bool> bTimedOut{false};
    // The calling thread has stopped waiting: no file may be written or left any more.
    std::atomic<bool> bAbandoned{false};

    FetchJob() = default;
    FetchJob(const FetchJob&) = delete;
    FetchJob& operator=(const FetchJob&) = delete;
    ~FetchJob() {
        if (progressEvent) ::CloseHandle(progressEvent);
        if (credentialsEvent) ::CloseHandle(credentialsEvent);
    }
    std::optional<FetchCredentials> credentials;  // written by the calling thread, then signalled
    std::atomic<HINTERNET> session{nullptr};      // closed by the calling thread to abort

    CStringList lines;
    EFetchError error = EFetchError::None;
    long status = 0;
};

EFetchError ErrorOf(DWORD code) {
    switch (code) {
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
        case ERROR_INTERNET_CANNOT_CONNECT:
            return EFetchError::Unreachable;
        case ERROR_INTERNET_TIMEOUT:
            return EFetchError::Timeout;
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
        case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
            return EFetchError::SecureChannel;
        case ERROR_INTERNET_INVALID_URL:
        case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
            return EFetchError::BadUrl;
        case ERROR_INTERNET_OPERATION_CANCELLED:
        case ERROR_INVALID_HANDLE:
            return EFetchError::Aborted;
        default:
            return EFetchError::Transfer;
    }
}

std::wstring QueryText(HINTERNET request, DWORD what) {
    DWORD size = 0;
    DWORD index = 0;
    ::HttpQueryInfoW(request, what, nullptr, &size, &index);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    index = 0;
    if (!::HttpQueryInfoW(request, what, buffer.data(), &size, &index)) return {};
    return std::wstring(buffer.data(), size / sizeof(wchar_t));
}

long StatusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    DWORD index = 0;
    if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                          &index))
        return 0;
    return static_cast<long>(status);
}

// Asks the calling thread (which shows dialogs) for credentials, waiting for its answer.
std::optional<FetchCredentials> AskCredentials(FetchJob& job) {
    if (!job.bAskCredentials) return std::nullopt;
    job.bUserAsked = true;
    job.bCredentialsWanted = true;
    ::SetEvent(job.progressEvent);
    ::WaitForSingleObject(job.credentialsEvent, INFINITE);
    job.lastActivity = ::GetTickCount64();
    job.bUserAsked = false;
    return job.credentials;
}

void ReadLines(FetchJob& job, HINTERNET request) {
    CLineSplitter splitter(job.lines);
    std::vector<char> buffer(kReadSize);
    std::size_t total = 0;
    for (;;) {
        DWORD got = 0;
        const BOOL read =
            ::InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &got);
        job.lastActivity = ::GetTickCount64();
        if (!read) {
            splitter.Abandon();
            job.error = ErrorOf(::GetLastError());
            return;
        }
        if (got == 0) break;
        const std::size_t room = job.textLimit - total;
        splitter.Feed(buffer.data(), std::min<std::size_t>(got, room));
        total += std::min<std::size_t>(got, room);
        if (got > room) {
            splitter.Abandon();
            job.error = EFetchError::TooLarge;
            return;
        }
    }
    splitter.Finish();
}

void StoreBody(FetchJob& job, HINTERNET request) {
    const std::wstring length = QueryText(request, HTTP_QUERY_CONTENT_LENGTH);
    job.contentLength = length.empty() ? -1 : _wtoi64(length.c_str());
    if (job.bAbandoned) return;
    std::FILE* file = ::_wfopen(Utf8ToWide(job.strFile).c_str(), L"wb");
    CChunkWriter writer(file, [&job](std::uint64_t received) {
        job.received = received;
        ::SetEvent(job.progressEvent);
    });
    std::vector<char> buffer(kReadSize);
    DWORD readError = 0;
    bool bComplete = false;
    while (!writer.Stopped() && !job.bAbandoned) {
        DWORD got = 0;
        const BOOL read =
            ::InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &got);
        job.lastActivity = ::GetTickCount64();
        if (!read) {
            readError = ::GetLastError();
            break;
        }
        if (got == 0) {
            bComplete = true;
            break;
        }
        writer.Feed(buffer.data(), got);
    }
    if (bComplete) writer.Finish();
    if (writer.MetHtml()) {
        job.error = EFetchError::HtmlPage;
    } else if (writer.WriteFailed()) {
        job.error = EFetchError::FileError;
    } else if (!bComplete) {
        job.error = ErrorOf(readError);
    } else if (writer.Received() == 0) {
        job.error = EFetchError::EmptyBody;
    }
    if (file) {
        if (std::fclose(file) != 0 && job.error == EFetchError::None)
            job.error = EFetchError::FileError;
        // Whatever is left behind must be a complete body.
        if (job.error != EFetchError::None || job.bAbandoned)
            ::_wremove(Utf8ToWide(job.strFile).c_str());
    }
}

thread_local FetchJob* t_job = nullptr;

// Called on the worker thread inside its WinINet calls: connecting, connected, answer received.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR, DWORD status, LPVOID, DWORD) {
    FetchJob* job = t_job;
    if (!job) return;
    switch (status) {
        case INTERNET_STATUS_CONNECTING_TO_SERVER:
            job->bConnecting = true;
            job->lastActivity = ::GetTickCount64();
            break;
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
            job->bConnecting = false;
            job->lastActivity = ::GetTickCount64();
            break;
        case INTERNET_STATUS_REQUEST_SENT:
        case INTERNET_STATUS_RESPONSE_RECEIVED:
            job->lastActivity = ::GetTickCount64();
            break;
        default:
            break;
    }
}

// Each handle takes the limits itself: a handle does not always inherit them from its parent.
// WinINet's own limits lie a second beyond the calling thread's watch, which says why it ended.
void SetTimeLimits(HINTERNET handle, FetchJob& job) {
    DWORD connect = job.connectTimeout + 1000;
    DWORD stall = job.stallTimeout + 1000;
    ::InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    for (const DWORD option : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
        ::InternetSetOptionW(handle, option, &stall, sizeof stall);
    }
}

void RunJob(FetchJob& job) {
    std::optional<Url> url = CrackUrl(Utf8ToWide(NormaliseFetchUrl(job.strUrl)));
    if (!url) {
        job.error = EFetchError::BadUrl;
        return;
    }
    // A direct connection. No agent: the request's own User-Agent line is the one sent.
    struct Session {
        HINTERNET h;
        FetchJob& job;
        // The calling thread may have closed it already, to end the transfer.
        ~Session() {
            if (HINTERNET open = job.session.exchange(nullptr)) ::InternetCloseHandle(open);
        }
    } session{::InternetOpenW(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0), job};
    if (!session.h) {
        ::MessageBoxW(nullptr, kNoConnectionText, L"Vantrel", MB_OK);
        job.error = EFetchError::NoConnection;
        return;
    }
    job.session = session.h;
    t_job = &job;
    ::InternetSetStatusCallbackW(session.h, OnStatus);
    SetTimeLimits(session.h, job);
    const wchar_t* headers = job.bFileMode ? kFileHeaders : kTextHeaders;

    bool bMayAsk = true;
    bool bRedirected = false;
    for (;;) {
        Internet connection(::InternetConnectW(session.h, url->host.c_str(), url->port, nullptr,
                                               nullptr, INTERNET_SERVICE_HTTP, 0, 1));
        // Certificate checks stay as the system makes them: no SECURITY_FLAG_IGNORE_* anywhere.
        const DWORD flags = kRequestFlags | (url->bHttps ? INTERNET_FLAG_SECURE : 0);
        Internet request(connection.h
                             ? ::HttpOpenRequestW(connection.h, L"GET", url->object.c_str(),
                                                  L"HTTP/1.0", nullptr, nullptr, flags, 1)
                             : nullptr);
        if (!request.h) {
            job.error = ErrorOf(::GetLastError());
            return;
        }
        SetTimeLimits(connection.h, job);
        SetTimeLimits(request.h, job);
        ::HttpAddRequestHeadersW(request.h, headers, static_cast<DWORD>(-1),
                                 HTTP_ADDREQ_FLAG_ADD_IF_NEW);
        if (!::HttpSendRequestW(request.h, nullptr, 0, nullptr, 0)) {
            job.error = ErrorOf(::GetLastError());
            return;
        }
        long status = StatusOf(request.h);
        if (status == 401 && bMayAsk) {
            // Once, and only for the address the user asked for.
            bMayAsk = false;
            if (!job.bAskCredentials) {
                // The system's password dialog stores what the user types on the request.
                job.bUserAsked = true;
                const DWORD answer = ::InternetErrorDlg(
                    ::GetDesktopWindow(), request.h, ERROR_INTERNET_INCORRECT_PASSWORD,
                    FLAGS_ERROR_UI_FLAGS_GENERATE_DATA | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
                    nullptr);
                job.lastActivity = ::GetTickCount64();
                job.bUserAsked = false;
                if (answer == ERROR_INTERNET_FORCE_RETRY) {
                    if (!::HttpSendRequestW(request.h, nullptr, 0, nullptr, 0)) {
                        job.error = ErrorOf(::GetLastError());
                        return;
                    }
                    status = StatusOf(request.h);
                }
            } else if (std::optional<FetchCredentials> answer = AskCredentials(job)) {
                const std::wstring user = Utf8ToWide(answer->user);
                const std::wstring password = Utf8ToWide(answer->password);
                ::InternetSetOptionW(request.h, INTERNET_OPTION_USERNAME,
                                     const_cast<wchar_t*>(user.c_str()),
                                     static_cast<DWORD>(user.size()));
                ::InternetSetOptionW(request.h, INTERNET_OPTION_PASSWORD,
                                     const_cast<wchar_t*>(password.c_str()),
                                     static_cast<DWORD>(password.size()));
                if (!::HttpSendRequestW(request.h, nullptr, 0, nullptr, 0)) {
                    job.error = ErrorOf(::GetLastError());
                    return;
                }
                status = StatusOf(request.h);
            }
        }
        if (!bRedirected && (status == 301 || status == 302 || status == 303)) {
            job.status = status;
            // The Location header alone (never Content-Location), resolved against this URL.
            const std::wstring location = QueryText(request.h, HTTP_QUERY_LOCATION);
            wchar_t combined[INTERNET_MAX_URL_LENGTH];
            DWORD size = INTERNET_MAX_URL_LENGTH;
            if (location.empty() || !::InternetCombineUrlW(url->full.c_str(), location.c_str(),
                                                           combined, &size, ICU_NO_ENCODE)) {
                job.error = EFetchError::RedirectFailed;
                return;
            }
            std::optional<Url> target = CrackUrl(std::wstring(combined, size));
            // http may move to https; a secure fetch never drops to plain http.
            if (!target || (url->bHttps && !target->bHttps)) {
                job.error = EFetchError::RedirectRefused;
                return;
            }
            url = std::move(target);
            bRedirected = true;
            bMayAsk = false;  // credentials are never offered to another address
            continue;
        }
        job.status = status;
        if (bRedirected && status != 200) {
            job.error = EFetchError::RedirectFailed;
            return;
        }
        if (job.bFileMode) {
            StoreBody(job, request.h);
        } else {
            ReadLines(job, request.h);
        }
        return;
    }
}

}  // namespace

CHttpFetcher::CHttpFetcher() = default;
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

const CStringList& CHttpFetcher::Fetch(std::string strUrl, std::string strFile,
                                       ProgressSink progress) {
    const bool bFileMode = !strFile.empty();
    // A Fetch from this thread's own message pump (a button of the dialog that started the
    // first) is refused: the two would share this thread's wait.
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
    std::lock_guard fetchLock(g_fetchMutex);

    if (bFileMode && progress) progress(kDownloadingText);
    // Shared with the worker: a worker that an ended wait leaves behind (a connection attempt
    // that closing its session does not interrupt) keeps the job until it ends.
    const auto shared = std::make_shared<FetchJob>();
    FetchJob& job = *shared;
    job.strUrl = std::move(strUrl);
    job.strFile = std::move(strFile);
    job.bFileMode = bFileMode;
    job.connectTimeout = static_cast<DWORD>(m_connectTimeout.count());
    job.stallTimeout = static_cast<DWORD>(m_stallTimeout.count());
    job.textLimit = m_textLimit;
    job.bAskCredentials = static_cast<bool>(m_credentials);

    job.lastActivity = ::GetTickCount64();
    auto* handedOver = new std::shared_ptr<FetchJob>(shared);
    const HANDLE worker = ::CreateThread(
        nullptr, 0,
        [](void* argument) -> DWORD {
            const std::unique_ptr<std::shared_ptr<FetchJob>> owned(
                static_cast<std::shared_ptr<FetchJob>*>(argument));
            RunJob(**owned);
            return 0;
        },
        handedOver, 0, nullptr);
    if (worker == nullptr) {
        delete handedOver;
        m_lastError = EFetchError::NoConnection;
        m_lastStatus = 0;
        if (!bFileMode) m_lines.clear();
        return m_lines;
    }
    HANDLE waitFor[] = {worker, job.progressEvent};
    std::uint64_t shown = FetchJob::kNone;
    const auto showProgress = [&] {
        const std::uint64_t received = job.received.load();
        if (!progress || received == shown || received == FetchJob::kNone) return;
        shown = received;
        progress(ProgressText(received, job.contentLength.load()));
    };
    bool bAborted = false;
    ULONGLONG abortedAt = 0;
    const auto abort = [&] {
        bAborted = true;
        abortedAt = ::GetTickCount64();
        job.bAbandoned = true;
        // Closing the session ends every call the worker waits in, or nearly every one.
        if (HINTERNET session = job.session.exchange(nullptr)) ::InternetCloseHandle(session);
        // A worker waiting for the user's credentials gets none.
        ::SetEvent(job.credentialsEvent);
    };
    bool bLeftBehind = false;
    for (;;) {
        // Wakes for the worker's end, its progress, a message, or the next time limit.
        DWORD wait = INFINITE;
        const ULONGLONG now = ::GetTickCount64();
        if (bAborted) {
            if (now >= abortedAt + kAbortGrace) {
                bLeftBehind = true;
                break;
            }
            wait = static_cast<DWORD>(abortedAt + kAbortGrace - now);
        } else if (!job.bUserAsked.load()) {
            const ULONGLONG limit = job.bConnecting.load() ? job.connectTimeout : job.stallTimeout;
            const ULONGLONG deadline = job.lastActivity.load() + limit;
            if (now >= deadline) {
                job.bTimedOut = true;
                abort();
                continue;
            }
            wait = static_cast<DWORD>(deadline - now);
        }
        const DWORD woke = ::MsgWaitForMultipleObjects(2, waitFor, FALSE, wait, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) break;
        if (woke == WAIT_TIMEOUT) continue;
        if (woke == WAIT_OBJECT_0 + 1) {
            if (job.bCredentialsWanted.exchange(false)) {
                job.credentials = m_credentials(job.strUrl);
                ::SetEvent(job.credentialsEvent);
            }
            showProgress();
        } else if (!PumpMessages() && !bAborted) {
            abort();  // the program is quitting
        }
    }
    ::CloseHandle(worker);
    if (bLeftBehind) {
        m_lastError = job.bTimedOut.load() ? EFetchError::Timeout : EFetchError::Aborted;
        m_lastStatus = 0;
        if (!bFileMode) m_lines.clear();
        return m_lines;
    }
    showProgress();

    m_lastError = job.bTimedOut ? EFetchError::Timeout
                  : bAborted    ? EFetchError::Aborted
                                : job.error;
    m_lastStatus = job.status;
    if (!bFileMode) m_lines = std::move(job.lines);
    return m_lines;
}
