#include "settings/IniFile.h"

#include "tests/settings/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

TEST(IniRead, MergesFileAndFailsWithoutChange)
{
    TempDir dir;
    writeBytes(dir.file("a.inf"), "\xEF\xBB\xBFk=1\r\n[s]\r\nx = y\r\n");
    IniFile ini;
    ini.set("other", "kept");
    ASSERT_TRUE(ini.read(dir.file("a.inf")));
    EXPECT_EQ(ini.text(), "[global]\r\nk=1\r\nother=kept\r\n\r\n[s]\r\nx=y\r\n\r\n");

    const std::string before = ini.text();
    writeBytes(dir.file("tab.inf"), "a=1\r\nb=\t\r\n");
    const std::string failing[] = {dir.file("missing.inf"), dir.file("tab.inf"), dir.path().string(), ""};
    for (const std::string &path : failing) {
        EXPECT_FALSE(ini.read(path)) << path;
        EXPECT_EQ(ini.text(), before) << path;
        EXPECT_EQ(ini.lastOrder(), 2) << path;
    }
}

TEST(IniRead, EmptyFileReadsAsEmptyStore)
{
    TempDir dir;
    writeBytes(dir.file("empty.inf"), "");
    IniFile ini;
    EXPECT_TRUE(ini.read(dir.file("empty.inf")));
    EXPECT_TRUE(ini.sections().empty());
}

TEST(IniWrite, BytesAreExactlyTheImageAndReplaceOldFile)
{
    TempDir dir;
    const std::string path = dir.file("setting.inf");
    writeBytes(path, std::string(5000, 'x') + "=old\r\n");
#ifndef _WIN32
    ::chmod(path.c_str(), 0640);
#endif

    IniFile ini;
    ASSERT_TRUE(ini.parse("B=2\r\na=\xC3\xA4 utf8\r\n[p]\r\nq=1\r\n"));
    ASSERT_TRUE(ini.write(path));
    EXPECT_EQ(readBytes(path), ini.text());
    EXPECT_EQ(dir.entryCount(), 1u) << "no temporary file is left behind";
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replacement keeps the old file's permissions";
#endif

    IniFile back;
    ASSERT_TRUE(back.read(path));
    EXPECT_EQ(back.text(), ini.text());

    // An empty store writes an empty file.
    ASSERT_TRUE(IniFile().write(path));
    EXPECT_EQ(readBytes(path), "");
}

TEST(IniWrite, CreatesNewFileAndFailsInMissingFolder)
{
    TempDir dir;
    IniFile ini;
    ini.set("k", "v");
    ASSERT_TRUE(ini.write(dir.file("new.inf")));
    EXPECT_EQ(readBytes(dir.file("new.inf")), "[global]\r\nk=v\r\n\r\n");
    EXPECT_FALSE(ini.write(dir.file("no/such/folder.inf")));
    EXPECT_FALSE(ini.write(dir.path().string())) << "a folder is not replaced";
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
    EXPECT_FALSE(ini.write(""));
}

TEST(IniWrite, FailedWriteLeavesOldFileIntact)
{
    TempDir dir;
    const std::string path = dir.file("setting.inf");
    const std::string old = "[global]\r\nTargetPO=7\r\n\r\n";
    writeBytes(path, old);

    IniFile ini;
    ini.set("TargetPO", "8");
    ini.set("Other", std::string(10000, 'z'));
    size_t calls = 0;
    // The disk fills after half of the image.
    ini.setChunkWriter([&calls](const char *data, size_t size, std::FILE *file) {
        ++calls;
        return std::fwrite(data, 1, size / 2, file);
    });
    EXPECT_FALSE(ini.write(path));
    EXPECT_EQ(calls, 1u) << "the image goes out in one writer call";
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(dir.entryCount(), 1u) << "the partial temporary file is removed";

    // A writer that reports success for everything: the same store writes.
    ini.setChunkWriter(
        [](const char *data, size_t size, std::FILE *file) { return std::fwrite(data, 1, size, file); });
    EXPECT_TRUE(ini.write(path));
    EXPECT_EQ(readBytes(path), ini.text());
}

TEST(IniWrite, RefusesImageTheReaderWouldReject)
{
    TempDir dir;
    const std::string path = dir.file("setting.inf");
    const std::string old = "[global]\r\nFindIP=fe80::1\r\n\r\n";
    writeBytes(path, old);
    const std::pair<std::string, std::string> bad[] = {
        {"FindIP", "fe80::1\tfe80::2"},
        {"FindIP", "x\r\nDebug=enable"},
        {"Key\n", "v"},
    };
    for (const auto &kv : bad) {
        IniFile ini;
        ASSERT_TRUE(ini.read(path));
        ini.set(kv.first, kv.second);
        EXPECT_FALSE(ini.write(path)) << testing::PrintToString(kv.second);
        EXPECT_EQ(readBytes(path), old);
    }
    // A control byte in a value that is left out of the image does no harm.
    IniFile ini;
    ASSERT_TRUE(ini.read(path));
    ini.set("Key\t", "");
    EXPECT_TRUE(ini.write(path));
}

