// The fetcher's transport on libcurl: one easy handle per fetch, its sockets kept in view so that
// a transfer given up ends at once, and curl's URL parser.
#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/net/HttpTransport.h"

namespace {

// Large network reads keep a big download close to the speed of the curl tool: fewer reads and
// callbacks, each handing over more of the body (512 KiB is libcurl's older upper bound).
constexpr long kCurlBufferSize = 512 * 1024;
// The library's own limits lie a second beyond the fetch's watch, which says why it ended.
constexpr long kLastResortMs = 1000;

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

// One request and its answer, as the callbacks see them.
struct Request {
    IHttpExchange* exchange = nullptr;
    ResponseHead head;
    EHeadAction action = EHeadAction::Stop;
    bool bHead = false;  // the head is complete
    std::optional<FetchCredentials> credentials;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Request& request = *static_cast<Request*>(user);
    const size_t length = size * count;
    request.exchange->OnActivity();
    if (!TakeHeadLine(request.head, std::string_view(data, length))) return length;
    request.bHead = true;
    request.credentials.reset();
    request.action = request.exchange->OnHead(request.head, request.credentials);
    return request.action == EHeadAction::Body ? length : 0;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Request& request = *static_cast<Request*>(user);
    const size_t length = size * count;
    if (!request.bHead || request.action != EHeadAction::Body) return 0;
    return request.exchange->OnBody(data, length) ? length : 0;
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

class CCurlTransport final : public CHttpTransport {
public:
    explicit CCurlTransport(CURL* curl) : m_curl(curl) {}
    ~CCurlTransport() override { curl_easy_cleanup(m_curl); }

    void Configure(const Settings& settings);
    EFetchError Get(const FetchUrl& url, const std::vector<std::string>& headers,
                    IHttpExchange& exchange) override;
    bool AskWithSystemDialog() override { return false; }
    void Abort() override;

private:
    static int OnTransferInfo(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int OnConnected(void* user, char*, char*, int, int);
    static curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address);
    static int OnCloseSocket(void* user, curl_socket_t socket);

    CURL* const m_curl;
    IHttpExchange* m_exchange = nullptr;
    std::string m_strCaFile;
    std::atomic<bool> m_bAbort{false};
    // The sockets curl has open, shut down by Abort to wake it from a wait.
    std::mutex m_socketMutex;
    std::set<curl_socket_t> m_sockets;
};

void CCurlTransport::Configure(const Settings& settings) {
    m_strCaFile = settings.strCaFile;
    curl_easy_setopt(m_curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
    // Redirects are the fetch's business, never curl's.
    curl_easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // A direct connection: proxy settings of the environment are not used.
    curl_easy_setopt(m_curl, CURLOPT_PROXY, "");
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(settings.connectTimeout.count()) + kLastResortMs);
    // Nothing received for that long ends the transfer.
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(
        m_curl, CURLOPT_LOW_SPEED_TIME,
        static_cast<long>((settings.stallTimeout.count() + 2 * kLastResortMs - 1) / kLastResortMs));
    curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_strCaFile.empty()) curl_easy_setopt(m_curl, CURLOPT_CAINFO, m_strCaFile.c_str());
    curl_easy_setopt(m_curl, CURLOPT_BUFFERSIZE, kCurlBufferSize);
    curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, Guarded<OnHeader>);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, Guarded<OnBody>);
    curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, OnTransferInfo);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(m_curl, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(m_curl, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(m_curl, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
    curl_easy_setopt(m_curl, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(m_curl, CURLOPT_CLOSESOCKETFUNCTION, OnCloseSocket);
    curl_easy_setopt(m_curl, CURLOPT_CLOSESOCKETDATA, this);
}

EFetchError CCurlTransport::Get(const FetchUrl& url, const std::vector<std::string>& headers,
                                IHttpExchange& exchange) {
    curl_slist* list = nullptr;
    for (const std::string& line : headers) list = curl_slist_append(list, line.c_str());
    // Keeps curl from adding its own "Accept: */*" to a request without one.
    if (std::none_of(headers.begin(), headers.end(),
                     [](const std::string& line) { return line.rfind("Accept:", 0) == 0; }))
        list = curl_slist_append(list, "Accept:");
    m_exchange = &exchange;
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(m_curl, CURLOPT_URL, url.text.c_str());
    std::optional<FetchCredentials> credentials;
    CURLcode code = CURLE_OK;
    for (;;) {
        Request request;
        request.exchange = &exchange;
        curl_easy_setopt(m_curl, CURLOPT_HTTPAUTH, credentials ? CURLAUTH_BASIC : CURLAUTH_NONE);
        curl_easy_setopt(m_curl, CURLOPT_USERNAME,
                         credentials ? credentials->user.c_str() : nullptr);
        curl_easy_setopt(m_curl, CURLOPT_PASSWORD,
                         credentials ? credentials->password.c_str() : nullptr);
        curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, &request);
        curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &request);
        exchange.OnConnecting();
        code = curl_easy_perform(m_curl);
        if (!request.bHead || request.action != EHeadAction::Resend) break;
        credentials = std::move(request.credentials);
    }
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);
    return ErrorOf(code);
}

