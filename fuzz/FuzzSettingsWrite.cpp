// The settings store's write path on arbitrary keys and values: a few
// set() calls, a write to a file in a scratch folder, a read back. Either
// the write is refused (Invalid) and the file on disk keeps its old bytes,
// or a fresh store reading the file holds exactly what was set: every key
// with its value (less the spaces around it, which the format does not
// keep), and no key that was not set.
#include "settings/FileIo.h"
#include "settings/IniFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>

namespace {

std::string trimmed(const std::string &value)
{
    const size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

std::string g_folder;
std::string g_file;

void removeScratch()
{
    std::remove(g_file.c_str());
    rmdir(g_folder.c_str());
}

// One folder per process under /tmp, removed at exit.
const std::string &scratchFile()
{
    if (g_file.empty()) {
        char pattern[] = "/tmp/velmora-fuzz-settings-XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        g_folder = pattern;
        g_file = g_folder + "/velmora.ini";
        std::atexit(removeScratch);
    }
    return g_file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &path = scratchFile();
    FuzzedDataProvider input(data, size);

    IniFile ini;
    std::map<std::string, std::string> expected;
    const int count = input.ConsumeIntegralInRange<int>(1, 8);
    for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        const std::string key = input.ConsumeRandomLengthString(64);
        const std::string value = input.ConsumeRandomLengthString(128);
        ini.set(key, value);
        expected[key] = trimmed(value);
    }

    std::string before;
    const bool hadFile = fileio::readWholeFile(path, before);

    fileio::FileError error = fileio::FileError::None;
    if (!ini.write(path, &error)) {
        // Refused: only for content the store cannot hold, and the old file
        // stays byte for byte.
        check(error == fileio::FileError::Invalid);
        std::string after;
        check(fileio::readWholeFile(path, after) == hadFile);
        check(after == before);
        return 0;
    }
    check(error == fileio::FileError::None);

    IniFile back;
    fileio::FileError readError = fileio::FileError::None;
    check(back.read(path, &readError));
    check(readError == fileio::FileError::None);
    for (const auto &entry : expected)
        check(back.get(entry.first) == entry.second);
    // Nothing but what was set (keys set to empty are not written at all;
    // a value of spaces only reads back empty).
    for (const auto &section : back.sections()) {
        check(section.first == IniFile::kGlobal);
        for (const auto &entry : section.second) {
            const auto wanted = expected.find(entry.first);
            check(wanted != expected.end() && wanted->second == entry.second.value);
        }
    }
    return 0;
}
