// Reading an answer's head: the status, the redirect target, the length and the realm.
#include "core/net/HttpHead.h"

#include <cctype>
#include <cstdlib>
#include <optional>

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// The value of a header line whose name (at the start of the line, any letter case) is `name`.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':' ||
        !EqualsNoCase(line.substr(0, name.size()), name))
        return std::nullopt;
    return Trim(line.substr(name.size() + 1));
}

std::string RealmOf(std::string_view challenge) {
    const std::size_t pos = challenge.find("realm=\"");
    if (pos == std::string_view::npos) return {};
    const std::size_t start = pos + 7;
    const std::size_t end = challenge.find('"', start);
    return std::string(challenge.substr(start, end == std::string_view::npos ? end : end - start));
}

// The number at the start of the status line's code, read within the line (the network
// library's buffer is not NUL-terminated) and capped, like atol, without running past it.
long StatusNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 100000) value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

bool TakeHeadLine(ResponseHead& head, std::string_view raw) {
    const std::string_view line = Trim(raw);
    if (raw.size() >= 5 && EqualsNoCase(raw.substr(0, 5), "HTTP/")) {
        // A new answer's head (a 1xx answer may come before the real one).
        const std::size_t blank = line.find(' ');
        head.status = blank == std::string_view::npos ? 0 : StatusNumber(line.substr(blank + 1));
        head.strLocation.clear();
        head.strRealm.clear();
        head.contentLength = -1;
        return false;
    }
    if (line.empty()) return !(head.status >= 100 && head.status < 200);
    if (auto value = HeaderValue(line, "Location")) {
        if (head.strLocation.empty()) head.strLocation = *value;
    } else if (auto lengthValue = HeaderValue(line, "Content-Length")) {
        head.contentLength = std::atoll(std::string(*lengthValue).c_str());
    } else if (auto challenge = HeaderValue(line, "WWW-Authenticate")) {
        if (head.strRealm.empty()) head.strRealm = RealmOf(*challenge);
    }
    return false;
}

ResponseHead ReadHead(std::string_view text) {
    ResponseHead head;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        if (TakeHeadLine(head, text.substr(0, end))) break;
        text.remove_prefix(end);
    }
    return head;
}
