// The hosts block as pure text transformations: no file access, so the program and its
// privileged helper produce the same bytes from the same text and settings lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kBeginMarker = "# Begin Vantrel";
inline constexpr std::string_view kEndMarker = "# End Vantrel";
// Any form of this counts as a block already there, so adding leaves the file alone.
inline constexpr std::string_view kBeginProbe = "Begin Vantrel";
// Its presence, in any letter case, anywhere in the file means that ads are hidden.
inline constexpr std::string_view kAdLabel = "googlesyndication";

// What the user is told when a begin marker has no end marker after it.
inline constexpr const char* kDamagedBlockText =
    "The hosts file holds \"# Begin Vantrel\" without \"# End Vantrel\" after it, so the block "
    "was left as it is.";

// What the user is told when Hide finds "Begin Vantrel" only in a form that is not the begin
// marker: no block of Vantrel's can be told apart there.
inline constexpr const char* kForeignMarkerText =
    "The hosts file holds \"Begin Vantrel\" in a line that is not Vantrel's begin marker, so no "
    "block was added. Remove that line from the hosts file, then try again.";

// What the user is told when Hide is asked for with a domain list that holds no entry line.
inline constexpr const char* kEmptyListText =
    "The domain list in vantrel_settings.txt is empty, so there is nothing to hide and the hosts "
    "file was not changed. Add the ad domains in the Settings dialog, then try again.";

// What the user is told when, after Hide, Vantrel's block is in the file but the ad label is
// not: the list holds no AdSense domain.
inline constexpr const char* kNoAdLabelText =
    "Vantrel's block in the hosts file now holds the domain list of vantrel_settings.txt, but no "
    "Google Adsense domain (googlesyndication) is in it, so Adsense ads are not hidden. Add the "
    "Adsense domains in the Settings dialog, then try again.";

// What the user is told when Hide of the approved list finds no list that an administrator
// approved.
inline constexpr const char* kNotApprovedText =
    "No list of domains has been approved by an administrator yet, so the hosts file was not "
    "changed.";

enum class BlockState { NoBlock, ForeignMarker, BlockPresent, DamagedBlock };

// How the CR-free text looks to adding and removing. An end marker counts only after the
// begin marker.
BlockState ClassifyBlock(std::string_view text);

// Appends the begin marker, each line followed by LF, and the end marker (no LF after it),
// directly after the text. False, and the text unchanged, when it already holds kBeginProbe, or
// when a line holds kEndMarker once its CRs are gone (as the next read of the file sees it):
// removing would stop there and leave the rest of the block behind.
bool AppendBlock(std::string& text, const std::vector<std::string>& lines);

// True when at least one of the settings lines is not empty: a block of none would hide nothing.
bool HasEntryLines(const std::vector<std::string>& lines);

enum class CutResult { NoBlock, Damaged, Cut };

// Cuts from the first begin marker through the end of the first end marker after it.
CutResult CutBlock(std::string& text);

// Drops every CR, in place.
void DropCarriageReturns(std::string& text);

// Appends text to out with every LF written as lineEnd ("\n" here, "\r\n" on Windows).
// Works on any slicing of the text, so long texts can be converted piece by piece.
void AppendWithLineEnds(std::string& out, std::string_view text, std::string_view lineEnd);

// Drops every CR from a buffer in place; returns the new size.
std::size_t DropCarriageReturns(char* data, std::size_t size);

// The first occurrence of kAdLabel in any letter case, or nullptr.
const char* FindAdLabel(const char* data, std::size_t size);

// True when kAdLabel occurs in the text, CRs dropped and letter case ignored.
bool ContainsAdLabel(std::string_view text);
