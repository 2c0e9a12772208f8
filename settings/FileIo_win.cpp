#include "settings/FileIo.h"

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <random>
#include <thread>
#include <vector>
#include <windows.h>

namespace fileio {

namespace {

// The driver's file functions take at most MAX_PATH (260) units with the
// terminating zero.
constexpr size_t kMaxPathUnits = 259;

void setError(FileError *error, FileError value)
{
    if (error)
        *error = value;
}

// limited: the settings files themselves, held to the driver's limit; the
// lock file and the backup beside them may be longer.
bool toWide(const std::string &path, std::wstring &wide, bool limited = true)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                      static_cast<int>(path.size()), nullptr, 0);
    if (n <= 0 || (limited && static_cast<size_t>(n) > kMaxPathUnits))
        return false;
    wide.assign(static_cast<size_t>(n), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                               &wide[0], n) == n;
}

// A name beyond the limit is reached through the "\\?\" form of its full
// path.
std::wstring reachable(const std::wstring &path)
{
    if (path.size() <= kMaxPathUnits)
        return path;
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return std::wstring();
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    if (got == 0 || got >= n)
        return std::wstring();
    full.resize(got);
    if (full.size() < 3 || full[1] != L':')
        return std::wstring();
    return L"\\\\?\\" + full;
}

FileError fromLastError(DWORD e)
{
    switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return FileError::Missing;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return FileError::Denied;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME:
        return FileError::BadPath;
    case ERROR_PIPE_BUSY:
        return FileError::NotRegular;
    default:
        return FileError::Failed;
    }
}

std::wstring folderOf(const std::wstring &path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// The token's user, and whether it runs elevated.
bool callerSid(std::vector<unsigned char> &sid)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    if (ok) {
        PSID user = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
        sid.assign(static_cast<unsigned char *>(user),
                   static_cast<unsigned char *>(user) + GetLengthSid(user));
    }
    CloseHandle(token);
    return ok;
}

bool privileged()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = sizeof elevation;
    const bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, size, &size) && elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

// The owner of an open handle (opened with READ_CONTROL).
bool ownerOf(HANDLE handle, std::vector<unsigned char> &sid)
{
    DWORD size = 0;
    GetKernelObjectSecurity(handle, OWNER_SECURITY_INFORMATION, nullptr, 0, &size);
    if (size == 0)
        return false;
    std::vector<unsigned char> buffer(size);
    if (!GetKernelObjectSecurity(handle, OWNER_SECURITY_INFORMATION, buffer.data(), size, &size))
        return false;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(buffer.data(), &owner, &defaulted) || owner == nullptr)
        return false;
    sid.assign(static_cast<unsigned char *>(owner),
               static_cast<unsigned char *>(owner) + GetLengthSid(owner));
    return true;
}

