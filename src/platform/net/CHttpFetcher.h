// Fetches one URL over HTTP(S) into text lines or into a file, on a worker thread, while the
// calling thread keeps handling its events. The same on every system: the rules of a fetch live
// in FetchJob.cpp, the network library below them (HttpTransport_curl.cpp, _win.cpp) and the
// calling thread's wait beside them (FetchWait_qt.cpp, _win.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "core/CStringList.h"
#include "core/net/FetchError.h"

// Receives progress texts on the calling thread; only the latest text matters.
using ProgressSink = std::function<void(const std::string& text)>;

struct FetchCredentials {
    std::string user;
    std::string password;
};
// Asked on the calling thread when a request is answered 401, with the request's address and the
// realm the server names (may be empty); nothing: the 401 answer stands.
using CredentialsSource = std::function<std::optional<FetchCredentials>(const std::string& url,
                                                                        const std::string& realm)>;
// Shows the fetcher's one message ("Cannot open internet connection.") on the calling thread.
using FetchMessageSink = std::function<void(const std::string& text)>;

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

    // Connecting may take `connect`; once connected, the server may stay silent for `stall`.
    // The time the user takes to answer a password question counts for neither.
    void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall);
    void SetTextLimit(std::size_t bytes) { m_textLimit = bytes; }
    // A PEM file of CA certificates trusted instead of the system's store, where the network
    // library reads one (libcurl); WinINet always trusts the system's store.
    void SetCaFile(std::string path) { m_strCaFile = std::move(path); }
    // The same for every fetcher made afterwards (tests that drive the upgrade dialog against a
    // local server). Only code in this process can choose it, never its environment.
    static void SetDefaultCaFile(std::string path);

    // What every fetch of the process asks on a 401 answer (once a fetch, never for the target
    // of a redirect); none set: the system's own password dialog where the network library has
    // one (WinINet), else nothing. Returns the one set before.
    static CredentialsSource SetCredentialsSource(CredentialsSource source);
    // Where the fetcher's one message goes; none set: the system's message box (Windows) or
    // standard error. Returns the one set before.
    static FetchMessageSink SetMessageSink(FetchMessageSink sink);

private:
    const CStringList& Refuse(EFetchError error, bool bFileMode);

    CStringList m_lines;
    EFetchError m_lastError = EFetchError::None;
    long m_lastStatus = 0;
    std::chrono::milliseconds m_connectTimeout = kDefaultConnectTimeout;
    std::chrono::milliseconds m_stallTimeout = kDefaultStallTimeout;
    std::size_t m_textLimit = kDefaultTextLimit;
    std::string m_strCaFile;
};
