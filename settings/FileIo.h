#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// File I/O for the settings store and the command-line tool, one
// implementation per platform (FileIo_posix.cpp, FileIo_win.cpp). Paths are
// UTF-8; the Windows side converts them to UTF-16 and refuses paths longer
// than 259 UTF-16 units, as the driver's own file functions do.
//
// Every file at a settings path is treated as hostile input: it may be a
// link, a pipe or device, huge, or owned by someone else, and velmora-ctl
// runs as root or as an administrator in installation scripts. The rules:
//
// - Only regular files are read or written. A pipe, device or folder is
//   refused at once: it is opened without blocking and its type is checked
//   on the open handle, so opening never waits for a writer.
// - Links: a symbolic link (on Windows any reparse point) in the path is
//   followed for a write only when the link's owner is the caller or is
//   also the owner of what it points to (the rule of the Linux kernel's
//   protected_symlinks, applied in every folder rather than only in sticky
//   world-writable ones). A privileged caller (root, a set-user-ID run, an
//   elevated administrator) reads by the same rule; others read through
//   any link, since the system's own permission checks protect them.
// - A privileged caller writes a file with more than one name (a hard
//   link) only when the file's owner owns its folder or the caller does.
// - Settings files larger than kMaxSettingsFileSize are refused.

namespace fileio {

// Far above any real settings file (a few kilobytes).
constexpr uint64_t kMaxSettingsFileSize = 1024 * 1024;

// How long the advisory update lock is waited for before giving up.
constexpr std::chrono::milliseconds kLockTimeout{10000};

enum class FileError {
    None,
    Missing,    // nothing at the path
    NotRegular, // a folder, pipe, device or socket
    TooLarge,   // beyond the size limit of the read
    UnsafeLink, // a link owned by someone else, refused by the rule above
    UnsafeHardLink,
    Denied,  // the system refused access
    BadPath, // empty, not UTF-8, holding a zero byte or too long
    Busy,    // the update lock stayed taken
    Invalid, // the content holds a byte the store rejects
    Failed,  // any other read or write error
};

// The reason in plain words, to follow a file name: "'x': " + describe(e).
std::string describe(FileError error);

// Writes size bytes of data to an open file and returns the count written,
// like fwrite. The store uses fwrite; tests put a failing writer in its
// place to show that a failed write leaves the old file as it was.
using ChunkWriter = std::function<size_t(const char *data, size_t size, std::FILE *file)>;

// Receives a file's bytes piece by piece; false stops the read (Failed).
using ChunkSink = std::function<bool(const char *data, size_t size)>;

// Reads the regular file at path to its end (not trusting the size the
// system reports, which is 0 for many files under /proc) and hands the
// bytes to sink. More than maxSize bytes, reported or read, is TooLarge.
bool streamFile(const std::string &path, const ChunkSink &sink, FileError *error = nullptr,
                uint64_t maxSize = UINT64_MAX);

// streamFile into bytes, at most maxSize of them; on failure bytes is
// unchanged.
bool readWholeFile(const std::string &path, std::string &bytes, FileError *error = nullptr,
                   uint64_t maxSize = kMaxSettingsFileSize);

// Whether something (a file, a folder, a link) stands at path.
bool pathExists(const std::string &path);

// Writes bytes to path with one writer call. Normally into a new temporary
// file with a short name in the target's folder, flushed to the disk and
// then moved over the target, so a failed write leaves the old file as it
// was; the replacement keeps the old file's owner, group and permissions
// (on Windows its security descriptor and attributes). A link is written
// through (the rules above). The file is written in place instead, after
// the same checks, when it has other names (hard links, which must all see
// the change), when its owner or group cannot be given to a new file, or
// when its folder cannot take a temporary file but the file is writable.
bool replaceFile(const std::string &path, const std::string &bytes, const ChunkWriter &writer,
                 FileError *error = nullptr);

// Where a rejected settings file's bytes are kept: the name (cut short
// enough for the file system) with ".rejected" appended, in the same folder. One per file; a newer one
// replaces an older.
std::string rejectedBackupPath(const std::string &path);

// Keeps the bytes of the regular file at path as rejectedBackupPath(path)
// before something overwrites it: a copy with the file's permissions (and,
// for root, its owner), or, when the file cannot be read, the file itself
// moved there. replacedOlder tells whether an earlier backup was replaced.
bool keepRejectedFile(const std::string &path, bool &replacedOlder, FileError *error = nullptr);

// The lock file of a settings file: the name (cut short enough for the
// file system) with ".lock" appended, in the same folder.
std::string lockFilePath(const std::string &path);

// An advisory lock held around a read-modify-write of one settings file
// (flock on POSIX, LockFileEx on Windows) on its lock file. The lock file
// stays in place: removing it while another program waits for it would
// let two programs hold "the" lock at once. When the folder cannot take a
// lock file, the settings file itself is locked (it is then written in
// place, so the lock stays on the file that is written).
class UpdateLock {
public:
    UpdateLock() = default;
    ~UpdateLock() { release(); }
    UpdateLock(const UpdateLock &) = delete;
    UpdateLock &operator=(const UpdateLock &) = delete;

    // Waits up to timeout for the lock; Busy when it stays taken.
    bool acquire(const std::string &path, std::chrono::milliseconds timeout = kLockTimeout,
                 FileError *error = nullptr);
    void release();
    bool held() const { return handle_ != kNone; }

private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;
};

} // namespace fileio
