#include "settings/FileIo.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fileio {

namespace {

bool badPath(const std::string &path)
{
    return path.empty() || path.find('\0') != std::string::npos;
}

void setError(FileError *error, FileError value)
{
    if (error)
        *error = value;
}

// Root, or a set-user-ID run: such a caller passes the system's own
// permission checks, so the link rule is all that protects what it reads.
bool privileged()
{
    return geteuid() == 0 || geteuid() != getuid();
}

FileError fromErrno(int e)
{
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        return FileError::Missing;
    case EACCES:
    case EPERM:
    case EROFS:
        return FileError::Denied;
    case ENAMETOOLONG:
        return FileError::BadPath;
    case ENXIO: // a pipe without a reader, a device without its hardware
    case ENODEV:
    case EISDIR:
        return FileError::NotRegular;
    default:
        return FileError::Failed;
    }
}

// The folder part of path with its trailing "/", or "" for the current one.
std::string folderOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Checks every symbolic link on the way to path: it may be followed only
// when its owner is the caller or also owns what it points to. When the
// last component is a link, finalIsLink is set and target holds what it
// names (resolved false for a link that points nowhere).
struct LinkCheck {
    bool finalIsLink = false;
    bool resolved = false;
    struct stat target {};
};
FileError checkLinks(const std::string &path, LinkCheck &check)
{
    const uid_t me = geteuid();
    size_t pos = 0;
    while (pos < path.size()) {
        if (path[pos] == '/') {
            ++pos;
            continue;
        }
        const size_t next = path.find('/', pos);
        const size_t end = next == std::string::npos ? path.size() : next;
        const bool last = path.find_first_not_of('/', end) == std::string::npos;
        const std::string prefix = path.substr(0, end);
        struct stat link;
        if (lstat(prefix.c_str(), &link) != 0)
            return FileError::None; // nothing below a missing component
        if (S_ISLNK(link.st_mode)) {
            struct stat target;
            const bool resolved = stat(prefix.c_str(), &target) == 0;
            if (link.st_uid != me && !(resolved && target.st_uid == link.st_uid))
                return FileError::UnsafeLink;
            if (last) {
                check.finalIsLink = true;
                check.resolved = resolved;
                if (resolved)
                    check.target = target;
            }
        }
        pos = end;
    }
    return FileError::None;
}

// Opens the regular file at path without ever blocking on a pipe or device:
// the type is checked before opening and again on the open descriptor.
// Writers and privileged readers go by the link rule.
FileError openRegular(const std::string &path, int flags, int &fd, struct stat &st)
{
    fd = -1;
    if (badPath(path))
        return FileError::BadPath;
    LinkCheck check;
    if ((flags & O_ACCMODE) != O_RDONLY || privileged()) {
        const FileError e = checkLinks(path, check);
        if (e != FileError::None)
            return e;
    }
    if (stat(path.c_str(), &st) != 0)
        return fromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return FileError::NotRegular;
    fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fromErrno(errno);
    FileError e = FileError::None;
    const struct stat checked = st;
    if (fstat(fd, &st) != 0)
        e = FileError::Failed;
    else if (!S_ISREG(st.st_mode))
        e = FileError::NotRegular;
    else if (st.st_dev != checked.st_dev || st.st_ino != checked.st_ino)
        e = FileError::UnsafeLink; // swapped between the checks and the open
    else if (check.finalIsLink && (st.st_dev != check.target.st_dev || st.st_ino != check.target.st_ino))
        e = FileError::UnsafeLink;
    else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        e = FileError::Failed;
    if (e != FileError::None) {
        close(fd);
        fd = -1;
    }
    return e;
}

// A short name, so that a settings file whose own name is near the file
// system's limit still gets a temporary file beside it.
std::string temporaryName()
{
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    const unsigned id = seed ^ (static_cast<unsigned>(getpid()) << 12) ^ (counter.fetch_add(1) * 2654435761u);
    char text[16];
    std::snprintf(text, sizeof text, "%08x", id);
    return std::string(".velmora-") + text;
}

// Creates a new file in folder (mode from the umask); fd < 0 and errno on
// failure.
int createTemporary(const std::string &folder, std::string &temp)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = folder + temporaryName();
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

void syncFolder(const std::string &folder)
{
    const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)fsync(dir);
        close(dir);
    }
}

// Writes the bytes to an open descriptor (taken over) with one writer call
// and flushes them to the disk.
bool writeAll(int fd, const std::string &bytes, const ChunkWriter &writer)
{
    std::FILE *file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        return false;
    }
    bool ok = (bytes.empty() || writer(bytes.data(), bytes.size(), file) == bytes.size());
    ok = std::fflush(file) == 0 && ok;
    ok = ok && fsync(fileno(file)) == 0;
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

