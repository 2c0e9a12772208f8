// The target list, the interface and format choices, loading and saving.

#include "tests/config/DialogFixture.h"

#include "src/Network/AddressText.h"
#include "tests/support/TextContains.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

QStringList targetItems(Installation &inst)
{
    auto *list = inst.widget<QComboBox>("targetList");
    QStringList l;
    for (int i = 0; i < list->count(); ++i)
        l << list->itemText(i);
    return l;
}

std::string savedKey(Installation &inst, const char *key)
{
    IniFile saved;
    EXPECT_TRUE(saved.read(inst.settingsFile()));
    return saved.get(key);
}

void save(Installation &inst)
{
    inst.dialog().show();
    inst.widget<QPushButton>("saveButton")->click();
}

TEST(Targets, DisplayNamesAndTheirOrder)
{
    Installation inst;
    inst.writeStandardFiles();
    FakeDriver &drv = fakeDriver();
    // Two outputs of one host that differ only by port: told apart by PO.
    addTarget(drv, node("fe80::10", 5000, 3), "Player", 1);
    addTarget(drv, node("fe80::10", 5001, 3), "Player", 2);
    // The same name from two hosts: listed once, the later in map order wins.
    addTarget(drv, node("fe80::20", 5000, 3), "Kitchen", 0);
    addTarget(drv, node("fe80::21", 5000, 3), "Kitchen", 4);
    // Same address on another interface is no sibling.
    addTarget(drv, node("fe80::30", 5000, 3), "Attic", 0);
    addTarget(drv, node("fe80::30", 5000, 4), "Attic 2", 0);
    inst.start();
    EXPECT_EQ(targetItems(inst), QStringList({"AUTO", "Attic", "Attic 2", "Kitchen", "Player:1", "Player:2"}));
    const auto &t = inst.probe().targets();
    ASSERT_EQ(t.size(), 6u);
    EXPECT_TRUE(t[0].isAuto());
    EXPECT_EQ(formatAddress(t[3].address.address), "fe80::21");
    EXPECT_EQ(t[3].po, 4);
    EXPECT_EQ(t[5].address.hostPort(), 5001);
    EXPECT_EQ(t[5].address.interfaceIndex, 3);
}

TEST(Targets, SavedTargetIsSelectedByAddressAndPO)
{
    struct Case {
        const char *name;
        const char *address;
        const char *po;
        const char *current;
    };
    const Case cases[] = {
        {"same address and PO, other port", "fe80::10,9999", "2", "Player:2"},
        {"other PO", "fe80::10,5000", "3", "AUTO"},
        {"unparsable address keeps AUTO", "fe80::10", "2", "AUTO"},
        {"AUTO", "::,0", "0", "AUTO"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Installation inst;
        inst.writeStandardFiles();
        addTarget(fakeDriver(), node("fe80::10", 5000, 3), "Player", 1);
        addTarget(fakeDriver(), node("fe80::10", 5001, 3), "Player", 2);
        inst.write("settings/main.inf",
                   std::string("Version=2\nTargetAddress=") + c.address + "\nTargetPO=" + c.po + "\n");
        inst.start();
        EXPECT_EQ(inst.widget<QComboBox>("targetList")->currentText(), c.current);
    }
}

// A chosen target that a search misses stays chosen for the next search.
TEST(Targets, ChoiceSurvivesASearchThatMissesIt)
{
    Installation inst;
    inst.writeStandardFiles();
    addTarget(fakeDriver(), node("fe80::10", 5000, 3), "Player", 1);
    inst.start();
    auto *list = inst.widget<QComboBox>("targetList");
    list->setCurrentIndex(1);
    const auto saved = fakeDriver().targets;
    fakeDriver().targets.clear();
    inst.widget<QPushButton>("findButton")->click();
    EXPECT_EQ(targetItems(inst), QStringList({"AUTO"}));
    fakeDriver().targets = saved;
    inst.widget<QPushButton>("findButton")->click();
    EXPECT_EQ(list->currentText(), "Player");
}

TEST(Targets, FindAddressesAreCleanedAndSearched)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.write("settings/main.inf", "Version=2\nFindIP=fe80::1; bad;;FE80:0:0::2;1.2.3.4;::ffff:1.2.3.4;\n");
    inst.start();
    EXPECT_EQ(inst.widget<QLineEdit>("findIPEdit")->text(), "fe80::1;fe80::2");
    const auto &addresses = fakeDriver().searches.back().addresses;
    ASSERT_EQ(addresses.size(), 2u);
    EXPECT_EQ(formatAddress(addresses[1].address), "fe80::2");
    EXPECT_EQ(addresses[1].port, 0);
    EXPECT_EQ(addresses[1].interfaceIndex, 0);

    inst.widget<QLineEdit>("findIPEdit")->setText("nothing valid");
    inst.widget<QPushButton>("findButton")->click();
    EXPECT_EQ(inst.widget<QLineEdit>("findIPEdit")->text(), "");
    EXPECT_TRUE(fakeDriver().searches.back().addresses.empty());
}

