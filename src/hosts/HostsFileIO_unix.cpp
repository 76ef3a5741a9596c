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
#include <cstdlib>
#include <cstring>
#include <random>

#include "hosts/FileOps.h"
#include "hosts/HostsFileIO.h"
#include "hosts/HostsText.h"

const std::string_view kTextLineEnd = "\n";

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

// Writes bytes to a new temporary file beside path and flushes it; "" on failure (no file left).
std::string WriteTemp(const std::string& path, std::string_view bytes, const struct stat* owner) {
    std::string name;
    CFd fd = CreateTemp(path, &name);
    if (!fd.Valid()) return {};
    bool ok = WriteAll(fd.Get(), bytes);
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
        const std::string temp = WriteTemp(path, *old, nullptr);
        if (temp.empty()) return false;
        // The backup appears complete or not at all.
        if (Ops().rename(temp.c_str(), backup.c_str()) != 0) {
            Ops().unlink(temp.c_str());
            return false;
        }
        Ops().fsyncDir(dir.c_str());
    }
    if (OverwriteInPlace(path, bytes)) {
        Ops().unlink(backup.c_str());
        Ops().fsyncDir(dir.c_str());
        return true;
    }
    RestoreBackup(path);  // if this fails too, the backup stays for the next operation
    return false;
}

bool ReplaceContent(const std::string& path, const struct stat& original, std::string_view bytes) {
    const std::string temp = WriteTemp(path, bytes, &original);
    if (temp.empty()) return false;
    if (Ops().rename(temp.c_str(), path.c_str()) == 0) {
        // The new content is in place; a failed folder flush cannot undo that.
        Ops().fsyncDir(SplitPath(path).dir.c_str());
        return true;
    }
    const int error = errno;
    Ops().unlink(temp.c_str());
    if (error == EBUSY || error == EXDEV) return RewriteInPlace(path, bytes);
    return false;
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

std::string ToFileBytes(std::string_view text, std::string_view lineEnd) {
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    AppendWithLineEnds(bytes, text, lineEnd);
    return bytes;
}

bool Replace(const std::string& path, const CLockedHosts& lock, std::string_view text,
             std::string_view lineEnd) {
    if (lineEnd == "\n") return ReplaceContent(path, lock.Stat(), text);  // no copy
    return ReplaceContent(path, lock.Stat(), ToFileBytes(text, lineEnd));
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
    CAdLabelScanner scanner;
    for (;;) {
        const ssize_t n = Ops().read(lock.Fd(), scanner.Buffer(), scanner.BufferSize());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // a read error ends the text where it stands
        if (scanner.Commit(static_cast<std::size_t>(n))) break;
    }
    return scanner.Found();
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

bool AddBlockAt(const std::string& path, const SettingsSource& settings, std::string_view lineEnd) {
    const EditOutcome outcome = EditHostsFile(
        path,
        [&](std::string& text) {
            if (text.find(kBeginProbe) != std::string::npos) return EditVerdict::Unchanged;
            const std::optional<std::vector<std::string>> lines = settings();
            if (!lines) return EditVerdict::Refused;
            AppendBlock(text, *lines);
            return EditVerdict::Write;
        },
        lineEnd);
    return outcome == EditOutcome::Unchanged || outcome == EditOutcome::Written;
}

bool AddBlockAt(const std::string& path, const std::vector<std::string>& lines,
                std::string_view lineEnd) {
    return AddBlockAt(
        path, [&] { return std::optional<std::vector<std::string>>(lines); }, lineEnd);
}

bool RemoveBlockAt(const std::string& path, std::string_view lineEnd) {
    const EditOutcome outcome = EditHostsFile(
        path,
        [](std::string& text) {
            switch (CutBlock(text)) {
                case CutResult::NoBlock:
                    return EditVerdict::Unchanged;
                case CutResult::Damaged:
                    return EditVerdict::Refused;
                case CutResult::Cut:
                    break;
            }
            return EditVerdict::Write;
        },
        lineEnd);
    return outcome == EditOutcome::Missing || outcome == EditOutcome::Unchanged ||
           outcome == EditOutcome::Written;
}
