// The approved block as a file: what an administrator-authorised Hide left for the active user's
// own Hide (HelperProtocol.h). The helper writes it as root; the helper and the program read it
// only when nobody but root (or the reader's own account) can have written it.
#pragma once

#include <optional>
#include <string>

// Whether path itself (a link is not followed) is a folder (folder) or a regular file that
// belongs to root or to this process's account and that no other account may write.
bool OwnedByUsOnly(const std::string& path, bool folder);

// The approved block's bytes: nullopt, with *why (when given) saying why, when there is none, it
// or its folder fails OwnedByUsOnly (a link, another owner, writable by others), it is longer
// than a settings file may be, or it cannot be read.
std::optional<std::string> ReadApprovedBlock(const std::string& path, std::string* why = nullptr);
