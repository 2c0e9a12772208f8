#include "src/Platform/Platform.h"

#include "src/Network/Socket/Socket.h"
#include "tests/settings/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
constexpr const char *kExt = ".dll";
constexpr const char *kCapsExt = ".DLL";
constexpr const char *kLibPrefix = "lib";
#else
constexpr const char *kExt = ".so";
constexpr const char *kCapsExt = ".SO";
constexpr const char *kLibPrefix = "lib";
#endif

// The file a loaded function comes from.
fs::path libraryOf(DllVelmorafindFn fn)
{
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<void *>(fn)), &module))
        return {};
    wchar_t buffer[1024];
    const DWORD n = GetModuleFileNameW(module, buffer, 1024);
    return fs::path(std::wstring(buffer, n));
#else
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(fn), &info) == 0 || !info.dli_fname)
        return {};
    return fs::path(info.dli_fname);
#endif
}

class PlatformTest : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = createSystemPlatform();

    fs::path testLib(const std::string &name) const
    {
        return fs::path(platform->programDirectory()) / "platform-libs" / (kLibPrefix + name + kExt);
    }
};

TEST_F(PlatformTest, ProgramDirectoryIsTheRunningProgramsFolderWithSeparator)
{
    const std::string dir = platform->programDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), platform->separator());
    // The helper libraries are built beside this test program.
    EXPECT_TRUE(fs::is_directory(fs::path(dir) / "platform-libs")) << dir;
}

enum class Lib { Entry, NoEntry, Garbage };

struct WalkCase {
    const char *name;
    std::vector<std::pair<std::string, Lib>> files; // relative path (with kExt for "*"), content
    const char *found;                              // relative path of the library found, or nullptr
};

// "*" in a name stands for this platform's library extension, "^" for it in
// capitals.
std::string expand(std::string name)
{
    for (size_t at; (at = name.find('*')) != std::string::npos;)
        name.replace(at, 1, kExt);
    for (size_t at; (at = name.find('^')) != std::string::npos;)
        name.replace(at, 1, kCapsExt);
    return name;
}

const WalkCase kWalkCases[] = {
    {"LibraryInSubfolderIsFound", {{"a/b/libdrv*", Lib::Entry}}, "a/b/libdrv*"},
    {"CapitalisedExtensionIsNotTried", {{"libdrv^", Lib::Entry}}, nullptr},
    {"OtherSuffixesAreNotTried", {{"libdrv*.1", Lib::Entry}, {"libdrv*x", Lib::Entry}}, nullptr},
    {"LibraryWithoutEntryDoesNotEndTheWalk", {{"libplain*", Lib::NoEntry}, {"sub/libdrv*", Lib::Entry}},
     "sub/libdrv*"},
    {"FileThatDoesNotLoadDoesNotEndTheWalk", {{"broken*", Lib::Garbage}, {"z/libdrv*", Lib::Entry}},
     "z/libdrv*"},
    {"OnlyLibrariesWithoutEntry", {{"libplain*", Lib::NoEntry}, {"d/libother*", Lib::NoEntry}}, nullptr},
    {"EmptyFolder", {}, nullptr},
};

class WalkTest : public PlatformTest, public ::testing::WithParamInterface<WalkCase> {
};

TEST_P(WalkTest, FindsTheFirstLibraryWithTheEntry)
{
    const WalkCase &c = GetParam();
    TempDir dir;
    for (const auto &file : c.files) {
        const fs::path target = dir.path() / expand(file.first);
        fs::create_directories(target.parent_path());
        if (file.second == Lib::Garbage)
            writeBytes(target.string(), "not a library\n");
        else
            fs::copy_file(testLib(file.second == Lib::Entry ? "platform_entry_lib" : "platform_noentry_lib"),
                          target);
    }
    const DllVelmorafindFn fn = platform->findDriverEntry(dir.path().string());
    if (!c.found) {
        EXPECT_EQ(fn, nullptr);
        return;
    }
    ASSERT_NE(fn, nullptr);
    EXPECT_TRUE(fs::equivalent(libraryOf(fn), dir.path() / expand(c.found))) << libraryOf(fn);
    DriverFinder *finder = fn();
    ASSERT_NE(finder, nullptr);
    std::string text;
    finder->settingsPath(text);
    EXPECT_EQ(text, "walk-test-entry");
    finder->release();
}

INSTANTIATE_TEST_SUITE_P(Layouts, WalkTest, ::testing::ValuesIn(kWalkCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PlatformTest, WalkOfAMissingFolderFindsNothing)
{
    TempDir dir;
    EXPECT_EQ(platform->findDriverEntry(dir.file("missing")), nullptr);
}

TEST_F(PlatformTest, SetupProgramIsRunAndWaitedFor)
{
    const fs::path setupDir = fs::path(platform->programDirectory()) / "platform-setup";
    const fs::path marker = setupDir / "setup-ran.txt";
    fs::remove(marker);
    std::string dir = setupDir.string();
    dir += platform->separator();
    ASSERT_TRUE(platform->runSetupProgram(dir));
    // The helper writes its marker only after a pause: a run that did not
    // wait would find no file here.
    ASSERT_TRUE(fs::exists(marker));
    // What the helper saw as its own program directory, in the same form.
    EXPECT_EQ(readBytes(marker.string()), dir);
    fs::remove(marker);
}

TEST_F(PlatformTest, MissingSetupProgramIsNotStarted)
{
    TempDir dir;
    EXPECT_FALSE(platform->runSetupProgram(dir.path().string()));
}

TEST_F(PlatformTest, RemoveFile)
{
    TempDir dir;
    const std::string file = dir.file("debug.inf");
    writeBytes(file, "Debug=enable\r\n");
    EXPECT_TRUE(platform->removeFile(file));
    EXPECT_FALSE(fs::exists(file));
    // Gone already: not an error.
    EXPECT_TRUE(platform->removeFile(file));
    // A folder is not a file to remove.
    fs::create_directory(dir.path() / "folder");
    EXPECT_FALSE(platform->removeFile(dir.file("folder")));
    EXPECT_TRUE(fs::is_directory(dir.path() / "folder"));
}

} // namespace
