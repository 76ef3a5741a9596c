// Registering, starting, stopping and removing the hosts file service (administrators only): the
// setup and the uninstaller run them through "vantrel-service.exe -install" and "-remove", the
// window's repair through "vantrel.exe -repair-service".
#pragma once

#include <string>

// Registers the service (LocalSystem, started with Windows) for `program`, or points the one
// that is registered there, and starts it; true once it runs.
bool InstallHostsService(const std::wstring& program);
// Stops the service and removes it; true when none is left.
bool RemoveHostsService();