// A name the reader would take back as another key (or drop) is refused as
// well: "Find=IP" would come back as "Find" holding "IP=...", a forged key.
TEST(IniWrite, RefusesNameThatWouldNotReadBackAsItself)
{
    TempDir dir;
    const std::string path = dir.file("setting.inf");
    const std::string old = "[global]\r\nFindIP=fe80::1\r\n\r\n";
    writeBytes(path, old);
    const char *const bad[] = {"",        "Find=IP", "=FindIP", " FindIP",
                               "FindIP ", ";FindIP", "#FindIP", "[FindIP]"};
    for (const char *name : bad) {
        IniFile ini;
        ASSERT_TRUE(ini.read(path));
        ini.set(name, "fe80::2");
        fileio::FileError error = fileio::FileError::None;
        EXPECT_FALSE(ini.write(path, &error)) << '"' << name << '"';
        EXPECT_EQ(error, fileio::FileError::Invalid) << '"' << name << '"';
        EXPECT_EQ(readBytes(path), old) << '"' << name << '"';
    }
    // Inner spaces and the other signs are names like any other; spaces
    // around a value are trimmed by the reader, as the driver trims them.
    IniFile ini;
    ini.set("Find IP;#[]", "  fe80::2 ");
    ASSERT_TRUE(ini.write(path));
    IniFile back;
    ASSERT_TRUE(back.read(path));
    EXPECT_EQ(back.get("Find IP;#[]"), "fe80::2");
    EXPECT_EQ(back.sections().at(IniFile::kGlobal).size(), 1u);
}

TEST(IniPaths, Utf8NamesReachTheFileSystemAsTheirCharacters)
{
    TempDir dir;
    const std::string name = "einstellung-\xC3\xA4\xE2\x82\xAC-\xF0\x9D\x84\x9E.inf";
    IniFile ini;
    ini.set("k", "v");
    ASSERT_TRUE(ini.write(dir.file(name)));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / std::filesystem::u8path(name)));
    IniFile back;
    ASSERT_TRUE(back.read(dir.file(name)));
    EXPECT_EQ(back.get("k"), "v");
    EXPECT_FALSE(back.read(dir.file("") + "broken-\xC3(.inf")) << "not UTF-8";
}

#ifdef _WIN32
// The driver's file functions take paths of at most 259 UTF-16 units.
TEST(IniPaths, AtMost259Utf16Units)
{
    TempDir dir;
    const std::string base = dir.file("");
    ASSERT_LT(base.size() + 10, 259u);
    const size_t room = 259 - base.size() - 4; // ".inf"
    struct Case {
        std::string name;
        bool ok;
    };
    const Case cases[] = {
        {std::string(room, 'a') + ".inf", true},
        {std::string(room + 1, 'b') + ".inf", false},
        // Two-byte UTF-8 characters count one unit each.
        {std::string(room - 2, 'c') + "\xC3\xA4\xC3\xB6.inf", true},
        // A character beyond the basic plane counts two.
        {std::string(room - 1, 'd') + "\xF0\x9D\x84\x9E.inf", false},
    };
    for (const Case &c : cases) {
        IniFile ini;
        ini.set("k", "v");
        EXPECT_EQ(ini.write(dir.file(c.name)), c.ok) << c.name.size();
        IniFile back;
        EXPECT_EQ(back.read(dir.file(c.name)), c.ok) << c.name.size();
        if (c.ok) {
            EXPECT_EQ(back.get("k"), "v");
        }
    }
    EXPECT_EQ(dir.entryCount(), 2u) << "only the two written files, no temporary ones";
}
#else
TEST(IniWrite, WritesThroughSymbolicLink)
{
    TempDir dir;
    writeBytes(dir.file("real.inf"), "a=1\r\n");
    std::filesystem::create_symlink(dir.file("real.inf"), dir.file("link.inf"));
    IniFile ini;
    ini.set("a", "2");
    ASSERT_TRUE(ini.write(dir.file("link.inf")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.inf")));
    EXPECT_EQ(readBytes(dir.file("real.inf")), "[global]\r\na=2\r\n\r\n");
}
#endif

} // namespace