TEST(Targets, InterfaceChoiceSearchesOnThatInterface)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.platform.adapters[node("fe80::1", 0, 7)] = {"eth0", "card"};
    inst.start();
    const size_t before = fakeDriver().searches.size();
    inst.widget<QComboBox>("interfaceList")->setCurrentIndex(1);
    ASSERT_EQ(fakeDriver().searches.size(), before + 1);
    EXPECT_EQ(fakeDriver().searches.back().interfaceNumber, 7u);
    save(inst);
    EXPECT_EQ(savedKey(inst, "Interface"), "7");
}

TEST(Targets, FormValuesLoadAndSave)
{
    struct Case {
        const char *key;
        const char *value;
        const char *widget;
        int index;
        const char *savedAs;
    };
    const Case cases[] = {
        {"PCMRequest", "CovertS32", "pcmList", 4, "CovertS32"},
        {"PCMRequest", "16", "pcmList", 3, "16"},
        {"PCMRequest", "24", "pcmList", 2, "24"},
        {"PCMRequest", "32", "pcmList", 1, "32"},
        {"PCMRequest", "64", "pcmList", 0, "64"},
        {"DSDMSB", "enable", "dsdlist", 1, "enable"},
        {"DSDMSB", "Enable", "dsdlist", 0, "disable"},
        {"SyncBufferCount", "3", "bcountBox", 0, "3"},
        {"SyncBufferCount", "16", "bcountBox", 13, "16"},
        {"SyncBufferCount", "17", "bcountBox", 3, "6"},
        {"SyncBufferCount", "2", "bcountBox", 3, "6"},
        {"SyncBufferCount", "", "bcountBox", 3, "6"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        Installation inst;
        inst.writeStandardFiles();
        inst.write("settings/main.inf", std::string("Version=2\n") + c.key + "=" + c.value + "\n");
        inst.start();
        EXPECT_EQ(inst.widget<QComboBox>(c.widget)->currentIndex(), c.index);
        save(inst);
        EXPECT_EQ(savedKey(inst, c.key), c.savedAs);
    }
}

// An unknown format leaves the choice as it was: shown by reloading, through
// the default button, shipped defaults with an unknown value over a choice
// that is not the list's first.
TEST(Targets, UnknownPCMRequestLeavesTheChoiceAsItWas)
{
    const struct {
        const char *loaded;  // in the main settings
        int index;           // the choice it makes
        const char *unknown; // in the shipped defaults; nullptr: no such key
    } cases[] = {
        {"16", 3, "8"},
        {"CovertS32", 4, "covertS32"},
        {"24", 2, nullptr},
        {"32", 1, "S32"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.loaded) + ", then " + (c.unknown ? c.unknown : "no key"));
        Installation inst;
        inst.writeStandardFiles();
        inst.write("setting_org.inf", std::string("Version=2\nPreset=Standard\nSyncBufferCount=5\n") +
                                          (c.unknown ? std::string("PCMRequest=") + c.unknown + "\n" : ""));
        inst.write("settings/main.inf", std::string("Version=2\nPCMRequest=") + c.loaded + "\n");
        inst.start();
        ASSERT_EQ(inst.widget<QComboBox>("pcmList")->currentIndex(), c.index);
        inst.widget<QPushButton>("defaultButton")->click();
        // The defaults were loaded (their count), the format stayed.
        EXPECT_EQ(inst.widget<QComboBox>("bcountBox")->currentText(), "5");
        EXPECT_EQ(inst.widget<QComboBox>("pcmList")->currentIndex(), c.index);
        save(inst);
        EXPECT_EQ(savedKey(inst, "PCMRequest"), c.loaded);
    }
}

