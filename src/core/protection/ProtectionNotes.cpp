// The notes below the status: plain sentences about anything that still lets ads through.
#include "core/protection/ProtectionNotes.h"

#include <algorithm>
#include <cctype>

#include "core/hosts/HostsText.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        const std::size_t start = pos;
        while (pos < line.size() && !IsBlank(line[pos])) ++pos;
        if (pos > start) words.emplace_back(line.substr(start, pos - start));
    }
    return words;
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Plural(std::size_t count, const char* one, const char* many) {
    return count == 1 ? one : many;
}

}  // namespace

std::vector<HostsEntry> HostsEntries(std::string_view text) {
    std::vector<HostsEntry> entries;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::vector<std::string> words = Words(line);
        // Names are matched in any letter case by resolvers.
        for (std::size_t i = 1; i < words.size(); ++i)
            entries.push_back({words[0], LowerCase(words[i])});
    }
    return entries;
}

std::vector<HostsEntry> BlockEntries(std::string_view text) {
    const std::size_t begin = text.find(kBeginMarker);
    if (begin == std::string_view::npos) return {};
    const std::size_t from = begin + kBeginMarker.size();
    const std::size_t end = text.find(kEndMarker, from);
    return HostsEntries(
        text.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
}

std::optional<int> TrrMode(std::string_view prefs) {
    constexpr std::string_view kName = "\"network.trr.mode\"";
    std::optional<int> mode;
    for (std::size_t at = prefs.find(kName); at != std::string_view::npos;
         at = prefs.find(kName, at + 1)) {
        // user_pref("network.trr.mode", 2);  -- a line that is a comment does not count.
        const std::size_t lineStart = prefs.rfind('\n', at);
        const std::string_view head =
            prefs.substr(lineStart == std::string_view::npos ? 0 : lineStart + 1);
        if (head.find("//") < head.find(kName) || head.find("/*") < head.find(kName)) continue;
        std::size_t pos = at + kName.size();
        while (pos < prefs.size() && (IsBlank(prefs[pos]) || prefs[pos] == ',')) ++pos;
        int value = 0;
        bool digits = false;
        while (pos < prefs.size() && std::isdigit(static_cast<unsigned char>(prefs[pos]))) {
            value = value * 10 + (prefs[pos++] - '0');
            digits = true;
            if (value > 1000) break;
        }
        if (digits) mode = value;
    }
    return mode;
}

bool TrrModeOn(std::optional<int> mode) {
    return mode == 2 || mode == 3;
}

std::vector<std::string> NotesLines(const ProtectionFacts& facts) {
    std::vector<std::string> lines;
    if (!facts.restart.empty()) {
        const std::vector<Browser> browsers = InQuestionOrder(facts.restart);
        lines.push_back("Restart " + BrowserListText(browsers) + ": until then " +
                        Plural(browsers.size(), "it", "they") + " can still show ads.");
        if (const std::string why = LiveApplyNote(facts.notLive); !why.empty())
            lines.push_back(why);
    }
    if (facts.checking) {
        lines.emplace_back("Checking that the listed names are answered locally...");
    } else if (!facts.notLocalV4.empty() || !facts.notLocalV6.empty()) {
        std::vector<std::string> names = facts.notLocalV4;
        names.insert(names.end(), facts.notLocalV6.begin(), facts.notLocalV6.end());
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());
        const std::string family = facts.notLocalV4.empty()   ? "IPv6"
                                   : facts.notLocalV6.empty() ? "IPv4"
                                                              : "IPv4 and IPv6";
        lines.push_back(names.size() == 1 ? names[0] + " is not answered locally (" + family + ")."
                                          : std::to_string(names.size()) +
                                                " listed names are not answered locally (" +
                                                family + "), for example " + names[0] + ".");
    }
    if (facts.cacheNotFlushed) {
        lines.emplace_back(
            "Windows' DNS cache could not be flushed: names looked up before the change may load "
            "ads until their cached answers expire.");
    }
    const bool firefoxNamed = std::find(facts.restart.begin(), facts.restart.end(),
                                        Browser::Firefox) != facts.restart.end();
    if (!facts.dohProfiles.empty() && !firefoxNamed) {
        lines.push_back("Firefox (" + Plural(facts.dohProfiles.size(), "profile ", "profiles ") +
                        JoinNames(facts.dohProfiles) +
                        ") uses DNS over HTTPS: it sees the change only after a restart.");
    }
    return lines;
}

std::string LiveApplyNote(LiveApplyBlock block) {
    const std::string head = "Open browsers were not updated: ";
    switch (block) {
        case LiveApplyBlock::None:
        case LiveApplyBlock::TurnedOff:
        case LiveApplyBlock::NotOnThisSystem:
            return {};
        case LiveApplyBlock::NoPrivilegedStep:
            return head + "that needs administrator rights.";
        case LiveApplyBlock::NoSocketEnding:
            return head + "this system cannot end their connections.";
        case LiveApplyBlock::FirefoxDoh:
            return head + "Firefox uses DNS over HTTPS.";
        case LiveApplyBlock::ConnectionsLeft:
            return head + "they still hold connections to the ad servers.";
    }
    return {};
}
