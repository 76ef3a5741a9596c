// Where this system keeps the hosts file, which file the program works on, and whether a path is
// that system file. One implementation per system (HostsPath_unix.cpp, HostsPath_win.cpp).
#pragma once

#include <string>

#include "platform/files/FileSys.h"

using filesys::kTextLineEnd;

// Where this platform keeps the hosts file.
std::string DefaultHostsPath();
// The hosts file the program works on: DefaultHostsPath(), unless a test named another (Linux:
// $VANTREL_HOSTS_FILE when it is set and not empty; Windows: SetHostsPathForTests()).
std::string ConfiguredHostsPath();
// Whether path names the system's own hosts file, the one its resolver reads, however it is
// spelled (links followed, made absolute; on Windows in any letter case). Only that file goes
// through the privileged helper, takes the root-only lock, and is worth a lookup check or a
// cache flush. False for "".
bool IsSystemHostsFile(const std::string& path);
