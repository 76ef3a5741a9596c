// "-uninstall" for both programs' entry points.
#include "platform/Uninstall.h"

#include "platform/CHostsFile.h"
#include "platform/HostsFileIO.h"

UninstallResult RunUninstall() {
    CHostsFile hosts;
    const bool removed = hosts.RemoveBlock();
    if (removed && !hosts.MayStillHoldBlock()) return {};
    // Otherwise the file itself says whether a block is left.
    const std::string path = hosts.GetHostsPath();
    if (path.empty()) return {};
    // Waiting a second time for a lock another program holds would tell nothing new.
    if (HostsLockWasBusy())
        return {1, "vantrel: the block is still in " + path + ": " + kHostsBusyText};
    bool found = false;
    const ReadStatus status = FindBeginMarker(path, &found);
    if (status == ReadStatus::Missing) return {};
    if (status == ReadStatus::Ok && !found) return {};
    std::string why = hosts.GetFailure();
    if (status == ReadStatus::Busy) {
        why = kHostsBusyText;
    } else if (status != ReadStatus::Ok) {
        why = "the file could not be read.";
    } else if (removed) {
        why = "a second block follows the one removed.";
    }
    if (why.empty()) why = "it could not be removed.";
    return {1, "vantrel: the block is still in " + path + ": " + why};
}
