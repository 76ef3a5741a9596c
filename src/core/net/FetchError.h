// Why a fetch did not deliver what was asked for, and how the user is told: the same on every
// system, whichever network library did the transfer.
#pragma once

#include <string>

enum class EFetchError {
    None,             // the transfer completed (see LastHttpStatus for the server's answer)
    Busy,             // another fetch waits on this thread
    NoConnection,     // the network library could not be set up
    BadUrl,           // the address cannot be used
    Unreachable,      // host not found or connection refused
    Timeout,          // no connection, or nothing received, within the time limits
    SecureChannel,    // TLS failed, certificate or host name not trusted
    Transfer,         // the connection broke off during the transfer
    RedirectRefused,  // redirected to an address that is not followed (https to http, ...)
    RedirectFailed,   // redirect without a target, or the target did not answer 200
    TooLarge,         // a text body beyond the size limit
    HtmlPage,         // file mode: the body was a web page
    EmptyBody,        // file mode: nothing to store
    FileError,        // file mode: the file could not be written
    Aborted,          // the wait was ended because the program is quitting
};

// The reason in words, to follow "because" or a colon; empty for a fetch that succeeded.
// `status` is the last HTTP status seen (0: none).
std::string FetchFailureReason(EFetchError error, long status);
