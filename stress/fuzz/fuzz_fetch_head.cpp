// Fuzzes the fetcher's reading of answer heads and its redirect rule. Input: head lines split at
// LF (each handed over with its LF, as the network library does), then after a NUL the URL the
// request went to.
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/net/FetchBody.h"
#include "core/net/HttpHead.h"
#include "platform/net/FetchJob.h"

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if ((text[i] | 0x20) != (prefix[i] | 0x20)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    std::string_view head = input.substr(0, nul);
    const std::string base = nul == std::string_view::npos
                                 ? std::string("http://127.0.0.1:8080/vantrel_upgrade_check.html")
                                 : std::string(input.substr(nul + 1));

    ResponseHead answer;
    int decisions = 0;
    while (!head.empty()) {
        const std::size_t lf = head.find('\n');
        const std::size_t end = lf == std::string_view::npos ? head.size() : lf + 1;
        // An exact copy, so reading past the line is caught.
        const std::string line(head.substr(0, end));
        const bool decide = TakeHeadLine(answer, line);
        if (decide) {
            ++decisions;
            FUZZ_CHECK(!(answer.status >= 100 && answer.status < 200));
        }
        FUZZ_CHECK(answer.status >= 0 && answer.status < 1000000);
        head.remove_prefix(end);
    }
    FUZZ_CHECK(answer.strLocation.find('\n') == std::string::npos);

    // Redirects: followed only to http(s), never from https down to http.
    if (!StartsWithNoCase(base, "https://") && !StartsWithNoCase(base, "http://")) return 0;
    const std::optional<FetchUrl> from = ParseFetchUrl(base, nullptr);
    if (!from) return 0;
    FetchUrl target;
    const EFetchError error = ResolveRedirect(answer.strLocation, *from, &target);
    if (error == EFetchError::None) {
        FUZZ_CHECK(target.scheme == "https" || (target.scheme == "http" && from->scheme == "http"));
        FUZZ_CHECK(StartsWithNoCase(target.text, target.scheme + "://"));
    } else {
        FUZZ_CHECK(error == EFetchError::RedirectFailed || error == EFetchError::RedirectRefused);
    }
    FUZZ_CHECK(!NormaliseFetchUrl(answer.strLocation).empty());
    return 0;
}
