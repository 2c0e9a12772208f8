#include "driver/standin/DriverConfig.h"

#include "settings/IniFile.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace driverconfig {

namespace {

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool fileExists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Decimal digits only, within 64 bits: the all-ones identifier
// 18446744073709551615 must survive, which a signed read would saturate.
bool parseIdentifier(const std::string &text, uint64_t &out)
{
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

} // namespace

std::string configFile(const std::string &libraryDir)
{
    const char *env = std::getenv(kEnvironment);
    if (env && *env)
        return env;
    return libraryDir + kFileName;
}

std::string defaultSettingsPath()
{
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be
    // ignored.
    if (xdg && xdg[0] == '/')
        base = xdg;
    else if (const char *home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        return {};
    if (base.back() != '/')
        base += '/';
    return base + "velmora/setting.inf";
}

DriverConfig load(const std::string &libraryDir, std::string &error)
{
    error.clear();
    DriverConfig config;
    config.driverVersion = kDefaultVersion;

    const std::string file = configFile(libraryDir);
    const char *env = std::getenv(kEnvironment);
    const bool named = env && *env;
    IniFile ini;
    if (!ini.read(file)) {
        // Beside the library the file is optional; one named on purpose
        // must be there.
        if (named || fileExists(file))
            error = "cannot read the driver configuration " + file + "; using the defaults";
    }

    config.settingsPath = ini.get("SettingsPath");
    if (config.settingsPath.empty())
        config.settingsPath = defaultSettingsPath();
    else if (config.settingsPath[0] != '/')
        config.settingsPath = folderOf(file) + config.settingsPath;

    const std::string identifier = ini.get("TargetIdentifier");
    if (!identifier.empty() && !parseIdentifier(identifier, config.targetIdentifier)) {
        config.targetIdentifier = 0;
        error = "TargetIdentifier \"" + identifier + "\" in " + file +
                " is not a decimal number of at most 64 bits; using 0 (any target)";
    }
    if (const std::string version = ini.get("DriverVersion"); !version.empty())
        config.driverVersion = version;
    config.updateHost = ini.get("UpdateHost");
    return config;
}

bool ensureSettingsFolder(const std::string &settingsPath)
{
    const std::string folder = folderOf(settingsPath);
    if (folder.empty())
        return false;
    // Each level in turn, as mkdir -p does.
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at == folder.size() || folder[at] == '/') {
            const std::string part = folder.substr(0, at);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st;
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace driverconfig
