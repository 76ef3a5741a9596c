// The crash-safe replacement, the same on every system.
//
// Write: a temporary file in the same folder (".<name>.vantrel-tmp-*"), flushed, given what the
// original has besides its bytes, put in place of the original in one step. Where that cannot be
// done (a bind-mounted file, attributes that cannot be copied, a folder the user may not write),
// the file is rewritten in place:
// - with a backup ".<name>.vantrel-backup" that records the old bytes and the new ones; it goes
//   once the new bytes have been read back intact. A backup found by a later write means the
//   rewrite never finished; the old bytes are put back only when every byte of the file is the
//   old or the new one at its place, which is all an interrupted rewrite can leave. Content
//   written since (a line another program appended) is left as it is, and a read never repairs
//   anything: it reads the file as the backup says it was before the rewrite. The backup gets
//   the file's owner, mode and ACL where it can, so whoever may read the file may read it.
// - without a backup, where none can be made: only when the change is an append or a cut at the
//   end, so a crash can never cost a line that was there before.
#include "platform/files/SafeReplace.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace filesys {

namespace {

std::optional<std::string> ReadAllAt(const std::string& path) {
    const File file = OpenForReading(path);
    if (!file.Valid()) return std::nullopt;
    return ReadRest(file);
}

// True when the file at path holds exactly bytes.
bool HoldsExactly(const std::string& path, std::string_view bytes) {
    const File file = OpenForReading(path);
    if (!file.Valid()) return false;
    std::vector<char> buffer(std::min<std::size_t>(bytes.size() + 1, 1 << 20));
    std::size_t offset = 0;
    for (;;) {
        const std::int64_t n = ReadSome(file, buffer.data(), buffer.size());
        if (n < 0) return false;
        if (n == 0) return offset == bytes.size();
        const auto count = static_cast<std::size_t>(n);
        if (offset + count > bytes.size() ||
            std::memcmp(buffer.data(), bytes.data() + offset, count) != 0) {
            return false;
        }
        offset += count;
    }
}

// Copies the prefix to out or, without out, appends it to *bytes.
bool CopyPrefix(const RawPrefix& prefix, const File* out, std::string* bytes) {
    std::uint64_t offset = 0;
    if (out != nullptr) CopyInKernel(*prefix.file, *out, prefix.length, &offset);
    if (offset < prefix.length && !SeekTo(*prefix.file, offset)) return false;
    std::vector<char> buffer;
    while (offset < prefix.length) {
        buffer.resize(std::min<std::uint64_t>(prefix.length - offset, 1 << 20));
        const std::int64_t n = ReadSome(*prefix.file, buffer.data(), buffer.size());
        if (n <= 0) return false;  // shorter than scanned: not the file that was planned on
        const std::string_view piece(buffer.data(), static_cast<std::size_t>(n));
        if (out == nullptr) {
            bytes->append(piece);
        } else if (!WriteAll(*out, piece)) {
            return false;
        }
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

enum class TempResult { Ok, Failed, NotMade, NoFolderAccess, NoAttributes };

struct Temp {
    TempResult result = TempResult::Failed;
    std::string name;
};

// Writes the prefix and the produced bytes to a new temporary file beside path and flushes it;
// finish (when given) then gives it what the original has besides its bytes. On anything but Ok
// no file is left.
Temp WriteTemp(const std::string& path, const Producer& produce,
               const std::function<bool(const File&)>& finish = {},
               const RawPrefix* prefix = nullptr) {
    Temp temp;
    TempStatus status = TempStatus::Failed;
    File file = CreateTemp(TempFilePrefix(path), &temp.name, &status);
    if (!file.Valid()) {
        temp.result =
            status == TempStatus::NoFolderAccess ? TempResult::NoFolderAccess : TempResult::NotMade;
        return temp;
    }
    temp.result = (prefix == nullptr || CopyPrefix(*prefix, &file, nullptr)) &&
                          produce([&file](std::string_view piece) { return WriteAll(file, piece); })
                      ? TempResult::Ok
                      : TempResult::Failed;
    if (temp.result == TempResult::Ok && finish && !finish(file))
        temp.result = TempResult::NoAttributes;
    if (temp.result == TempResult::Ok && !Flush(file)) temp.result = TempResult::Failed;
    if (!file.Close() && temp.result == TempResult::Ok) temp.result = TempResult::Failed;
    if (temp.result != TempResult::Ok) {
        Remove(temp.name);
        temp.name.clear();
    }
    return temp;
}

Producer Bytes(std::string_view bytes) {
    return [bytes](const Sink& sink) { return sink(bytes); };
}

// Writes bytes over the open file from its start and cuts it to their length.
bool OverwriteFile(const File& file, std::string_view bytes) {
    return WriteAt(file, 0, bytes) && Truncate(file, bytes.size()) && Flush(file);
}

bool OverwriteInPlace(const std::string& path, std::string_view bytes) {
    File file = OpenForWriting(path);
    if (!file.Valid()) return false;
    bool ok = OverwriteFile(file, bytes);
    ok = file.Close() && ok;
    return ok && HoldsExactly(path, bytes);
}

// The backup of an in-place rewrite: a head line; the old length, the length the new bytes share
// with the old ones from the start, and the length of the rest of the new bytes; the old bytes;
// that rest. An added block or one cut at the end costs little more than the old bytes.
constexpr std::string_view kBackupHead = "vantrel-backup 1\n";

std::size_t SharedPrefix(std::string_view a, std::string_view b) {
    const std::size_t limit = std::min(a.size(), b.size());
    std::size_t same = 0;
    while (same < limit && a[same] == b[same]) ++same;
    return same;
}

std::string BackupRecord(std::string_view old, std::string_view bytes) {
    const std::size_t shared = SharedPrefix(old, bytes);
    std::string record(kBackupHead);
    record += std::to_string(old.size()) + " " + std::to_string(shared) + " " +
              std::to_string(bytes.size() - shared) + "\n";
    record.append(old).append(bytes.substr(shared));
    return record;
}

bool ParseBackupRecord(std::string_view record, std::string_view* old, std::string* bytes) {
    if (record.substr(0, kBackupHead.size()) != kBackupHead) return false;
    record.remove_prefix(kBackupHead.size());
    const std::size_t eol = record.find('\n');
    if (eol == std::string_view::npos) return false;
    const std::string sizes(record.substr(0, eol));
    record.remove_prefix(eol + 1);
    unsigned long long oldSize = 0, shared = 0, rest = 0;
    char tail = 0;
    if (std::sscanf(sizes.c_str(), "%llu %llu %llu%c", &oldSize, &shared, &rest, &tail) != 3 ||
        oldSize > record.size() || shared > oldSize || rest != record.size() - oldSize) {
        return false;
    }
    *old = record.substr(0, oldSize);
    bytes->assign(old->substr(0, shared)).append(record.substr(oldSize));
    return true;
}

// True when file is what an in-place rewrite of old into bytes (or the rewrite that puts the old
// bytes back) can leave, finished or stopped part way: every byte is the old or the new one at
// its place, and the length lies between theirs. Content written by anyone else since, a line
// appended or changed, is not.
bool IsInterruptedRewrite(std::string_view file, std::string_view old, std::string_view bytes) {
    if (file.size() < std::min(old.size(), bytes.size()) ||
        file.size() > std::max(old.size(), bytes.size())) {
        return false;
    }
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (!(i < old.size() && file[i] == old[i]) && !(i < bytes.size() && file[i] == bytes[i]))
            return false;
    }
    return true;
}

// In place without a backup: only an append or a cut at the end, so every byte that stays is
// never written, and a crash leaves the old lines whole.
bool RewriteWithoutBackup(const File& file, std::string_view old, std::string_view bytes) {
    const std::size_t same = SharedPrefix(old, bytes);
    if (same != old.size() && same != bytes.size()) return false;
    const bool ok =
        WriteAt(file, same, bytes.substr(same)) && Truncate(file, bytes.size()) && Flush(file);
    // A failed append is cut off again; the old bytes were never touched.
    if (!ok && bytes.size() > old.size()) Truncate(file, old.size());
    return ok;
}

// Puts the backup record in place beside path: readable by whoever may read the file, so that
// their reads can use it, else by this process alone. NoFolderAccess: no backup can be made.
TempResult PlaceBackup(const std::string& path, const Original& original,
                       const std::string& record) {
    Temp temp = WriteTemp(path, Bytes(record), [&original](const File& to) {
        return CopyAttributes(*original.file, original.attributes, to);
    });
    if (temp.result == TempResult::NoAttributes) temp = WriteTemp(path, Bytes(record));
    if (temp.result != TempResult::Ok) return temp.result;
    // The backup appears complete or not at all.
    if (!Rename(temp.name, BackupFilePath(path))) {
        Remove(temp.name);
        return TempResult::Failed;
    }
    FlushFolder(FolderOf(path));
    return TempResult::Ok;
}

bool RewriteInPlace(const std::string& path, const Original& original, std::string_view bytes) {
    const std::string folder = FolderOf(path);
    const std::string backup = BackupFilePath(path);
    // Opened first: a file that cannot be written (a read-only bind mount) leaves nothing behind.
    File file = OpenForWriting(path);
    if (!file.Valid()) return false;
    const std::optional<std::string> old = ReadAllAt(path);
    if (!old) return false;
    if (*old == bytes) return true;

    const TempResult placed = PlaceBackup(path, original, BackupRecord(*old, bytes));
    if (placed == TempResult::NoFolderAccess) {
        bool ok = RewriteWithoutBackup(file, *old, bytes);
        ok = file.Close() && ok;
        return ok && HoldsExactly(path, bytes);
    }
    if (placed != TempResult::Ok) return false;

    // While the backup exists the rewrite is not done: the next write would put the old bytes
    // back. So success is the new bytes read back intact and the backup gone.
    bool ok = OverwriteFile(file, bytes);
    ok = file.Close() && ok;
    if (ok && HoldsExactly(path, bytes) && Remove(backup)) {
        FlushFolder(folder);
        return true;
    }
    // The old bytes back; the backup goes once the file holds them again, and otherwise stays for
    // the next write to finish the job.
    if ((OverwriteInPlace(path, *old) || HoldsExactly(path, *old)) && Remove(backup))
        FlushFolder(folder);
    return false;
}

}  // namespace

std::string TempFilePrefix(const std::string& path) {
    return HiddenBeside(path, ".vantrel-tmp-");
}

std::string BackupFilePath(const std::string& path) {
    return HiddenBeside(path, ".vantrel-backup");
}

std::optional<std::string> ReadRest(const File& file, bool fromStart) {
    const std::uint64_t size = fromStart ? SizeOf(file) : 0;
    // Straight into the result: a large file is touched once, not copied from a chunk buffer.
    std::string data(size > 0 ? static_cast<std::size_t>(size) + 1 : std::size_t{1} << 16, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == data.size()) data.resize(data.size() * 2);
        const std::int64_t n =
            ReadSome(file, data.data() + used, std::min<std::size_t>(data.size() - used, 1 << 24));
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    data.resize(used);
    return data;
}

bool ReplaceContent(const std::string& path, Original& original, const Producer& produce,
                    const RawPrefix* prefix) {
    const auto keep = [&original](const File& to) {
        return CopyAttributes(*original.file, original.attributes, to);
    };
    const Temp temp = WriteTemp(path, produce, keep, prefix);
    if (temp.result == TempResult::Ok) {
        if (!kCanReplaceOpenFile) original.file->Reset();
        switch (ReplaceWith(path, temp.name)) {
            case ReplaceStatus::Done:
                return true;
            case ReplaceStatus::Failed:
                Remove(temp.name);
                return false;
            case ReplaceStatus::InPlaceNeeded:
                Remove(temp.name);
                break;
        }
    } else if (temp.result == TempResult::Failed || temp.result == TempResult::NotMade) {
        return false;
    }
    // In place the new bytes are needed whole: to write, to read back and compare.
    std::string bytes;
    if (prefix != nullptr && !CopyPrefix(*prefix, nullptr, &bytes)) return false;
    if (!produce([&bytes](std::string_view piece) {
            bytes.append(piece);
            return true;
        })) {
        return false;
    }
    return RewriteInPlace(path, original, bytes);
}

bool RecoverInterruptedRewrite(const std::string& path) {
    const std::string backup = BackupFilePath(path);
    if (!Exists(backup)) return true;
    const std::optional<std::string> record = ReadAllAt(backup);
    if (!record) return true;  // not ours to read: someone with more rights will see to it
    std::string_view old;
    std::string bytes;
    if (ParseBackupRecord(*record, &old, &bytes)) {
        const std::optional<std::string> file = ReadAllAt(path);
        if (!file) return false;
        // The rewrite never finished: the old bytes go back over whatever it left, unless content
        // has been written since, which is left as it is.
        if (*file != old && IsInterruptedRewrite(*file, old, bytes) &&
            !OverwriteInPlace(path, old)) {
            return false;
        }
    }
    // Its work is done, or it proves nothing (a half-written record, or none of ours).
    Remove(backup);
    FlushFolder(FolderOf(path));
    return true;
}

void RemoveStaleTemps(const std::string& path) {
    const std::string folder = FolderOf(path);
    for (const std::string& name : NamesStartingWith(folder, NameOf(TempFilePrefix(path))))
        Remove(JoinPath(folder, name));
}

// Cheaper by far than a copy of a large file. Where this process may not open the file for
// writing (a read-only mount, another owner's file) the caller replaces it instead.
EndCut CutTheEndOff(const std::string& path, const File& original, std::uint64_t at) {
    OpenError error = OpenError::None;
    File file = OpenForWriting(path, &error);
    if (!file.Valid()) return error == OpenError::Refused ? EndCut::NotHere : EndCut::Failed;
    // The cut bytes, to be written back should the cut not hold.
    if (!SeekTo(original, at)) return EndCut::Failed;
    const std::optional<std::string> cut = ReadRest(original, false);
    if (!cut) return EndCut::Failed;
    if (Truncate(file, at) && Flush(file)) {
        file.Close();  // the new length is on the disk: a late error cannot undo it
        return EndCut::Done;
    }
    if (WriteAt(file, at, *cut)) Flush(file);
    return EndCut::Failed;
}

// A backup beside the file means a rewrite in place is under way or was cut short: its record
// says what the file held before, which is what the next write puts back over whatever the
// rewrite has left so far. Otherwise a read counts when the file's size, times and identity were
// the same after it as before and no backup came meanwhile; a rewrite in place changes the size
// (every add and cut does) or the time of the last change.
ReadStatus ReadSteadily(const std::string& path, const ReadPass& read) {
    constexpr int kSteadyReads = 50;
    const std::string backup = BackupFilePath(path);
    for (int attempt = 1;; ++attempt) {
        const bool last = attempt == kSteadyReads;
        const File file = OpenForReading(path);
        if (!file.Valid()) return FileExists(path) ? ReadStatus::Unreadable : ReadStatus::Missing;
        const FileStamp before = StampOf(file);
        if (!Exists(backup)) {
            if (!read(&file, {})) return ReadStatus::Unreadable;
            if (last || (StampOf(file) == before && !Exists(backup))) return ReadStatus::Ok;
        } else {
            const std::optional<std::string> record = ReadAllAt(backup);
            const std::optional<std::string> bytes = ReadRest(file);
            if (!bytes) return ReadStatus::Unreadable;
            std::string_view old;
            std::string rewritten;
            if (record && ParseBackupRecord(*record, &old, &rewritten) &&
                IsInterruptedRewrite(*bytes, old, rewritten)) {
                read(nullptr, old);
                return ReadStatus::Ok;
            }
            // Written since the rewrite, or a backup this process may not read: then the rewrite
            // is waited for, a while.
            if (last || (record && StampOf(file) == before)) {
                read(nullptr, *bytes);
                return ReadStatus::Ok;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool SaveFile(const std::string& path, std::string_view bytes) {
    const PathInfo info = InfoOf(path);
    if (info.kind == PathInfo::Other) return false;  // never replace a folder or a device
    const std::uint32_t mode = info.kind == PathInfo::File ? info.mode : 0644;
    const Temp temp =
        WriteTemp(path, Bytes(bytes), [mode](const File& to) { return SetMode(to, mode); });
    switch (temp.result) {
        case TempResult::Ok:
            if (ReplaceWith(path, temp.name) == ReplaceStatus::Done) return true;
            Remove(temp.name);
            return false;
        case TempResult::NotMade:
        case TempResult::NoFolderAccess:
            break;
        case TempResult::Failed:
        case TempResult::NoAttributes:
            return false;
    }
    // No temporary file beside it: the file in place, when it may be written.
    File file = OpenForWriting(path, nullptr, true, true);
    if (!file.Valid() || !IsRegularFile(file)) return false;
    const bool written = WriteAll(file, bytes) && Flush(file);
    return file.Close() && written;
}

}  // namespace filesys
