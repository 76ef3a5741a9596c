// Crash-safe reading and locked replacing of the hosts file, the same on every system: the
// streaming reader and the marker scan, the hide and show decisions, the replacement and the
// in-place rewrite with its crash backup, and the reads that take no lock. Only the system calls
// under it differ (HostsFileSys_*.cpp).
//
// Write: a temporary file in the same folder (".<name>.vantrel-tmp-*"), flushed, given what the
// original has besides its bytes, put in place of the original in one step. Where that cannot be
// done (a bind-mounted file, attributes that cannot be copied, a folder the user may not write),
// the file is rewritten in place:
// - with a backup ".<name>.vantrel-backup" that records the old bytes and the new ones; it goes
//   once the new bytes have been read back intact. A backup found by a later write means the
//   rewrite never finished; the old bytes are put back only when every byte of the file is the
//   old or the new one at its place, which is all an interrupted rewrite can leave. Content
//   written since (a line another program appended) is left as it is, and a status read never
//   repairs anything: it reads the file as the backup says it was before the rewrite. The backup
//   gets the file's owner, mode and ACL where it can, so whoever may read the file may read it.
// - without a backup, where none can be made: only when the change is an append or a cut at the
//   end, so a crash can never cost a line that was there before.
// Temporary files of a killed process are removed by the next operation.
#include "platform/hosts/HostsFileIO.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "core/hosts/HostsLine.h"
#include "core/hosts/HostsText.h"
#include "platform/hosts/CHostsFile.h"
#include "platform/hosts/HostsFileSys.h"

using namespace hostsys;

