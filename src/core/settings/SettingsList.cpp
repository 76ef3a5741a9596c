// The settings list's rules: the hosts block's own line rules, applied before anything is saved.
#include "core/settings/SettingsList.h"

#include <algorithm>
#include <vector>

#include "core/hosts/AddressTwin.h"
#include "core/hosts/HostsLine.h"

namespace {

// The list's lines as the user sees them: CR LF, a lone CR and a lone LF each end one.
std::vector<std::string_view> ListLines(std::string_view list) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = list.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(list.substr(start));
            return lines;
        }
        lines.push_back(list.substr(start, end - start));
        start = end + (list[end] == '\r' && end + 1 < list.size() && list[end + 1] == '\n' ? 2 : 1);
    }
}

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\v\f";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// Characters as an edit field counts them (UTF-16 units): a UTF-8 lead byte starts one, a lead
// byte of four starts a pair.
std::size_t FieldLength(std::string_view text) {
    std::size_t length = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++length;
        if (byte >= 0xF0) ++length;
    }
    return length;
}

}  // namespace

std::string SettingsTextFor(std::string_view domains, const std::string& address) {
    // Each domain goes out with the other address family's twin too, so that IPv6-only lookups
    // (or IPv4-only ones) are answered by the hosts file and never reach DNS.
    const std::string twin = TwinAddress(address);
    std::string text;
    for (const std::string& domain : DomainsOfList(domains)) {
        text += address + ' ' + domain + '\n';
        if (!twin.empty()) text += twin + ' ' + domain + '\n';
    }
    return text;
}

ListProblem FindListProblem(std::string_view domains, const std::string& address) {
    // The same rules as the hosts block's, so nothing saved here is refused when ads are hidden.
    const std::vector<std::string_view> lines = ListLines(domains);
    std::size_t count = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string domain = CleanDomain(lines[i]);
        if (domain.empty()) continue;
        ++count;
        if (!IsHostName(domain)) {
            return {"Line " + std::to_string(i + 1) + ", \"" + std::string(Trimmed(lines[i])) +
                        "\", is not a domain name. Please enter one domain per line, such as "
                        "pagead2.googlesyndication.com.",
                    static_cast<int>(i)};
        }
    }
    const std::string text = SettingsTextFor(domains, address);
    const auto written = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    if (written > kMaxBlockLines) {
        // Counted in domains, however many lines each one takes in the file.
        const std::size_t perDomain = std::max<std::size_t>(1, written / count);
        return {"The list is too long. Please enter no more than " +
                    std::to_string(kMaxBlockLines / perDomain) + " domains.",
                -1};
    }
    return {};
}

std::string FindAddressProblem(std::string_view address) {
    if (FieldLength(address) > kMaxAddressLength)
        return "Please enter no more than " + std::to_string(kMaxAddressLength) + " characters.";
    // The block may only send names to this PC.
    if (!IsLocalAddress(address)) return "Please enter an IP address such as 0.0.0.0 or 127.0.0.1.";
    return {};
}
