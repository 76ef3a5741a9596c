// Locked, crash-safe reading and replacing of the hosts file on POSIX systems.
//
// Lock: flock on the hosts file itself, so it also works for a bind-mounted file and needs no
// extra file. After a replacement by rename the path names a new inode, so a waiter checks,
// once it holds the lock, that the path still names the file it locked, and starts over if not.
//
// Write: a temporary file in the same folder (".<name>.vantrel-tmp-*"), flushed, given the
// original's owner, mode and extended attributes (ACL, SELinux label), renamed over the
// original, folder flushed. Where that cannot be done (rename refused with EBUSY for a bind mount
// or EXDEV, attributes that cannot be copied, a folder the user may not write), the file is
// rewritten in place:
// - with a backup ".<name>.vantrel-backup" that records the old bytes and the new ones; it goes
//   once the new bytes have been read back intact. A backup found by a later write means the
//   rewrite never finished; the old bytes are put back only when every byte of the file is the
//   old or the new one at its place, which is all an interrupted rewrite can leave. Content
//   written since (a line another program appended) is left as it is, and a status read never
//   repairs anything.
// - without a backup, where none can be made: only when the change is an append or a cut at the
//   end, so a crash can never cost a line that was there before.
// Temporary files of a killed process are removed by the next operation.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <thread>

#include "core/HostsText.h"
#include "platform/CHostsFile.h"
#include "platform/FileOps.h"
#include "platform/HostsFileIO.h"

const std::string_view kTextLineEnd = "\n";

std::string DefaultHostsPath() {
    return "/etc/hosts";
}

