// The steps of an upgrade that need no window: deciding whether a downloaded installer may run,
// and running the old uninstaller and the new installer one after the other.
#pragma once

#include <string>
#include <vector>

#include "core/UpgradeRefusal.h"

// The lower-case hex SHA-256 of a file's content, or "" when it cannot be read.
std::string Sha256OfFile(const std::string& path);

// Checks made on the downloaded file.
UpgradeRefusal CheckDownload(bool transferSucceeded, const std::string& path,
                             const std::string& publishedDigest);

// What the user is told once the package manager has installed `version`.
std::string PackageInstalledMessage(const std::string& version);

// Starts `program` with `argv` (argv[0] included) and the inherited environment, without a
// shell, and waits until it ends. Its wait status, or -1 when it could not be started.
int SpawnAndWait(const std::string& program, const std::vector<std::string>& argv);

// Gives the downloaded installer execute permission for its owner only.
bool MakeOwnerExecutable(const std::string& path);

// Runs "<cwd>/unins000.exe" " /SILENT" (missing: ignored), then "./NewUpdate.exe" "" , each
// to its end. Results are ignored: the old version may be gone, so there is nothing to return to.
void RunUninstallerThenInstaller();
