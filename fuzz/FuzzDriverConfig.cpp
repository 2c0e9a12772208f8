// The stand-in driver's configuration file on arbitrary contents. Checks
// what load() promises: the same file loads the same way twice; a file the
// settings reader rejects gives the defaults and a message; otherwise each
// value is what the file holds (a relative settings path taken beside the
// file, a version defaulting to kDefaultVersion), and the identifier is
// exactly the decimal number of at most 64 bits or else 0 with a message.
// A "DriverVersion" line appended after the fuzz bytes always wins, and
// changes nothing else.
#include "driver/standin/DriverConfig.h"
#include "settings/IniFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

std::string g_folder; // with its trailing "/"

void removeScratch()
{
    std::remove((g_folder + driverconfig::kFileName).c_str());
    rmdir(g_folder.c_str());
}

const std::string &scratchFolder()
{
    if (g_folder.empty()) {
        char pattern[] = "/tmp/velmora-fuzz-driverconfig-XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        g_folder = std::string(pattern) + "/";
        std::atexit(removeScratch);
        // The configuration beside the library, and a fixed default path.
        unsetenv(driverconfig::kEnvironment);
        unsetenv("XDG_CONFIG_HOME");
        setenv("HOME", "/nonexistent-fuzz-home", 1);
    }
    return g_folder;
}

void writeFile(const std::string &path, const std::string &bytes)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    check(file != nullptr);
    check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    check(std::fclose(file) == 0);
}

// Decimal digits only, at most 18446744073709551615, told apart by text
// comparison rather than arithmetic.
bool isIdentifier(const std::string &text, uint64_t &value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const std::string max = "18446744073709551615";
    std::string digits = text.substr(std::min(text.find_first_not_of('0'), text.size()));
    if (digits.size() > max.size() || (digits.size() == max.size() && digits > max))
        return false;
    // Leading zeros are allowed, but the whole text is limited to 20 digits.
    if (text.size() > 20)
        return false;
    value = digits.empty() ? 0 : std::strtoull(digits.c_str(), nullptr, 10);
    return true;
}

bool same(const DriverConfig &a, const DriverConfig &b)
{
    return a.settingsPath == b.settingsPath && a.targetIdentifier == b.targetIdentifier &&
           a.driverVersion == b.driverVersion && a.updateHost == b.updateHost;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &folder = scratchFolder();
    const std::string file = folder + driverconfig::kFileName;
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    writeFile(file, bytes);

    std::string error;
    const DriverConfig config = driverconfig::load(folder, error);
    std::string again;
    check(same(driverconfig::load(folder, again), config) && again == error);

    IniFile ini;
    if (!ini.parse(bytes)) {
        check(config.settingsPath == "/nonexistent-fuzz-home/.config/velmora/setting.inf");
        check(config.targetIdentifier == 0 && config.driverVersion == driverconfig::kDefaultVersion &&
              config.updateHost.empty());
        check(error.find("cannot read the driver configuration") == 0);
        return 0;
    }

    const std::string path = ini.get("SettingsPath");
    if (path.empty())
        check(config.settingsPath == "/nonexistent-fuzz-home/.config/velmora/setting.inf");
    else if (path[0] == '/')
        check(config.settingsPath == path);
    else
        check(config.settingsPath == folder + path);

    const std::string identifier = ini.get("TargetIdentifier");
    uint64_t value = 0;
    if (identifier.empty()) {
        check(config.targetIdentifier == 0 && error.empty());
    } else if (isIdentifier(identifier, value)) {
        check(config.targetIdentifier == value && error.empty());
    } else {
        check(config.targetIdentifier == 0);
        check(error.find("TargetIdentifier \"" + identifier + "\"") == 0);
    }

    const std::string version = ini.get("DriverVersion");
    check(config.driverVersion == (version.empty() ? std::string(driverconfig::kDefaultVersion) : version));
    check(config.updateHost == ini.get("UpdateHost"));

    // A line of its own at the end, back in the global section, survives
    // whatever came before it.
    writeFile(file, bytes + "\r\n[global]\r\nDriverVersion=9.9.9-fuzz\r\n");
    std::string appendedError;
    DriverConfig appended = driverconfig::load(folder, appendedError);
    check(appended.driverVersion == "9.9.9-fuzz" && appendedError == error);
    appended.driverVersion = config.driverVersion;
    check(same(appended, config));
    return 0;
}
