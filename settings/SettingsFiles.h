#pragma once

#include "settings/IniFile.h"

#include <string>

// The driver's settings files: every file name, key and fixed value that
// the tool and the driver share is named here once. All keys live in the
// section "global" (IniFile::kGlobal), except in the preset file, whose
// sections are the preset profiles.

namespace settings {

// Files. The shipped ones are looked up in the program directory; the
// debug switch lives in the settings directory (beside the main settings
// file, whose path the driver reports).
namespace file {
constexpr char kSettingOrg[] = "setting_org.inf";   // shipped defaults, never written
constexpr char kSettingPath[] = "setting_path.inf"; // installation check, never written
constexpr char kPreset[] = "preset.inf";            // preset profiles, never written
constexpr char kDebug[] = "debug.inf";              // the driver's debug switch
constexpr char kSetupProgram[] = "setting_path.exe";
constexpr char kLabelImage[] = "label.png";
} // namespace file

// Keys of the main settings file (the same keys may stand in
// "setting_org.inf" with their shipped values).
namespace key {
constexpr char kVersion[] = "Version";                 // text, compared with setting_org.inf
constexpr char kPreset[] = "Preset";                   // text: a section of preset.inf
constexpr char kInterface[] = "Interface";             // integer: interface index, 0 = AUTO
constexpr char kTargetAddress[] = "TargetAddress";     // endpoint "address,port"
constexpr char kTargetPO[] = "TargetPO";               // integer 0..65535
constexpr char kFindIP[] = "FindIP";                   // text: addresses joined by ";"
constexpr char kPCMRequest[] = "PCMRequest";           // "64", "32", "24", "16" or "CovertS32"
constexpr char kDSDMSB[] = "DSDMSB";                   // flag
constexpr char kSyncBufferCount[] = "SyncBufferCount"; // integer 3..16
constexpr char kASIOBufferSize[] = "ASIOBufferSize";   // integer, 0 = none fixed
constexpr char kASIOBufferSizeMin[] = "ASIOBufferSizeMin";
constexpr char kASIOBufferSizeMax[] = "ASIOBufferSizeMax";
constexpr char kASIOBufferMulti[] = "ASIOBufferMulti";               // flag
constexpr char kCycleTime[] = "CycleTime";                           // integer, microseconds
constexpr char kTargetProfileLimitTime[] = "TargetProfileLimitTime"; // integer, microseconds, 0 = none
constexpr char kFlexCycle[] = "FlexCycle";                           // "fixAsio", "enable" or other
constexpr char kLatencyBuffer[] = "LatencyBuffer"; // integer, microseconds, 0 = the target's preference
// Range keys supplied by presets; dropped before every save.
constexpr char kPresetASIOBufferSizeRange[] = "PresetASIOBufferSizeRange";
constexpr char kPresetCycleRange[] = "PresetCycleRange";
constexpr char kPresetLatencyBuffereRange[] = "PresetLatencyBuffereRange";

// Only in "setting_org.inf".
constexpr char kPreview[] = "Preview";         // flag: developer preview
constexpr char kAsioSetting[] = "AsioSetting"; // feature words

// Only in "setting_path.inf".
constexpr char kSettingPath[] = "SettingPath";

// Only in "debug.inf".
constexpr char kDebug[] = "Debug";
} // namespace key

// Fixed values.
namespace value {
constexpr char kEnable[] = "enable";
constexpr char kDisable[] = "disable";
constexpr char kPcm64[] = "64";
constexpr char kPcm32[] = "32";
constexpr char kPcm24[] = "24";
constexpr char kPcm16[] = "16";
constexpr char kCovertS32[] = "CovertS32";
constexpr char kFixAsio[] = "fixAsio"; // FlexCycle
} // namespace value

// Words of "AsioSetting", each tested as a case-sensitive substring.
namespace feature {
constexpr char kFormat[] = "Format";
constexpr char kBuffer[] = "Buffer";
constexpr char kCycle[] = "Cycle";
constexpr char kLatency[] = "Latency";
constexpr char kEther[] = "Ether";
constexpr char kFindIP[] = "FindIP";
constexpr char kInfo[] = "Info";
// The seven words that each show a group of the form, in this order.
constexpr const char *kGroups[] = {kFormat, kBuffer, kCycle, kLatency, kEther, kFindIP, kInfo};
// Selects the compact layout.
constexpr char kSimple[] = "Simple";
} // namespace feature

// A flag is on only when it is exactly "enable".
bool isEnabled(const std::string &flagValue);
// Whether word occurs anywhere in the "AsioSetting" text.
bool hasFeature(const std::string &asioSetting, const std::string &word);

// Keys that start with "Preset" and are longer than "Preset" are preset
// range keys: never saved to the main settings file.
bool isRangeKey(const std::string &key);
// Sets every range key of "global" to the empty string, so the next write
// leaves them out.
void dropRangeKeys(IniFile &settings);

// The settings directory of a main settings file path: the path up to and
// including its last "\" (or "/"); empty when it has none.
std::string settingsDirectory(const std::string &settingsPath);
// Where the debug switch goes for a main settings file path; empty when
// the path has no folder part.
std::string debugSwitchPath(const std::string &settingsPath);

// The debug switch file's store: "Debug" = "enable" in "global". Its
// image is "[global]" CR LF "Debug=enable" CR LF CR LF.
IniFile debugSwitch();
// Writes the debug switch to path; false if the write failed.
bool writeDebugSwitch(const std::string &path);

} // namespace settings
