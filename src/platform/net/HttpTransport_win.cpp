// The fetcher's transport on WinINet: one session per fetch, closed from the calling thread to
// end a transfer; the system's password dialog; WinINet's URL parser.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cwctype>
#include <vector>

#include "platform/net/HttpTransport.h"
#include "platform/system/WideText_win.h"

namespace {

// Always from the server, never into a cache, an open connection reused, redirects handled by
// the fetch.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT |
                                INTERNET_FLAG_DONT_CACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;
static_assert(kRequestFlags == 0xA4200000);

constexpr std::size_t kReadSize = 64 * 1024;
// WinINet's own limits lie a second beyond the fetch's watch, which says why it ended.
constexpr DWORD kLastResortMs = 1000;

struct Internet {
    HINTERNET h = nullptr;
    explicit Internet(HINTERNET handle) : h(handle) {}
    Internet(const Internet&) = delete;
    Internet& operator=(const Internet&) = delete;
    ~Internet() {
        if (h) ::InternetCloseHandle(h);
    }
};

struct UrlParts {
    std::wstring scheme;  // lower case
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring object;  // path and query
};

std::optional<UrlParts> CrackUrl(const std::wstring& text) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
        parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts))
        return std::nullopt;
    UrlParts url;
    url.scheme.assign(parts.lpszScheme, parts.dwSchemeLength);
    for (wchar_t& c : url.scheme) c = static_cast<wchar_t>(std::towlower(c));
    url.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    url.port = parts.nPort;
    url.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) url.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (url.object.empty()) url.object = L"/";
    if (url.host.empty()) return std::nullopt;
    return url;
}

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

ResponseHead HeadOf(HINTERNET request) {
    ResponseHead head = ReadHead(WideToUtf8(QueryText(request, HTTP_QUERY_RAW_HEADERS_CRLF)));
    DWORD status = 0;
    DWORD size = sizeof status;
    DWORD index = 0;
    head.status = ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                   &status, &size, &index)
                      ? static_cast<long>(status)
                      : 0;
    return head;
}

void SetCredentials(HINTERNET request, const FetchCredentials& credentials) {
    std::wstring user = Utf8ToWide(credentials.user);
    std::wstring password = Utf8ToWide(credentials.password);
    ::InternetSetOptionW(request, INTERNET_OPTION_USERNAME, user.data(),
                         static_cast<DWORD>(user.size()));
    ::InternetSetOptionW(request, INTERNET_OPTION_PASSWORD, password.data(),
                         static_cast<DWORD>(password.size()));
}

EFetchError ReadBody(HINTERNET request, IHttpExchange& exchange) {
    std::vector<char> buffer(kReadSize);
    for (;;) {
        DWORD got = 0;
        if (!::InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &got))
            return ErrorOf(::GetLastError());
        if (got == 0 || !exchange.OnBody(buffer.data(), got)) return EFetchError::None;
    }
}

// The request's exchange while the worker is inside a WinINet call.
thread_local IHttpExchange* t_exchange = nullptr;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR, DWORD status, LPVOID, DWORD) {
    IHttpExchange* exchange = t_exchange;
    if (!exchange) return;
    switch (status) {
        case INTERNET_STATUS_CONNECTING_TO_SERVER:
            exchange->OnConnecting();
            break;
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
            exchange->OnConnected();
            break;
        case INTERNET_STATUS_REQUEST_SENT:
        case INTERNET_STATUS_RESPONSE_RECEIVED:
            exchange->OnActivity();
            break;
        default:
            break;
    }
}

class CWinInetTransport final : public CHttpTransport {
public:
    CWinInetTransport(HINTERNET session, const Settings& settings)
        : m_session(session),
          m_connectLimit(static_cast<DWORD>(settings.connectTimeout.count()) + kLastResortMs),
          m_stallLimit(static_cast<DWORD>(settings.stallTimeout.count()) + kLastResortMs) {
        ::InternetSetStatusCallbackW(session, OnStatus);
        SetTimeLimits(session);
    }
    ~CWinInetTransport() override { Abort(); }

