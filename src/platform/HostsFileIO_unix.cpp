// Locked, crash-safe reading and replacing of the hosts file on POSIX systems.
//
// Lock: flock on the hosts file itself, so it also works for a bind-mounted file and needs no
// extra file. After a replacement by rename the path names a new inode, so a waiter checks,
// once it holds the lock, that the path still names the file it locked, and starts over if not.
//
// Write: a temporary file in the same folder (".<name>.vantrel-tmp-*"), flushed, given the
// original's owner and mode, renamed over the original, folder flushed. Where rename is refused
// (EBUSY for a bind mount, EXDEV), the file is rewritten in place after its old bytes are kept
// in ".<name>.vantrel-backup"; the backup goes once the new bytes have been read back intact.
// A backup found later means such a rewrite was interrupted: the old bytes are put back first.
// Temporary files of a killed process are removed by the next operation.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

#include "core/HostsText.h"
#include "platform/CHostsFile.h"
#include "platform/FileOps.h"
#include "platform/HostsFileIO.h"

const std::string_view kTextLineEnd = "\n";

std::string DefaultHostsPath() {
    return "/etc/hosts";
}

bool FileExists(const std::string& path) {
    errno = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno != ENOENT;
}

namespace {

FileOps& Ops() {
    return CurrentFileOps();
}

struct PathParts {
    std::string dir;
    std::string base;
};

PathParts SplitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Writes land on the file a symbolic link points to, not on the link.
std::string Resolve(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) != nullptr) return buffer;
    return path;
}

class CFd {
public:
    CFd() = default;
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd() { Reset(); }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset(int fd = -1) {
        if (m_fd >= 0) Ops().close(m_fd);
        m_fd = fd;
    }
    // Closes and reports whether the close succeeded (it can carry a deferred write error).
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || Ops().close(fd) == 0;
    }

private:
    int m_fd = -1;
};

