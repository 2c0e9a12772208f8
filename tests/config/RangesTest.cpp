// The buffer, cycle and latency rules and the info pane. Each case sets the
// in-memory settings of a started dialog, rebuilds the controls and looks
// at the controls and at what their change handlers left in the settings.

#include "tests/config/DialogFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace {

class Ranges : public ::testing::Test {
protected:
    void SetUp() override
    {
        inst.writeStandardFiles();
        inst.start();
    }
    IniFile &settings() { return inst.probe().settings(); }
    void set(const char *key, const std::string &value) { settings().set(key, value); }
    std::string get(const char *key) { return settings().get(key); }
    QStringList items(const char *box)
    {
        auto *b = inst.widget<QComboBox>(box);
        QStringList l;
        for (int i = 0; i < b->count(); ++i)
            l << b->itemText(i);
        return l;
    }
    QString info() { return inst.widget<QLabel>("infoLable")->text(); }

    Installation inst;
};

TEST_F(Ranges, BufferSizes)
{
    struct Case {
        const char *name;
        const char *range;
        const char *stored;
        QStringList sizes; // after item 0
        int current;
        const char *storedAfter;
    };
    const QStringList doubling = {"64", "128", "256", "512", "1024", "2048"};
    QStringList wide;
    for (int64_t s = 1; s <= 2147483647; s *= 2)
        wide << QString::number(s);
    const Case cases[] = {
        {"no range", "", "512", {}, 0, "0"},
        {"stored size offered", "64-2048", "512", doubling, 4, "512"},
        {"stored size not offered", "64-2048", "500", doubling, 0, "0"},
        {"single size", "512", "512", {"512"}, 1, "512"},
        {"reversed bounds", "2048-64", "512", {}, 0, "0"},
        {"zero low bound", "0-2048", "512", {}, 0, "0"},
        {"negative low bound", "-64-2048", "64", {}, 0, "0"},
        {"not a number", "abc", "512", {}, 0, "0"},
        {"up to the 32-bit limit", "1-2147483647", "1073741824", wide, 31, "1073741824"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        set("ASIOBufferSizeMin", "64");
        set("ASIOBufferSizeMax", "4096");
        set("PresetASIOBufferSizeRange", c.range);
        set("ASIOBufferSize", c.stored);
        inst.probe().applyRanges();
        EXPECT_EQ(items("bsizeBox"), QStringList({"64-4096"}) + c.sizes);
        EXPECT_EQ(inst.widget<QComboBox>("bsizeBox")->currentIndex(), c.current);
        EXPECT_EQ(get("ASIOBufferSize"), c.storedAfter);
    }
}

TEST_F(Ranges, BufferItemZeroShowsTheStoredBounds)
{
    set("ASIOBufferSizeMin", "");
    set("ASIOBufferSizeMax", "");
    inst.probe().applyRanges();
    EXPECT_EQ(items("bsizeBox").value(0), "0-0");
}

TEST_F(Ranges, CycleTime)
{
    struct Case {
        const char *name;
        const char *range;
        const char *limit;
        const char *flex;
        int before; // what the spin box shows before
        const char *stored;
        bool spin; // spin box shown (else the read-only edit)
        int min, max, step, value;
        const char *label;
        const char *edit; // nullptr: not checked
        const char *storedAfter;
    };
    const Case cases[] = {
        {"range clamps and stores", "500-4000,250", "", "", 2000, "5000", true, 500, 4000, 250, 4000,
         "usec 500-4000", nullptr, "4000"},
        {"range already at the clamp", "500-4000,250", "", "", 4000, "5000", true, 500, 4000, 250, 4000,
         "usec 500-4000", nullptr, "5000"},
        {"inside the range", "500-4000,250", "", "", 2000, "1000", true, 500, 4000, 250, 1000, "usec 500-4000",
         nullptr, "1000"},
        {"limit and cycle", "", "1000", "", 500, "2000", false, 2000, 2000, 1, 2000, "usec", "1000-2000", "2000"},
        {"cycle alone", "", "", "enable", 500, "2000", false, 2000, 2000, 1, 2000, "usec", "2000", "2000"},
        {"follows the buffer", "", "", "fixAsio", 500, "2000", false, 0, 0, 1, 0, "", "ASIO Buffer", "0"},
        {"limit overrides fixAsio", "", "1000", "fixAsio", 500, "2000", false, 2000, 2000, 1, 2000, "usec",
         "1000-2000", "2000"},
    };
    auto *box = inst.widget<QSpinBox>("cycleBox");
    auto *edit = inst.widget<QLineEdit>("cycleEdit");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // Put the spin box where the case wants it first.
        set("PresetCycleRange", "0-100000,1");
        set("CycleTime", std::to_string(c.before));
        inst.probe().applyRanges();
        ASSERT_EQ(box->value(), c.before);

        set("PresetCycleRange", c.range);
        set("TargetProfileLimitTime", c.limit);
        set("FlexCycle", c.flex);
        set("CycleTime", c.stored);
        inst.probe().applyRanges();
        EXPECT_EQ(box->isHidden(), !c.spin);
        EXPECT_EQ(box->isEnabled(), c.spin);
        EXPECT_EQ(edit->isHidden(), c.spin);
        EXPECT_EQ(box->minimum(), c.min);
        EXPECT_EQ(box->maximum(), c.max);
        EXPECT_EQ(box->singleStep(), c.step);
        EXPECT_EQ(box->value(), c.value);
        EXPECT_EQ(inst.widget<QLabel>("cycleLabel")->text(), c.label);
        if (c.edit) {
            EXPECT_EQ(edit->text(), c.edit);
            EXPECT_TRUE(edit->isModified());
        }
        EXPECT_EQ(get("CycleTime"), c.storedAfter);
    }
}

