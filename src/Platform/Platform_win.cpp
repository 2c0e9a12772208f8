#include "src/Platform/Platform.h"

#include "src/Network/Socket/Socket.h"

#include <cstring>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

namespace {

constexpr const wchar_t *kLibraryExtension = L".dll";
constexpr const char *kSetupProgram = "setting_path.exe";
// The program path is asked for with room for this many wide characters.
constexpr DWORD kModulePathChars = 521;
constexpr int kMaxDepth = 32;

std::wstring toWide(const std::string &text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string toUtf8(const wchar_t *text, size_t length)
{
    if (length == 0)
        return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

bool hasLibraryExtension(const wchar_t *name)
{
    const size_t n = wcslen(name);
    const size_t e = wcslen(kLibraryExtension);
    // Compared exactly: "x.DLL" is not tried.
    return n > e && wcscmp(name + n - e, kLibraryExtension) == 0;
}

std::wstring withSeparator(std::wstring dir)
{
    if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/')
        dir += L'\\';
    return dir;
}

// The wide loader: the program directory may hold characters outside the
// system code page, which the narrow loader would mangle.
DllVelmorafindFn tryLibrary(const std::wstring &path)
{
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module)
        return nullptr;
    FARPROC proc = GetProcAddress(module, kDriverEntryName);
    if (!proc) {
        FreeLibrary(module);
        return nullptr;
    }
    return reinterpret_cast<DllVelmorafindFn>(reinterpret_cast<void *>(proc));
}

// Depth first in the order the file system lists the entries. Folders that
// cannot be listed are passed over; reparse points (junctions, links) are
// not followed.
DllVelmorafindFn walk(const std::wstring &dir, int depth)
{
    if (depth > kMaxDepth)
        return nullptr;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return nullptr;
    DllVelmorafindFn found = nullptr;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0)
            continue;
        const std::wstring path = dir + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                found = walk(path + L'\\', depth + 1);
        } else if (hasLibraryExtension(data.cFileName)) {
            found = tryLibrary(path);
        }
    } while (!found && FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

class WindowsPlatform final : public Platform {
public:
    std::string programDirectory() override
    {
        wchar_t buffer[kModulePathChars];
        const DWORD n = GetModuleFileNameW(nullptr, buffer, kModulePathChars);
        // 0 is a failure; a full buffer means the path was cut short.
        if (n == 0 || n >= kModulePathChars)
            return {};
        std::wstring path(buffer, n);
        const size_t slash = path.rfind(L'\\');
        if (slash == std::wstring::npos)
            return {};
        return toUtf8(path.data(), slash + 1);
    }

    DllVelmorafindFn findDriverEntry(const std::string &dir) override
    {
        return walk(withSeparator(toWide(dir)), 0);
    }

    bool runSetupProgram(const std::string &dir) override
    {
        const std::wstring file = withSeparator(toWide(dir)) + toWide(kSetupProgram);
        SHELLEXECUTEINFOW info;
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = nullptr; // the default verb
        info.lpFile = file.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&info))
            return false;
        if (info.hProcess) {
            WaitForSingleObject(info.hProcess, INFINITE);
            CloseHandle(info.hProcess);
        }
        return true;
    }

    bool removeFile(const std::string &path) override
    {
        if (DeleteFileW(toWide(path).c_str()))
            return true;
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }

    bool listLinkLocalInterfaces(InterfaceMap &out) override { return ::listLinkLocalInterfaces(out); }

    char separator() const override { return '\\'; }
};

} // namespace

std::unique_ptr<Platform> createSystemPlatform()
{
    return std::make_unique<WindowsPlatform>();
}
