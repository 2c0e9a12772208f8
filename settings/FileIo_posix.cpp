#include "settings/FileIo.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fileio {

namespace {

// Writes go to the file a symbolic link points at, so the link survives.
std::string resolveLink(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char *real = realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string result(real);
    std::free(real);
    return result;
}

std::string temporaryPath(const std::string &target)
{
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + std::to_string(static_cast<long>(getpid())) + "-" +
           std::to_string(counter.fetch_add(1));
}

} // namespace

bool readWholeFile(const std::string &path, std::string &bytes)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bool ok = false;
    struct stat st;
    // Directories and devices have no meaningful size; only plain files.
    if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) && fseeko(file, 0, SEEK_END) == 0) {
        const off_t size = ftello(file);
        if (size >= 0 && fseeko(file, 0, SEEK_SET) == 0) {
            ok = readExactly(file, static_cast<unsigned long long>(size), bytes);
        }
    }
    std::fclose(file);
    return ok;
}

bool pathExists(const std::string &path)
{
    struct stat st;
    return !path.empty() && path.find('\0') == std::string::npos && lstat(path.c_str(), &st) == 0;
}

bool replaceFile(const std::string &path, const std::string &bytes, const ChunkWriter &writer)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const std::string target = resolveLink(path);
    struct stat old;
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return false;

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = temporaryPath(target);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    // The replacement keeps the old file's permission bits.
    if (exists)
        (void)fchmod(fd, old.st_mode & 07777);
    std::FILE *file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    bool ok = (bytes.empty() || writer(bytes.data(), bytes.size(), file) == bytes.size());
    ok = std::fflush(file) == 0 && ok;
    ok = ok && fsync(fileno(file)) == 0;
    ok = std::fclose(file) == 0 && ok;
    if (ok)
        ok = std::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

} // namespace fileio
