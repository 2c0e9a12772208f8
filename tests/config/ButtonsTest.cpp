// The default and debug buttons and the debug switch's end (the config
// button opens the update dialog, which searches the network: its tests run
// in the private test network, tests/update).

#include "tests/config/DialogFixture.h"
#include "tests/support/TextContains.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

const char kSwitchImage[] = "[global]\r\nDebug=enable\r\n\r\n";

class Buttons : public ::testing::Test {
protected:
    void SetUp() override
    {
        inst.writeStandardFiles();
        inst.write("settings/main.inf", mine);
        inst.start().show();
    }
    void click(const char *button) { inst.widget<QPushButton>(button)->click(); }
    const std::string mine = "Version=2\nPreset=Low Latency\nSyncBufferCount=9\nPCMRequest=16\nOwnKey=mine\n";
    Installation inst;
};

TEST_F(Buttons, DefaultThenCancelLeavesTheFile)
{
    click("defaultButton");
    EXPECT_EQ(inst.probe().settings().get("SyncBufferCount"), "6");
    EXPECT_EQ(inst.widget<QComboBox>("presetList")->currentText(), "Standard");
    click("cancelButton");
    EXPECT_EQ(inst.read(inst.settingsFile()), mine);
}

TEST_F(Buttons, DefaultThenSaveWritesTheDefaultsWithTheForm)
{
    click("defaultButton");
    EXPECT_EQ(inst.widget<QComboBox>("bcountBox")->currentText(), "6");
    EXPECT_EQ(inst.widget<QComboBox>("pcmList")->currentText(), "32bit");
    inst.widget<QComboBox>("dsdlist")->setCurrentIndex(1); // a change after the reload
    click("saveButton");
    EXPECT_EQ(inst.read(inst.settingsFile()), "[global]\r\n"
                                              "ASIOBufferSize=512\r\n"
                                              "ASIOBufferSizeMax=4096\r\n"
                                              "ASIOBufferSizeMin=64\r\n"
                                              "AsioSetting=Format,Buffer,Cycle,Latency,Ether,FindIP,Info\r\n"
                                              "CycleTime=2000\r\n"
                                              "DSDMSB=enable\r\n"
                                              "FlexCycle=enable\r\n"
                                              "Interface=0\r\n"
                                              "LatencyBuffer=20000\r\n"
                                              "PCMRequest=32\r\n"
                                              "Preset=Standard\r\n"
                                              "SyncBufferCount=6\r\n"
                                              "TargetAddress=::,0\r\n"
                                              "TargetPO=0\r\n"
                                              "Version=2\r\n"
                                              "\r\n");
}

// Without shipped defaults the default button empties the settings in
// memory; the form falls back: interface and target AUTO (the interface
// change searches again), sync buffer count 6, DSD order LSB, the format as
// it was.
TEST(DefaultButton, WithoutShippedDefaults)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.platform.adapters[node("fe80::1", 0, 7)] = {"eth0", "card"};
    addTarget(fakeDriver(), node("fe80::10", 5000, 7), "Player", 1);
    const std::string mine =
        "Version=2\nInterface=7\nTargetAddress=fe80::10,5000\nTargetPO=1\nPCMRequest=16\n"
        "DSDMSB=enable\nSyncBufferCount=9\nFindIP=fe80::99\nOwnKey=mine\n";
    inst.write("settings/main.inf", mine);
    inst.start().show();
    ASSERT_EQ(inst.widget<QComboBox>("interfaceList")->currentIndex(), 1);
    ASSERT_EQ(inst.widget<QComboBox>("targetList")->currentText(), "Player");
    ASSERT_EQ(inst.widget<QComboBox>("pcmList")->currentIndex(), 3);
    ASSERT_EQ(inst.widget<QComboBox>("dsdlist")->currentIndex(), 1);
    ASSERT_EQ(inst.widget<QComboBox>("bcountBox")->currentText(), "9");
    inst.remove("setting_org.inf");

    inst.widget<QPushButton>("defaultButton")->click();
    EXPECT_EQ(inst.widget<QComboBox>("interfaceList")->currentIndex(), 0);
    EXPECT_EQ(fakeDriver().searches.back().interfaceNumber, 0u);
    EXPECT_EQ(inst.widget<QComboBox>("targetList")->currentText(), "AUTO");
    EXPECT_EQ(inst.widget<QComboBox>("pcmList")->currentIndex(), 3);
    EXPECT_EQ(inst.widget<QComboBox>("dsdlist")->currentIndex(), 0);
    EXPECT_EQ(inst.widget<QComboBox>("bcountBox")->currentText(), "6");
    EXPECT_EQ(inst.widget<QLineEdit>("findIPEdit")->text(), "");
    for (const char *key : {"Version", "OwnKey", "Interface", "TargetAddress", "PCMRequest", "DSDMSB"})
        EXPECT_EQ(inst.probe().settings().get(key), "") << key;
    EXPECT_EQ(inst.read(inst.settingsFile()), mine) << "nothing is written before a save";

    // A save writes the form's values and what the buffer and latency rules
    // make of no settings; nothing of the old file.
    inst.widget<QPushButton>("saveButton")->click();
    EXPECT_EQ(inst.read(inst.settingsFile()), "[global]\r\n"
                                              "ASIOBufferSize=0\r\n"
                                              "DSDMSB=disable\r\n"
                                              "Interface=0\r\n"
                                              "LatencyBuffer=0\r\n"
                                              "PCMRequest=16\r\n"
                                              "SyncBufferCount=6\r\n"
                                              "TargetAddress=::,0\r\n"
                                              "TargetPO=0\r\n"
                                              "\r\n");
}

