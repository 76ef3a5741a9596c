// Reading the hosts file and editing Vantrel's block in it: every read-modify-write holds the
// program's lock (HostsLock.h) and replaces the file crash-safely (SafeReplace.h), and a read
// takes no lock at all. The program and its privileged helper both edit the file through these
// functions, given an explicit path and explicit settings lines.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/SafeReplace.h"
#include "platform/hosts/HostsPath.h"
#include "platform/hosts/HostsResult.h"

using filesys::BackupFilePath;
using filesys::ReadStatus;
using filesys::TempFilePrefix;

struct HostsRead {
    ReadStatus status = ReadStatus::Missing;
    std::string text;  // every CR dropped; empty unless status is Ok
};

// The whole file with every CR dropped. "Unreadable" (it exists but cannot be opened or read)
// is told apart from an empty file.
HostsRead ReadHostsText(const std::string& path);

// True when the ad-domain label occurs in the file (CRs dropped, any letter case).
bool HostsHasAdLabel(const std::string& path);

// Every change below is one locked pass and says what happened in a HostsResult; the file never
// comes into being and holds its old bytes unless the outcome is Written. A file that needs no
// change is not written.

// Replaces the file's content with text, every LF written as lineEnd.
HostsResult WriteHostsText(const std::string& path, std::string_view text,
                           std::string_view lineEnd = kTextLineEnd);

// The locked read-modify-write: reads the CR-free text, lets edit change it, and writes it back
// (LF as lineEnd) when edit returns true.
HostsResult EditHostsFile(const std::string& path,
                          const std::function<bool(std::string& text)>& edit,
                          std::string_view lineEnd = kTextLineEnd);

// The settings lines, asked for only when a block is to be written; nullopt when none are to be
// had (the source knows why).
using SettingsSource = std::function<std::optional<std::vector<std::string>>()>;

// AddBlockAt and RemoveBlockAt stream the file (two passes of 64 KiB reads: one to find the
// markers, one to write the kept text), so they never hold the whole text; the bytes they write
// are those of AppendBlock / CutBlock on the CR-free text with every LF as lineEnd. A block at
// the very end of a file that needs no other change is cut by shortening the file in place.
//
// Appends the block unless any form of the begin text is there (Unchanged). BadSettings when
// there are no lines or they would make a block that cannot be removed whole.
HostsResult AddBlockAt(const std::string& path, const SettingsSource& settings,
                       std::string_view lineEnd = kTextLineEnd);
HostsResult AddBlockAt(const std::string& path, const std::vector<std::string>& lines,
                       std::string_view lineEnd = kTextLineEnd);

// Cuts the first block out: Unchanged when there is none, Damaged for a begin marker without an
// end marker after it. blockLeft: whether a begin marker is still in the text after it.
HostsResult RemoveBlockAt(const std::string& path, std::string_view lineEnd = kTextLineEnd);

// One press as one locked pass over the file, which does nothing when the file already is the
// way the press asks for. One scan finds the ad label, the markers and what follows the block.
// Hide: nothing when the label is anywhere in the file; else a block of Vantrel's there (one that
// hides nothing) is replaced in its place by one of the settings lines, or the block is appended
// when there is none (settings asked for only then). Refused, with the outcome saying why, for a
// damaged block, a begin text in another form, or settings that make no block. Show: the first
// block is cut, whether or not it holds the label. hidden and changed say what the file holds
// afterwards, so nobody needs to read it again. The sentence is SentenceOf(outcome); the caller
// says what is wrong with settings it gave.
HostsResult ApplyIntentAt(const std::string& path, HostsIntent intent,
                          const SettingsSource& settings, std::string_view lineEnd = kTextLineEnd);