namespace {

struct PathParts {
    std::string dir;
    std::string base;
};

PathParts SplitPath(const std::string& path) {
    const std::size_t slash = kPathSeparator == '/'
                                  ? path.rfind('/')
                                  : path.find_last_of(std::string("/") + kPathSeparator);
    if (slash == std::string::npos) return {".", path};
    return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

std::string Beside(const std::string& path, const char* suffix) {
    const PathParts parts = SplitPath(path);
    return parts.dir + kPathSeparator + "." + parts.base + suffix;
}

// What is left of the file from its current position; sized for the whole file when it is read
// from the start.
std::optional<std::string> ReadAll(const CFile& file, bool fromStart = true) {
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

std::optional<std::string> ReadAllAt(const std::string& path) {
    const CFile file = OpenForReading(path);
    if (!file.Valid()) return std::nullopt;
    return ReadAll(file);
}

// True when the file at path holds exactly bytes.
bool HoldsExactly(const std::string& path, std::string_view bytes) {
    const CFile file = OpenForReading(path);
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

// Hands the new file's bytes, piece by piece, to a sink; false when a piece could not be had
// or the sink refused it.
using Sink = std::function<bool(std::string_view)>;
using Producer = std::function<bool(const Sink&)>;

// The unchanged start of the new file: the first `length` bytes of the open hosts file, taken
// as they are. Edits near the end of a large file copy these inside the kernel.
struct RawPrefix {
    const CFile* file = nullptr;
    std::uint64_t length = 0;
};

// Copies the prefix to out or, without out, appends it to *bytes.
bool CopyPrefix(const RawPrefix& prefix, const CFile* out, std::string* bytes) {
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

enum class TempResult { Ok, Failed, NoFolderAccess, NoAttributes };

struct Temp {
    TempResult result = TempResult::Failed;
    std::string name;
};

// Writes the produced bytes to a new temporary file beside path and flushes it; given the
// original, the file gets what the original has besides its bytes. On anything but Ok no file
// is left.
Temp WriteTemp(const std::string& path, const Producer& produce, const Locked* original = nullptr,
               const RawPrefix* prefix = nullptr) {
    Temp temp;
    TempStatus status = TempStatus::Failed;
    CFile file = CreateTemp(TempFilePrefix(path), &temp.name, &status);
    if (!file.Valid()) {
        temp.result =
            status == TempStatus::NoFolderAccess ? TempResult::NoFolderAccess : TempResult::Failed;
        return temp;
    }
    temp.result = (prefix == nullptr || CopyPrefix(*prefix, &file, nullptr)) &&
                          produce([&file](std::string_view piece) { return WriteAll(file, piece); })
                      ? TempResult::Ok
                      : TempResult::Failed;
    if (temp.result == TempResult::Ok && original != nullptr && !CopyAttributes(*original, file))
        temp.result = TempResult::NoAttributes;
    if (temp.result == TempResult::Ok && !Flush(file)) temp.result = TempResult::Failed;
    if (!file.Close() && temp.result == TempResult::Ok) temp.result = TempResult::Failed;
    if (temp.result != TempResult::Ok) {
        Remove(temp.name);
        temp.name.clear();
    }
    return temp;
}

// Writes bytes over the open file from its start and cuts it to their length.
bool OverwriteFile(const CFile& file, std::string_view bytes) {
    return WriteAt(file, 0, bytes) && Truncate(file, bytes.size()) && Flush(file);
}

bool OverwriteInPlace(const std::string& path, std::string_view bytes) {
    CFile file = OpenForWriting(path);
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

// Deals with a backup left by an in-place rewrite. False only when the file is such a torn
// rewrite and the old bytes could not be put back: it is not to be trusted then.
bool RecoverInterruptedRewrite(const std::string& path) {
    const std::string backup = BackupFilePath(path);
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
    FlushFolder(SplitPath(path).dir);
    return true;
}

// In place without a backup: only an append or a cut at the end, so every byte that stays is
// never written, and a crash leaves the old lines whole.
bool RewriteWithoutBackup(const CFile& file, std::string_view old, std::string_view bytes) {
    const std::size_t same = SharedPrefix(old, bytes);
    if (same != old.size() && same != bytes.size()) return false;
    const bool ok =
        WriteAt(file, same, bytes.substr(same)) && Truncate(file, bytes.size()) && Flush(file);
    // A failed append is cut off again; the old bytes were never touched.
    if (!ok && bytes.size() > old.size()) Truncate(file, old.size());
    return ok;
}

bool RewriteInPlace(const std::string& path, const Locked& locked, std::string_view bytes) {
    const std::string dir = SplitPath(path).dir;
    const std::string backup = BackupFilePath(path);
    // Opened first: a file that cannot be written (a read-only bind mount) leaves nothing behind.
    CFile file = OpenForWriting(path);
    if (!file.Valid()) return false;
    const std::optional<std::string> old = ReadAllAt(path);
    if (!old) return false;
    if (*old == bytes) return true;

    const std::string record = BackupRecord(*old, bytes);
    const Producer produceRecord = [&record](const Sink& sink) { return sink(record); };
    // Readable by whoever may read the file, so that their reads can use it; else by this
    // process alone.
    Temp temp = WriteTemp(path, produceRecord, &locked);
    if (temp.result == TempResult::NoAttributes) temp = WriteTemp(path, produceRecord);
    if (temp.result == TempResult::NoFolderAccess) {
        bool ok = RewriteWithoutBackup(file, *old, bytes);
        ok = file.Close() && ok;
        return ok && HoldsExactly(path, bytes);
    }
    if (temp.result != TempResult::Ok) return false;
    // The backup appears complete or not at all.
    if (!Rename(temp.name, backup)) {
        Remove(temp.name);
        return false;
    }
    FlushFolder(dir);

    // While the backup exists the rewrite is not done: the next write would put the old bytes
    // back. So success is the new bytes read back intact and the backup gone.
    bool ok = OverwriteFile(file, bytes);
    ok = file.Close() && ok;
    if (ok && HoldsExactly(path, bytes) && Remove(backup)) {
        FlushFolder(dir);
        return true;
    }
    // The old bytes back; the backup goes once the file holds them again, and otherwise stays for
    // the next write to finish the job.
    if ((OverwriteInPlace(path, *old) || HoldsExactly(path, *old)) && Remove(backup))
        FlushFolder(dir);
    return false;
}

bool ReplaceContent(const std::string& path, Locked& locked, const Producer& produce,
                    const RawPrefix* prefix = nullptr) {
    const Temp temp = WriteTemp(path, produce, &locked, prefix);
    if (temp.result == TempResult::Ok) {
        PrepareToReplace(locked);
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
    } else if (temp.result == TempResult::Failed) {
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
    return RewriteInPlace(path, locked, bytes);
}

void RemoveStaleTemps(const std::string& path) {
    const PathParts parts = SplitPath(path);
    for (const std::string& name : NamesStartingWith(parts.dir, "." + parts.base + ".vantrel-tmp-"))
        Remove(parts.dir + kPathSeparator + name);
}

// The hosts file opened for reading under the exclusive lock. Temporary files are only ever made
// under that lock, so whoever holds it may remove them; a backup of an interrupted in-place
// rewrite is dealt with here too. Reads take no lock and change nothing.
thread_local bool t_bLockWasBusy = false;

Locked LockHosts(const std::string& path) {
    Locked locked = OpenLocked(path, true);
    t_bLockWasBusy = locked.status == ReadStatus::Busy;
    if (locked.status != ReadStatus::Ok) return locked;
    if (Exists(BackupFilePath(path)) && !RecoverInterruptedRewrite(path)) {
        locked.file.Reset();
        locked.status = ReadStatus::Unreadable;  // a torn file is not to be trusted
        return locked;
    }
    RemoveStaleTemps(path);
    return locked;
}

EditOutcome OutcomeOf(ReadStatus status) {
    switch (status) {
        case ReadStatus::Missing:
            return EditOutcome::Missing;
        case ReadStatus::Busy:
            return EditOutcome::Busy;
        case ReadStatus::Ok:
        case ReadStatus::Unreadable:
            break;
    }
    return EditOutcome::Unreadable;
}

// Hands text on with every LF as lineEnd; converts a slice at a time so no second copy of a
// large text is made.
bool EmitText(const Sink& sink, std::string_view text, std::string_view lineEnd) {
    if (lineEnd == "\n") return sink(text);
    constexpr std::size_t kSlice = 1 << 20;
    std::string converted;
    for (std::size_t pos = 0; pos < text.size(); pos += kSlice) {
        converted.clear();
        AppendWithLineEnds(converted, text.substr(pos, kSlice), lineEnd);
        if (!sink(converted)) return false;
    }
    return true;
}

bool Replace(const std::string& path, Locked& locked, std::string_view text,
             std::string_view lineEnd) {
    return ReplaceContent(path, locked,
                          [&](const Sink& sink) { return EmitText(sink, text, lineEnd); });
}

// The file's CR-free text in chunks. In memory each chunk is preceded by the end of the text
// before it, so a marker split between two reads is still found in the window.
class CCrFreeReader {
public:
    static constexpr std::size_t kCarry = 64;
    // Small enough to stay in the cache, and few pages to fault in the first time it fills.
    static constexpr std::size_t kChunk = 64 << 10;

    // Reads on from the file's current position, which is the text position `offset`.
    explicit CCrFreeReader(const CFile& file, std::uint64_t offset = 0)
        : m_file(&file), m_buffer(new char[kCarry + kChunk]), m_offset(offset) {}
    // Reads the file's bytes from memory instead.
    explicit CCrFreeReader(std::string_view bytes)
        : m_bytes(bytes), m_buffer(new char[kCarry + kChunk]) {}

    // Moves on to the next chunk; false at the end of the file or on a read error.
    bool Next() {
        const std::size_t keep = std::min(kCarry, WindowSize());
        std::memmove(m_buffer.get() + kCarry - keep, m_buffer.get() + kCarry + m_size - keep, keep);
        m_offset += m_size;
        m_carry = keep;
        m_size = 0;
        while (m_size == 0) {
            const std::int64_t n = ReadMore(m_buffer.get() + kCarry);
            if (n < 0) m_bFailed = true;
            if (n <= 0) return false;
            m_size = DropCarriageReturns(m_buffer.get() + kCarry, static_cast<std::size_t>(n));
            if (m_size != static_cast<std::size_t>(n)) m_bSawCr = true;
        }
        return true;
    }
    bool Failed() const { return m_bFailed; }
    // Whether a CR has been dropped so far: until then text positions are file offsets.
    bool SawCr() const { return m_bSawCr; }
    std::string_view Chunk() const { return {m_buffer.get() + kCarry, m_size}; }
    std::uint64_t ChunkOffset() const { return m_offset; }
    const char* Window() const { return m_buffer.get() + kCarry - m_carry; }
    std::size_t WindowSize() const { return m_carry + m_size; }
    std::uint64_t WindowOffset() const { return m_offset - m_carry; }
    std::uint64_t WindowEnd() const { return m_offset + m_size; }

    // Where needle first occurs in the window at or after the text position from.
    std::optional<std::uint64_t> Find(std::string_view needle, std::uint64_t from) const {
        const std::string_view window(Window(), WindowSize());
        const std::uint64_t start = std::max(from, WindowOffset()) - WindowOffset();
        if (start >= window.size()) return std::nullopt;
        const std::size_t hit = window.find(needle, static_cast<std::size_t>(start));
        if (hit == std::string_view::npos) return std::nullopt;
        return WindowOffset() + hit;
    }
    // Where the ad label first occurs in the window at or after the text position from.
    std::optional<std::uint64_t> FindLabel(std::uint64_t from) const {
        const std::uint64_t start = std::max(from, WindowOffset()) - WindowOffset();
        if (start >= WindowSize()) return std::nullopt;
        const char* hit = FindAdLabel(Window() + start, WindowSize() - start);
        if (hit == nullptr) return std::nullopt;
        return WindowOffset() + static_cast<std::uint64_t>(hit - Window());
    }
    // The window's text in [from, to), clipped to the window.
    std::string_view Text(std::uint64_t from, std::uint64_t to) const {
        from = std::clamp(from, WindowOffset(), WindowEnd());
        to = std::clamp(to, from, WindowEnd());
        return {Window() + (from - WindowOffset()), static_cast<std::size_t>(to - from)};
    }

private:
    std::int64_t ReadMore(char* into) {
        if (m_file != nullptr) return ReadSome(*m_file, into, kChunk);
        const std::size_t n = std::min(kChunk, m_bytes.size());
        std::memcpy(into, m_bytes.data(), n);
        m_bytes.remove_prefix(n);
        return static_cast<std::int64_t>(n);
    }

    const CFile* m_file = nullptr;
    std::string_view m_bytes;
    // Left uninitialised: a small file then touches one page of it, not all 16.
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_carry = 0;
    std::size_t m_size = 0;
    std::uint64_t m_offset = 0;
    bool m_bFailed = false;
    bool m_bSawCr = false;
};

// Where the markers and the ad label stand in the CR-free text, found in one pass without
// holding the text.
struct MarkerScan {
    bool ok = false;
    std::optional<std::uint64_t> probe;  // kBeginProbe
    std::optional<std::uint64_t> begin;  // kBeginMarker
    std::optional<std::uint64_t> end;    // kEndMarker after kBeginMarker
    std::optional<std::uint64_t> later;  // kBeginMarker after that end marker, when asked for
    std::uint64_t crFree = 0;            // the text before this holds no CR: it is the file's
    std::optional<std::uint64_t> size;   // the text's length, when the scan read to the end
    // With the label asked for (the whole file is then read):
    std::optional<std::uint64_t> firstLabel;
    std::optional<std::uint64_t> lastLabel;
    std::string beforeBegin;  // the text just before the begin marker
    std::string afterEnd;     // the text just after the end marker
    // The first block, begin marker through end marker, unless it is longer than any block the
    // settings could make.
    std::optional<std::string> block;
};

// No block written from a settings file is longer than this.
constexpr std::size_t kLongestBlock =
    kMaxSettingsFileSize + kBeginMarker.size() + kEndMarker.size() + 2;

enum class ScanDepth {
    Block,     // until the first block's end marker
    PastEnd,   // on behind it, to find a second begin marker
    WholeFile  // everything, the ad label included
};

// The text on either side of a cut that could join into the ad label.
constexpr std::size_t kJoinReach = kAdLabel.size() - 1;

MarkerScan ScanMarkers(CCrFreeReader& reader, ScanDepth depth) {
    static_assert(kBeginMarker.substr(kBeginMarker.size() - kBeginProbe.size()) == kBeginProbe);
    constexpr std::size_t kLead = kBeginMarker.size() - kBeginProbe.size();  // "# "
    const bool pastEnd = depth != ScanDepth::Block;
    const bool labels = depth == ScanDepth::WholeFile;
    MarkerScan scan;
    std::uint64_t probeFrom = 0;  // every probe before this has been looked at
    std::uint64_t labelFrom = 0;
    std::string block;  // the first block as far as it has been read
    std::uint64_t blockFrom = 0;
    bool keepBlock = labels;  // false once the block is too long to be one of ours
    // One search finds both: a begin marker is a probe behind "# ". A probe near the window's
    // start was looked at in the window before, with what stands before it.
    const auto nextBegin = [&]() -> std::optional<std::uint64_t> {
        while (const std::optional<std::uint64_t> hit = reader.Find(kBeginProbe, probeFrom)) {
            if (!scan.probe) scan.probe = hit;
            probeFrom = *hit + 1;
            if (*hit >= reader.WindowOffset() + kLead &&
                std::memcmp(reader.Window() + (*hit - kLead - reader.WindowOffset()),
                            kBeginMarker.data(), kLead) == 0) {
                return *hit - kLead;
            }
        }
        return std::nullopt;
    };
    while (reader.Next()) {
        if (!reader.SawCr()) scan.crFree = reader.ChunkOffset() + reader.Chunk().size();
        if (!scan.begin) {
            scan.begin = nextBegin();
            // A begin marker past the first window has the window's carry before it.
            if (scan.begin && labels)
                scan.beforeBegin =
                    reader.Text(*scan.begin - std::min(*scan.begin, kJoinReach), *scan.begin);
        }
        if (scan.begin && !scan.end) {
            scan.end = reader.Find(kEndMarker, *scan.begin + kBeginMarker.size());
            if (scan.end) probeFrom = std::max(probeFrom, *scan.end + kEndMarker.size());
            if (keepBlock) {
                // Windows overlap by their carry: each piece is taken once.
                const std::uint64_t to = scan.end ? *scan.end + kEndMarker.size() : UINT64_MAX;
                const std::uint64_t from = std::max(blockFrom, *scan.begin);
                const std::string_view piece = reader.Text(from, to);
                if (block.size() + piece.size() > kLongestBlock) {
                    keepBlock = false;
                } else {
                    block.append(piece);
                    blockFrom = from + piece.size();
                    if (scan.end) scan.block = block;
                }
            }
        }
        if (scan.end && pastEnd && !scan.later) scan.later = nextBegin();
        if (labels) {
            while (const std::optional<std::uint64_t> hit = reader.FindLabel(labelFrom)) {
                if (!scan.firstLabel) scan.firstLabel = hit;
                scan.lastLabel = hit;
                labelFrom = *hit + 1;
            }
            if (scan.end && scan.afterEnd.size() < kJoinReach) {
                const std::uint64_t from = *scan.end + kEndMarker.size() + scan.afterEnd.size();
                scan.afterEnd.append(reader.Text(from, from + kJoinReach - scan.afterEnd.size()));
            }
            continue;
        }
        if (scan.end && (!pastEnd || scan.later)) {
            scan.ok = true;  // nothing more to learn
            return scan;
        }
    }
    scan.ok = !reader.Failed();
    if (scan.ok) scan.size = reader.WindowEnd();
    return scan;
}

// A read without any lock: scan runs over one state of the file, and again from the start when
// the file changed under it. A backup beside the file means a rewrite in place is under way or
// was cut short: its record says what the file held before, which is what the next write puts
// back over whatever the rewrite has left so far. Otherwise a read counts when the file's size,
// times and identity were the same after it as before and no backup came meanwhile; a rewrite
// in place changes the size (every add and cut does) or the time of the last change. After
// kSteadyReads tries (a file rewritten without a pause by some other program) the last read
// counts.
constexpr int kSteadyReads = 50;

ReadStatus ReadUnlocked(const std::string& path,
                        const std::function<void(CCrFreeReader& reader)>& scan) {
    const std::string resolved = Resolve(path);
    const std::string backup = BackupFilePath(resolved);
    for (int attempt = 1;; ++attempt) {
        const bool last = attempt == kSteadyReads;
        const CFile file = OpenForReading(resolved);
        if (!file.Valid())
            return FileExists(resolved) ? ReadStatus::Unreadable : ReadStatus::Missing;
        const FileStamp before = StampOf(file);
        if (!Exists(backup)) {
            CCrFreeReader reader(file);
            scan(reader);
            if (reader.Failed()) return ReadStatus::Unreadable;
            if (last || (StampOf(file) == before && !Exists(backup))) return ReadStatus::Ok;
        } else {
            const std::optional<std::string> record = ReadAllAt(backup);
            const std::optional<std::string> bytes = ReadAll(file);
            if (!bytes) return ReadStatus::Unreadable;
            std::string_view old;
            std::string rewritten;
            if (record && ParseBackupRecord(*record, &old, &rewritten) &&
                IsInterruptedRewrite(*bytes, old, rewritten)) {
                CCrFreeReader reader(old);
                scan(reader);
                return ReadStatus::Ok;
            }
            // Written since the rewrite, or a backup this process may not read: then the rewrite
            // is waited for, a while.
            if (last || (record && StampOf(file) == before)) {
                CCrFreeReader reader(*bytes);
                scan(reader);
                return ReadStatus::Ok;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Hands on the CR-free text from the text position `from`, with [cutBegin, cutEnd) left out and
// insert put in its place, LF as lineEnd. No CR may stand before `from`, so that it is also the
// position in the file.
bool EmitFileText(const CFile& file, std::uint64_t from, std::uint64_t cutBegin,
                  std::uint64_t cutEnd, std::string_view insert, std::string_view lineEnd,
                  const Sink& sink) {
    if (!SeekTo(file, from)) return false;
    CCrFreeReader reader(file, from);
    bool inserted = insert.empty();
    while (reader.Next()) {
        const std::string_view chunk = reader.Chunk();
        const std::uint64_t first = reader.ChunkOffset();
        const std::uint64_t last = first + chunk.size();
        const std::uint64_t keepTo = std::clamp(cutBegin, first, last);
        const std::uint64_t keepFrom = std::clamp(cutEnd, first, last);
        if (!EmitText(sink, chunk.substr(0, keepTo - first), lineEnd)) return false;
        if (!inserted && cutBegin <= last) {
            if (!EmitText(sink, insert, lineEnd)) return false;
            inserted = true;
        }
        if (keepFrom < last && !EmitText(sink, chunk.substr(keepFrom - first), lineEnd))
            return false;
    }
    return !reader.Failed() && inserted;
}

enum class CutResult { Done, Failed, NotHere };

// A block at the very end of a file whose text before it holds no CR goes by cutting the file
// short: the bytes that stay are never written, and a crash leaves the old length or the new.
// Cheaper by far than a copy of a large file. Where this process may not open the file for
// writing (a read-only mount, another owner's file) the caller replaces it instead, as before.
CutResult CutTheEndOff(const std::string& path, const Locked& locked, std::uint64_t at) {
    bool refused = false;
    CFile file = OpenForWriting(path, &refused);
    if (!file.Valid()) return refused ? CutResult::NotHere : CutResult::Failed;
    // The cut bytes, to be written back should the cut not hold.
    if (!SeekTo(locked.file, at)) return CutResult::Failed;
    const std::optional<std::string> cut = ReadAll(locked.file, false);
    if (!cut) return CutResult::Failed;
    if (Truncate(file, at) && Flush(file)) {
        file.Close();  // the new length is on the disk: a late error cannot undo it
        return CutResult::Done;
    }
    if (WriteAt(file, at, *cut)) Flush(file);
    return CutResult::Failed;
}

enum class Plan { Unchanged, Refused, Write };

struct Edit {
    std::uint64_t cutBegin = UINT64_MAX;
    std::uint64_t cutEnd = UINT64_MAX;
    std::string insert;  // put where the cut text was
    std::string tail;    // appended after the kept text
};

// The locked two-pass edit: a scan decides, then the kept text streams into the new file
// followed by the tail. Never holds the whole text.
EditOutcome StreamEdit(const std::string& path, std::string_view lineEnd, ScanDepth depth,
                       const std::function<Plan(const MarkerScan&, Edit*)>& plan,
                       MarkerScan* scanned = nullptr, Edit* edited = nullptr) {
    const std::string resolved = Resolve(path);
    Locked locked = LockHosts(resolved);
    if (locked.status != ReadStatus::Ok) return OutcomeOf(locked.status);
    MarkerScan local;
    MarkerScan& scan = scanned != nullptr ? *scanned : local;
    CCrFreeReader reader(locked.file);
    scan = ScanMarkers(reader, depth);
    if (!scan.ok) return EditOutcome::Unreadable;
    Edit localEdit;
    Edit& edit = edited != nullptr ? *edited : localEdit;
    switch (plan(scan, &edit)) {
        case Plan::Unchanged:
            return EditOutcome::Unchanged;
        case Plan::Refused:
            return EditOutcome::Refused;
        case Plan::Write:
            break;
    }
    if (lineEnd == "\n" && edit.tail.empty() && edit.insert.empty() && scan.size &&
        edit.cutEnd == *scan.size && edit.cutBegin <= scan.crFree) {
        switch (CutTheEndOff(resolved, locked, edit.cutBegin)) {
            case CutResult::Done:
                return EditOutcome::Written;
            case CutResult::Failed:
                return EditOutcome::WriteFailed;
            case CutResult::NotHere:
                break;
        }
    }
    // Where LF stays LF, the start of the file up to the cut (or to its first CR) is the new
    // file's start byte for byte: the kernel copies it without reading it through here.
    RawPrefix prefix{&locked.file, 0};
    if (lineEnd == "\n") prefix.length = std::min(edit.cutBegin, scan.crFree);
    const bool written = ReplaceContent(
        resolved, locked,
        [&](const Sink& sink) {
            return EmitFileText(locked.file, prefix.length, edit.cutBegin, edit.cutEnd, edit.insert,
                                lineEnd, sink) &&
                   EmitText(sink, edit.tail, lineEnd);
        },
        prefix.length > 0 ? &prefix : nullptr);
    return written ? EditOutcome::Written : EditOutcome::WriteFailed;
}

// Adding: nothing when any form of the begin marker is there; refused when there are no lines to
// be had or a line would make a block that cannot be removed whole.
Plan PlanAdd(const MarkerScan& scan, const SettingsSource& settings, Edit* edit) {
    if (scan.probe) return Plan::Unchanged;
    const std::optional<std::vector<std::string>> lines = settings();
    if (!lines) return Plan::Refused;
    if (!AppendBlock(edit->tail, *lines)) return Plan::Refused;
    return Plan::Write;
}

// Hiding: nothing when the label is anywhere. Else the block of the settings lines, in place of a
// block of Vantrel's (which then hides nothing) or appended when there is none. Refused, saying
// why, for a damaged block, a begin text in another form, or settings that make no block.
Plan PlanHide(const MarkerScan& scan, const SettingsSource& settings, Edit* edit,
              BlockProblem* problem) {
    if (scan.firstLabel) return Plan::Unchanged;
    *problem = !scan.begin && scan.probe ? BlockProblem::ForeignMarker
               : scan.begin && !scan.end ? BlockProblem::Damaged
                                         : BlockProblem::None;
    if (*problem != BlockProblem::None) return Plan::Refused;
    const std::optional<std::vector<std::string>> lines = settings();
    *problem = !lines                   ? BlockProblem::NoSettings
               : !HasEntryLines(*lines) ? BlockProblem::EmptyList
                                        : BlockProblem::None;
    std::string block;
    if (*problem == BlockProblem::None && !AppendBlock(block, *lines))
        *problem = BlockProblem::NoSettings;
    if (*problem != BlockProblem::None) return Plan::Refused;
    if (!scan.begin) {
        edit->tail = std::move(block);
        return Plan::Write;
    }
    if (scan.block == block) return Plan::Unchanged;  // already this list's block
    edit->cutBegin = *scan.begin;
    edit->cutEnd = *scan.end + kEndMarker.size();
    edit->insert = std::move(block);
    return Plan::Write;
}

// Cutting the first block: from its begin marker through the first end marker after it
// (searching from the start would find a stray earlier end marker and repeat text).
Plan PlanCut(const MarkerScan& scan, Edit* edit) {
    if (!scan.begin) return Plan::Unchanged;
    if (!scan.end) return Plan::Refused;
    edit->cutBegin = *scan.begin;
    edit->cutEnd = *scan.end + kEndMarker.size();
    return Plan::Write;
}

}  // namespace

bool HostsLockWasBusy() {
    return t_bLockWasBusy;
}

std::string TempFilePrefix(const std::string& path) {
    return Beside(path, ".vantrel-tmp-");
}

std::string BackupFilePath(const std::string& path) {
    return Beside(path, ".vantrel-backup");
}

HostsRead ReadHostsText(const std::string& path) {
    HostsRead result;
    result.status = ReadUnlocked(path, [&result](CCrFreeReader& reader) {
        result.text.clear();
        while (reader.Next()) result.text.append(reader.Chunk());
    });
    if (result.status != ReadStatus::Ok) result.text.clear();
    return result;
}

bool HostsHasAdLabel(const std::string& path) {
    bool found = false;
    const ReadStatus status = ReadUnlocked(path, [&found](CCrFreeReader& reader) {
        found = false;
        while (!found && reader.Next())
            found = FindAdLabel(reader.Window(), reader.WindowSize()) != nullptr;
    });
    return status == ReadStatus::Ok && found;
}

ReadStatus FindBeginMarker(const std::string& path, bool* found) {
    *found = false;
    const ReadStatus status = ReadUnlocked(path, [found](CCrFreeReader& reader) {
        *found = ScanMarkers(reader, ScanDepth::Block).begin.has_value();
    });
    if (status != ReadStatus::Ok) *found = false;
    return status;
}

bool WriteHostsText(const std::string& path, std::string_view text, std::string_view lineEnd) {
    const std::string resolved = Resolve(path);
    Locked locked = LockHosts(resolved);
    if (locked.status != ReadStatus::Ok) return false;
    return Replace(resolved, locked, text, lineEnd);
}

EditOutcome EditHostsFile(const std::string& path,
                          const std::function<EditVerdict(std::string& text)>& edit,
                          std::string_view lineEnd) {
    const std::string resolved = Resolve(path);
    Locked locked = LockHosts(resolved);
    if (locked.status != ReadStatus::Ok) return OutcomeOf(locked.status);
    std::optional<std::string> text = ReadAll(locked.file);
    if (!text) return EditOutcome::Unreadable;
    DropCarriageReturns(*text);
    switch (edit(*text)) {
        case EditVerdict::Unchanged:
            return EditOutcome::Unchanged;
        case EditVerdict::Refused:
            return EditOutcome::Refused;
        case EditVerdict::Write:
            break;
    }
    return Replace(resolved, locked, *text, lineEnd) ? EditOutcome::Written
                                                     : EditOutcome::WriteFailed;
}

EditOutcome AddFirstBlock(const std::string& path, const SettingsSource& settings,
                          std::string_view lineEnd) {
    return StreamEdit(path, lineEnd, ScanDepth::Block, [&](const MarkerScan& scan, Edit* edit) {
        return PlanAdd(scan, settings, edit);
    });
}

bool AddBlockAt(const std::string& path, const SettingsSource& settings, std::string_view lineEnd) {
    const EditOutcome outcome = AddFirstBlock(path, settings, lineEnd);
    return outcome == EditOutcome::Unchanged || outcome == EditOutcome::Written;
}

bool AddBlockAt(const std::string& path, const std::vector<std::string>& lines,
                std::string_view lineEnd) {
    return AddBlockAt(
        path, [&] { return std::optional<std::vector<std::string>>(lines); }, lineEnd);
}

EditOutcome CutFirstBlock(const std::string& path, std::string_view lineEnd, bool* blockLeft) {
    const auto plan = [blockLeft](const MarkerScan& scan, Edit* edit) {
        *blockLeft = scan.begin.has_value();
        const Plan decided = PlanCut(scan, edit);
        if (decided == Plan::Write) *blockLeft = scan.later.has_value();
        return decided;
    };
    // Behind a block at the end looking on costs nothing, and a cut there needs to know it is
    // the end.
    return StreamEdit(path, lineEnd, ScanDepth::PastEnd, plan);
}

bool RemoveBlockAt(const std::string& path, std::string_view lineEnd, bool* blockLeft) {
    bool left = true;
    const EditOutcome outcome = CutFirstBlock(path, lineEnd, &left);
    const bool done = outcome == EditOutcome::Missing || outcome == EditOutcome::Unchanged ||
                      outcome == EditOutcome::Written;
    if (blockLeft != nullptr) *blockLeft = !done || (outcome == EditOutcome::Written && left);
    return done;
}

HostsChange ApplyIntentAt(const std::string& path, HostsIntent intent,
                          const SettingsSource& settings, std::string_view lineEnd) {
    HostsChange change;
    MarkerScan scan;
    Edit edit;
    change.outcome = StreamEdit(
        path, lineEnd, ScanDepth::WholeFile,
        [&](const MarkerScan& found, Edit* planned) {
            if (intent == HostsIntent::Hide)
                return PlanHide(found, settings, planned, &change.problem);
            const Plan plan = PlanCut(found, planned);
            if (plan == Plan::Refused) change.problem = BlockProblem::Damaged;
            change.blockLeft =
                plan == Plan::Write ? found.later.has_value() : found.begin.has_value();
            return plan;
        },
        &scan, &edit);
    switch (change.outcome) {
        case EditOutcome::Missing:
        case EditOutcome::Unreadable:
        case EditOutcome::Busy:
            return change;
        case EditOutcome::Unchanged:
        case EditOutcome::Refused:
        case EditOutcome::WriteFailed:
            change.hidden = scan.firstLabel.has_value();
            return change;
        case EditOutcome::Written:
            break;
    }
    if (intent == HostsIntent::Hide) {
        // The label was nowhere before, and the block's markers cannot join into it. As the file
        // is read, without the CRs a line may hold.
        change.hidden = ContainsAdLabel(edit.insert.empty() ? edit.tail : edit.insert);
    } else {
        // What is left: the text before the block, the text after it, and where the two now
        // meet.
        const std::string joint = scan.beforeBegin + scan.afterEnd;
        change.hidden = (scan.firstLabel && *scan.firstLabel + kAdLabel.size() <= edit.cutBegin) ||
                        (scan.lastLabel && *scan.lastLabel >= edit.cutEnd) ||
                        FindAdLabel(joint.data(), joint.size()) != nullptr;
    }
    change.changed = change.hidden != scan.firstLabel.has_value();
    return change;
}
