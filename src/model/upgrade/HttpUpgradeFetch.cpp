// The upgrade's transfers through CHttpFetcher.
#include "model/upgrade/HttpUpgradeFetch.h"

#include "platform/net/CHttpFetcher.h"

UpgradeFetchResult HttpUpgradeFetch::Fetch(
    const std::string& url, const std::string& file,
    const std::function<void(const std::string&)>& progress) {
    CHttpFetcher fetcher;
    const CStringList& lines = fetcher.Fetch(url, file, progress);
    UpgradeFetchResult result;
    result.succeeded = fetcher.LastFetchSucceeded();
    result.error = fetcher.LastError();
    result.httpStatus = fetcher.LastHttpStatus();
    result.failure = fetcher.LastFailureReason();
    if (file.empty()) result.lines = lines;
    return result;
}
