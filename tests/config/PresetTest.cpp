// Preset profiles: the list's order, choosing versus refreshing, and the
// range keys that never reach the settings file.

#include "tests/config/DialogFixture.h"

#include <QComboBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

QStringList listItems(Installation &inst)
{
    auto *list = inst.widget<QComboBox>("presetList");
    QStringList l;
    for (int i = 0; i < list->count(); ++i)
        l << list->itemText(i);
    return l;
}

TEST(Presets, ListOrderFollowsTheFile)
{
    struct Case {
        const char *name;
        const char *file;
        QStringList profiles;
    };
    const Case cases[] = {
        {"file order, whatever the keys", "[B]\nz=1\n[A]\ny=2\n[C]\na=3\n", {"B", "A", "C"}},
        {"keys before the first header", "x=1\n[P]\na=1\n", {"global", "P"}},
        {"repeated section moves with its smallest key", "[A]\nk=1\n[B]\nk=2\n[A]\nk=3\n", {"B", "A"}},
        {"repeated section keeps its place", "[A]\na=1\nz=1\n[B]\nk=1\n[A]\nz=2\n", {"A", "B"}},
        {"header alone is no profile", "[E]\n[A]\nk=1\n", {"A"}},
        {"letter case makes two profiles", "[abc]\nk=1\n[ABC]\nk=1\n", {"abc", "ABC"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Installation inst;
        inst.writeStandardFiles();
        inst.write("preset.inf", c.file);
        inst.start();
        EXPECT_EQ(listItems(inst), c.profiles);
        EXPECT_TRUE(inst.probe().presetsAvailable());
    }
}

TEST(Presets, IndicesFromTheStoredAndTheDefaultName)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.write("preset.inf", "[One]\nk=1\n[Two]\nk=1\n[Three]\nk=1\n");
    inst.write("setting_org.inf", "Version=2\nPreset=Three\nAsioSetting=Info\n");
    inst.write("settings/main.inf", "Version=2\nPreset=Two\n");
    inst.start();
    EXPECT_EQ(inst.probe().currentPresetIndex(), 1);
    EXPECT_EQ(inst.probe().defaultPresetIndex(), 2);
    EXPECT_EQ(inst.widget<QComboBox>("presetList")->currentIndex(), 1);
}

TEST(Presets, MissingFileHidesTheListAndAppliesNothing)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.remove("preset.inf");
    inst.write("settings/main.inf", "Version=2\nPreset=Standard\nPresetCycleRange=500-1000,250\nCycleTime=750\n");
    inst.start();
    DialogProbe p = inst.probe();
    EXPECT_FALSE(p.presetsAvailable());
    EXPECT_TRUE(inst.widgetByName("presetList")->isHidden());
    EXPECT_TRUE(inst.widgetByName("label_preset")->isHidden());
    // The settings file's own range keys are used as they stand.
    EXPECT_EQ(p.settings().get("PresetCycleRange"), "500-1000,250");
    EXPECT_EQ(p.settings().get("CycleTime"), "750");
    p.applyPreset("Standard");
    EXPECT_EQ(p.settings().get("Preset"), "Standard");
    EXPECT_EQ(p.settings().get("PresetCycleRange"), "500-1000,250");
}

class PresetChoice : public ::testing::Test {
protected:
    void SetUp() override
    {
        inst.writeStandardFiles();
        inst.write("settings/main.inf", "Version=2\nPreset=Standard\nOwnKey=mine\n");
        inst.start();
    }
    IniFile &settings() { return inst.probe().settings(); }
    Installation inst;
};

TEST_F(PresetChoice, SameNameOnlyRefreshesTheRanges)
{
    settings().set("CycleTime", "3000"); // the user's edit since the load
    settings().set("PresetCycleRange", "stale");
    inst.probe().applyPreset("Standard");
    EXPECT_EQ(settings().get("CycleTime"), "3000");
    EXPECT_EQ(settings().get("PresetCycleRange"), "500-4000,250");
    EXPECT_EQ(settings().get("Preset"), "Standard");
}

TEST_F(PresetChoice, OtherNameCopiesTheWholeProfile)
{
    settings().set("FlexCycle", "enable");
    inst.widget<QComboBox>("presetList")->setCurrentIndex(1); // "Low Latency", through the slot
    EXPECT_EQ(settings().get("Preset"), "Low Latency");
    EXPECT_EQ(settings().get("CycleTime"), "500");
    EXPECT_EQ(settings().get("LatencyBuffer"), "5000");
    EXPECT_EQ(settings().get("ASIOBufferSize"), "128");
    EXPECT_EQ(settings().get("PresetASIOBufferSizeRange"), "32-512");
    EXPECT_EQ(settings().get("PresetLatencyBuffereRange"), "1000-10000,1000");
    EXPECT_EQ(settings().get("FlexCycle"), "enable"); // not in the profile: kept
    EXPECT_EQ(settings().get("OwnKey"), "mine");
    // The slot rebuilt the controls from the new ranges.
    EXPECT_EQ(inst.widget<QComboBox>("bsizeBox")->currentText(), "128");
    EXPECT_EQ(inst.widget<QComboBox>("latencyBox")->currentText(), "5");
}

TEST_F(PresetChoice, EachChoiceReadsTheFileAfresh)
{
    inst.write("preset.inf", "[Standard]\nPresetCycleRange=100-200,50\n[Low Latency]\nCycleTime=999\n[New]\nk=1\n");
    inst.probe().applyPreset("");
    EXPECT_EQ(settings().get("PresetCycleRange"), "100-200,50");
    EXPECT_EQ(settings().get("PresetASIOBufferSizeRange"), ""); // emptied, not in the profile any more
    inst.probe().applyPreset("Low Latency");
    EXPECT_EQ(settings().get("CycleTime"), "999");
    EXPECT_EQ(listItems(inst), QStringList({"Standard", "Low Latency"})); // the list stays
}

TEST_F(PresetChoice, UnreadableFileAtChoiceLeavesTheSettings)
{
    const std::string before = settings().text();
    inst.write("preset.inf", "[Standard]\nbad\tline=1\n");
    inst.probe().applyPreset("Low Latency");
    EXPECT_EQ(settings().text(), before);
    inst.remove("preset.inf");
    inst.probe().applyPreset("");
    EXPECT_EQ(settings().text(), before);
}

TEST_F(PresetChoice, StoredNameWithoutProfileEmptiesTheRanges)
{
    settings().set("Preset", "Gone");
    inst.probe().applyPreset("");
    for (const char *k : {"PresetASIOBufferSizeRange", "PresetCycleRange", "PresetLatencyBuffereRange"})
        EXPECT_EQ(settings().get(k), "") << k;
    EXPECT_EQ(settings().get("Preset"), "Gone");
}

TEST_F(PresetChoice, SavedFileHoldsNoRangeKeys)
{
    settings().set("PresetSomethingElse", "x");
    inst.dialog().show();
    inst.widget<QPushButton>("saveButton")->click();
    IniFile saved;
    ASSERT_TRUE(saved.read(inst.settingsFile()));
    for (const auto &entry : saved.sections().at("global"))
        EXPECT_TRUE(entry.first.rfind("Preset", 0) != 0 || entry.first == "Preset") << entry.first;
    EXPECT_EQ(saved.get("Preset"), "Standard");
    EXPECT_EQ(saved.get("OwnKey"), "mine");
}

} // namespace
