// "-uninstall" for both programs' entry points.
#include "platform/hosts/Uninstall.h"

#include "core/hosts/UninstallReport.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileIO.h"

UninstallResult RunUninstall() {
    CHostsFile hosts;
    const HostsResult removal = hosts.ApplyIntent(HostsIntent::Show);
    if (!removal.blockLeft) return {};
    // Otherwise the file itself says whether a block is left, and which.
    const std::string path = hosts.GetHostsPath();
    if (path.empty()) return {};
    const std::string stays = "vantrel: the block is still in " + path + ": ";
    // Waiting a second time for a lock another program holds would tell nothing new.
    if (removal.outcome == HostsOutcome::Busy) return {kUninstallRetry, stays + kHostsBusyText};
    const HostsRead read = ReadHostsText(path);
    if (read.status == ReadStatus::Missing) return {};
    if (read.status != ReadStatus::Ok) {
        return {kUninstallRetry,
                stays +
                    "the file could not be read. Close any program that has it open (a "
                    "security program, say) and try again."};
    }
    bool damaged = false;
    const std::string report = BlockLeftReport(read.text, path, &damaged);
    if (report.empty()) return {};
    // A damaged block, or a further one after the block that went: no rerun changes either.
    if (damaged || removal.Done()) return {kUninstallByHand, report};
    std::string why = removal.sentence;
    if (why.empty()) {
        why =
            "the file could not be written. Close any program that has it open (a security "
            "program, say), make sure it is not read-only, and try again.";
    }
    return {kUninstallRetry, stays + why};
}