std::string ConfiguredHostsPath() {
    const char* overridden = std::getenv("VANTREL_HOSTS_FILE");
    return overridden != nullptr && *overridden != '\0' ? overridden : DefaultHostsPath();
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

// The unchanged start of the new file: the first `length` bytes of the open file `fd`, taken
// as they are. Edits near the end of a large file copy these inside the kernel.
struct RawPrefix {
    int fd = -1;
    std::uint64_t length = 0;
};

// Copies the prefix to `out` (copy_file_range, else read and write) or, with out < 0, appends it
// to *bytes.
bool CopyPrefix(const RawPrefix& prefix, int out, std::string* bytes) {
    off_t offset = 0;
    const auto length = static_cast<off_t>(prefix.length);
    if (out >= 0) {
        while (offset < length) {
            const ssize_t n = Ops().copyFileRange(prefix.fd, &offset, out, nullptr,
                                                  static_cast<std::size_t>(length - offset), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // not supported here, or the file shrank: see below
        }
    }
    if (offset < length && ::lseek(prefix.fd, offset, SEEK_SET) != offset) return false;
    std::vector<char> buffer;
    while (offset < length) {
        buffer.resize(std::min<std::size_t>(static_cast<std::size_t>(length - offset), 1 << 20));
        const ssize_t n = Ops().read(prefix.fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // shorter than scanned: not the file that was planned on
        const std::string_view piece(buffer.data(), static_cast<std::size_t>(n));
        if (out < 0) {
            bytes->append(piece);
        } else if (!WriteAll(out, piece)) {
            return false;
        }
        offset += n;
    }
    return true;
}

// Gives the new file what the original has besides its bytes: extended attributes, which carry
// its ACL (system.posix_acl_access) and its security label (security.selinux).
bool CopyExtendedAttributes(int from, int to) {
    ssize_t size = Ops().flistxattr(from, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // a file system without them has none to copy
    std::vector<char> names(static_cast<std::size_t>(size));
    size = Ops().flistxattr(from, names.data(), names.size());
    if (size < 0) return false;
    std::vector<char> value;
    for (std::size_t pos = 0; pos < static_cast<std::size_t>(size);) {
        const char* name = names.data() + pos;
        pos += std::strlen(name) + 1;
        const ssize_t length = Ops().fgetxattr(from, name, nullptr, 0);
        if (length < 0) return false;
        value.resize(static_cast<std::size_t>(length));
        const ssize_t got = Ops().fgetxattr(from, name, value.data(), value.size());
        if (got < 0 ||
            Ops().fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0) != 0)
            return false;
    }
    return true;
}

enum class TempResult { Ok, Failed, NoFolderAccess, NoAttributes };

struct Temp {
    TempResult result = TempResult::Failed;
    std::string name;
};

// Writes the produced bytes to a new temporary file beside path and flushes it; given the
// original (open as original, with its stat), the file gets its owner, mode and extended
// attributes. On anything but Ok no file is left.
Temp WriteTemp(const std::string& path, const Producer& produce, int original = -1,
               const struct stat* owner = nullptr, const RawPrefix* prefix = nullptr) {
    Temp temp;
    CFd fd = CreateTemp(path, &temp.name);
    if (!fd.Valid()) {
        temp.result =
            errno == EACCES || errno == EPERM ? TempResult::NoFolderAccess : TempResult::Failed;
        return temp;
    }
    temp.result =
        (prefix == nullptr || CopyPrefix(*prefix, fd.Get(), nullptr)) &&
                produce([&fd](std::string_view piece) { return WriteAll(fd.Get(), piece); })
            ? TempResult::Ok
            : TempResult::Failed;
    // Owner first: changing it can clear set-id bits that the mode then puts back; the ACL last,
    // as it sets the mode's group bits to its mask, which the mode already holds.
    if (temp.result == TempResult::Ok && owner != nullptr &&
        (Ops().fchown(fd.Get(), owner->st_uid, owner->st_gid) != 0 ||
         Ops().fchmod(fd.Get(), owner->st_mode & 07777) != 0 ||
         !CopyExtendedAttributes(original, fd.Get()))) {
        temp.result = TempResult::NoAttributes;
    }
    if (temp.result == TempResult::Ok && Ops().fsync(fd.Get()) != 0)
        temp.result = TempResult::Failed;
    if (!fd.Close() && temp.result == TempResult::Ok) temp.result = TempResult::Failed;
    if (temp.result != TempResult::Ok) {
        Ops().unlink(temp.name.c_str());
        temp.name.clear();
    }
    return temp;
}

// Writes bytes over the open file from its start and cuts it to their length.
bool OverwriteFd(int fd, std::string_view bytes) {
    return ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, bytes) &&
           Ops().ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && Ops().fsync(fd) == 0;
}

bool OverwriteInPlace(const std::string& path, std::string_view bytes) {
    CFd fd(Ops().open(path.c_str(), O_WRONLY | O_CLOEXEC, 0));
    if (!fd.Valid()) return false;
    bool ok = OverwriteFd(fd.Get(), bytes);
    ok = fd.Close() && ok;
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
    Ops().unlink(backup.c_str());
    Ops().fsyncDir(SplitPath(path).dir.c_str());
    return true;
}

// In place without a backup: only an append or a cut at the end, so every byte that stays is
// never written, and a crash leaves the old lines whole.
bool RewriteWithoutBackup(int fd, std::string_view old, std::string_view bytes) {
    const std::size_t same = SharedPrefix(old, bytes);
    if (same != old.size() && same != bytes.size()) return false;
    const bool ok = ::lseek(fd, static_cast<off_t>(same), SEEK_SET) == static_cast<off_t>(same) &&
                    WriteAll(fd, bytes.substr(same)) &&
                    Ops().ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
                    Ops().fsync(fd) == 0;
    // A failed append is cut off again; the old bytes were never touched.
    if (!ok && bytes.size() > old.size()) Ops().ftruncate(fd, static_cast<off_t>(old.size()));
    return ok;
}

bool RewriteInPlace(const std::string& path, std::string_view bytes) {
    const std::string dir = SplitPath(path).dir;
    const std::string backup = BackupFilePath(path);
    // Opened first: a file that cannot be written (a read-only bind mount) leaves nothing behind.
    CFd fd(Ops().open(path.c_str(), O_WRONLY | O_CLOEXEC, 0));
    if (!fd.Valid()) return false;
    const std::optional<std::string> old = ReadAllAt(path);
    if (!old) return false;
    if (*old == bytes) return true;

    const Temp temp = WriteTemp(path, BytesOf(BackupRecord(*old, bytes)));
    if (temp.result == TempResult::NoFolderAccess) {
        bool ok = RewriteWithoutBackup(fd.Get(), *old, bytes);
        ok = fd.Close() && ok;
        return ok && HoldsExactly(path, bytes);
    }
    if (temp.result != TempResult::Ok) return false;
    // The backup appears complete or not at all.
    if (Ops().rename(temp.name.c_str(), backup.c_str()) != 0) {
        Ops().unlink(temp.name.c_str());
        return false;
    }
    Ops().fsyncDir(dir.c_str());

    // While the backup exists the rewrite is not done: the next write would put the old bytes
    // back. So success is the new bytes read back intact and the backup gone.
    bool ok = OverwriteFd(fd.Get(), bytes);
    ok = fd.Close() && ok;
    if (ok && HoldsExactly(path, bytes) && Ops().unlink(backup.c_str()) == 0) {
        Ops().fsyncDir(dir.c_str());
        return true;
    }
    // The old bytes back; the backup goes once the file holds them again, and otherwise stays for
    // the next write to finish the job.
    if ((OverwriteInPlace(path, *old) || HoldsExactly(path, *old)) &&
        Ops().unlink(backup.c_str()) == 0) {
        Ops().fsyncDir(dir.c_str());
    }
    return false;
}

bool ReplaceContent(const std::string& path, int original, const struct stat& originalStat,
                    const Producer& produce, const RawPrefix* prefix = nullptr) {
    const Temp temp = WriteTemp(path, produce, original, &originalStat, prefix);
    if (temp.result == TempResult::Ok) {
        if (Ops().rename(temp.name.c_str(), path.c_str()) == 0) {
            // The new content is in place; a failed folder flush cannot undo that.
            Ops().fsyncDir(SplitPath(path).dir.c_str());
            return true;
        }
        const int error = errno;
        Ops().unlink(temp.name.c_str());
        if (error != EBUSY && error != EXDEV) return false;
    } else if (temp.result == TempResult::Failed) {
        return false;
    }
    // In place the new bytes are needed whole: to write, to read back and compare.
    std::string bytes;
    if (prefix != nullptr && !CopyPrefix(*prefix, -1, &bytes)) return false;
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

thread_local bool t_lockWasBusy = false;

// flock with a bounded wait: retries without blocking, at growing intervals, for
// kHostsLockWaitSeconds. Any account can lock a file it may read, so an unbounded wait would
// let it stop the program, the helper and dpkg for as long as it likes.
int LockBounded(int fd, int operation) {
    t_lockWasBusy = false;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kHostsLockWaitSeconds);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0) return 0;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            t_lockWasBusy = true;
            return -1;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

// The hosts file opened for reading and locked. Temporary files are only ever made under the
// exclusive lock of the file the path currently names, so whoever holds a lock on that file may
// remove them. A backup of an interrupted in-place rewrite is dealt with only by those about to
// write (the exclusive lock): a status read changes nothing.
class CLockedHosts {
public:
    CLockedHosts(const std::string& path, bool exclusive) {
        t_lockWasBusy = false;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            m_fd.Reset(Ops().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
            if (!m_fd.Valid()) {
                m_status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
                return;
            }
            struct stat named {};
            if (LockBounded(m_fd.Get(), exclusive ? LOCK_EX : LOCK_SH) != 0 ||
                ::fstat(m_fd.Get(), &m_stat) != 0) {
                m_fd.Reset();
                m_status = ReadStatus::Unreadable;
                return;
            }
            if (::stat(path.c_str(), &named) != 0 || named.st_dev != m_stat.st_dev ||
                named.st_ino != m_stat.st_ino) {
                continue;  // replaced while we waited: lock the new file
            }
            if (exclusive && Exists(BackupFilePath(path)) && !RecoverInterruptedRewrite(path)) {
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
    return ReplaceContent(path, lock.Fd(), lock.Stat(),
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
    explicit CCrFreeReader(int fd, std::uint64_t offset = 0)
        : m_fd(fd), m_buffer(new char[kCarry + kChunk]), m_offset(offset) {}

    // Moves on to the next chunk; false at the end of the file or on a read error.
    bool Next() {
        const std::size_t keep = std::min(kCarry, WindowSize());
        std::memmove(m_buffer.get() + kCarry - keep, m_buffer.get() + kCarry + m_size - keep, keep);
        m_offset += m_size;
        m_carry = keep;
        m_size = 0;
        while (m_size == 0) {
            const ssize_t n = Ops().read(m_fd, m_buffer.get() + kCarry, kChunk);
            if (n < 0 && errno == EINTR) continue;
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
    // Left uninitialised: a small file then touches one page of it, not all 16.
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_carry = 0;
    std::size_t m_size = 0;
    std::uint64_t m_offset = 0;
    bool m_bFailed = false;
    bool m_bSawCr = false;
};

// Where the markers stand in the CR-free text, found in one pass without holding the text.
struct MarkerScan {
    bool ok = false;
    std::optional<std::uint64_t> probe;  // kBeginProbe
    std::optional<std::uint64_t> begin;  // kBeginMarker
    std::optional<std::uint64_t> end;    // kEndMarker after kBeginMarker
    std::optional<std::uint64_t> later;  // kBeginMarker after that end marker, when asked for
    std::uint64_t crFree = 0;            // the text before this holds no CR: it is the file's
};

// With pastEnd the scan goes on behind the end marker to find a second begin marker: a cut of
// the first block then knows whether one is left. The search behind a block at the end of the
// file costs nothing.
MarkerScan ScanMarkers(int fd, bool pastEnd = false) {
    static_assert(kBeginMarker.substr(kBeginMarker.size() - kBeginProbe.size()) == kBeginProbe);
    constexpr std::size_t kLead = kBeginMarker.size() - kBeginProbe.size();  // "# "
    MarkerScan scan;
    CCrFreeReader reader(fd);
    std::uint64_t probeFrom = 0;  // every probe before this has been looked at
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
        if (!scan.begin) scan.begin = nextBegin();
        if (scan.begin && !scan.end) {
            scan.end = reader.Find(kEndMarker, *scan.begin + kBeginMarker.size());
            if (scan.end) probeFrom = std::max(probeFrom, *scan.end + kEndMarker.size());
        }
        if (scan.end && pastEnd && !scan.later) scan.later = nextBegin();
        if (scan.end && (!pastEnd || scan.later)) break;  // nothing more to learn
    }
    scan.ok = !reader.Failed();
    return scan;
}

// Hands on the CR-free text from the text position `from`, leaving out [cutBegin, cutEnd), LF
// as lineEnd. No CR may stand before `from`, so that it is also the position in the file.
bool EmitFileText(int fd, std::uint64_t from, std::uint64_t cutBegin, std::uint64_t cutEnd,
                  std::string_view lineEnd, const Sink& sink) {
    if (::lseek(fd, static_cast<off_t>(from), SEEK_SET) != static_cast<off_t>(from)) return false;
    CCrFreeReader reader(fd, from);
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

bool HostsLockWasBusy() {
    return t_lockWasBusy;
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

ReadStatus FindBeginMarker(const std::string& path, bool* found) {
    *found = false;
    CLockedHosts lock(Resolve(path), false);
    if (lock.Status() != ReadStatus::Ok) return lock.Status();
    const MarkerScan scan = ScanMarkers(lock.Fd());
    if (!scan.ok) return ReadStatus::Unreadable;
    *found = scan.begin.has_value();
    return ReadStatus::Ok;
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
EditOutcome StreamEdit(const std::string& path, std::string_view lineEnd, bool pastEnd,
                       const std::function<Plan(const MarkerScan&, std::uint64_t* cutBegin,
                                                std::uint64_t* cutEnd, std::string* tail)>& plan) {
    const std::string resolved = Resolve(path);
    CLockedHosts lock(resolved, true);
    if (lock.Status() == ReadStatus::Missing) return EditOutcome::Missing;
    if (lock.Status() == ReadStatus::Unreadable) return EditOutcome::Unreadable;
    const MarkerScan scan = ScanMarkers(lock.Fd(), pastEnd);
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
    // Where LF stays LF, the start of the file up to the cut (or to its first CR) is the new
    // file's start byte for byte: the kernel copies it without reading it through here.
    RawPrefix prefix{lock.Fd(), 0};
    if (lineEnd == "\n") prefix.length = std::min(cutBegin, scan.crFree);
    const bool written = ReplaceContent(
        resolved, lock.Fd(), lock.Stat(),
        [&](const Sink& sink) {
            return EmitFileText(lock.Fd(), prefix.length, cutBegin, cutEnd, lineEnd, sink) &&
                   EmitText(sink, tail, lineEnd);
        },
        prefix.length > 0 ? &prefix : nullptr);
    return written ? EditOutcome::Written : EditOutcome::WriteFailed;
}
}  // namespace

bool AddBlockAt(const std::string& path, const SettingsSource& settings, std::string_view lineEnd) {
    const EditOutcome outcome =
        StreamEdit(path, lineEnd, false,
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

EditOutcome CutFirstBlock(const std::string& path, std::string_view lineEnd, bool lookPastEnd,
                          bool* blockLeft) {
    const auto plan = [blockLeft](const MarkerScan& scan, std::uint64_t* cutBegin,
                                  std::uint64_t* cutEnd, std::string*) {
        *blockLeft = scan.begin.has_value();
        if (!scan.begin) return Plan::Unchanged;
        // Searching from the start would find a stray earlier end marker and repeat text.
        if (!scan.end) return Plan::Refused;
        *cutBegin = *scan.begin;
        *cutEnd = *scan.end + kEndMarker.size();
        *blockLeft = scan.later.has_value();
        return Plan::Write;
    };
    return StreamEdit(path, lineEnd, lookPastEnd, plan);
}
