// Files at settings paths are hostile input: links, pipes, huge files,
// files of other users, several programs at once. One row per case, each
// with what must hold afterwards.

#include "settings/FileIo.h"
#include "settings/IniFile.h"

#include "tests/settings/TempDir.h"
#include "tests/support/TextContains.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using fileio::FileError;
using Clock = std::chrono::steady_clock;

const std::string kOld = "[global]\r\nTargetPO=7\r\nVersion=1\r\n\r\n";
const std::string kNew = "[global]\r\nTargetPO=8\r\n\r\n";

size_t fwriteAll(const char *data, size_t size, std::FILE *file)
{
    return std::fwrite(data, 1, size, file);
}

bool isRoot()
{
#ifdef _WIN32
    return false;
#else
    return geteuid() == 0;
#endif
}

#ifndef _WIN32
constexpr uid_t kOther = 65534; // nobody: a second user id without creating users

struct Owner {
    uid_t uid;
    gid_t gid;
    mode_t mode;
    ino_t ino;
};
Owner ownerOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return {st.st_uid, st.st_gid, st.st_mode & 07777, st.st_ino};
}

// Runs fn in a child process as the user nobody; true when fn returned
// true there.
bool asOtherUser(const std::function<bool()> &fn)
{
    return testchild::runForked([&] {
               if (setgid(kOther) != 0 || setuid(kOther) != 0)
                   return 3;
               return fn() ? 0 : 1;
           }) == 0;
}
#endif

// What a row checks after its action.
struct Outcome {
    bool ok = false;
    FileError error = FileError::None;
};

struct Row {
    std::string name;
    bool needsRoot;
    // Sets up dir and acts on it; checks of its own go through EXPECT.
    std::function<Outcome(TempDir &dir)> act;
    Outcome expected;
};

Outcome writeNew(const std::string &path)
{
    Outcome o;
    o.ok = fileio::replaceFile(path, kNew, fwriteAll, &o.error);
    return o;
}

Outcome readInto(const std::string &path, std::string &bytes)
{
    Outcome o;
    o.ok = fileio::readWholeFile(path, bytes, &o.error);
    return o;
}

