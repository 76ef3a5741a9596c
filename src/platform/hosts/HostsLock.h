// The lock every change of the hosts file holds, one implementation per system
// (HostsLock_unix.cpp, HostsLock_win.cpp): for the system's hosts file a file that no other
// account can open (on Linux /run/vantrel-hosts.lock, root's own), so none can hold up Vantrel,
// its helper or a package's removal; for any other file (a sandbox named by VANTREL_HOSTS_FILE,
// which its user may write anyway) a lock on or beside the file. Another copy of the program is
// waited for at most kHostsLockWaitSeconds, then the change fails with Busy. Reads take no lock.
#pragma once

#include <string>

#include "platform/files/FileSys.h"
#include "platform/files/SafeReplace.h"

// The hosts file opened for reading under the exclusive lock, with what it has besides its bytes.
struct LockedHosts {
    filesys::ReadStatus status = filesys::ReadStatus::Missing;
    filesys::File file;
    filesys::File lock;  // where the lock is a file of its own
    filesys::Attributes attributes;
};
// path: resolved (links followed).
LockedHosts LockHostsFile(const std::string& path);
