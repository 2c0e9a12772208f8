// The default and debug buttons and the debug switch's end (the config
// button opens the update dialog, which searches the network: its tests run
// in the private test network, tests/update).

#include "tests/config/DialogFixture.h"

#include <QApplication>
#include <QComboBox>
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
    EXPECT_TRUE(closer.lastText().contains(QString::fromStdString(inst.debugSwitch())));
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
    EXPECT_TRUE(closer.lastText().contains("changed by another program")) << closer.lastText().toStdString();
    EXPECT_EQ(inst.read(inst.settingsFile()), "Version=2\nOwnKey=changed by a script\n");
    EXPECT_TRUE(inst.dialog().isVisible()) << "the form stays for another try";

    closer.whileOpen = [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        box->button(QMessageBox::Yes)->click();
    };
    click("saveButton");
    EXPECT_NE(inst.read(inst.settingsFile()).find("OwnKey=mine"), std::string::npos);
}

TEST_F(Buttons, SaveOfAnUnchangedFileAsksNothing)
{
    ModalCloser closer;
    inst.probe().setDebugWindowOpen(true); // keeps the window open after a save
    click("saveButton");
    click("saveButton"); // the second save compares against the first's image
    EXPECT_EQ(closer.closed(), 0) << closer.lastText().toStdString();
    EXPECT_NE(inst.read(inst.settingsFile()).find("OwnKey=mine"), std::string::npos);
}

} // namespace
