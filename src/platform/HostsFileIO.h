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
// The hosts file the program works on: $VANTREL_HOSTS_FILE when it is set and not empty, else
// DefaultHostsPath().
std::string ConfiguredHostsPath();

enum class ReadStatus { Ok, Missing, Unreadable };

// Every operation below waits at most kHostsLockWait for the lock, so that no program, of any
// account, holding a lock on the (world-readable) hosts file can hang Vantrel, its helper or a
// package's removal. It then fails as if the file were unreadable, and HostsLockWasBusy() says
// why; kHostsBusyText is what the user is told.
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
enum class EditOutcome { Missing, Unreadable, Unchanged, Refused, Written, WriteFailed };

// The locked read-modify-write: reads the CR-free text, lets edit change it, and writes it back
// (LF as lineEnd) when edit says Write. Other copies of the program wait for the lock.
EditOutcome EditHostsFile(const std::string& path,
                          const std::function<EditVerdict(std::string& text)>& edit,
                          std::string_view lineEnd = kTextLineEnd);

using SettingsSource = std::function<std::optional<std::vector<std::string>>()>;

// AddBlockAt and RemoveBlockAt stream the file (two passes of 64 KiB reads: one to find the
// markers, one to write the kept text), so they never hold the whole text; the bytes they write
// are those of AppendBlock / CutBlock on the CR-free text with every LF as lineEnd.
//
// Appends the block unless a begin marker is there (true, nothing written). The settings lines
// are asked for only when the block is to be added; when there are none to be had (nullopt)
// nothing is written and the result is false. False too when the file is missing or unreadable.
bool AddBlockAt(const std::string& path, const SettingsSource& settings,
                std::string_view lineEnd = kTextLineEnd);
bool AddBlockAt(const std::string& path, const std::vector<std::string>& lines,
                std::string_view lineEnd = kTextLineEnd);

// Cuts the block out. True when it was cut or there is none (also when the file is missing);
// false for a begin marker without an end marker after it, an unreadable file or a failed write.
// With blockLeft it also looks on behind the block: false there means this call saw the file
// left without any begin marker (a second block is not cut).
bool RemoveBlockAt(const std::string& path, std::string_view lineEnd = kTextLineEnd,
                   bool* blockLeft = nullptr);
// Each system's locked cut under RemoveBlockAt: the outcome, and in blockLeft whether a begin
// marker is still in the text after it (looked for behind the block only with lookPastEnd, where
// that costs another read). blockLeft is true unless the call saw otherwise.
EditOutcome CutFirstBlock(const std::string& path, std::string_view lineEnd, bool lookPastEnd,
                          bool* blockLeft);

// Names of the files kept beside the hosts file while it is replaced: temporary files start
// with this prefix; the backup exists only while the file is rewritten in place.
std::string TempFilePrefix(const std::string& path);
std::string BackupFilePath(const std::string& path);
