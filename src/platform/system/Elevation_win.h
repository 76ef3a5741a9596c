// The window's administrator steps: this program started again through "runas" (Windows asks
// for an administrator's permission), with a fixed argument, from its own path. The one place
// that asks, so tests count the prompts through its hook.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

// Runs this program's own file elevated with `arguments` and waits for it, keeping the calling
// thread's windows painted and `owner` disabled meanwhile. Its exit code, or nullopt when it did
// not run (the user refused the permission, or it could not be started).
std::optional<DWORD> RunElevated(HWND owner, const std::wstring& arguments);

// Tests: what RunElevated does instead; an empty hook goes back to the system's. Returns the
// hook it replaces.
using ElevationHook = std::function<std::optional<DWORD>(const std::wstring& arguments)>;
ElevationHook SetElevationHookForTests(ElevationHook hook);