    EFetchError Get(const FetchUrl& url, const std::vector<std::string>& headers,
                    IHttpExchange& exchange) override;
    bool AskWithSystemDialog() override;
    // Closing the session ends every call the worker waits in, or nearly every one.
    void Abort() override {
        if (HINTERNET open = m_session.exchange(nullptr)) ::InternetCloseHandle(open);
    }

private:
    // Each handle takes the limits itself: a handle does not always inherit them from its
    // parent.
    void SetTimeLimits(HINTERNET handle) const {
        DWORD connect = m_connectLimit;
        DWORD stall = m_stallLimit;
        ::InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
        for (const DWORD option : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                   INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
            ::InternetSetOptionW(handle, option, &stall, sizeof stall);
    }
    EFetchError Exchange(HINTERNET request, IHttpExchange& exchange);

    std::atomic<HINTERNET> m_session;
    const DWORD m_connectLimit;
    const DWORD m_stallLimit;
    HINTERNET m_request = nullptr;  // worker only
};

EFetchError CWinInetTransport::Get(const FetchUrl& url, const std::vector<std::string>& headers,
                                   IHttpExchange& exchange) {
    const std::optional<UrlParts> parts = CrackUrl(Utf8ToWide(url.text));
    const HINTERNET session = m_session.load();
    if (!parts || !session) return parts ? EFetchError::Aborted : EFetchError::BadUrl;
    t_exchange = &exchange;
    Internet connection(::InternetConnectW(session, parts->host.c_str(), parts->port, nullptr,
                                           nullptr, INTERNET_SERVICE_HTTP, 0, 1));
    // Certificate checks stay as the system makes them: no SECURITY_FLAG_IGNORE_* anywhere.
    const DWORD flags = kRequestFlags | (parts->scheme == L"https" ? INTERNET_FLAG_SECURE : 0);
    Internet request(connection.h ? ::HttpOpenRequestW(connection.h, L"GET", parts->object.c_str(),
                                                       L"HTTP/1.0", nullptr, nullptr, flags, 1)
                                  : nullptr);
    EFetchError result = ErrorOf(::GetLastError());
    if (request.h) {
        SetTimeLimits(connection.h);
        SetTimeLimits(request.h);
        std::wstring block;
        for (const std::string& line : headers) block += Utf8ToWide(line) + L"\r\n";
        ::HttpAddRequestHeadersW(request.h, block.c_str(), static_cast<DWORD>(-1),
                                 HTTP_ADDREQ_FLAG_ADD_IF_NEW);
        m_request = request.h;
        result = Exchange(request.h, exchange);
        m_request = nullptr;
    }
    t_exchange = nullptr;
    return result;
}

EFetchError CWinInetTransport::Exchange(HINTERNET request, IHttpExchange& exchange) {
    for (;;) {
        if (!::HttpSendRequestW(request, nullptr, 0, nullptr, 0)) return ErrorOf(::GetLastError());
        std::optional<FetchCredentials> credentials;
        switch (exchange.OnHead(HeadOf(request), credentials)) {
            case EHeadAction::Stop:
                return EFetchError::None;
            case EHeadAction::Body:
                return ReadBody(request, exchange);
            case EHeadAction::Resend:
                if (credentials) SetCredentials(request, *credentials);
                break;
        }
    }
}

bool CWinInetTransport::AskWithSystemDialog() {
    // The dialog stores what the user types on the request.
    return m_request &&
           ::InternetErrorDlg(
               ::GetDesktopWindow(), m_request, ERROR_INTERNET_INCORRECT_PASSWORD,
               FLAGS_ERROR_UI_FLAGS_GENERATE_DATA | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
               nullptr) == ERROR_INTERNET_FORCE_RETRY;
}

}  // namespace

std::unique_ptr<CHttpTransport> CHttpTransport::Make(const Settings& settings) {
    // A direct connection. No agent: the request's own User-Agent line is the one sent.
    const HINTERNET session =
        ::InternetOpenW(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!session) return nullptr;
    return std::make_unique<CWinInetTransport>(session, settings);
}

std::optional<FetchUrl> ParseFetchUrl(const std::string& url, const FetchUrl* base) {
    std::wstring text = Utf8ToWide(url);
    if (base) {
        // The Location header resolved against the address that sent it.
        std::vector<wchar_t> combined(INTERNET_MAX_URL_LENGTH);
        DWORD size = static_cast<DWORD>(combined.size());
        if (!::InternetCombineUrlW(Utf8ToWide(base->text).c_str(), text.c_str(), combined.data(),
                                   &size, ICU_NO_ENCODE))
            return std::nullopt;
        text.assign(combined.data(), size);
    }
    const std::optional<UrlParts> parts = CrackUrl(text);
    if (!parts) return std::nullopt;
    return FetchUrl{WideToUtf8(text), WideToUtf8(parts->scheme)};
}

std::FILE* OpenBodyFile(const std::string& path) {
    return ::_wfopen(Utf8ToWide(path).c_str(), L"wb");
}

void RemoveBodyFile(const std::string& path) {
    ::_wremove(Utf8ToWide(path).c_str());
}
