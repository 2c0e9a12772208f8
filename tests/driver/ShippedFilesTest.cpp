// The files shipped in the program directory: readable by the settings
// store, complete, and with ranges the form can offer.
#include "settings/IniFile.h"
#include "tests/settings/TempDir.h"
#include "tests/support/TextContains.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

std::string shipped(const std::string &name)
{
    const char *dir = std::getenv("VELMORA_PROGRAM_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

// The shipped file name, read into file; the failure names the path and
// whether it is missing or unreadable.
testing::AssertionResult readShipped(const std::string &name, IniFile &file)
{
    const std::string path = shipped(name);
    if (!std::filesystem::exists(path))
        return testing::AssertionFailure() << path << " is missing (the build copies it from data/)";
    if (!file.read(path))
        return testing::AssertionFailure() << path << " exists but the settings store cannot read it";
    return testing::AssertionSuccess();
}

TEST(ShippedFiles, DefaultsHoldEveryKeyAndAllGroups)
{
    IniFile org;
    ASSERT_TRUE(readShipped("setting_org.inf", org));
    for (const char *key : {"Version", "Preset", "Preview", "AsioSetting", "Interface", "TargetAddress", "TargetPO",
                            "FindIP", "PCMRequest", "DSDMSB", "SyncBufferCount", "ASIOBufferSize",
                            "ASIOBufferSizeMin", "ASIOBufferSizeMax", "ASIOBufferMulti", "CycleTime",
                            "TargetProfileLimitTime", "FlexCycle", "LatencyBuffer"})
        EXPECT_EQ(org.sections().at(IniFile::kGlobal).count(key), 1u) << key;
    const std::string features = org.get("AsioSetting");
    for (const char *word : {"Format", "Buffer", "Cycle", "Latency", "Ether", "FindIP", "Info"})
        EXPECT_TRUE(textContains(features, word));
    EXPECT_TRUE(textLacks(features, "Simple"));
    EXPECT_EQ(org.get("TargetAddress"), "::,0");

    // The default preset is one of the shipped profiles.
    IniFile presets;
    ASSERT_TRUE(readShipped("preset.inf", presets));
    EXPECT_EQ(presets.sections().count(org.get("Preset")), 1u) << org.get("Preset");
}

long number(const std::string &text)
{
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' && !text.empty() ? v : -1;
}

TEST(ShippedFiles, PresetRangesAreWellFormed)
{
    IniFile presets;
    ASSERT_TRUE(readShipped("preset.inf", presets));
    bool cycleRange = false, noCycleRange = false, prefer = false, noPrefer = false;
    for (const auto &section : presets.sections()) {
        SCOPED_TRACE(section.first);
        const auto value = [&](const char *key) {
            const auto it = section.second.find(key);
            return it == section.second.end() ? std::string() : it->second.value;
        };
        // Buffer sizes: a power of two up to another (or one number).
        const std::string buffer = value("PresetASIOBufferSizeRange");
        ASSERT_FALSE(buffer.empty());
        const size_t dash = buffer.find('-');
        const long low = number(buffer.substr(0, dash));
        const long high = dash == std::string::npos ? low : number(buffer.substr(dash + 1));
        EXPECT_GT(low, 0);
        EXPECT_LE(low, high);
        EXPECT_EQ(low & (low - 1), 0) << "doubling from " << low;

        const std::string cycle = value("PresetCycleRange");
        (cycle.empty() ? noCycleRange : cycleRange) = true;
        if (!cycle.empty()) {
            const size_t comma = cycle.find(',');
            ASSERT_NE(comma, std::string::npos);
            const size_t d = cycle.find('-');
            EXPECT_LT(number(cycle.substr(0, d)), number(cycle.substr(d + 1, comma - d - 1)));
            EXPECT_GT(number(cycle.substr(comma + 1)), 0);
        }

        // Latencies: whole milliseconds, a step of at least one.
        const std::string latency = value("PresetLatencyBuffereRange");
        ASSERT_FALSE(latency.empty());
        const size_t c1 = latency.find(',');
        const size_t c2 = latency.find(',', c1 + 1);
        const std::string tail = c2 == std::string::npos ? "" : latency.substr(c2 + 1);
        EXPECT_TRUE(tail.empty() || tail == "Prefer") << tail;
        (tail.empty() ? noPrefer : prefer) = true;
        EXPECT_GE(number(latency.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1)), 1000);
        const size_t d = latency.find('-');
        EXPECT_LE(number(latency.substr(0, d)), number(latency.substr(d + 1, c1 - d - 1)));
    }
    EXPECT_TRUE(cycleRange && noCycleRange && prefer && noPrefer) << "every kind of range is shipped";
    EXPECT_GE(presets.sections().size(), 4u);
}

TEST(ShippedFiles, LabelIsA480By80Png)
{
#ifdef VELMORA_CORE_ONLY
    GTEST_SKIP() << "label.png is the main dialog's picture, shipped only by the full build "
                    "(this is a VELMORA_CORE_ONLY build)";
#endif
    const std::string path = shipped("label.png");
    ASSERT_TRUE(std::filesystem::exists(path)) << path << " is missing (the build copies it from data/)";
    const std::string png = readBytes(path);
    ASSERT_GT(png.size(), 24u) << path;
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    const auto be32 = [&](size_t at) {
        return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
               (uint32_t(uint8_t(png[at + 2])) << 8) | uint32_t(uint8_t(png[at + 3]));
    };
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(be32(16), 480u);
    EXPECT_EQ(be32(20), 80u);
}

} // namespace
