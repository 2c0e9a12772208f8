#include "settings/SettingsFiles.h"

#include "tests/settings/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DebugSwitch, ImageIsExact)
{
    EXPECT_EQ(settings::debugSwitch().text(), "[global]\r\nDebug=enable\r\n\r\n");
    TempDir dir;
    const std::string path = settings::debugSwitchPath(dir.file("velmora.inf"));
    EXPECT_EQ(path, dir.file("debug.inf"));
    ASSERT_TRUE(settings::writeDebugSwitch(path));
    EXPECT_EQ(readBytes(path), "[global]\r\nDebug=enable\r\n\r\n");
    EXPECT_FALSE(settings::writeDebugSwitch(dir.file("missing/debug.inf")));
}

TEST(SettingsDirectory, UpToLastSeparator)
{
    const std::pair<const char *, const char *> cases[] = {
        {"C:\\Users\\me\\AppData\\velmora\\setting.inf", "C:\\Users\\me\\AppData\\velmora\\"},
        {"/home/me/.velmora/setting.inf", "/home/me/.velmora/"},
        {"C:\\mixed/dir\\file.inf", "C:\\mixed/dir\\"},
        {"setting.inf", ""},
        {"", ""},
        {"dir\\", "dir\\"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(settings::settingsDirectory(c.first), c.second) << c.first;
    EXPECT_EQ(settings::debugSwitchPath("C:\\s\\setting.inf"), "C:\\s\\debug.inf");
}

TEST(RangeKeys, StartWithPresetAndLonger)
{
    const std::pair<const char *, bool> cases[] = {
        {"Preset", false},
        {"PresetCycleRange", true},
        {"PresetASIOBufferSizeRange", true},
        {"PresetLatencyBuffereRange", true},
        {"Presets", true},
        {"preset", false},
        {"presetCycleRange", false},
        {"Prese", false},
        {"XPresetCycleRange", false},
        {"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(settings::isRangeKey(c.first), c.second) << c.first;
}

TEST(RangeKeys, KeptUntilSaveDropsThem)
{
    IniFile ini;
    ASSERT_TRUE(ini.parse("Preset=Low\r\nPresetCycleRange=500-1000,100\r\nCycleTime=500\r\n"
                          "[Low]\r\nPresetCycleRange=1\r\n"));
    EXPECT_EQ(ini.get(settings::key::kPresetCycleRange), "500-1000,100");
    settings::dropRangeKeys(ini);
    EXPECT_EQ(ini.text(),
              "[Low]\r\nPresetCycleRange=1\r\n\r\n[global]\r\nCycleTime=500\r\nPreset=Low\r\n\r\n")
        << "only global range keys go; the profile section and \"Preset\" stay";
    IniFile none;
    settings::dropRangeKeys(none);
    EXPECT_TRUE(none.sections().empty());
}

TEST(Flags, OnlyExactEnable)
{
    EXPECT_TRUE(settings::isEnabled("enable"));
    for (const char *off : {"Enable", "ENABLE", "enable ", "", "disable", "1"})
        EXPECT_FALSE(settings::isEnabled(off)) << off;
}

TEST(Features, SubstringCaseSensitive)
{
    const std::string setting = "Format|BufferCycleX,Simple";
    EXPECT_TRUE(settings::hasFeature(setting, settings::feature::kFormat));
    EXPECT_TRUE(settings::hasFeature(setting, settings::feature::kBuffer));
    EXPECT_TRUE(settings::hasFeature(setting, settings::feature::kCycle));
    EXPECT_TRUE(settings::hasFeature(setting, settings::feature::kSimple));
    EXPECT_FALSE(settings::hasFeature(setting, settings::feature::kLatency));
    EXPECT_FALSE(settings::hasFeature("format", settings::feature::kFormat));
    EXPECT_EQ(sizeof(settings::feature::kGroups) / sizeof(settings::feature::kGroups[0]), 7u);
}

TEST(MainSettings, UnknownKeySurvivesLoadAndSaveInKeyOrder)
{
    TempDir dir;
    const std::string path = dir.file("setting.inf");
    writeBytes(path, "Zeta=keep me\r\nPCMRequest=CovertS32\r\nDSDMSB=Enable\r\nAlpha=1\r\n");
    IniFile ini;
    ASSERT_TRUE(ini.read(path));
    EXPECT_EQ(ini.get(settings::key::kPCMRequest), settings::value::kCovertS32);
    EXPECT_FALSE(settings::isEnabled(ini.get(settings::key::kDSDMSB)));
    ini.set(settings::key::kDSDMSB, settings::value::kDisable);
    ASSERT_TRUE(ini.write(path));
    EXPECT_EQ(readBytes(path),
              "[global]\r\nAlpha=1\r\nDSDMSB=disable\r\nPCMRequest=CovertS32\r\nZeta=keep me\r\n\r\n");
}

} // namespace