std::vector<Row> rows()
{
    std::vector<Row> r;
#ifndef _WIN32
    // Row 1: a user's link to a root-owned file.
    r.push_back({"link_of_other_user_to_root_file_not_written",
                 true,
                 [](TempDir &dir) {
                     const std::string target = dir.file("root-owned");
                     writeBytes(target, kOld);
                     ::symlink(target.c_str(), dir.file("setting.inf").c_str());
                     EXPECT_EQ(::lchown(dir.file("setting.inf").c_str(), kOther, kOther), 0);
                     const Outcome o = writeNew(dir.file("setting.inf"));
                     EXPECT_EQ(readBytes(target), kOld) << "content kept byte for byte";
                     return o;
                 },
                 {false, FileError::UnsafeLink}});
    r.push_back({"link_of_other_user_to_root_file_not_read_by_root",
                 true,
                 [](TempDir &dir) {
                     writeBytes(dir.file("secret"), "password=x\r\n");
                     ::symlink(dir.file("secret").c_str(), dir.file("setting.inf").c_str());
                     EXPECT_EQ(::lchown(dir.file("setting.inf").c_str(), kOther, kOther), 0);
                     std::string bytes = "untouched";
                     const Outcome o = readInto(dir.file("setting.inf"), bytes);
                     EXPECT_EQ(bytes, "untouched");
                     return o;
                 },
                 {false, FileError::UnsafeLink}});
    r.push_back({"link_in_folder_path_of_other_user_not_written",
                 true,
                 [](TempDir &dir) {
                     std::filesystem::create_directory(dir.path() / "real");
                     writeBytes(dir.file("real/setting.inf"), kOld);
                     ::symlink(dir.file("real").c_str(), dir.file("folder").c_str());
                     EXPECT_EQ(::lchown(dir.file("folder").c_str(), kOther, kOther), 0);
                     const Outcome o = writeNew(dir.file("folder/setting.inf"));
                     EXPECT_EQ(readBytes(dir.file("real/setting.inf")), kOld);
                     return o;
                 },
                 {false, FileError::UnsafeLink}});
    r.push_back({"link_of_owner_of_target_is_followed",
                 true,
                 [](TempDir &dir) {
                     const std::string target = dir.file("users-own");
                     writeBytes(target, kOld);
                     EXPECT_EQ(::chown(target.c_str(), kOther, kOther), 0);
                     ::symlink(target.c_str(), dir.file("setting.inf").c_str());
                     EXPECT_EQ(::lchown(dir.file("setting.inf").c_str(), kOther, kOther), 0);
                     const Outcome o = writeNew(dir.file("setting.inf"));
                     EXPECT_EQ(readBytes(target), kNew);
                     EXPECT_TRUE(std::filesystem::is_symlink(dir.file("setting.inf"))) << "the link survives";
                     EXPECT_EQ(ownerOf(target).uid, kOther);
                     return o;
                 },
                 {true, FileError::None}});
    r.push_back({"own_link_is_followed",
                 false,
                 [](TempDir &dir) {
                     writeBytes(dir.file("real.inf"), kOld);
                     ::symlink(dir.file("real.inf").c_str(), dir.file("setting.inf").c_str());
                     const Outcome o = writeNew(dir.file("setting.inf"));
                     EXPECT_EQ(readBytes(dir.file("real.inf")), kNew);
                     std::string bytes;
                     EXPECT_TRUE(readInto(dir.file("setting.inf"), bytes).ok);
                     EXPECT_EQ(bytes, kNew);
                     return o;
                 },
                 {true, FileError::None}});
    // Row 2: root writes a user's private file.
    r.push_back({"owner_group_mode_kept",
                 true,
                 [](TempDir &dir) {
                     const std::string path = dir.file("setting.inf");
                     writeBytes(path, kOld);
                     EXPECT_EQ(::chown(path.c_str(), kOther, kOther), 0);
                     EXPECT_EQ(::chmod(path.c_str(), 0600), 0);
                     const Outcome o = writeNew(path);
                     const Owner after = ownerOf(path);
                     EXPECT_EQ(after.uid, kOther);
                     EXPECT_EQ(after.gid, kOther);
                     EXPECT_EQ(after.mode, 0600u);
                     EXPECT_EQ(readBytes(path), kNew);
                     EXPECT_TRUE(asOtherUser([path] {
                         std::string bytes;
                         return fileio::readWholeFile(path, bytes) && bytes == kNew;
                     })) << "the user still reads their file";
                     return o;
                 },
                 {true, FileError::None}});
    r.push_back({"hard_link_written_in_place",
                 false,
                 [](TempDir &dir) {
                     const std::string path = dir.file("setting.inf");
                     writeBytes(path, kOld);
                     EXPECT_EQ(::link(path.c_str(), dir.file("other-name.inf").c_str()), 0);
                     const ino_t before = ownerOf(path).ino;
                     const Outcome o = writeNew(path);
                     EXPECT_EQ(readBytes(dir.file("other-name.inf")), kNew) << "both names see the change";
                     EXPECT_EQ(ownerOf(path).ino, before);
                     EXPECT_EQ(dir.entryCount(), 2u);
                     return o;
                 },
                 {true, FileError::None}});
    r.push_back({"hard_link_to_system_file_in_users_folder_not_written",
                 true,
                 [](TempDir &dir) {
                     std::filesystem::create_directory(dir.path() / "user");
                     EXPECT_EQ(::chown(dir.file("user").c_str(), kOther, kOther), 0);
                     writeBytes(dir.file("system.conf"), kOld);
                     EXPECT_EQ(::link(dir.file("system.conf").c_str(), dir.file("user/setting.inf").c_str()),
                               0);
                     const Outcome o = writeNew(dir.file("user/setting.inf"));
                     EXPECT_EQ(readBytes(dir.file("system.conf")), kOld);
                     return o;
                 },
                 {false, FileError::UnsafeHardLink}});
    // Row 3: special files are refused at once.
    for (const char *what : {"read", "write", "stream"}) {
        const std::string mode = what;
        r.push_back({"fifo_refused_at_once_" + mode,
                     false,
                     [mode](TempDir &dir) {
                         const std::string path = dir.file("setting.inf");
                         EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
                         const auto start = Clock::now();
                         Outcome o;
                         std::string bytes;
                         if (mode == "read")
                             o = readInto(path, bytes);
                         else if (mode == "write")
                             o = writeNew(path);
                         else
                             o.ok = fileio::streamFile(
                                 path, [](const char *, size_t) { return true; }, &o.error);
                         EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
                         struct stat st;
                         EXPECT_EQ(::lstat(path.c_str(), &st), 0);
                         EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe is left as it was";
                         return o;
                     },
                     {false, FileError::NotRegular}});
    }
    r.push_back({"device_refused",
                 false,
                 [](TempDir &) {
                     std::string bytes;
                     return readInto("/dev/zero", bytes);
                 },
                 {false, FileError::NotRegular}});
    // Row 6: a folder the user cannot write, a file they can.
    r.push_back({"unwritable_folder_writable_file_written_in_place",
                 true,
                 [](TempDir &dir) {
                     const std::string path = dir.file("setting.inf");
                     writeBytes(path, kOld);
                     EXPECT_EQ(::chown(path.c_str(), kOther, kOther), 0);
                     EXPECT_EQ(::chmod(dir.path().c_str(), 0755), 0);
                     const bool ok =
                         asOtherUser([path] { return fileio::replaceFile(path, kNew, fwriteAll); });
                     EXPECT_EQ(readBytes(path), kNew);
                     EXPECT_EQ(dir.entryCount(), 1u);
                     return Outcome{ok, FileError::None};
                 },
                 {true, FileError::None}});
    // Row 7: a 2 GiB file (sparse: no disk space, no time).
    r.push_back({"two_gib_file_refused_without_reading",
                 false,
                 [](TempDir &dir) {
                     const std::string path = dir.file("setting.inf");
                     writeBytes(path, "");
                     EXPECT_EQ(::truncate(path.c_str(), 2ll << 30), 0);
                     const auto start = Clock::now();
                     std::string bytes;
                     const Outcome o = readInto(path, bytes);
                     EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
                     EXPECT_TRUE(bytes.empty());
                     return o;
                 },
                 {false, FileError::TooLarge}});
    // Row 8: a file that reports size 0 but has content.
    r.push_back({"proc_file_read_to_its_end",
                 false,
                 [](TempDir &) {
                     std::string bytes;
                     const Outcome o = readInto("/proc/self/status", bytes);
                     EXPECT_TRUE(textContains(bytes, "Pid:"));
                     return o;
                 },
                 {true, FileError::None}});
#endif
#ifdef _WIN32
    // Row 3 on Windows: a device name is refused by its handle's type.
    r.push_back({"device_refused",
                 false,
                 [](TempDir &) {
                     std::string bytes;
                     return readInto("NUL", bytes);
                 },
                 {false, FileError::NotRegular}});
    r.push_back({"hard_link_written_in_place",
                 false,
                 [](TempDir &dir) {
                     const std::string path = dir.file("setting.inf");
                     writeBytes(path, kOld);
                     std::error_code ec;
                     std::filesystem::create_hard_link(std::filesystem::u8path(path),
                                                       std::filesystem::u8path(dir.file("other-name.inf")),
                                                       ec);
                     EXPECT_FALSE(ec) << ec.message();
                     const Outcome o = writeNew(path);
                     EXPECT_EQ(readBytes(dir.file("other-name.inf")), kNew) << "both names see the change";
                     EXPECT_EQ(dir.entryCount(), 2u);
                     return o;
                 },
                 {true, FileError::None}});
#endif
    // Row 6: a name near the file system's limit of 255 bytes.
    r.push_back({"long_name_written_with_short_temporary",
                 false,
                 [](TempDir &dir) {
#ifdef _WIN32
                     // Windows paths stop at 259 units in all.
                     const size_t room = 259 - dir.file("").size();
                     const std::string path = dir.file(std::string(room - 4, 'n') + ".inf");
#else
                     const std::string path = dir.file(std::string(245, 'n') + ".inf");
#endif
                     writeBytes(path, kOld);
                     const Outcome o = writeNew(path);
                     EXPECT_EQ(readBytes(path), kNew);
                     EXPECT_EQ(dir.entryCount(), 1u);
                     return o;
                 },
                 {true, FileError::None}});
    // Row 7: just above the cap.
    r.push_back({"file_above_one_mib_refused",
                 false,
                 [](TempDir &dir) {
                     const std::string path = dir.file("setting.inf");
                     writeBytes(path, std::string(fileio::kMaxSettingsFileSize + 1, 'k'));
                     std::string bytes;
                     IniFile store;
                     fileio::FileError e;
                     EXPECT_FALSE(store.read(path, &e));
                     EXPECT_EQ(e, FileError::TooLarge);
                     writeBytes(path, "k=" + std::string(fileio::kMaxSettingsFileSize - 2, 'v'));
                     EXPECT_TRUE(store.read(path)) << "exactly the cap is read";
                     writeBytes(path, std::string(fileio::kMaxSettingsFileSize + 1, 'k'));
                     return readInto(path, bytes);
                 },
                 {false, FileError::TooLarge}});
    // Row 4: a rejected file's bytes are kept beside it.
    r.push_back({"rejected_file_kept_as_backup",
                 false,
                 [](TempDir &dir) {
                     const std::string path = dir.file("setting.inf");
                     const std::string rejected = "a=1\r\nFindIP=fe80::1\tfe80::2\r\n";
                     writeBytes(path, rejected);
#ifndef _WIN32
                     ::chmod(path.c_str(), 0600);
#endif
                     bool older = true;
                     Outcome o;
                     o.ok = fileio::keepRejectedFile(path, older, &o.error);
                     EXPECT_FALSE(older);
                     EXPECT_EQ(readBytes(dir.file("setting.inf.rejected")), rejected);
                     EXPECT_EQ(readBytes(path), rejected) << "the file itself stays until it is replaced";
#ifndef _WIN32
                     EXPECT_EQ(ownerOf(dir.file("setting.inf.rejected")).mode, 0600u)
                         << "the copy is as private as the file";
#endif
                     writeBytes(path, "second\t\r\n");
                     EXPECT_TRUE(fileio::keepRejectedFile(path, older));
                     EXPECT_TRUE(older) << "an earlier backup is replaced, and the caller is told";
                     EXPECT_EQ(readBytes(dir.file("setting.inf.rejected")), "second\t\r\n");
                     EXPECT_EQ(dir.entryCount(), 2u);
                     return o;
                 },
                 {true, FileError::None}});
#ifndef _WIN32
    r.push_back({"unreadable_rejected_file_moved_aside",
                 true,
                 [](TempDir &dir) {
                     const std::string path = dir.file("setting.inf");
                     writeBytes(path, kOld);
                     EXPECT_EQ(::chmod(path.c_str(), 0600), 0); // root's, unreadable for nobody
                     EXPECT_EQ(::chown(dir.path().c_str(), kOther, kOther), 0);
                     const bool ok = asOtherUser([path] {
                         bool older = false;
                         return fileio::keepRejectedFile(path, older);
                     });
                     EXPECT_FALSE(fileio::pathExists(path));
                     EXPECT_EQ(readBytes(dir.file("setting.inf.rejected")), kOld);
                     EXPECT_EQ(ownerOf(dir.file("setting.inf.rejected")).uid, 0u);
                     return Outcome{ok, FileError::None};
                 },
                 {true, FileError::None}});
#endif
    // Row 5: an update lock that stays taken is reported, not waited for
    // forever.
    r.push_back({"lock_held_elsewhere_is_busy",
                 false,
                 [](TempDir &dir) {
                     const std::string path = dir.file("setting.inf");
                     fileio::UpdateLock first;
                     EXPECT_TRUE(first.acquire(path));
                     fileio::UpdateLock second;
                     Outcome o;
                     const auto start = Clock::now();
                     o.ok = second.acquire(path, std::chrono::milliseconds(200), &o.error);
                     EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));
                     first.release();
                     EXPECT_TRUE(second.acquire(path, std::chrono::milliseconds(200)));
                     EXPECT_TRUE(fileio::pathExists(fileio::lockFilePath(path)));
                     return o;
                 },
                 {false, FileError::Busy}});
    return r;
}