// A reparse point (symbolic link, junction) as the last component is
// followed only when its owner is the caller or also owns its target.
FileError checkLink(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return FileError::None;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE link = CreateFileW(path.c_str(), READ_CONTROL, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (link == INVALID_HANDLE_VALUE)
        return FileError::UnsafeLink;
    std::vector<unsigned char> linkOwner, targetOwner, me;
    const bool haveLink = ownerOf(link, linkOwner);
    CloseHandle(link);
    if (!haveLink)
        return FileError::UnsafeLink;
    if (callerSid(me) && me == linkOwner)
        return FileError::None;
    HANDLE target = CreateFileW(path.c_str(), READ_CONTROL, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE)
        return FileError::UnsafeLink;
    const bool haveTarget = ownerOf(target, targetOwner);
    CloseHandle(target);
    return haveTarget && targetOwner == linkOwner ? FileError::None : FileError::UnsafeLink;
}

// Opens the regular file at path; pipes, devices and folders are refused
// by their type on the open handle before anything is read.
FileError openRegular(const std::wstring &path, DWORD access, DWORD disposition, HANDLE &handle,
                      BY_HANDLE_FILE_INFORMATION &info, bool checkLinks)
{
    handle = INVALID_HANDLE_VALUE;
    if (checkLinks) {
        const FileError e = checkLink(path);
        if (e != FileError::None)
            return e;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return FileError::NotRegular;
    handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fromLastError(GetLastError());
    FileError e = FileError::None;
    if (GetFileType(handle) != FILE_TYPE_DISK)
        e = FileError::NotRegular;
    else if (!GetFileInformationByHandle(handle, &info))
        e = FileError::Failed;
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        e = FileError::NotRegular;
    if (e != FileError::None) {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    return e;
}

std::wstring temporaryName()
{
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    const unsigned id =
        seed ^ (static_cast<unsigned>(GetCurrentProcessId()) << 12) ^ (counter.fetch_add(1) * 2654435761u);
    wchar_t text[16];
    swprintf(text, 16, L"%08x", id);
    return std::wstring(L".velmora-") + text;
}

HANDLE createTemporary(const std::wstring &folder, std::wstring &temp)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = reachable(folder + temporaryName());
        if (temp.empty())
            break;
        HANDLE h =
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return h;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

// Writes the bytes through the writer into an open handle (taken over) and
// flushes them to the disk.
bool writeAll(HANDLE handle, const std::string &bytes, const ChunkWriter &writer)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    std::FILE *file = _fdopen(fd, "wb");
    if (file == nullptr) {
        _close(fd);
        return false;
    }
    bool ok = (bytes.empty() || writer(bytes.data(), bytes.size(), file) == bytes.size());
    ok = std::fflush(file) == 0 && ok;
    ok = ok && FlushFileBuffers(handle) != 0;
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

} // namespace

bool streamFile(const std::string &path, const ChunkSink &sink, FileError *error, uint64_t maxSize)
{
    setError(error, FileError::None);
    std::wstring wide;
    if (!toWide(path, wide)) {
        setError(error, FileError::BadPath);
        return false;
    }
    HANDLE handle;
    BY_HANDLE_FILE_INFORMATION info;
    const FileError e = openRegular(wide, GENERIC_READ, OPEN_EXISTING, handle, info, privileged());
    if (e != FileError::None) {
        setError(error, e);
        return false;
    }
    const uint64_t reported = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    FileError result = reported > maxSize ? FileError::TooLarge : FileError::None;
    std::vector<char> buffer(64 * 1024);
    uint64_t total = 0;
    while (result == FileError::None) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            result = FileError::Failed;
            break;
        }
        if (got == 0)
            break;
        total += got;
        if (total > maxSize)
            result = FileError::TooLarge;
        else if (!sink(buffer.data(), got))
            result = FileError::Failed;
    }
    CloseHandle(handle);
    setError(error, result);
    return result == FileError::None;
}

bool pathExists(const std::string &path)
{
    std::wstring wide;
    return toWide(path, wide, false) &&
           GetFileAttributesW(reachable(wide).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool replaceFile(const std::string &path, const std::string &bytes, const ChunkWriter &writer,
                 FileError *error)
{
    setError(error, FileError::None);
    std::wstring target;
    if (!toWide(path, target)) {
        setError(error, FileError::BadPath);
        return false;
    }
    FileError e = checkLink(target);
    if (e != FileError::None) {
        setError(error, e);
        return false;
    }
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        setError(error, FileError::NotRegular);
        return false;
    }
    bool inPlace = false;
    if (exists) {
        HANDLE probe;
        BY_HANDLE_FILE_INFORMATION info;
        e = openRegular(target, 0, OPEN_EXISTING, probe, info, false);
        if (e != FileError::None) {
            setError(error, e);
            return false;
        }
        CloseHandle(probe);
        // Every name of a hard-linked file must see the change.
        inPlace = info.nNumberOfLinks > 1;
        // A link resolves to its target for ReplaceFileW; written in place
        // the link itself survives.
        inPlace = inPlace || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    if (!inPlace) {
        std::wstring temp;
        HANDLE handle = createTemporary(folderOf(target), temp);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            if (!(exists && err == ERROR_ACCESS_DENIED)) {
                setError(error, fromLastError(err));
                return false;
            }
            inPlace = true; // a folder that takes no new file
        } else {
            bool ok = writeAll(handle, bytes, writer);
            if (ok && exists) {
                // Keeps the old file's security descriptor, attributes and
                // creation time.
                ok = ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                  nullptr, nullptr) != 0;
            } else if (ok) {
                ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
            }
            if (!ok) {
                DeleteFileW(temp.c_str());
                setError(error, FileError::Failed);
                return false;
            }
            return true;
        }
    }
    HANDLE handle;
    BY_HANDLE_FILE_INFORMATION info;
    e = openRegular(target, GENERIC_WRITE, OPEN_EXISTING, handle, info, false);
    if (e != FileError::None) {
        setError(error, e);
        return false;
    }
    if (!SetEndOfFile(handle)) { // at offset 0: truncates
        CloseHandle(handle);
        setError(error, FileError::Failed);
        return false;
    }
    if (!writeAll(handle, bytes, writer)) {
        setError(error, FileError::Failed);
        return false;
    }
    return true;
}