TEST(RangesHiddenCycle, HiddenCycleGroupNeverWritesTheCycleTime)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.write("setting_org.inf", "Version=2\nPreset=Standard\nAsioSetting=Format Buffer Latency Info\n");
    inst.start();
    DialogProbe p = inst.probe();
    ASSERT_FALSE(p.cycleGroupShown());
    auto *box = inst.widget<QSpinBox>("cycleBox");
    const char *ranges[] = {"500-4000,250", ""};
    for (const char *range : ranges) {
        SCOPED_TRACE(range);
        p.settings().set("PresetCycleRange", range);
        p.settings().set("FlexCycle", "fixAsio");
        p.settings().set("CycleTime", "5000");
        p.applyRanges();
        EXPECT_EQ(p.settings().get("CycleTime"), "5000");
        box->setValue(box->value() == 0 ? 1 : 0);
        EXPECT_EQ(p.settings().get("CycleTime"), "5000");
        EXPECT_TRUE(box->isHidden());
        EXPECT_TRUE(inst.widgetByName("cycleEdit")->isHidden());
    }
}

TEST_F(Ranges, Latency)
{
    struct Case {
        const char *name;
        const char *range;
        const char *stored;
        QStringList items;
        int current;
        const char *storedAfter;
    };
    QStringList oneToTen;
    for (int i = 1; i <= 10; ++i)
        oneToTen << QString::number(i);
    const Case cases[] = {
        {"Prefer selected", "1000-10000,1000,Prefer", "0", QStringList("Prefer") + oneToTen, 0, "0"},
        {"value selected", "1000-10000,1000,Prefer", "3000", QStringList("Prefer") + oneToTen, 3, "3000"},
        {"whole milliseconds", "1000-10000,1000,Prefer", "2500", QStringList("Prefer") + oneToTen, 2, "2000"},
        {"no Prefer: first item", "1000-10000,1000", "0", oneToTen, 0, "1000"},
        {"no Prefer: not offered", "1000-10000,1000", "20000", oneToTen, 0, "1000"},
        {"step of 2 ms", "2000-9000,2000", "6000", {"2", "4", "6", "8"}, 2, "6000"},
        {"no range", "", "3000", {"Prefer"}, 0, "0"},
        {"other tail", "1000-3000,1000,Other", "0", {"1", "2", "3"}, 0, "1000"},
        {"reversed bounds", "10000-1000,1000", "3000", {}, -1, "0"},
        {"step below 1 ms", "1000-10000,500", "3000", {"Prefer"}, 0, "0"},
        {"step below 1 ms, Prefer", "1000-10000,500,Prefer", "3000", {"Prefer"}, 0, "0"},
        {"zero step", "1000-10000,0", "3000", {"Prefer"}, 0, "0"},
        {"negative step", "1000-10000,-1000", "3000", {"Prefer"}, 0, "0"},
        {"no comma", "5000", "5000", {"5"}, 0, "5000"}, // bounds and step are the whole text
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        set("PresetLatencyBuffereRange", c.range);
        set("LatencyBuffer", c.stored);
        inst.probe().applyRanges();
        EXPECT_EQ(items("latencyBox"), c.items);
        EXPECT_EQ(inst.widget<QComboBox>("latencyBox")->currentIndex(), c.current);
        EXPECT_EQ(get("LatencyBuffer"), c.storedAfter);
    }
}

