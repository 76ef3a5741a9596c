// The file system calls under the hosts file and the settings file, one implementation per system
// (FileSys_unix.cpp, FileSys_win.cpp): opening, locking, reading, writing, flushing, temporary
// files, attributes, replacing, listing and removing. They report what the system said and decide
// nothing; the crash-safe replacement (SafeReplace.h) and every rule about a file's content live
// above them. The path helpers (FilePath.cpp) are the same everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace filesys {

// A file descriptor (POSIX) or a HANDLE (Windows), closed when the object goes.
class File {
public:
    File() = default;
    explicit File(std::intptr_t handle) : m_handle(handle) {}
    ~File() { Reset(); }
    File(File&& other) noexcept : m_handle(other.m_handle) { other.m_handle = kInvalid; }
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            Reset();
            m_handle = other.m_handle;
            other.m_handle = kInvalid;
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    std::intptr_t Get() const { return m_handle; }
    bool Valid() const { return m_handle != kInvalid; }
    void Reset(std::intptr_t handle = kInvalid);
    // Closes and says whether the close succeeded (it can carry a deferred write error).
    bool Close();

    static constexpr std::intptr_t kInvalid = -1;

private:
    std::intptr_t m_handle = kInvalid;
};

// The line end of text files on this system: LF, or CR LF on Windows.
extern const std::string_view kTextLineEnd;

// Paths. The separator this system puts between a folder and a name (Windows also takes '/').
extern const char kPathSeparator;
// The folder a path names its file in ("." for a bare name; "/" or "C:\" at the top).
std::string FolderOf(const std::string& path);
// The last part of a path.
std::string NameOf(const std::string& path);
// name in folder, with one separator between them.
std::string JoinPath(const std::string& folder, const std::string& name);
// ".<name of path><suffix>" in path's folder: where the files kept beside a file go.
std::string HiddenBeside(const std::string& path, std::string_view suffix);
// The path with links followed and made absolute where the system can; else as given.
std::string Resolve(const std::string& path);

// Why an open failed.
enum class OpenError {
    None,
    Missing,  // no such file (or folder on the way)
    Refused,  // the rights, a read-only file system or file: this process may not
    Other
};

// Opened for reading; never blocks on a FIFO or a device. With create, a missing file is made
// empty (mode 0644 where modes exist) and opened.
File OpenForReading(const std::string& path, OpenError* error = nullptr, bool create = false);
// Opened for writing, from offset 0, existing only. With create, a missing file is made (0644),
// and with truncate whatever it held is dropped first.
File OpenForWriting(const std::string& path, OpenError* error = nullptr, bool create = false,
                    bool truncate = false);
// False only when the file is certainly not there: "no such file or directory". Opens nothing on
// Windows, where an open handle, however short, can make another program's replacement fail.
bool FileExists(const std::string& path);
// Whether anything (a file, a folder, a link) stands at path; links are not followed.
bool Exists(const std::string& path);
// Whether the open file is a regular file on a disk (not a FIFO, a device or a pipe).
bool IsRegularFile(const File& file);
// What stands at path, links followed: nothing, a regular file (with its mode where modes exist),
// or something else (a folder; on POSIX also a FIFO or a device).
struct PathInfo {
    enum Kind { None, File, Other } kind = None;
    std::uint32_t mode = 0;
};
PathInfo InfoOf(const std::string& path);

// Bytes read into buffer: 0 at the end, -1 on an error.
std::int64_t ReadSome(const File& file, char* buffer, std::size_t size);
bool SeekTo(const File& file, std::uint64_t offset);
// The size, or 0 where it cannot be had.
std::uint64_t SizeOf(const File& file);

// What tells one state of an open file from another without reading it: its identity, size and
// the times of its last changes, as far as the system has them.
struct FileStamp {
    std::uint64_t id = 0;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;
    std::uint64_t changed = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const File& file);

// Locks on an open file, waited for a few milliseconds at a time for at most patienceMs.
enum class LockResult { Locked, Busy, Failed };
LockResult LockPatiently(const File& file, bool exclusive, int patienceMs);

bool WriteAll(const File& file, std::string_view bytes);
bool WriteAt(const File& file, std::uint64_t offset, std::string_view bytes);
bool Truncate(const File& file, std::uint64_t length);
bool Flush(const File& file);
// Copies length bytes from in's position 0 to out inside the kernel where it can; *copied says
// how far it got (0 where the system has no such copy).
void CopyInKernel(const File& in, const File& out, std::uint64_t length, std::uint64_t* copied);

// What a file has besides its bytes that a replacement must carry over itself: owner, group and
// mode where the system has them (Windows' replacement carries the rest).
struct Attributes {
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint32_t mode = 0;
};
Attributes AttributesOf(const File& file);
// Gives `to` the owner, group and mode, then every extended attribute of `from` (its ACL and
// security label among them); false when one could not be given.
bool CopyAttributes(const File& from, const Attributes& attributes, const File& to);
// Gives `to` only the mode (where modes exist).
bool SetMode(const File& to, std::uint32_t mode);

enum class TempStatus { Ok, NoFolderAccess, Failed };
// A fresh file whose name starts with prefix, opened for writing and readable by this process
// alone; its name goes to *name.
File CreateTemp(const std::string& prefix, std::string* name, TempStatus* status);

// Whether a file may be renamed over while this process holds it open (not under Wine).
extern const bool kCanReplaceOpenFile;
enum class ReplaceStatus { Done, InPlaceNeeded, Failed };
// Puts the file named temp in place of path, atomically, and makes that durable. On Windows the
// replacement keeps the original's security and attributes. InPlaceNeeded: the path cannot be
// renamed over (a bind mount); the temporary file is then still there.
ReplaceStatus ReplaceWith(const std::string& path, const std::string& temp);
// Renames without the replacement's keeping of attributes.
bool Rename(const std::string& from, const std::string& to);
bool Remove(const std::string& path);
void FlushFolder(const std::string& folder);
// The names (without folder) in folder that start with prefix.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix);

}  // namespace filesys