void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}

class FileSafety : public ::testing::TestWithParam<Row> {};

TEST_P(FileSafety, Row)
{
    const Row &row = GetParam();
    if (row.needsRoot && !isRoot())
        GTEST_SKIP() << "needs root to make files of another user";
    TempDir dir;
    const Outcome got = row.act(dir);
    EXPECT_EQ(got.ok, row.expected.ok);
    EXPECT_EQ(static_cast<int>(got.error), static_cast<int>(row.expected.error))
        << fileio::describe(got.error);
#ifndef _WIN32
    ::chmod(dir.path().c_str(), 0700);
    ::chown(dir.path().c_str(), 0, 0);
#endif
}

INSTANTIATE_TEST_SUITE_P(Table, FileSafety, ::testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<Row> &info) { return info.param.name; });

// Row 5: read-modify-write under the lock from many threads at once: no
// change is lost.
TEST(FileLock, ConcurrentUpdatesAllArrive)
{
    TempDir dir;
    const std::string path = dir.file("setting.inf");
    constexpr int kWriters = 20;
    std::vector<std::thread> writers;
    std::vector<int> ok(kWriters, 0);
    for (int i = 0; i < kWriters; ++i) {
        writers.emplace_back([&, i] {
            fileio::UpdateLock lock;
            if (!lock.acquire(path))
                return;
            IniFile store;
            store.read(path);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            store.set("Key" + std::to_string(i), std::to_string(i));
            ok[i] = store.write(path) ? 1 : 0;
        });
    }
    for (std::thread &t : writers)
        t.join();
    IniFile back;
    ASSERT_TRUE(back.read(path));
    for (int i = 0; i < kWriters; ++i) {
        EXPECT_EQ(ok[i], 1) << i;
        EXPECT_EQ(back.get("Key" + std::to_string(i)), std::to_string(i)) << "change " << i << " lost";
    }
}

TEST(FileNames, BackupAndLockNamesStayWithinTheNameLimit)
{
    EXPECT_EQ(fileio::rejectedBackupPath("/a/setting.inf"), "/a/setting.inf.rejected");
    EXPECT_EQ(fileio::lockFilePath("/a/setting.inf"), "/a/setting.inf.lock");
    const std::string longName(250, 'x');
    EXPECT_EQ(fileio::lockFilePath("/a/" + longName), "/a/" + std::string(250, 'x') + ".lock");
    EXPECT_EQ(fileio::rejectedBackupPath("/a/" + longName), "/a/" + std::string(246, 'x') + ".rejected");
    // Not cut inside a two-byte character.
    const std::string umlauts = std::string(245, 'x') + "\xC3\xA4\xC3\xA4\xC3\xA4";
    EXPECT_EQ(fileio::rejectedBackupPath(umlauts), std::string(245, 'x') + ".rejected");
}

} // namespace
