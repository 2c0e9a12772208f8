#include "settings/FileIo.h"

#include <new>

namespace fileio {

std::string describe(FileError error)
{
    switch (error) {
    case FileError::None:
        return "no error";
    case FileError::Missing:
        return "no such file";
    case FileError::NotRegular:
        return "not a regular file (a folder, pipe, device or socket); it was not read or written";
    case FileError::TooLarge:
        return "larger than " + std::to_string(kMaxSettingsFileSize / 1024) +
               " KiB, far more than any settings file; it was not read";
    case FileError::UnsafeLink:
        return "reached through a symbolic link owned by another user who does not own what it points "
               "to; refused for safety (use the real path)";
    case FileError::UnsafeHardLink:
        return "has another name (a hard link) and is not owned by its folder's owner; refused for safety";
    case FileError::Denied:
        return "permission denied";
    case FileError::BadPath:
        return "not a usable path (empty, not UTF-8, or too long)";
    case FileError::Busy:
        return "another program kept it locked for " + std::to_string(kLockTimeout.count() / 1000) +
               " s; try again";
    case FileError::Invalid:
        return "not a valid settings file: it holds control characters (a tab or another byte below 0x20 "
               "besides line ends), which the driver rejects";
    case FileError::Failed:
        return "a read or write error";
    }
    return "unknown error";
}

bool readWholeFile(const std::string &path, std::string &bytes, FileError *error, uint64_t maxSize)
{
    std::string data;
    bool outOfMemory = false;
    const bool ok = streamFile(
        path,
        [&](const char *chunk, size_t size) {
            try {
                data.append(chunk, size);
                return true;
            } catch (const std::bad_alloc &) {
                outOfMemory = true;
                return false;
            }
        },
        error, maxSize);
    if (!ok) {
        if (outOfMemory && error)
            *error = FileError::Failed;
        return false;
    }
    bytes.swap(data);
    return true;
}

namespace {

#ifdef _WIN32
constexpr const char *kSeparators = "\\/";
#else
constexpr const char *kSeparators = "/";
#endif

// The longest file name the file systems take: 255 bytes on Linux, 255
// UTF-16 units on Windows (never fewer than the UTF-8 bytes).
constexpr size_t kMaxNameBytes = 255;

// path with suffix appended to its file name, the name cut short where the
// whole would be too long for the file system.
std::string besideWithSuffix(const std::string &path, const std::string &suffix)
{
    const size_t slash = path.find_last_of(kSeparators);
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string name = path.substr(nameStart);
    if (name.size() + suffix.size() > kMaxNameBytes) {
        // Two long names that share their start share a lock file (which
        // only serialises their updates a little more) and a backup.
        size_t keep = kMaxNameBytes - suffix.size();
        // Never cut inside a UTF-8 sequence.
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep;
        name.resize(keep);
    }
    return path.substr(0, nameStart) + name + suffix;
}

} // namespace

std::string rejectedBackupPath(const std::string &path)
{
    return besideWithSuffix(path, ".rejected");
}

std::string lockFilePath(const std::string &path)
{
    return besideWithSuffix(path, ".lock");
}

} // namespace fileio
