// The stand-in for the driver's set-up program "setting_path": records in
// "setting_path.inf" beside itself the settings path for which this
// installation is set up, so that the configuration tool finds the two in
// agreement at its next start. The tool runs it without arguments when they
// differ (after the installation was moved or the driver configured anew).
#include "driver/standin/DriverConfig.h"
#include "settings/IniFile.h"
#include "src/Platform/Platform.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char *kPathFile = "setting_path.inf";
constexpr const char *kPathKey = "SettingPath";

void usage(std::FILE *to)
{
    std::fprintf(to,
                 "usage: setting_path [--help]\n"
                 "\n"
                 "Sets up the stand-in ASIO driver in the folder of this program: writes\n"
                 "\"%s\" there with the key \"%s\", the driver's main settings\n"
                 "file, and creates that file's folder if it is missing. The settings file\n"
                 "comes from \"SettingsPath\" of the driver's configuration: the file named by\n"
                 "%s, else \"%s\" beside this program; without one it\n"
                 "is \"velmora/setting.inf\" in the user's configuration folder.\n"
                 "Exit status: 0 when done, 1 on failure, 2 on a bad command line.\n",
                 kPathFile, kPathKey, driverconfig::kEnvironment, driverconfig::kFileName);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1) {
        if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
            usage(stdout);
            return 0;
        }
        std::fprintf(stderr, "setting_path: unexpected argument \"%s\"\n\n", argv[1]);
        usage(stderr);
        return 2;
    }

    const std::string dir = createSystemPlatform()->programDirectory();
    if (dir.empty()) {
        std::fprintf(stderr, "setting_path: cannot tell the folder of this program\n");
        return 1;
    }
    std::string error;
    const DriverConfig config = driverconfig::load(dir, error);
    if (!error.empty())
        std::fprintf(stderr, "setting_path: %s\n", error.c_str());
    if (config.settingsPath.empty()) {
        std::fprintf(stderr, "setting_path: no settings path: set SettingsPath in %s, or HOME\n",
                     driverconfig::configFile(dir).c_str());
        return 1;
    }
    if (!driverconfig::ensureSettingsFolder(config.settingsPath))
        std::fprintf(stderr, "setting_path: cannot create the folder of %s (going on)\n",
                     config.settingsPath.c_str());

    IniFile ini;
    ini.set(kPathKey, config.settingsPath);
    const std::string file = dir + kPathFile;
    if (!ini.write(file)) {
        std::fprintf(stderr, "setting_path: cannot write %s\n", file.c_str());
        return 1;
    }
    std::printf("setting_path: %s=%s written to %s\n", kPathKey, config.settingsPath.c_str(), file.c_str());
    return 0;
}
