// Replacing a file's content so that no crash, kill or full disk leaves it torn: written whole
// into a temporary file beside it, flushed, and put in its place in one step; where that cannot
// be done, rewritten in place with a backup that the next locked writer uses to finish or undo
// the rewrite. Also the reads that take no lock and still never see a rewrite half way, and the
// plain save of a file nobody locks (the settings file). The same on every system, over FileSys.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/FileSys.h"

namespace filesys {

// What a read found. Busy: another program held the lock for longer than anyone should wait.
enum class ReadStatus { Ok, Missing, Unreadable, Busy };

// Names of the files kept beside a file while it is replaced: temporary files start with this
// prefix (".<name>.vantrel-tmp-"); the backup (".<name>.vantrel-backup") exists only while the
// file is rewritten in place.
std::string TempFilePrefix(const std::string& path);
std::string BackupFilePath(const std::string& path);

// What is left of the file from its current position; sized for the whole file when it is read
// from the start. nullopt on a read error.
std::optional<std::string> ReadRest(const File& file, bool fromStart = true);

// Hands the new file's bytes, piece by piece, to a sink; false when a piece could not be had or
// the sink refused it.
using Sink = std::function<bool(std::string_view)>;
using Producer = std::function<bool(const Sink&)>;

// The unchanged start of the new file: the first `length` bytes of the open original, taken as
// they are (inside the kernel where it can).
struct RawPrefix {
    const File* file = nullptr;
    std::uint64_t length = 0;
};

// The file being replaced, opened for reading under its writer's lock.
struct Original {
    File* file = nullptr;
    Attributes attributes;
};

// Replaces the content of the file at path (resolved, locked by the caller) with the prefix and
// the produced bytes. True only when the file now holds exactly them; on false it holds its old
// bytes. The replacement keeps the file's owner, mode, ACL and extended attributes; where it
// cannot (a bind-mounted file, attributes that cannot be copied, a folder this process may not
// add to) the file is rewritten in place, with a backup where one can be made and otherwise only
// for an append or a cut at the end, so a crash never costs a line that was there before.
bool ReplaceContent(const std::string& path, Original& original, const Producer& produce,
                    const RawPrefix* prefix = nullptr);

// What the locked writer does first: a backup left by an interrupted in-place rewrite puts the
// old bytes back when every byte of the file is the old or the new one at its place (all an
// interruption can leave), and goes. False only when the file is such a torn rewrite and the old
// bytes could not be put back: it is not to be trusted then. Content written since is kept.
bool RecoverInterruptedRewrite(const std::string& path);
// Removes the temporary files of a killed writer (temporary files are made only under the lock).
void RemoveStaleTemps(const std::string& path);

// Cutting the open file short at `at` in place: the bytes that stay are never written, and a
// crash leaves the old length or the new. NotHere: this process may not open it for writing.
enum class EndCut { Done, Failed, NotHere };
EndCut CutTheEndOff(const std::string& path, const File& original, std::uint64_t at);

// A read without any lock, made again from the start when the file changed under it. read gets
// the open file (at its start) or, while a rewrite in place is under way or was cut short, the
// bytes the file held before it (what the next write puts back); it returns false on a read
// error. After 50 tries (a file rewritten without a pause by some other program) the last read
// counts.
using ReadPass = std::function<bool(const File* file, std::string_view bytes)>;
ReadStatus ReadSteadily(const std::string& path, const ReadPass& read);

// Saves bytes as the whole file at path, made if missing (mode 0644, or the old file's mode):
// through a temporary file beside it, flushed and renamed over it, so an interrupted save leaves
// the old content or the new. Where no temporary file can be made there, the file itself is
// rewritten. False, the old file (or whatever holds the name, such as a folder) left as it was,
// when neither works.
bool SaveFile(const std::string& path, std::string_view bytes);

}  // namespace filesys
