// Fetches one URL over HTTP(S) with WinINet into text lines or into a file, on a worker thread,
// while the calling (user-interface) thread keeps dispatching its window messages.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/CStringList.h"
#include "core/FetchError.h"

// Called on the calling thread with the newest progress text.
using ProgressSink = std::function<void(const std::string& text)>;

struct FetchCredentials {
    std::string user;
    std::string password;
};
// Asked on the calling thread when the first answer is 401; nothing: no second try.
using CredentialsSource = std::function<std::optional<FetchCredentials>(const std::string& url)>;

class CHttpFetcher {
public:
    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{60'000};
    static constexpr std::chrono::milliseconds kDefaultStallTimeout{60'000};
    static constexpr std::size_t kDefaultTextLimit = 4 * 1024 * 1024;

    CHttpFetcher();
    virtual ~CHttpFetcher();
    CHttpFetcher(const CHttpFetcher&) = delete;
    CHttpFetcher& operator=(const CHttpFetcher&) = delete;

    // Empty strFile: text mode, the body as lines (LF kept, CR dropped, at most 1,022 characters
    // an entry): this fetch's lines, those read before a failure, or none. Otherwise file mode:
    // the body is stored in strFile, left behind only when the whole body arrived and held no
    // "<html>"; the list is returned untouched. Valid until the next Fetch or the end.
    const CStringList& Fetch(std::string strUrl, std::string strFile, ProgressSink progress = {});

    const CStringList& Lines() const { return m_lines; }
    // The whole body arrived with a 2xx answer (in file mode: and was stored).
    bool LastFetchSucceeded() const;
    EFetchError LastError() const { return m_lastError; }
    long LastHttpStatus() const { return m_lastStatus; }
    // Plain words for a failure ("the server could not be reached"); empty after success.
    std::string LastFailureReason() const;

    void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall);
    void SetTextLimit(std::size_t bytes) { m_textLimit = bytes; }
    // Replaces the system's password dialog (tests).
    void SetCredentialsSource(CredentialsSource source) { m_credentials = std::move(source); }

private:
    CStringList m_lines;
    EFetchError m_lastError = EFetchError::None;
    long m_lastStatus = 0;
    std::chrono::milliseconds m_connectTimeout = kDefaultConnectTimeout;
    std::chrono::milliseconds m_stallTimeout = kDefaultStallTimeout;
    std::size_t m_textLimit = kDefaultTextLimit;
    CredentialsSource m_credentials;
};
