#include "settings/SettingsFiles.h"

#include <cstring>
#include <vector>

namespace settings {

bool isEnabled(const std::string &flagValue)
{
    return flagValue == value::kEnable;
}

bool hasFeature(const std::string &asioSetting, const std::string &word)
{
    return asioSetting.find(word) != std::string::npos;
}

bool isRangeKey(const std::string &key)
{
    const size_t n = std::strlen(key::kPreset);
    return key.size() > n && key.compare(0, n, key::kPreset) == 0;
}

void dropRangeKeys(IniFile &settings)
{
    const auto global = settings.sections().find(IniFile::kGlobal);
    if (global == settings.sections().end())
        return;
    std::vector<std::string> range;
    for (const auto &entry : global->second) {
        if (isRangeKey(entry.first))
            range.push_back(entry.first);
    }
    for (const std::string &k : range)
        settings.set(k, std::string());
}

std::string settingsDirectory(const std::string &settingsPath)
{
    const size_t last = settingsPath.find_last_of("\\/");
    return last == std::string::npos ? std::string() : settingsPath.substr(0, last + 1);
}

std::string debugSwitchPath(const std::string &settingsPath)
{
    // Without a settings folder there is no place for the switch: never the
    // current folder.
    const std::string dir = settingsDirectory(settingsPath);
    return dir.empty() ? std::string() : dir + file::kDebug;
}

IniFile debugSwitch()
{
    IniFile store;
    store.set(key::kDebug, value::kEnable);
    return store;
}

bool writeDebugSwitch(const std::string &path)
{
    return debugSwitch().write(path);
}

} // namespace settings
