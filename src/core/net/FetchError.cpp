#include "core/net/FetchError.h"

std::string FetchFailureReason(EFetchError error, long status) {
    switch (error) {
        case EFetchError::None:
            if (status >= 200 && status < 300) return {};
            return "the server answered " + std::to_string(status);
        case EFetchError::Busy:
            return "another download is still running";
        case EFetchError::NoConnection:
            return "the internet connection could not be opened";
        case EFetchError::BadUrl:
            return "the address is not valid";
        case EFetchError::Unreachable:
            return "the server could not be reached";
        case EFetchError::Timeout:
            return "the server did not answer in time";
        case EFetchError::SecureChannel:
            return "no secure connection to the server could be made";
        case EFetchError::Transfer:
            return "the connection broke off during the transfer";
        case EFetchError::RedirectRefused:
            return "the server sent the request on to an address that is not safe to follow";
        case EFetchError::RedirectFailed:
            // A redirect without a usable target, or the target's own answer.
            return status == 0 || status == 301 || status == 302 || status == 303
                       ? "the server sent the request on to an address that could not be used"
                       : "the server the request was sent on to answered " + std::to_string(status);
        case EFetchError::TooLarge:
            return "the page is too large";
        case EFetchError::HtmlPage:
            return "the server sent a web page instead of the file";
        case EFetchError::EmptyBody:
            return "the server sent nothing";
        case EFetchError::FileError:
            return "the file could not be written";
        case EFetchError::Aborted:
            return "the transfer was cancelled";
    }
    return "the transfer failed";
}
