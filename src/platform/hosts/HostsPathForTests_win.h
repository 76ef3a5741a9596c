// The Windows program's hosts file is always the system's: no environment variable names
// another, since the program runs elevated with the user's environment. Test programs name their
// own file through this call; the program never makes it.
#pragma once

#include <string>

// Makes ConfiguredHostsPath() return `path` in this process; "" returns to DefaultHostsPath().
void SetHostsPathForTests(const std::string& path);