TEST_F(Ranges, InfoPane)
{
    struct Case {
        const char *name;
        std::vector<std::pair<const char *, const char *>> keys;
        const char *text;
    };
    const Case cases[] = {
        {"follows the target",
         {{"CycleTime", "2000"}, {"FlexCycle", "enable"}, {"LatencyBuffer", "20000"}},
         "Cycle=500Hz \nFollow Target"},
        {"limit and warning",
         {{"CycleTime", "2000"}, {"TargetProfileLimitTime", "1000"}, {"LatencyBuffer", "5000"}},
         "Cycle=1000-500Hz \nFix Host\nWarning: Latency/CycleTime < 10"},
        {"fixed cycle, multi",
         {{"FlexCycle", "fixAsio"}, {"ASIOBufferSize", "512"}, {"ASIOBufferMulti", "enable"}, {"LatencyBuffer", "0"}},
         "Cycle=86/93Hz\nFollow Target"},
        {"fixed cycle, single",
         {{"FlexCycle", "fixAsio"}, {"ASIOBufferSize", "512"}, {"LatencyBuffer", "0"}},
         "Cycle=86/93Hz(or high for play format)\nFollow Target"},
        {"fixed cycle, no buffer", {{"FlexCycle", "fixAsio"}, {"ASIOBufferSize", "0"}, {"LatencyBuffer", "1"}},
         "Cycle=Player Buffer Setting"},
        {"no cycle time", {{"CycleTime", "0"}, {"LatencyBuffer", "1"}}, "Err CycleTime"},
        {"latency just under ten cycles", {{"CycleTime", "2000"}, {"LatencyBuffer", "19999"}},
         "Cycle=500Hz \nFix Host\nWarning: Latency/CycleTime < 10"},
        {"latency ten cycles", {{"CycleTime", "2000"}, {"LatencyBuffer", "20000"}}, "Cycle=500Hz \nFix Host"},
        {"Prefer counts as one second, warning", {{"CycleTime", "200000"}, {"LatencyBuffer", "0"}},
         "Cycle=5Hz \nFix Host\nWarning: Latency/CycleTime < 10"},
        {"Prefer counts as one second", {{"CycleTime", "100000"}, {"LatencyBuffer", "0"}}, "Cycle=10Hz \nFix Host"},
        // A buffer above 48000 samples runs below one cycle a second; its
        // real period (about 1.37 s) is longer than the one-second latency.
        {"fixed cycle, buffer above 48000",
         {{"FlexCycle", "fixAsio"}, {"ASIOBufferSize", "65536"}, {"ASIOBufferMulti", "enable"}, {"LatencyBuffer", "0"}},
         "Cycle=under 1Hz\nFollow Target\nWarning: Latency/CycleTime < 10"},
        {"fixed cycle, largest buffer",
         {{"FlexCycle", "fixAsio"}, {"ASIOBufferSize", "9223372036854775807"}, {"ASIOBufferMulti", "enable"}},
         "Cycle=under 1Hz\nFollow Target\nWarning: Latency/CycleTime < 10"},
        {"negative limit reads as a huge period", {{"CycleTime", "2000"}, {"TargetProfileLimitTime", "-1"}},
         "Cycle=0-500Hz \nFix Host\nWarning: Latency/CycleTime < 10"},
    };
    const char *all[] = {"CycleTime", "FlexCycle", "LatencyBuffer", "TargetProfileLimitTime", "ASIOBufferSize",
                         "ASIOBufferMulti"};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const char *k : all)
            set(k, "");
        for (const auto &kv : c.keys)
            set(kv.first, kv.second);
        inst.probe().showCycleInfo();
        EXPECT_EQ(info(), QString::fromUtf8(c.text));
    }
}

// The user's changes go through the same handlers and update the pane.
TEST_F(Ranges, UserChangesReachTheSettings)
{
    set("PresetASIOBufferSizeRange", "64-2048");
    set("PresetCycleRange", "500-4000,250");
    set("PresetLatencyBuffereRange", "1000-10000,1000,Prefer");
    set("FlexCycle", "enable");
    inst.probe().applyRanges();

    inst.widget<QComboBox>("bsizeBox")->setCurrentIndex(2);
    EXPECT_EQ(get("ASIOBufferSize"), "128");
    inst.widget<QComboBox>("bsizeBox")->setCurrentIndex(0);
    EXPECT_EQ(get("ASIOBufferSize"), "0");

    inst.widget<QSpinBox>("cycleBox")->setValue(1000);
    EXPECT_EQ(get("CycleTime"), "1000");
    inst.widget<QComboBox>("latencyBox")->setCurrentIndex(5);
    EXPECT_EQ(get("LatencyBuffer"), "5000");
    EXPECT_EQ(info(), "Cycle=1000Hz \nFollow Target\nWarning: Latency/CycleTime < 10");
    inst.widget<QComboBox>("latencyBox")->setCurrentIndex(0);
    EXPECT_EQ(get("LatencyBuffer"), "0");
    EXPECT_EQ(info(), "Cycle=1000Hz \nFollow Target");
}

} // namespace