void CCurlTransport::Abort() {
    m_bAbort = true;
    std::lock_guard lock(m_socketMutex);
    for (const curl_socket_t socket : m_sockets) ::shutdown(socket, SHUT_RDWR);
}

int CCurlTransport::OnTransferInfo(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<CCurlTransport*>(user)->m_bAbort.load() ? 1 : 0;
}

int CCurlTransport::OnConnected(void* user, char*, char*, int, int) {
    static_cast<CCurlTransport*>(user)->m_exchange->OnConnected();
    return CURL_PREREQFUNC_OK;
}

curl_socket_t CCurlTransport::OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    auto& self = *static_cast<CCurlTransport*>(user);
    std::lock_guard lock(self.m_socketMutex);
    if (self.m_bAbort.load()) return CURL_SOCKET_BAD;
    const curl_socket_t socket =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket == CURL_SOCKET_BAD) return socket;
    try {
        self.m_sockets.insert(socket);
    } catch (...) {  // no exception may cross libcurl's C frames
        ::close(socket);
        return CURL_SOCKET_BAD;
    }
    return socket;
}

int CCurlTransport::OnCloseSocket(void* user, curl_socket_t socket) {
    auto& self = *static_cast<CCurlTransport*>(user);
    // Closed under the lock: Abort never shuts down a number the system has given out again.
    std::lock_guard lock(self.m_socketMutex);
    self.m_sockets.erase(socket);
    return ::close(socket);
}

}  // namespace

std::unique_ptr<CHttpTransport> CHttpTransport::Make(const Settings& settings) {
    static std::once_flag curlInit;
    std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) return nullptr;
    auto transport = std::make_unique<CCurlTransport>(curl);
    transport->Configure(settings);
    return transport;
}

std::optional<FetchUrl> ParseFetchUrl(const std::string& url, const FetchUrl* base) {
    CURLU* handle = curl_url();
    if (!handle) return std::nullopt;
    std::optional<FetchUrl> parsed;
    char* absolute = nullptr;
    char* scheme = nullptr;
    if ((!base || curl_url_set(handle, CURLUPART_URL, base->text.c_str(), 0) == CURLUE_OK) &&
        curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_URL, &absolute, 0) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK)
        parsed = FetchUrl{absolute, scheme};
    curl_free(absolute);
    curl_free(scheme);
    curl_url_cleanup(handle);
    return parsed;
}

std::FILE* OpenBodyFile(const std::string& path) {
    return std::fopen(path.c_str(), "wb");
}

void RemoveBodyFile(const std::string& path) {
    std::remove(path.c_str());
}
