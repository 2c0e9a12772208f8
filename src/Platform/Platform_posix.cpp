#include "src/Platform/Platform.h"

#include "src/Network/Socket/Socket.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr const char *kLibraryExtension = ".so";
constexpr const char *kSetupProgram = "setting_path";
// Nested folders deeper than this are not searched: a link loop or a
// pathological tree must not make start-up run away.
constexpr int kMaxDepth = 32;

bool hasLibraryExtension(const char *name)
{
    const size_t n = std::strlen(name);
    const size_t e = std::strlen(kLibraryExtension);
    // Compared byte for byte: "libx.SO" is not a library here.
    return n > e && std::strcmp(name + n - e, kLibraryExtension) == 0;
}

std::string withSeparator(const std::string &dir)
{
    if (dir.empty() || dir.back() == '/')
        return dir;
    return dir + '/';
}

// Loads path and looks up the driver's entry. A library without it is
// unloaded again; the one that has it stays loaded for the whole run.
DllVelmorafindFn tryLibrary(const std::string &path)
{
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    void *symbol = dlsym(handle, kDriverEntryName);
    if (!symbol) {
        dlclose(handle);
        return nullptr;
    }
    return reinterpret_cast<DllVelmorafindFn>(symbol);
}

// Depth first in the order readdir lists the entries. Folders that cannot
// be listed are passed over. Linked folders are not followed (a link to a
// parent would never end); linked files are tried like files.
DllVelmorafindFn walk(const std::string &dir, int depth)
{
    if (depth > kMaxDepth)
        return nullptr;
    DIR *d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return nullptr;
    DllVelmorafindFn found = nullptr;
    while (!found) {
        const dirent *entry = readdir(d);
        if (!entry)
            break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        const std::string path = dir + entry->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            found = walk(path + '/', depth + 1);
        else if (hasLibraryExtension(entry->d_name))
            found = tryLibrary(path);
    }
    closedir(d);
    return found;
}

class PosixPlatform final : public Platform {
public:
    std::string programDirectory() override
    {
        char buffer[PATH_MAX + 1];
        const ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
        if (n <= 0)
            return {};
        std::string path(buffer, static_cast<size_t>(n));
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return {};
        return path.substr(0, slash + 1);
    }

    DllVelmorafindFn findDriverEntry(const std::string &dir) override { return walk(withSeparator(dir), 0); }

    bool runSetupProgram(const std::string &dir) override
    {
        const std::string path = withSeparator(dir) + kSetupProgram;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0)
            return false;
        char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0)
            return false;
        // Waited for without a time limit, as the driver's installer step
        // may ask the user something; only the end matters, not the status.
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return true;
    }

    bool removeFile(const std::string &path) override { return unlink(path.c_str()) == 0 || errno == ENOENT; }

    bool listLinkLocalInterfaces(InterfaceMap &out) override { return ::listLinkLocalInterfaces(out); }

    char separator() const override { return '/'; }
};

} // namespace

std::unique_ptr<Platform> createSystemPlatform()
{
    return std::make_unique<PosixPlatform>();
}