// The file keeps its inode, so its owner, mode and every other name; a
// failure part-way leaves it partly written.
bool writeInPlace(const std::string &target, const struct stat &old, const std::string &bytes,
                  const ChunkWriter &writer, FileError *error)
{
    const int fd = open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        setError(error, errno == ELOOP ? FileError::UnsafeLink : fromErrno(errno));
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != old.st_dev || st.st_ino != old.st_ino) {
        close(fd);
        setError(error, FileError::UnsafeLink);
        return false;
    }
    if (ftruncate(fd, 0) != 0) {
        close(fd);
        setError(error, fromErrno(errno));
        return false;
    }
    if (!writeAll(fd, bytes, writer)) {
        setError(error, FileError::Failed);
        return false;
    }
    return true;
}

// Copies the open file src into a new file beside backup with mode and
// owner of st, then moves it to backup.
bool copyTo(int src, const struct stat &st, const std::string &backup)
{
    const std::string folder = folderOf(backup);
    std::string temp;
    const int fd = createTemporary(folder, temp);
    if (fd < 0)
        return false;
    bool ok = true;
    if (geteuid() == 0)
        ok = fchown(fd, st.st_uid, st.st_gid) == 0;
    ok = ok && fchmod(fd, st.st_mode & 0777) == 0;
    std::vector<char> buffer(64 * 1024);
    while (ok) {
        const ssize_t n = read(src, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = write(fd, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            ok = w > 0;
            done += w > 0 ? w : 0;
        }
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), backup.c_str()) == 0;
    if (!ok)
        unlink(temp.c_str());
    else
        syncFolder(folder);
    return ok;
}

} // namespace

bool streamFile(const std::string &path, const ChunkSink &sink, FileError *error, uint64_t maxSize)
{
    setError(error, FileError::None);
    int fd = -1;
    struct stat st;
    const FileError e = openRegular(path, O_RDONLY, fd, st);
    if (e != FileError::None) {
        setError(error, e);
        return false;
    }
    // The reported size refuses a huge file before anything is read; the
    // count read refuses one that grows or reports no size.
    FileError result = static_cast<uint64_t>(st.st_size) > maxSize ? FileError::TooLarge : FileError::None;
    std::vector<char> buffer(64 * 1024);
    uint64_t total = 0;
    while (result == FileError::None) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result = FileError::Failed;
            break;
        }
        if (n == 0)
            break;
        total += static_cast<uint64_t>(n);
        if (total > maxSize)
            result = FileError::TooLarge;
        else if (!sink(buffer.data(), static_cast<size_t>(n)))
            result = FileError::Failed;
    }
    close(fd);
    setError(error, result);
    return result == FileError::None;
}

bool pathExists(const std::string &path)
{
    struct stat st;
    return !badPath(path) && lstat(path.c_str(), &st) == 0;
}

bool replaceFile(const std::string &path, const std::string &bytes, const ChunkWriter &writer,
                 FileError *error)
{
    setError(error, FileError::None);
    if (badPath(path)) {
        setError(error, FileError::BadPath);
        return false;
    }
    LinkCheck check;
    FileError e = checkLinks(path, check);
    if (e != FileError::None) {
        setError(error, e);
        return false;
    }
    // Writes go to the file a link points at, so the link survives.
    std::string target = path;
    if (check.finalIsLink && check.resolved) {
        char *real = realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            setError(error, fromErrno(errno));
            return false;
        }
        target = real;
        std::free(real);
    }
    struct stat old;
    const bool exists = lstat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        setError(error, fromErrno(errno));
        return false;
    }
    if (exists && check.finalIsLink && check.resolved &&
        (old.st_dev != check.target.st_dev || old.st_ino != check.target.st_ino)) {
        setError(error, FileError::UnsafeLink); // changed since the check
        return false;
    }
    if (exists && !S_ISREG(old.st_mode) && !(S_ISLNK(old.st_mode) && !check.resolved)) {
        setError(error, FileError::NotRegular);
        return false;
    }
    const std::string folder = folderOf(target);

    bool inPlace = false;
    if (exists && S_ISREG(old.st_mode) && old.st_nlink > 1) {
        // Every name of the file must see the change. For a privileged
        // caller a second name is also how someone could point a user's
        // settings file at a system file: only when the file's owner owns
        // the folder, or the caller does, is it written.
        if (privileged()) {
            struct stat dir;
            if (stat(folder.empty() ? "." : folder.c_str(), &dir) != 0 ||
                !(old.st_uid == dir.st_uid || dir.st_uid == geteuid())) {
                setError(error, FileError::UnsafeHardLink);
                return false;
            }
        }
        inPlace = true;
    }
    if (!inPlace) {
        std::string temp;
        const int fd = createTemporary(folder, temp);
        if (fd < 0) {
            const int err = errno;
            // A folder that takes no new file: write the file itself.
            if (!(exists && S_ISREG(old.st_mode) && (err == EACCES || err == EPERM || err == EROFS))) {
                setError(error, fromErrno(err));
                return false;
            }
            inPlace = true;
        } else {
            bool kept = true;
            if (exists && S_ISREG(old.st_mode)) {
                // The owner first: a change of owner clears set-ID bits.
                if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
                    fchown(fd, old.st_uid, old.st_gid) != 0)
                    kept = false;
                if (kept && fchmod(fd, old.st_mode & 07777) != 0)
                    kept = false;
            }
            if (!kept) {
                // A new file would change who may read the settings.
                close(fd);
                unlink(temp.c_str());
                inPlace = true;
            } else {
                bool ok = writeAll(fd, bytes, writer);
                ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
                if (!ok) {
                    unlink(temp.c_str());
                    setError(error, FileError::Failed);
                    return false;
                }
                syncFolder(folder);
                return true;
            }
        }
    }
    return writeInPlace(target, old, bytes, writer, error);
}

