// The whole dialog on a fixture installation: the stand-in driver library in
// a subfolder, the stand-in set-up program, emulated targets in the private
// test network (run through scripts/testnet.sh). A user picks an interface,
// a target and a preset, changes the latency and saves; the main settings
// file must be exactly the expected image.

#include "tests/config/DialogFixture.h"
#include "tests/config/FixturePlatform.h"
#include "tests/support/ChildProcess.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

// Namespace 1: "Studio" with two outputs on one address; namespace 2:
// "Living Room".
class Targets : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(env("VELMORA_TESTNET"), "1") << "run this test through scripts/testnet.sh";
        const std::string sim = env("VELMORA_PROGRAM_DIR") + "/velmora-target-sim";
        sims.push_back(std::make_unique<ChildProcess>(
            "$VELMORA_NS_T1 " + sim + " --target 'Studio' --id 5 --port 19650 --target 'Studio' --id 5 --port 19651"));
        sims.push_back(
            std::make_unique<ChildProcess>("$VELMORA_NS_T2 " + sim + " --target 'Living Room' --id 5 --port 19660"));
        for (auto &s : sims)
            ASSERT_TRUE(s->waitFor("ready\n", 10000)) << s->output();
    }
    void TearDown() override { sims.clear(); }
    std::vector<std::unique_ptr<ChildProcess>> sims;
};

QStringList items(QComboBox *box)
{
    QStringList l;
    for (int i = 0; i < box->count(); ++i)
        l << box->itemText(i);
    return l;
}

std::string readAll(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return "(missing)";
    return f.readAll().toStdString();
}

TEST(EndToEnd, ChooseTargetPresetAndLatencyThenSave)
{
    ensureApplication();
    QTemporaryDir dir;
    const std::string program = dir.path().toStdString() + "/";
    const QString bin = QString::fromStdString(env("VELMORA_PROGRAM_DIR")) + "/";
    QDir(dir.path()).mkpath("drivers/velmora");
    ASSERT_TRUE(QFile::copy(bin + "libvelmora_asio.so", dir.path() + "/drivers/velmora/libvelmora_asio.so"));
    ASSERT_TRUE(QFile::copy(bin + "setting_path", dir.path() + "/setting_path"));

    // The driver's own configuration, read by its library and its set-up
    // program alike.
    Installation files; // only for its file helpers and standard shipped files
    const std::string settingsFile = program + "settings/main.inf";
    {
        QFile conf(QString::fromStdString(program + "drivers/velmora/driver.inf"));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write(("SettingsPath=" + settingsFile + "\nTargetIdentifier=5\nDriverVersion=3.0.1\n").c_str());
    }
    setenv("VELMORA_DRIVER_CONFIG", (program + "drivers/velmora/driver.inf").c_str(), 1);
    files.writeStandardFiles();
    for (const char *name : {"setting_org.inf", "preset.inf"})
        ASSERT_TRUE(QFile::copy(QString::fromStdString(files.programDir() + name), dir.path() + "/" + name));
    // No "setting_path.inf" yet: the set-up program runs and writes it.

    FixturePlatform platform(program);
    auto dialog = std::make_unique<Dialog>(false, nullptr, &platform);
    ASSERT_TRUE(dialog->driverFound());
    EXPECT_EQ(platform.setupRuns, 1);
    IniFile pathFile;
    ASSERT_TRUE(pathFile.read(program + "setting_path.inf"));
    EXPECT_EQ(pathFile.get("SettingPath"), settingsFile);
    dialog->show();

    auto *targets = dialog->findChild<QComboBox *>("targetList");
    EXPECT_EQ(items(targets), QStringList({"AUTO", "Living Room", "Studio:1", "Studio:2"}));

    // The interface towards namespace 1: only its targets remain.
    DialogProbe probe(*dialog);
    const uint32_t c1 = static_cast<uint32_t>(std::atoi(env("VELMORA_C1_INDEX").c_str()));
    const auto &ids = probe.interfaceIds();
    const auto it = std::find(ids.begin(), ids.end(), c1);
    ASSERT_NE(it, ids.end());
    dialog->findChild<QComboBox *>("interfaceList")->setCurrentIndex(static_cast<int>(it - ids.begin()));
    EXPECT_EQ(items(targets), QStringList({"AUTO", "Studio:1", "Studio:2"}));

    targets->setCurrentText("Studio:2");
    dialog->findChild<QComboBox *>("presetList")->setCurrentText("Low Latency");
    dialog->findChild<QComboBox *>("latencyBox")->setCurrentText("7");
    dialog->findChild<QPushButton *>("saveButton")->click();
    EXPECT_FALSE(dialog->isVisible());

    const std::string expected = "[global]\r\n"
                                 "ASIOBufferSize=128\r\n"
                                 "ASIOBufferSizeMax=4096\r\n"
                                 "ASIOBufferSizeMin=64\r\n"
                                 "AsioSetting=Format,Buffer,Cycle,Latency,Ether,FindIP,Info\r\n"
                                 "CycleTime=500\r\n"
                                 "DSDMSB=disable\r\n"
                                 "FlexCycle=enable\r\n"
                                 "Interface=" + std::to_string(c1) + "\r\n"
                                 "LatencyBuffer=7000\r\n"
                                 "PCMRequest=32\r\n"
                                 "Preset=Low Latency\r\n"
                                 "SyncBufferCount=6\r\n"
                                 "TargetAddress=" + env("VELMORA_T1_ADDR") + ",19651\r\n"
                                 "TargetPO=2\r\n"
                                 "Version=2\r\n"
                                 "\r\n";
    EXPECT_EQ(readAll(settingsFile), expected);

    // A second run finds the installation set up and the saved choices.
    dialog = std::make_unique<Dialog>(false, nullptr, &platform);
    EXPECT_EQ(platform.setupRuns, 1);
    targets = dialog->findChild<QComboBox *>("targetList");
    ASSERT_NE(targets, nullptr);
    EXPECT_EQ(targets->currentText(), "Studio:2");
    EXPECT_EQ(dialog->findChild<QComboBox *>("presetList")->currentText(), "Low Latency");
    EXPECT_EQ(dialog->findChild<QComboBox *>("latencyBox")->currentText(), "7");
    dialog.reset();
    EXPECT_EQ(readAll(settingsFile), expected); // nothing written without a save
    unsetenv("VELMORA_DRIVER_CONFIG");
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new Targets);
    return RUN_ALL_TESTS();
}