std::optional<std::string> ReadAll(int fd) {
    struct stat st {};
    std::size_t capacity = 1 << 16;
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        capacity = static_cast<std::size_t>(st.st_size) + 1;
    std::string data(capacity, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == data.size()) data.resize(data.size() * 2);
        const ssize_t n = Ops().read(fd, data.data() + used, data.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    data.resize(used);
    return data;
}

std::optional<std::string> ReadAllAt(const std::string& path) {
    CFd fd(Ops().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (!fd.Valid()) return std::nullopt;
    return ReadAll(fd.Get());
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = Ops().write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // a write that makes no progress would never end
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// True when the file at path holds exactly bytes.
bool HoldsExactly(const std::string& path, std::string_view bytes) {
    CFd fd(Ops().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (!fd.Valid()) return false;
    std::vector<char> buffer(std::min<std::size_t>(bytes.size() + 1, 1 << 20));
    std::size_t offset = 0;
    for (;;) {
        const ssize_t n = Ops().read(fd.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
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

// A fresh temporary file beside path, opened for writing; its name goes to *name.
CFd CreateTemp(const std::string& path, std::string* name) {
    static std::atomic<unsigned> s_counter{0};
    std::random_device device;
    const std::string prefix = TempFilePrefix(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = prefix + std::to_string(::getpid()) + "-" + std::to_string(s_counter++) + "-" +
                std::to_string(device());
        const int fd = Ops().open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return CFd(fd);
        if (errno != EEXIST) break;
    }
    return CFd();
}

// Hands the new file's bytes, piece by piece, to a sink; false when a piece could not be had
// or the sink refused it.
using Sink = std::function<bool(std::string_view)>;
using Producer = std::function<bool(const Sink&)>;

Producer BytesOf(std::string_view bytes) {
    return [bytes](const Sink& sink) { return sink(bytes); };
}

// Writes the produced bytes to a new temporary file beside path and flushes it; "" on
// failure (no file left).
std::string WriteTemp(const std::string& path, const Producer& produce, const struct stat* owner) {
    std::string name;
    CFd fd = CreateTemp(path, &name);
    if (!fd.Valid()) return {};
    bool ok = produce([&fd](std::string_view piece) { return WriteAll(fd.Get(), piece); });
    if (ok && owner != nullptr) {
        // Owner first: changing it can clear set-id bits that the mode then puts back.
        ok = Ops().fchown(fd.Get(), owner->st_uid, owner->st_gid) == 0 &&
             Ops().fchmod(fd.Get(), owner->st_mode & 07777) == 0;
    }
    ok = ok && Ops().fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    if (!ok) {
        Ops().unlink(name.c_str());
        return {};
    }
    return name;
}

bool OverwriteInPlace(const std::string& path, std::string_view bytes) {
    CFd fd(Ops().open(path.c_str(), O_WRONLY | O_CLOEXEC, 0));
    if (!fd.Valid()) return false;
    bool ok = WriteAll(fd.Get(), bytes) &&
              Ops().ftruncate(fd.Get(), static_cast<off_t>(bytes.size())) == 0 &&
              Ops().fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    return ok && HoldsExactly(path, bytes);
}

// Puts the kept old bytes back after an interrupted or failed in-place rewrite.
bool RestoreBackup(const std::string& path) {
    const std::string backup = BackupFilePath(path);
    const std::optional<std::string> old = ReadAllAt(backup);
    if (!old || !OverwriteInPlace(path, *old)) return false;
    Ops().unlink(backup.c_str());
    Ops().fsyncDir(SplitPath(path).dir.c_str());
    return true;
}

bool RewriteInPlace(const std::string& path, std::string_view bytes) {
    const std::string dir = SplitPath(path).dir;
    const std::string backup = BackupFilePath(path);
    {
        const std::optional<std::string> old = ReadAllAt(path);
        if (!old) return false;
        const std::string temp = WriteTemp(path, BytesOf(*old), nullptr);
        if (temp.empty()) return false;
        // The backup appears complete or not at all.
        if (Ops().rename(temp.c_str(), backup.c_str()) != 0) {
            Ops().unlink(temp.c_str());
            return false;
        }
        Ops().fsyncDir(dir.c_str());
    }
    // A backup left behind would be put back by the next operation and undo this write, so a
    // backup that cannot be removed means putting the old bytes back now.
    if (OverwriteInPlace(path, bytes) && Ops().unlink(backup.c_str()) == 0) {
        Ops().fsyncDir(dir.c_str());
        return true;
    }
    RestoreBackup(path);  // if this fails too, the backup stays for the next operation
    return false;
}

bool ReplaceContent(const std::string& path, const struct stat& original, const Producer& produce) {
    const std::string temp = WriteTemp(path, produce, &original);
    if (temp.empty()) return false;
    if (Ops().rename(temp.c_str(), path.c_str()) == 0) {
        // The new content is in place; a failed folder flush cannot undo that.
        Ops().fsyncDir(SplitPath(path).dir.c_str());
        return true;
    }
    const int error = errno;
    Ops().unlink(temp.c_str());
    if (error != EBUSY && error != EXDEV) return false;
    // In place the new bytes are needed whole: to write, to read back and compare.
    std::string bytes;
    if (!produce([&bytes](std::string_view piece) {
            bytes.append(piece);
            return true;
        })) {
        return false;
    }
    return RewriteInPlace(path, bytes);
}

void RemoveStaleTemps(const std::string& path) {
    const PathParts parts = SplitPath(path);
    const std::string prefix = "." + parts.base + ".vantrel-tmp-";
    DIR* dir = ::opendir(parts.dir.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
            Ops().unlink((parts.dir + "/" + entry->d_name).c_str());
        }
    }
    ::closedir(dir);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

int LockRetrying(int fd, int operation) {
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

// The hosts file opened for reading and locked, after any leftovers of an interrupted write
// have been dealt with. Temporary files are only ever made under the exclusive lock of the
// file the path currently names, so whoever holds a lock on that file may remove them.
class CLockedHosts {
public:
    CLockedHosts(const std::string& path, bool exclusive) {
        // An interrupted in-place rewrite is repaired under the exclusive lock, even for a read.
        if (Exists(BackupFilePath(path))) exclusive = true;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            m_fd.Reset(Ops().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
            if (!m_fd.Valid()) {
                m_status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
                return;
            }
            struct stat named {};
            if (LockRetrying(m_fd.Get(), exclusive ? LOCK_EX : LOCK_SH) != 0 ||
                ::fstat(m_fd.Get(), &m_stat) != 0) {
                m_fd.Reset();
                m_status = ReadStatus::Unreadable;
                return;
            }
            if (::stat(path.c_str(), &named) != 0 || named.st_dev != m_stat.st_dev ||
                named.st_ino != m_stat.st_ino) {
                continue;  // replaced while we waited: lock the new file
            }
            if (Exists(BackupFilePath(path)) && (!exclusive || !RestoreBackup(path))) {
                if (!exclusive) {
                    exclusive = true;  // the backup appeared while we waited
                    continue;
                }
                m_fd.Reset();
                m_status = ReadStatus::Unreadable;  // a torn file is not to be trusted
                return;
            }
            RemoveStaleTemps(path);
            m_status = ReadStatus::Ok;
            return;
        }
        m_fd.Reset();
        m_status = ReadStatus::Unreadable;
    }

    ReadStatus Status() const { return m_status; }
    int Fd() const { return m_fd.Get(); }
    const struct stat& Stat() const { return m_stat; }

private:
    CFd m_fd;
    struct stat m_stat {};
    ReadStatus m_status = ReadStatus::Missing;
};

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

bool Replace(const std::string& path, const CLockedHosts& lock, std::string_view text,
             std::string_view lineEnd) {
    return ReplaceContent(path, lock.Stat(),
                          [&](const Sink& sink) { return EmitText(sink, text, lineEnd); });
}

// The file's CR-free text in chunks. In memory each chunk is preceded by the end of the text
// before it, so a marker split between two reads is still found in the window.
class CCrFreeReader {
public:
    static constexpr std::size_t kCarry = 64;
    static constexpr std::size_t kChunk = 1 << 20;

    explicit CCrFreeReader(int fd) : m_fd(fd), m_buffer(kCarry + kChunk) {}

    // Moves on to the next chunk; false at the end of the file or on a read error.
    bool Next() {
        const std::size_t keep = std::min(kCarry, WindowSize());
        std::memmove(m_buffer.data() + kCarry - keep, m_buffer.data() + kCarry + m_size - keep,
                     keep);
        m_offset += m_size;
        m_carry = keep;
        m_size = 0;
        while (m_size == 0) {
            const ssize_t n = Ops().read(m_fd, m_buffer.data() + kCarry, kChunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) m_bFailed = true;
            if (n <= 0) return false;
            m_size = DropCarriageReturns(m_buffer.data() + kCarry, static_cast<std::size_t>(n));
        }
        return true;
    }
    bool Failed() const { return m_bFailed; }
    std::string_view Chunk() const { return {m_buffer.data() + kCarry, m_size}; }
    std::uint64_t ChunkOffset() const { return m_offset; }
    const char* Window() const { return m_buffer.data() + kCarry - m_carry; }
    std::size_t WindowSize() const { return m_carry + m_size; }
    std::uint64_t WindowOffset() const { return m_offset - m_carry; }

    // Where needle first occurs in the window at or after the text position from.
    std::optional<std::uint64_t> Find(std::string_view needle, std::uint64_t from) const {
        const std::uint64_t start = std::max(from, WindowOffset()) - WindowOffset();
        if (start >= WindowSize()) return std::nullopt;
        const void* hit =
            memmem(Window() + start, WindowSize() - start, needle.data(), needle.size());
        if (hit == nullptr) return std::nullopt;
        return WindowOffset() +
               static_cast<std::uint64_t>(static_cast<const char*>(hit) - Window());
    }

private:
    int m_fd;
    std::vector<char> m_buffer;
    std::size_t m_carry = 0;
    std::size_t m_size = 0;
    std::uint64_t m_offset = 0;
    bool m_bFailed = false;
};

// Where the markers stand in the CR-free text, found in one pass without holding the text.
struct MarkerScan {
    bool ok = false;
    std::optional<std::uint64_t> probe;  // kBeginProbe
    std::optional<std::uint64_t> begin;  // kBeginMarker
    std::optional<std::uint64_t> end;    // kEndMarker after kBeginMarker
};

MarkerScan ScanMarkers(int fd) {
    MarkerScan scan;
    CCrFreeReader reader(fd);
    while (reader.Next()) {
        if (!scan.probe) scan.probe = reader.Find(kBeginProbe, 0);
        if (!scan.begin) scan.begin = reader.Find(kBeginMarker, 0);
        if (scan.begin && !scan.end)
            scan.end = reader.Find(kEndMarker, *scan.begin + kBeginMarker.size());
        if (scan.end) break;  // nothing more to learn
    }
    scan.ok = !reader.Failed();
    return scan;
}

// Hands on the CR-free text from the start, leaving out [cutBegin, cutEnd), LF as lineEnd.
bool EmitFileText(int fd, std::uint64_t cutBegin, std::uint64_t cutEnd, std::string_view lineEnd,
                  const Sink& sink) {
    if (::lseek(fd, 0, SEEK_SET) != 0) return false;
    CCrFreeReader reader(fd);
    while (reader.Next()) {
        const std::string_view chunk = reader.Chunk();
        const std::uint64_t first = reader.ChunkOffset();
        const std::uint64_t last = first + chunk.size();
        const std::uint64_t keepTo = std::clamp(cutBegin, first, last);
        const std::uint64_t keepFrom = std::clamp(cutEnd, first, last);
        if (!EmitText(sink, chunk.substr(0, keepTo - first), lineEnd) ||
            (keepFrom < last && !EmitText(sink, chunk.substr(keepFrom - first), lineEnd))) {
            return false;
        }
    }
    return !reader.Failed();
}

}  // namespace

std::string TempFilePrefix(const std::string& path) {
    const PathParts parts = SplitPath(path);
    return parts.dir + "/." + parts.base + ".vantrel-tmp-";
}

std::string BackupFilePath(const std::string& path) {
    const PathParts parts = SplitPath(path);
    return parts.dir + "/." + parts.base + ".vantrel-backup";
}

HostsRead ReadHostsText(const std::string& path) {
    const std::string resolved = Resolve(path);
    CLockedHosts lock(resolved, false);
    HostsRead result;
    result.status = lock.Status();
    if (result.status != ReadStatus::Ok) return result;
    std::optional<std::string> data = ReadAll(lock.Fd());
    if (!data) {
        result.status = ReadStatus::Unreadable;
        return result;
    }
    DropCarriageReturns(*data);
    result.text = std::move(*data);
    return result;
}

bool HostsHasAdLabel(const std::string& path) {
    const std::string resolved = Resolve(path);
    CLockedHosts lock(resolved, false);
    if (lock.Status() != ReadStatus::Ok) return false;
    // A read error ends the text where it stands.
    CCrFreeReader reader(lock.Fd());
    while (reader.Next()) {
        if (FindAdLabel(reader.Window(), reader.WindowSize()) != nullptr) return true;
    }
    return false;
}

bool WriteHostsText(const std::string& path, std::string_view text, std::string_view lineEnd) {
    const std::string resolved = Resolve(path);
    CLockedHosts lock(resolved, true);
    if (lock.Status() != ReadStatus::Ok) return false;
    return Replace(resolved, lock, text, lineEnd);
}

EditOutcome EditHostsFile(const std::string& path,
                          const std::function<EditVerdict(std::string& text)>& edit,
                          std::string_view lineEnd) {
    const std::string resolved = Resolve(path);
    CLockedHosts lock(resolved, true);
    if (lock.Status() == ReadStatus::Missing) return EditOutcome::Missing;
    if (lock.Status() == ReadStatus::Unreadable) return EditOutcome::Unreadable;
    std::optional<std::string> text = ReadAll(lock.Fd());
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
    return Replace(resolved, lock, *text, lineEnd) ? EditOutcome::Written
                                                   : EditOutcome::WriteFailed;
}

namespace {
enum class Plan { Unchanged, Refused, Write };

// The locked two-pass edit of a large file: a scan decides, then the kept text streams into the
// new file followed by tail. Never holds the whole text.
EditOutcome StreamEdit(const std::string& path, std::string_view lineEnd,
                       const std::function<Plan(const MarkerScan&, std::uint64_t* cutBegin,
                                                std::uint64_t* cutEnd, std::string* tail)>& plan) {
    const std::string resolved = Resolve(path);
    CLockedHosts lock(resolved, true);
    if (lock.Status() == ReadStatus::Missing) return EditOutcome::Missing;
    if (lock.Status() == ReadStatus::Unreadable) return EditOutcome::Unreadable;
    const MarkerScan scan = ScanMarkers(lock.Fd());
    if (!scan.ok) return EditOutcome::Unreadable;
    std::uint64_t cutBegin = UINT64_MAX;
    std::uint64_t cutEnd = UINT64_MAX;
    std::string tail;
    switch (plan(scan, &cutBegin, &cutEnd, &tail)) {
        case Plan::Unchanged:
            return EditOutcome::Unchanged;
        case Plan::Refused:
            return EditOutcome::Refused;
        case Plan::Write:
            break;
    }
    const bool written = ReplaceContent(resolved, lock.Stat(), [&](const Sink& sink) {
        return EmitFileText(lock.Fd(), cutBegin, cutEnd, lineEnd, sink) &&
               EmitText(sink, tail, lineEnd);
    });
    return written ? EditOutcome::Written : EditOutcome::WriteFailed;
}
}  // namespace

bool AddBlockAt(const std::string& path, const SettingsSource& settings, std::string_view lineEnd) {
    const EditOutcome outcome =
        StreamEdit(path, lineEnd,
                   [&](const MarkerScan& scan, std::uint64_t*, std::uint64_t*, std::string* tail) {
                       if (scan.probe) return Plan::Unchanged;
                       const std::optional<std::vector<std::string>> lines = settings();
                       if (!lines) return Plan::Refused;
                       // A line with the end marker would make a block that cannot be
                       // removed whole.
                       if (!AppendBlock(*tail, *lines)) return Plan::Refused;
                       return Plan::Write;
                   });
    return outcome == EditOutcome::Unchanged || outcome == EditOutcome::Written;
}

bool AddBlockAt(const std::string& path, const std::vector<std::string>& lines,
                std::string_view lineEnd) {
    return AddBlockAt(
        path, [&] { return std::optional<std::vector<std::string>>(lines); }, lineEnd);
}

bool RemoveBlockAt(const std::string& path, std::string_view lineEnd) {
    const EditOutcome outcome = StreamEdit(
        path, lineEnd,
        [](const MarkerScan& scan, std::uint64_t* cutBegin, std::uint64_t* cutEnd, std::string*) {
            if (!scan.begin) return Plan::Unchanged;
            // Searching from the start would find a stray earlier end marker and repeat text.
            if (!scan.end) return Plan::Refused;
            *cutBegin = *scan.begin;
            *cutEnd = *scan.end + kEndMarker.size();
            return Plan::Write;
        });
    return outcome == EditOutcome::Missing || outcome == EditOutcome::Unchanged ||
           outcome == EditOutcome::Written;
}
