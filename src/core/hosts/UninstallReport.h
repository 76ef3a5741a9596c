// What "-uninstall" tells whoever ran it (a package's removal script, the Windows uninstaller, a
// person): an exit status that says what to do next, and one line for standard error.
#pragma once

#include <string>
#include <string_view>

// No block is left in the hosts file (also when there is no hosts file).
inline constexpr int kUninstallDone = 0;
// The hosts file was busy, or could not be read or written: trying again later may help.
inline constexpr int kUninstallRetry = 1;
// A block is left that no rerun removes (a begin marker without its end marker, or a further
// block): the line says which lines to delete by hand.
inline constexpr int kUninstallByHand = 2;

// For the CR-free text of the hosts file at `path` after the removal: the line that says what is
// wrong with the first block left, which lines to delete by hand and where the file is; "" when
// the text holds no begin marker. `damaged` is set when that block has no end marker.
std::string BlockLeftReport(std::string_view text, const std::string& path, bool* damaged);
