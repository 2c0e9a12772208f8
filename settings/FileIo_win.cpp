#include "settings/FileIo.h"

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace fileio {

namespace {

// The driver's file functions take at most MAX_PATH (260) units with the
// terminating zero.
constexpr size_t kMaxPathUnits = 259;

bool toWide(const std::string &path, std::wstring &wide)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                      static_cast<int>(path.size()), nullptr, 0);
    if (n <= 0 || static_cast<size_t>(n) > kMaxPathUnits)
        return false;
    wide.assign(static_cast<size_t>(n), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                               &wide[0], n) == n;
}

// The temporary file's name is longer than the target's; near the limit it
// is reached through the "\\?\" form of its full path.
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

std::wstring temporaryPath(const std::wstring &target)
{
    static std::atomic<unsigned> counter{0};
    const unsigned long id = (GetCurrentProcessId() << 12) ^ counter.fetch_add(1);
    return target + L".tmp" + std::to_wstring(id);
}

} // namespace

bool readWholeFile(const std::string &path, std::string &bytes)
{
    std::wstring wide;
    if (!toWide(path, wide))
        return false;
    std::FILE *file = _wfopen(wide.c_str(), L"rb");
    if (file == nullptr)
        return false;
    bool ok = false;
    struct _stat64 st;
    if (_fstat64(_fileno(file), &st) == 0 && (st.st_mode & _S_IFREG) != 0 &&
        _fseeki64(file, 0, SEEK_END) == 0) {
        const long long size = _ftelli64(file);
        if (size >= 0 && _fseeki64(file, 0, SEEK_SET) == 0) {
            ok = readExactly(file, static_cast<unsigned long long>(size), bytes);
        }
    }
    std::fclose(file);
    return ok;
}

bool pathExists(const std::string &path)
{
    std::wstring wide;
    return toWide(path, wide) && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool replaceFile(const std::string &path, const std::string &bytes, const ChunkWriter &writer)
{
    std::wstring target;
    if (!toWide(path, target))
        return false;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;

    std::wstring temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temp = reachable(temporaryPath(target));
        if (temp.empty())
            return false;
        handle =
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        DeleteFileW(temp.c_str());
        return false;
    }
    std::FILE *file = _wfdopen(fd, L"wb");
    if (file == nullptr) {
        _close(fd);
        DeleteFileW(temp.c_str());
        return false;
    }
    bool ok = (bytes.empty() || writer(bytes.data(), bytes.size(), file) == bytes.size());
    ok = std::fflush(file) == 0 && ok;
    ok = ok && FlushFileBuffers(handle) != 0;
    ok = std::fclose(file) == 0 && ok;
    if (ok)
        ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
             0;
    if (!ok)
        DeleteFileW(temp.c_str());
    return ok;
}

} // namespace fileio
