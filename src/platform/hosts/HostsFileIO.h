// Reading and replacing the hosts file safely: every read-modify-write holds the program's
// lock, a write never leaves the file torn, and a read takes no lock at all. The program and its
// privileged helper both edit the file through these functions, given an explicit path and
// explicit settings lines.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The line end of text files on this platform.
extern const std::string_view kTextLineEnd;

// Where this platform keeps the hosts file.
std::string DefaultHostsPath();
// The hosts file the program works on: DefaultHostsPath(), unless a test named another (Linux:
// $VANTREL_HOSTS_FILE when it is set and not empty; Windows: SetHostsPathForTests()).
std::string ConfiguredHostsPath();

// Busy: another program held the lock for longer than anyone should wait.
enum class ReadStatus { Ok, Missing, Unreadable, Busy };

// The lock: for the system's hosts file a file that only root can open (on Linux
// /run/vantrel-hosts.lock), so no other account can hold it; for any other file (a sandbox named
// by VANTREL_HOSTS_FILE, which its user may write anyway) a lock on or beside the file. Every
// write below waits at most kHostsLockWaitSeconds for it, so nothing can hang Vantrel, its helper
// or a package's removal for longer. It then fails with Busy, and HostsLockWasBusy() says so too;
// kHostsBusyText is what the user is told.
//
// Reads take no lock: every replacement is one rename, so the path names the old file or the new
// one. Only a rewrite in place (a bind-mounted file) changes bytes under a reader; it keeps its
// backup while it does, and a read that meets one takes the file as it was before that rewrite
// (what the next write would put back), and a read during which the file changed is made again.
inline constexpr int kHostsLockWaitSeconds = 10;
inline constexpr const char* kHostsBusyText =
    "Another program holds a lock on the hosts file, so Vantrel could not change it. Close that "
    "program, or wait until it is done, and try again.";
// True when the last hosts file write of this thread gave up waiting for the lock.
bool HostsLockWasBusy();

struct HostsRead {
    ReadStatus status = ReadStatus::Missing;
    std::string text;  // every CR dropped; empty unless status is Ok
};

// The whole file with every CR dropped. "Unreadable" (it exists but cannot be opened or read)
// is told apart from an empty file.
HostsRead ReadHostsText(const std::string& path);

// True when the ad-domain label occurs in the file (CRs dropped, any letter case).
bool HostsHasAdLabel(const std::string& path);
// Whether a begin marker stands anywhere in the file (CRs dropped), read a piece at a time.
// Missing and Unreadable as for ReadHostsText; `found` is then false.
ReadStatus FindBeginMarker(const std::string& path, bool* found);

// Replaces the file's content with text, every LF written as lineEnd. True only when the file
// now holds exactly the new bytes; on false it holds its old bytes. Never creates the file.
bool WriteHostsText(const std::string& path, std::string_view text,
                    std::string_view lineEnd = kTextLineEnd);

enum class EditVerdict { Unchanged, Refused, Write };
enum class EditOutcome { Missing, Unreadable, Busy, Unchanged, Refused, Written, WriteFailed };

// The locked read-modify-write: reads the CR-free text, lets edit change it, and writes it back
// (LF as lineEnd) when edit says Write. Other copies of the program wait for the lock, for at
// most kHostsLockWaitSeconds (then Busy).
EditOutcome EditHostsFile(const std::string& path,
                          const std::function<EditVerdict(std::string& text)>& edit,
                          std::string_view lineEnd = kTextLineEnd);

using SettingsSource = std::function<std::optional<std::vector<std::string>>()>;

// AddBlockAt and RemoveBlockAt stream the file (two passes of 64 KiB reads: one to find the
// markers, one to write the kept text), so they never hold the whole text; the bytes they write
// are those of AppendBlock / CutBlock on the CR-free text with every LF as lineEnd. A block at
// the very end of a file that needs no other change is cut by shortening the file in place.
//
// Appends the block unless a begin marker is there (true, nothing written). The settings lines
// are asked for only when the block is to be added; when there are none to be had (nullopt)
// nothing is written and the result is false. False too when the file is missing or unreadable.
bool AddBlockAt(const std::string& path, const SettingsSource& settings,
                std::string_view lineEnd = kTextLineEnd);
bool AddBlockAt(const std::string& path, const std::vector<std::string>& lines,
                std::string_view lineEnd = kTextLineEnd);
// The locked add under AddBlockAt, with its outcome.
EditOutcome AddFirstBlock(const std::string& path, const SettingsSource& settings,
                          std::string_view lineEnd = kTextLineEnd);

// Cuts the block out. True when it was cut or there is none (also when the file is missing);
// false for a begin marker without an end marker after it, an unreadable file or a failed write.
// blockLeft, when given, is false when this call saw the file left without any begin marker (a
// second block is not cut).
bool RemoveBlockAt(const std::string& path, std::string_view lineEnd = kTextLineEnd,
                   bool* blockLeft = nullptr);
// The locked cut under RemoveBlockAt: the outcome, and in blockLeft whether a begin marker is
// still in the text after it (true unless the call saw otherwise).
EditOutcome CutFirstBlock(const std::string& path, std::string_view lineEnd, bool* blockLeft);

// What a press of the toggle asks for: its caption said "Hide Adsense" or "Show Adsense".
enum class HostsIntent { Hide, Show };

// Why a pass that was to change the file wrote nothing.
enum class BlockProblem {
    None,
    Damaged,        // a begin marker without an end marker after it
    ForeignMarker,  // "Begin Vantrel" only in a form that is not the begin marker (Hide)
    EmptyList,      // the settings hold no entry line, so the block would hide nothing (Hide)
    NoSettings      // no settings lines were to be had: the source says why (Hide)
};

// One press as one locked pass over the file, which does nothing when the file already is the
// way the press asks for. One scan finds the ad label, the markers and what follows the block.
// Hide: nothing when the label is anywhere in the file; else a block of Vantrel's there (one that
// hides nothing) is replaced in its place by one of the settings lines, or the block is appended
// when there is none (settings asked for only then, as for AddBlockAt). Show: the first block is
// cut, whether or not it holds the label. The result says what the file holds afterwards, so
// nobody needs to read it again.
struct HostsChange {
    EditOutcome outcome = EditOutcome::Missing;
    bool hidden = false;                        // the label is in the file after the pass
    bool changed = false;                       // the pass changed whether ads are hidden
    BlockProblem problem = BlockProblem::None;  // why the pass was Refused
    // After Show: false when the pass saw the file left without any begin marker.
    bool blockLeft = true;
};
HostsChange ApplyIntentAt(const std::string& path, HostsIntent intent,
                          const SettingsSource& settings, std::string_view lineEnd = kTextLineEnd);

// Names of the files kept beside the hosts file while it is replaced: temporary files start
// with this prefix; the backup exists only while the file is rewritten in place.
std::string TempFilePrefix(const std::string& path);
std::string BackupFilePath(const std::string& path);
