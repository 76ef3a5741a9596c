// What adding and removing mean on every system, over each system's locked edit.
#include "platform/HostsFileIO.h"

bool AddBlockAt(const std::string& path, const std::vector<std::string>& lines,
                std::string_view lineEnd) {
    return AddBlockAt(
        path, [&] { return std::optional<std::vector<std::string>>(lines); }, lineEnd);
}

bool RemoveBlockAt(const std::string& path, std::string_view lineEnd, bool* blockLeft) {
    bool left = true;
    const EditOutcome outcome = CutFirstBlock(path, lineEnd, blockLeft != nullptr, &left);
    const bool done = outcome == EditOutcome::Missing || outcome == EditOutcome::Unchanged ||
                      outcome == EditOutcome::Written;
    if (blockLeft != nullptr) *blockLeft = !done || (outcome == EditOutcome::Written && left);
    return done;
}
