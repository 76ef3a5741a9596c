// Fetches one URL over HTTP(S) into text lines or into a file, on a worker thread, while the
// calling thread keeps handling its events.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/CStringList.h"
#include "core/FetchError.h"

// Receives progress texts on the calling thread; only the latest text matters.
using ProgressSink = std::function<void(const std::string& text)>;

class CHttpFetcher {
public:
    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{60'000};
    static constexpr std::chrono::seconds kDefaultStallTimeout{60};
    static constexpr std::size_t kDefaultTextLimit = 4 * 1024 * 1024;

    CHttpFetcher();
    virtual ~CHttpFetcher();
    CHttpFetcher(const CHttpFetcher&) = delete;
    CHttpFetcher& operator=(const CHttpFetcher&) = delete;

    // Empty strFile: text mode, the body as lines (LF kept, CR dropped, at most 1,022 characters
    // an entry); the result holds exactly this fetch's lines, those read before a failure, or
    // none. Otherwise file mode: the body is stored in strFile, which is left behind only when
    // the whole body arrived and held no "<html>"; the result is the list untouched.
    // The result stays valid until the next Fetch or the fetcher's end.
    const CStringList& Fetch(std::string strUrl, std::string strFile, ProgressSink progress = {});

    const CStringList& Lines() const { return m_lines; }

    // The whole body arrived with a 2xx answer (in file mode: and was stored).
    bool LastFetchSucceeded() const;
    EFetchError LastError() const { return m_lastError; }
    // Status of the answer whose body was read; 0 when none was.
    long LastHttpStatus() const { return m_lastStatus; }
    // Plain words for a failure ("the server could not be reached", "the server answered 404");
    // empty after success.
    std::string LastFailureReason() const;

    void SetTimeouts(std::chrono::milliseconds connect, std::chrono::seconds stall);
    void SetTextLimit(std::size_t bytes) { m_textLimit = bytes; }
    // A PEM file of CA certificates trusted instead of the system's store.
    void SetCaFile(std::string path) { m_strCaFile = std::move(path); }
    // The same for every fetcher made afterwards (tests that drive the upgrade dialog against a
    // local server). Only code in this process can choose it, never its environment.
    static void SetDefaultCaFile(std::string path);

private:
    CStringList m_lines;
    EFetchError m_lastError = EFetchError::None;
    long m_lastStatus = 0;
    std::chrono::milliseconds m_connectTimeout = kDefaultConnectTimeout;
    std::chrono::seconds m_stallTimeout = kDefaultStallTimeout;
    std::size_t m_textLimit = kDefaultTextLimit;
    std::string m_strCaFile;
};

// What the fetcher keeps of an answer's head.
struct ResponseHead {
    long status = 0;
    std::string strLocation;  // the first Location header's value
    std::string strRealm;
    std::int64_t contentLength = -1;
};

// Takes one head line as the network library hands it over (line end included). True at the
// blank line that ends a head other than a 1xx one: the answer is then to be acted on.
bool TakeHeadLine(ResponseHead& head, std::string_view line);

// Where a redirect from url (of scheme) to location leads: None with the absolute target and its
// scheme, RedirectFailed when there is no usable target, RedirectRefused when it is not followed.
EFetchError ResolveRedirect(const std::string& location, const std::string& url,
                            const std::string& scheme, std::string* target,
                            std::string* targetScheme);