bool keepRejectedFile(const std::string &path, bool &replacedOlder, FileError *error)
{
    setError(error, FileError::None);
    replacedOlder = false;
    const std::string backup = rejectedBackupPath(path);
    int fd = -1;
    struct stat st;
    FileError e = openRegular(path, O_RDONLY, fd, st);
    struct stat older;
    replacedOlder = !badPath(backup) && lstat(backup.c_str(), &older) == 0;
    if (replacedOlder && S_ISDIR(older.st_mode)) {
        if (fd >= 0)
            close(fd);
        setError(error, FileError::NotRegular);
        return false;
    }
    if (e == FileError::None && static_cast<uint64_t>(st.st_size) <= kMaxSettingsFileSize) {
        const bool ok = copyTo(fd, st, backup);
        close(fd);
        setError(error, ok ? FileError::None : FileError::Failed);
        return ok;
    }
    if (fd >= 0)
        close(fd);
    // A file that cannot be read (or is too large to copy) is moved aside
    // whole: it keeps its bytes, owner and permissions.
    if (e == FileError::None || e == FileError::Denied) {
        struct stat self;
        if (lstat(path.c_str(), &self) != 0 || !(S_ISREG(self.st_mode) || S_ISLNK(self.st_mode))) {
            setError(error, FileError::NotRegular);
            return false;
        }
        if (std::rename(path.c_str(), backup.c_str()) != 0) {
            setError(error, fromErrno(errno));
            return false;
        }
        syncFolder(folderOf(backup));
        return true;
    }
    setError(error, e);
    return false;
}

bool UpdateLock::acquire(const std::string &path, std::chrono::milliseconds timeout, FileError *error)
{
    release();
    setError(error, FileError::None);
    const std::string lockPath = lockFilePath(path);
    if (badPath(path)) {
        setError(error, FileError::BadPath);
        return false;
    }
    // Never through a link: the lock file is created, and a link could
    // make a privileged caller create a file anywhere.
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
        fd = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ELOOP) {
            setError(error, FileError::UnsafeLink);
            return false;
        }
        // No folder: the write fails on its own, with its own message.
        if (err == ENOENT || err == ENOTDIR)
            return true;
        if (err != EACCES && err != EPERM && err != EROFS) {
            setError(error, fromErrno(err));
            return false;
        }
        // The folder takes no lock file: lock the settings file itself,
        // which is then written in place. A missing one cannot be
        // created there either, so there is nothing to guard.
        struct stat st;
        const FileError e = openRegular(path, O_RDONLY, fd, st);
        if (e == FileError::Missing)
            return true;
        if (e != FileError::None) {
            setError(error, e);
            return false;
        }
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        setError(error, FileError::NotRegular);
        return false;
    }
    // A lock file root makes in a user's folder belongs to that user, who
    // may then lock it as well.
    struct stat dir;
    const std::string folder = folderOf(lockPath);
    if (geteuid() == 0 && stat(folder.empty() ? "." : folder.c_str(), &dir) == 0 && st.st_uid != dir.st_uid)
        (void)fchown(fd, dir.st_uid, dir.st_gid);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            const int err = errno;
            close(fd);
            setError(error, err == EWOULDBLOCK ? FileError::Busy : FileError::Failed);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    handle_ = fd;
    return true;
}

void UpdateLock::release()
{
    if (handle_ != kNone) {
        close(static_cast<int>(handle_)); // closing drops the lock
        handle_ = kNone;
    }
}

} // namespace fileio