// The monitor takes the real debug port: named in LOCKED_CASES
// (CMakeLists.txt here), as is the next case.
TEST_F(Buttons, DebugWritesAndRemovesTheSwitchEachTime)
{
    ModalCloser closer;
    std::vector<std::string> seen;
    closer.whileOpen = [&] {
        seen.push_back(inst.read(inst.debugSwitch()));
        EXPECT_TRUE(inst.probe().debugWindowOpen());
        EXPECT_FALSE(inst.widgetByName("debugButton")->isEnabled());
    };
    for (int run = 1; run <= 2; ++run) {
        click("debugButton");
        EXPECT_EQ(closer.closed(), run);
        EXPECT_STREQ(closer.lastText().toLatin1().constData(), "Debug");
        EXPECT_FALSE(inst.exists(inst.debugSwitch()));
        EXPECT_FALSE(inst.probe().debugWindowOpen());
        EXPECT_TRUE(inst.widgetByName("debugButton")->isEnabled());
    }
    EXPECT_EQ(seen, std::vector<std::string>(2, kSwitchImage));
}

TEST_F(Buttons, UndeletableSwitchIsReported)
{
    inst.platform.undeletable.insert(inst.debugSwitch());
    ModalCloser closer;
    click("debugButton");
    EXPECT_EQ(closer.closed(), 2); // the monitor, then the message
    EXPECT_TRUE(textContains(closer.lastText(), QString::fromStdString(inst.debugSwitch())));
}

TEST(DebugSwitch, StaleSwitchStaysWhileOpenAndGoesAtTheEnd)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.write("settings/debug.inf", kSwitchImage);
    inst.start();
    EXPECT_TRUE(inst.exists(inst.debugSwitch()));
    inst.finish();
    EXPECT_FALSE(inst.exists(inst.debugSwitch()));
    ASSERT_FALSE(inst.platform.removed.empty());
    EXPECT_EQ(inst.platform.removed.back(), inst.debugSwitch());
}

} // namespace

namespace {

// Another program (velmora-ctl in a script) changed the file after the
// window loaded it: the save says so and, unless the user agrees, keeps
// that change and the window.
TEST_F(Buttons, SaveDoesNotSilentlyUndoAnotherProgramsChange)
{
    inst.write("settings/main.inf", "Version=2\nOwnKey=changed by a script\n");
    ModalCloser closer; // answers the question with No
    click("saveButton");
    EXPECT_EQ(closer.closed(), 1);
    EXPECT_TRUE(textContains(closer.lastText(), "changed by another program"));
    EXPECT_EQ(inst.read(inst.settingsFile()), "Version=2\nOwnKey=changed by a script\n");
    EXPECT_TRUE(inst.dialog().isVisible()) << "the form stays for another try";

    closer.whileOpen = [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        box->button(QMessageBox::Yes)->click();
    };
    click("saveButton");
    EXPECT_TRUE(textContains(inst.read(inst.settingsFile()), "OwnKey=mine"));
}

TEST_F(Buttons, SaveOfAnUnchangedFileAsksNothing)
{
    ModalCloser closer;
    inst.probe().setDebugWindowOpen(true); // keeps the window open after a save
    click("saveButton");
    click("saveButton"); // the second save compares against the first's image
    EXPECT_EQ(closer.closed(), 0) << closer.lastText().toStdString();
    EXPECT_TRUE(textContains(inst.read(inst.settingsFile()), "OwnKey=mine"));
}

} // namespace
