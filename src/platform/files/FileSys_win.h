// What FileSys_win.cpp offers beyond FileSys.h to the Windows code above it.
#pragma once

#include <windows.h>

#include <string>

namespace filesys {

// CreateFileW sharing read, write and delete (so another copy of the program can replace the
// file while this handle is open), a sharing refusal by another program waited out for up to a
// second. INVALID_HANDLE_VALUE on failure, with GetLastError() saying why.
HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition, DWORD attributes,
                  SECURITY_ATTRIBUTES* security = nullptr);

}  // namespace filesys
