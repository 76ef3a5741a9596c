// The helper's input and its report line, written and read in one place.
#include "platform/hosts/HelperProtocol.h"

namespace {
struct ReportWord {
    HostsOutcome outcome;
    const char* word;
};
constexpr ReportWord kRefusalWords[] = {{HostsOutcome::Damaged, "damaged"},
                                        {HostsOutcome::ForeignMarker, "foreign"},
                                        {HostsOutcome::EmptyList, "empty"}};
}  // namespace

std::string HelperInput(const std::vector<std::string>& lines) {
    std::string input;
    for (const std::string& line : lines) input.append(line).push_back('\n');
    return input;
}

std::string HelperReportLine(const HostsResult& result) {
    std::string line = result.hidden ? "hidden" : "shown";
    line += result.changed ? " changed" : " unchanged";
    for (const ReportWord& word : kRefusalWords) {
        if (word.outcome == result.outcome) line.append(" ").append(word.word);
    }
    return line + "\n";
}

std::optional<HostsResult> ParseHelperReport(std::string_view output) {
    if (output.empty() || output.back() != '\n') return std::nullopt;
    output.remove_suffix(1);
    const std::size_t start = output.rfind('\n');
    if (start != std::string_view::npos) output.remove_prefix(start + 1);
    HostsResult result;
    std::size_t blank = output.find(' ');
    const std::string_view state = output.substr(0, blank);
    if (state != "hidden" && state != "shown") return std::nullopt;
    result.hidden = state == "hidden";
    output.remove_prefix(blank == std::string_view::npos ? output.size() : blank + 1);
    blank = output.find(' ');
    const std::string_view change = output.substr(0, blank);
    if (change != "changed" && change != "unchanged") return std::nullopt;
    result.changed = change == "changed";
    result.outcome = result.changed ? HostsOutcome::Written : HostsOutcome::Unchanged;
    if (blank == std::string_view::npos) return result;
    const std::string_view refusal = output.substr(blank + 1);
    for (const ReportWord& word : kRefusalWords) {
        if (refusal == word.word) {
            result.outcome = word.outcome;
            return result;
        }
    }
    return std::nullopt;
}
