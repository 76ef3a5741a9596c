// Reading and replacing the hosts file safely: every read-modify-write holds an advisory lock
// on the file, and a write never leaves it torn. The program and its privileged helper both
// edit the file through these functions, given an explicit path and explicit settings lines.
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

// Every operation below waits at most kHostsLockWaitSeconds for the lock, so that no program, of
// any account, holding a lock on the (world-readable) hosts file can hang Vantrel, its helper or
// a package's removal. It then fails with Busy, and HostsLockWasBusy() says so too;
// kHostsBusyText is what the user is told.
inline constexpr int kHostsLockWaitSeconds = 10;
inline constexpr const char* kHostsBusyText =
    "Another program holds a lock on the hosts file, so Vantrel could not change it. Close that "
    "program, or wait until it is done, and try again.";
// True when the last hosts file operation of this thread gave up waiting for the lock.
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

// One press of the toggle, as one locked pass over the file: one scan finds the ad label, the
// markers and what follows the block; when the label is there the first block is cut, else the
// block is added (settings asked for only then, as for AddBlockAt). The result says what the file
// holds afterwards, so nobody needs to read it again.
struct HostsToggle {
    EditOutcome outcome = EditOutcome::Missing;
    bool adding = false;   // the label was not there, so the block was to be added
    bool hidden = false;   // the label is in the file after the pass
    bool damaged = false;  // the cut was refused: a begin marker without an end marker after it
    // Whether the pass changed whether ads are hidden: the label was there before exactly when
    // the pass set out to cut.
    bool Changed() const {
        return hidden == adding && outcome != EditOutcome::Missing &&
               outcome != EditOutcome::Unreadable && outcome != EditOutcome::Busy;
    }
};
HostsToggle ToggleBlockAt(const std::string& path, const SettingsSource& settings,
                          std::string_view lineEnd = kTextLineEnd);

// Names of the files kept beside the hosts file while it is replaced: temporary files start
// with this prefix; the backup exists only while the file is rewritten in place.
std::string TempFilePrefix(const std::string& path);
std::string BackupFilePath(const std::string& path);
