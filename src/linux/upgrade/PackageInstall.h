// The program's side of an upgrade through the package manager: the privileged helper beside the
// program, the maker's key it holds, and handing a checked package to it through pkexec.
#pragma once

#include <optional>
#include <string>

#include "core/upgrade/UpgradeRefusal.h"
#include "platform/system/Pkexec_unix.h"

// The helper installed beside this program.
std::string UpgradeHelperPath();
// The maker's key the helper holds (asked without privileges); nullopt for a build without one.
std::optional<std::string> HelperPublicKey(const std::string& helper);
// Runs "<pkexec> <helper> vantrel <version>" with the signature and the package on its standard
// input (the authentication prompt names the package and the version) and waits for it: kNone
// when the new version is installed, otherwise why not. `work` is a private folder of the user's.
UpgradeRefusal InstallPackageElevated(const std::string& pkexec, const std::string& helper,
                                      const std::string& debPath, const std::string& signature,
                                      const std::string& version, const std::string& work);
// What a helper or pkexec exit status means for the user.
UpgradeRefusal RefusalForHelperStatus(int status);
