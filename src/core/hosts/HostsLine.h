// What a line of the hosts block may be. The block is written with an administrator's consent to
// hide ads, so it may only send names to this PC: an unspecified or loopback address, followed by
// names a resolver accepts in a hosts file. The settings dialog, the program's own write and the
// privileged helper all decide with these functions, so none of them accepts what another
// refuses. Plain C++: no Qt and no system headers, so every platform builds the same rules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// At most this many entry lines in a block. Lines, not domains: a list that writes two lines per
// domain (IPv4 and IPv6) holds half as many domains.
inline constexpr std::size_t kMaxBlockLines = 4096;
// At most this many characters in one entry line (an address and several names).
inline constexpr std::size_t kMaxBlockLineLength = 1024;
// The settings file can hold no more than the lines above, each ended by CR LF, and the empty
// read after its final line break; anything longer is refused before its lines are looked at.
inline constexpr std::size_t kMaxSettingsFileSize = kMaxBlockLines * (kMaxBlockLineLength + 2) + 2;

// 0.0.0.0, 127.0.0.0/8 (four decimal parts, no leading zeros), or the IPv6 addresses :: and ::1
// in any of their spellings. Nothing else, not even an IPv4-mapped loopback address.
bool IsLocalAddress(std::string_view text);

// A name as resolvers take it from a hosts file: labels of letters, digits, hyphens and
// underscores, 1 to 63 characters, not starting or ending with a hyphen, joined by single dots;
// at most 253 characters; no dot at either end.
bool IsHostName(std::string_view name);

// "address name [name...]": a local address and host names, each after exactly one blank.
bool IsBlockLine(std::string_view line);

// A line of the settings file that the block leaves out: empty or only blanks and tabs, or a
// comment ('#' after any blanks) that mentions neither marker ("Begin Vantrel", "End Vantrel").
bool IsSkippedLine(std::string_view line);

struct BlockLinesCheck {
    enum Verdict { Ok, BadLine, TooMany } verdict = Ok;
    std::size_t line = 0;  // index of the first bad line (BadLine)
};

// Checks the lines a block is to hold, as the settings file yields them: every line must be a
// block line or a skipped one; at most kMaxBlockLines block lines. line counts all lines.
BlockLinesCheck CheckBlockLines(const std::vector<std::string>& lines);

// What of those lines goes into the block: the block lines, in order, and the last line when it
// is empty (the read after the file's final line break, which gives the block its empty line
// before the end marker).
std::vector<std::string> BlockLinesOf(const std::vector<std::string>& lines);

// The user's message for settings lines that CheckBlockLines refused (not Ok): which line, and
// what to do about it.
std::string BlockLinesProblem(const BlockLinesCheck& check, const std::vector<std::string>& lines);

// A domain of the settings dialog's list as it is to be saved: the blanks and tabs around it
// dropped, and one trailing dot (the root, which a hosts file does not write) dropped.
std::string CleanDomain(std::string_view piece);

// The list's domains, cleaned, in order: one per run of characters between line breaks (CR or
// LF); pieces that are empty once cleaned vanish.
std::vector<std::string> DomainsOfList(std::string_view list);
