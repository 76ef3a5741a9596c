// The network library below the fetcher: one GET and its answer, the library's own calls and
// error codes, and no rule of what a fetch does with the answer (FetchJob.cpp decides).
// HttpTransport_curl.cpp (libcurl) and HttpTransport_win.cpp (WinINet) implement it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/net/FetchError.h"
#include "core/net/HttpHead.h"
#include "platform/net/CHttpFetcher.h"

// An absolute URL as the library understands it, and its scheme in lower case.
struct FetchUrl {
    std::string text;
    std::string scheme;
};

// The URL, made absolute against base when one is given; nothing when the library cannot parse
// it.
std::optional<FetchUrl> ParseFetchUrl(const std::string& url, const FetchUrl* base);

// The file a download goes to, by its UTF-8 name: opened for writing (truncated), or removed.
std::FILE* OpenBodyFile(const std::string& path);
void RemoveBodyFile(const std::string& path);

enum class EHeadAction { Body, Stop, Resend };

// What the transport tells about a request while it runs, on the worker thread.
class IHttpExchange {
public:
    virtual void OnConnecting() = 0;
    virtual void OnConnected() = 0;
    // Bytes of the request or the answer moved.
    virtual void OnActivity() = 0;
    // The head of an answer (not a 1xx one) is complete. Resend: the same request once more,
    // with these credentials when there are some (else with what the system's dialog stored).
    virtual EHeadAction OnHead(const ResponseHead& head,
                               std::optional<FetchCredentials>& credentials) = 0;
    // The body's bytes, in order; false ends the transfer.
    virtual bool OnBody(const char* data, std::size_t size) = 0;

protected:
    ~IHttpExchange() = default;
};

class CHttpTransport {
public:
    struct Settings {
        std::chrono::milliseconds connectTimeout{};
        std::chrono::milliseconds stallTimeout{};
        std::string strCaFile;
    };
    // Nothing when the network library cannot be set up. The limits are the library's own last
    // resort; the fetch watches its limits itself and calls Abort.
    static std::unique_ptr<CHttpTransport> Make(const Settings& settings);
    virtual ~CHttpTransport() = default;

    // One HTTP/1.0 GET of url with these header lines (without line ends) and no others the
    // library could leave out. Returns the library's verdict on the transfer: None when it ended
    // as the exchange wanted or with the whole body.
    virtual EFetchError Get(const FetchUrl& url, const std::vector<std::string>& headers,
                            IHttpExchange& exchange) = 0;
    // Worker thread, inside OnHead of a 401 answer: asks for a user name and password with the
    // system's own dialog; true when the request is to be sent again. False where there is none.
    virtual bool AskWithSystemDialog() = 0;
    // Any thread: ends the running transfer as soon as the library lets it.
    virtual void Abort() = 0;
};
