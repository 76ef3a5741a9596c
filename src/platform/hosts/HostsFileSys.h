// The system calls under the hosts file's logic, one implementation per system
// (HostsFileSys_unix.cpp, HostsFileSys_win.cpp): opening and locking, reading a piece, temporary
// files, replacing, writing in place, listing. They report what the system said and decide
// nothing; every rule about the file's content lives in HostsFileIO.cpp above them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hosts/HostsFileIO.h"

namespace hostsys {

// A file descriptor (POSIX) or a HANDLE (Windows), closed when the object goes.
class CFile {
public:
    CFile() = default;
    explicit CFile(std::intptr_t handle) : m_handle(handle) {}
    ~CFile() { Reset(); }
    CFile(CFile&& other) noexcept : m_handle(other.m_handle) { other.m_handle = kInvalid; }
    CFile& operator=(CFile&& other) noexcept {
        if (this != &other) {
            Reset();
            m_handle = other.m_handle;
            other.m_handle = kInvalid;
        }
        return *this;
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    std::intptr_t Get() const { return m_handle; }
    bool Valid() const { return m_handle != kInvalid; }
    void Reset(std::intptr_t handle = kInvalid);
    // Closes and says whether the close succeeded (it can carry a deferred write error).
    bool Close();

    static constexpr std::intptr_t kInvalid = -1;

private:
    std::intptr_t m_handle = kInvalid;
};

// The separator this system puts between a folder and a name.
extern const char kPathSeparator;

// The path with links followed and made absolute where the system can; else as given.
std::string Resolve(const std::string& path);

// The hosts file opened for reading under the program's lock: shared or exclusive (a
// read-modify-write; reads take no lock). Waits for another copy of the program for a bounded
// time only (Busy).
struct Locked {
    ReadStatus status = ReadStatus::Missing;
    CFile file;
    CFile lock;               // where the lock is a file of its own
    std::uint32_t owner = 0;  // the file's owner, group and mode, where the system has them
    std::uint32_t group = 0;
    std::uint32_t mode = 0;
};
Locked OpenLocked(const std::string& path, bool exclusive);
// Before the file is replaced: what the system needs closed (Wine renames over no open file).
void PrepareToReplace(Locked& locked);

// The file at path opened for reading without a lock; invalid when it cannot be.
CFile OpenForReading(const std::string& path);
// Bytes read into buffer: 0 at the end, -1 on an error.
std::int64_t ReadSome(const CFile& file, char* buffer, std::size_t size);
bool SeekTo(const CFile& file, std::uint64_t offset);
// The size, or 0 where it cannot be had.
std::uint64_t SizeOf(const CFile& file);

// What tells one state of an open file from another without reading it: its identity, size and
// the times of its last changes, as far as the system has them.
struct FileStamp {
    std::uint64_t id = 0;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;
    std::uint64_t changed = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const CFile& file);

enum class TempStatus { Ok, NoFolderAccess, Failed };
// A fresh file whose name starts with prefix, opened for writing; its name goes to *name.
CFile CreateTemp(const std::string& prefix, std::string* name, TempStatus* status);
bool WriteAll(const CFile& file, std::string_view bytes);
// Copies length bytes from in's position 0 to out inside the kernel where it can; *copied says
// how far it got (0 where the system has no such copy).
void CopyInKernel(const CFile& in, const CFile& out, std::uint64_t length, std::uint64_t* copied);
// Gives the new file what the original has besides its bytes, where the replacement does not
// carry it itself (owner, mode, extended attributes).
bool CopyAttributes(const Locked& original, const CFile& to);
bool Flush(const CFile& file);

enum class ReplaceStatus { Done, InPlaceNeeded, Failed };
// Puts the file named temp in place of path, atomically, and makes that durable. InPlaceNeeded:
// the path cannot be renamed over (a bind mount); the temporary file is then still there.
ReplaceStatus ReplaceWith(const std::string& path, const std::string& temp);
// Renames without the replacement's keeping of attributes (the backup beside the file).
bool Rename(const std::string& from, const std::string& to);

// Writing the file in place, for where it cannot be replaced. *refused (when given) tells a file
// this process may not write (rights, a read-only mount) from other failures.
CFile OpenForWriting(const std::string& path, bool* refused = nullptr);
bool WriteAt(const CFile& file, std::uint64_t offset, std::string_view bytes);
bool Truncate(const CFile& file, std::uint64_t length);

bool Exists(const std::string& path);
bool Remove(const std::string& path);
void FlushFolder(const std::string& dir);
// The names (without folder) in dir that start with prefix.
std::vector<std::string> NamesStartingWith(const std::string& dir, const std::string& prefix);

// How long OpenLocked waits for the lock, in milliseconds.
inline constexpr int kLockPatienceMs = kHostsLockWaitSeconds * 1000;

}  // namespace hostsys