TEST(Targets, AutoSavesTheZeroEndpoint)
{
    Installation inst;
    inst.writeStandardFiles();
    addTarget(fakeDriver(), node("fe80::10", 5000, 3), "Player", 1);
    inst.write("settings/main.inf", "Version=2\nTargetAddress=fe80::10,5000\nTargetPO=1\n");
    inst.start();
    inst.widget<QComboBox>("targetList")->setCurrentIndex(0);
    save(inst);
    EXPECT_EQ(savedKey(inst, "TargetAddress"), "::,0");
    EXPECT_EQ(savedKey(inst, "TargetPO"), "0");
}

// The whole image of a save: the loaded keys, the form's values, no range
// keys, in key order.
TEST(Targets, SaveWritesTheExpectedImage)
{
    Installation inst;
    inst.writeStandardFiles();
    addTarget(fakeDriver(), node("fe80::10", 5001, 3), "Player", 2);
    inst.write("settings/main.inf", "Version=2\nPreset=Standard\nUnknown=kept\nCycleTime=2000\n"
                                    "FlexCycle=enable\nLatencyBuffer=20000\n");
    Dialog &d = inst.start();
    d.show();
    inst.widget<QComboBox>("targetList")->setCurrentIndex(1);
    inst.widget<QComboBox>("pcmList")->setCurrentIndex(2);
    inst.widget<QComboBox>("latencyBox")->setCurrentText("7");
    inst.widget<QPushButton>("saveButton")->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(inst.read(inst.settingsFile()), "[global]\r\n"
                                              "ASIOBufferSize=0\r\n"
                                              "CycleTime=2000\r\n"
                                              "DSDMSB=disable\r\n"
                                              "FlexCycle=enable\r\n"
                                              "Interface=0\r\n"
                                              "LatencyBuffer=7000\r\n"
                                              "PCMRequest=24\r\n"
                                              "Preset=Standard\r\n"
                                              "SyncBufferCount=6\r\n"
                                              "TargetAddress=fe80::10,5001\r\n"
                                              "TargetPO=2\r\n"
                                              "Unknown=kept\r\n"
                                              "Version=2\r\n"
                                              "\r\n");
}

TEST(Targets, FailedWriteKeepsTheDialogOpen)
{
    Installation inst;
    inst.writeStandardFiles();
    fakeDriver().settingsPath = inst.programDir() + "no such folder/main.inf";
    Dialog &d = inst.start();
    d.show();
    ModalCloser closer;
    inst.widget<QPushButton>("saveButton")->click();
    EXPECT_EQ(closer.closed(), 1);
    EXPECT_TRUE(textContains(closer.lastText(), "could not be written"));
    EXPECT_TRUE(textContains(closer.lastText(), QString::fromStdString(fakeDriver().settingsPath)));
    EXPECT_TRUE(d.isVisible());
}

TEST(Targets, SaveWhileTheMonitorIsOpenKeepsTheDialog)
{
    Installation inst;
    inst.writeStandardFiles();
    Dialog &d = inst.start();
    d.show();
    inst.probe().setDebugWindowOpen(true);
    inst.widget<QPushButton>("saveButton")->click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(savedKey(inst, "SyncBufferCount"), "6");
}

TEST(Targets, CancelWritesNothing)
{
    Installation inst;
    inst.writeStandardFiles();
    const std::string mine = "Version=2\nSyncBufferCount=9\n";
    inst.write("settings/main.inf", mine);
    Dialog &d = inst.start();
    d.show();
    inst.widget<QComboBox>("bcountBox")->setCurrentIndex(0);
    inst.widget<QPushButton>("cancelButton")->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(inst.read(inst.settingsFile()), mine);
}

} // namespace