bool keepRejectedFile(const std::string &path, bool &replacedOlder, FileError *error)
{
    setError(error, FileError::None);
    replacedOlder = false;
    std::wstring source, backup;
    if (!toWide(path, source) || !toWide(rejectedBackupPath(path), backup, false)) {
        setError(error, FileError::BadPath);
        return false;
    }
    backup = reachable(backup);
    HANDLE handle;
    BY_HANDLE_FILE_INFORMATION info;
    const FileError e = openRegular(source, GENERIC_READ, OPEN_EXISTING, handle, info, privileged());
    if (e != FileError::None && e != FileError::Denied) {
        setError(error, e);
        return false;
    }
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    const DWORD older = GetFileAttributesW(backup.c_str());
    replacedOlder = older != INVALID_FILE_ATTRIBUTES;
    if (replacedOlder && (older & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        setError(error, FileError::NotRegular);
        return false;
    }
    if (e == FileError::None) {
        // A copy beside it, then moved over an older backup.
        std::wstring temp = reachable(folderOf(backup) + temporaryName());
        if (!temp.empty() && CopyFileW(source.c_str(), temp.c_str(), TRUE)) {
            if (MoveFileExW(temp.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return true;
            DeleteFileW(temp.c_str());
        }
    }
    // Unreadable (or not copied): the file itself is moved aside.
    if (MoveFileExW(source.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    setError(error, fromLastError(GetLastError()));
    return false;
}

bool UpdateLock::acquire(const std::string &path, std::chrono::milliseconds timeout, FileError *error)
{
    release();
    setError(error, FileError::None);
    std::wstring lockPath, target;
    if (!toWide(path, target) || !toWide(lockFilePath(path), lockPath, false)) {
        setError(error, FileError::BadPath);
        return false;
    }
    lockPath = reachable(lockPath);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD attributes = GetFileAttributesW(lockPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        setError(error, FileError::UnsafeLink); // the lock file is never followed
        return false;
    }
    HANDLE handle =
        CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        handle = CreateFileW(lockPath.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (err == ERROR_PATH_NOT_FOUND || err == ERROR_FILE_NOT_FOUND)
            return true; // no folder: the write fails on its own
        if (err != ERROR_ACCESS_DENIED) {
            setError(error, fromLastError(err));
            return false;
        }
        // No lock file possible: lock the settings file itself (written in
        // place then).
        handle = CreateFileW(target.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return GetLastError() == ERROR_FILE_NOT_FOUND ? true
                                                          : (setError(error, FileError::Denied), false);
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        setError(error, FileError::NotRegular);
        return false;
    }
    // A byte far beyond the end: the lock never stands in the way of
    // reading or writing the file's content through other handles.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        OVERLAPPED at{};
        at.Offset = 0xFFFFFFF0u;
        at.OffsetHigh = 0x3FFFFFFFu;
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            break;
        const DWORD err = GetLastError();
        if (err != ERROR_LOCK_VIOLATION && err != ERROR_IO_PENDING) {
            CloseHandle(handle);
            setError(error, FileError::Failed);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            CloseHandle(handle);
            setError(error, FileError::Busy);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    handle_ = reinterpret_cast<intptr_t>(handle);
    return true;
}

void UpdateLock::release()
{
    if (handle_ != kNone) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_)); // closing drops the lock
        handle_ = kNone;
    }
}

} // namespace fileio
