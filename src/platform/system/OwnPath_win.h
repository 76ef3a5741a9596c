// The running program's own file, by its full path: the one place a Windows program of Vantrel
// (the window, its elevated steps, the service) learns where it was installed.
#pragma once

#include <string>

// "" when the system does not say.
std::wstring OwnProgramPath();
