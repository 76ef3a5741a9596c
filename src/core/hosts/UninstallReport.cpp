// The sentences of "-uninstall" for a block that only a person can remove.
#include "core/hosts/UninstallReport.h"

#include <algorithm>

#include "core/hosts/HostsText.h"

namespace {
// The 1-based number of the line that holds the character at pos.
std::size_t LineAt(std::string_view text, std::size_t pos) {
    return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + pos, '\n'));
}
}  // namespace

std::string BlockLeftReport(std::string_view text, const std::string& path, bool* damaged) {
    *damaged = false;
    const std::size_t begin = text.find(kBeginMarker);
    if (begin == std::string_view::npos) return {};
    const std::string first = std::to_string(LineAt(text, begin));
    const std::size_t end = text.find(kEndMarker, begin + kBeginMarker.size());
    const std::string edit = " Edit the file as an administrator: delete ";
    if (end == std::string_view::npos) {
        *damaged = true;
        // Without its end marker the block may reach to the file's last line.
        const std::size_t from = LineAt(text, begin) + 1;
        const std::size_t last =
            LineAt(text, text.size()) - (!text.empty() && text.back() == '\n' ? 1 : 0);
        std::string lines = "line " + first;
        if (last == from) {
            lines += ", and line " + std::to_string(from) +
                     " if Vantrel added it (an ad domain sent to a local address)";
        } else if (last > from) {
            lines += ", and those of lines " + std::to_string(from) + " to " +
                     std::to_string(last) +
                     " that Vantrel added (ad domains sent to a local address)";
        }
        return "vantrel: the block in " + path + " is damaged: line " + first +
               " is \"# Begin Vantrel\", but no \"# End Vantrel\" follows it, so Vantrel cannot "
               "tell where its block ends and left the file as it is." +
               edit + lines + ", then save it.";
    }
    const std::string through = std::to_string(LineAt(text, end));
    return "vantrel: " + path + " holds another Vantrel block, at lines " + first + " to " +
           through + " (\"# Begin Vantrel\" to \"# End Vantrel\"), which Vantrel did not remove." +
           edit + "lines " + first + " to " + through + ", then save it.";
}
