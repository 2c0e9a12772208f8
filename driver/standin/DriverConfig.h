#pragma once

#include <cstdint>
#include <string>

// The stand-in driver's own configuration: the values its library reports
// to the configuration tool. They come from "driver.inf" (the settings
// syntax) in the library's folder, or from the file that the environment
// variable VELMORA_DRIVER_CONFIG names. The stand-in library and its
// set-up program both read it through this code, so they always agree on
// the settings path.
struct DriverConfig {
    std::string settingsPath;   // "SettingsPath": the main settings file
    uint64_t targetIdentifier = 0; // "TargetIdentifier", decimal; 0 = any target
    std::string driverVersion;  // "DriverVersion"
    std::string updateHost;     // "UpdateHost"
};

namespace driverconfig {

constexpr const char *kFileName = "driver.inf";
constexpr const char *kEnvironment = "VELMORA_DRIVER_CONFIG";
constexpr const char *kDefaultVersion = "1.0.0";

// The configuration file: $VELMORA_DRIVER_CONFIG when set and not empty,
// else "driver.inf" in libraryDir (a folder with its trailing "/").
std::string configFile(const std::string &libraryDir);

// Where the driver keeps its settings when the configuration names no
// place: "velmora/setting.inf" in the user's configuration folder
// ($XDG_CONFIG_HOME, else $HOME/.config). Empty when neither is set.
std::string defaultSettingsPath();

// Reads the configuration for a library in libraryDir. A missing
// "driver.inf" beside the library gives the defaults; a file named by the
// environment that cannot be read, or a bad value, also gives the defaults
// for what is missing, and a message in error (the result is still usable).
// A relative "SettingsPath" is taken relative to the configuration file's
// folder.
DriverConfig load(const std::string &libraryDir, std::string &error);

// Creates the folder of settingsPath (and its parents) if it is missing.
bool ensureSettingsFolder(const std::string &settingsPath);

} // namespace driverconfig
