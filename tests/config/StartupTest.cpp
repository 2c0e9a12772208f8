// Start-up against fixture installations: the installation check, the
// shipped defaults, the interface list and the picture.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <chrono>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/config/DialogFixture.h"
#include "tests/support/Eventually.h"
#include "tests/support/TextContains.h"

#include <QComboBox>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

TEST(Startup, NoDriverLibraryBuildsNoForm)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.platform.hasDriver = false;
    Dialog &d = inst.start();
    EXPECT_FALSE(d.driverFound());
    EXPECT_EQ(d.programDirectory(), inst.programDir());
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(d.findChildren<QWidget *>().isEmpty());
    EXPECT_EQ(fakeDriver().finders, 0);
    EXPECT_EQ(inst.platform.setupRuns, 0);
    inst.finish(); // nothing to remove without a settings path
    EXPECT_TRUE(inst.platform.removed.empty());
}

TEST(Startup, QueriesTheDriverAndReleasesTheFinder)
{
    Installation inst;
    inst.writeStandardFiles();
    Dialog &d = inst.start();
    ASSERT_TRUE(d.driverFound());
    EXPECT_EQ(inst.probe().settingsPath(), inst.settingsFile());
    EXPECT_EQ(fakeDriver().released, fakeDriver().finders);
    EXPECT_FALSE(d.windowFlags() & Qt::WindowContextHelpButtonHint);
    EXPECT_FALSE(inst.probe().debugWindowOpen());
}

// The set-up program runs when "setting_path.inf" names another path or
// none; start-up waits for it (the fake runs synchronously and the run is
// seen to finish before the form exists).
TEST(Startup, SetupProgramRunsOnlyWhenTheInstallationMoved)
{
    struct Case {
        const char *name;
        const char *pathFile; // nullptr: no file
        bool samePath;
        int runs;
    };
    const Case cases[] = {
        {"same path", "", true, 0},
        {"other path", "SettingPath=/elsewhere/main.inf\n", false, 1},
        {"no key", "Other=1\n", false, 1},
        {"no file", nullptr, false, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Installation inst;
        inst.writeStandardFiles();
        if (c.samePath)
            inst.write("setting_path.inf", "SettingPath=" + inst.settingsFile() + "\n");
        else if (c.pathFile)
            inst.write("setting_path.inf", c.pathFile);
        else
            inst.remove("setting_path.inf");
        bool formExistedDuringRun = false;
        Installation *self = &inst;
        inst.platform.onSetup = [&] { formExistedDuringRun = self->widgetByName("saveButton") != nullptr; };
        inst.start();
        EXPECT_EQ(inst.platform.setupRuns, c.runs);
        EXPECT_FALSE(formExistedDuringRun);
    }
}

TEST(Startup, NewShippedVersionReplacesTheSettingsFile)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.write("settings/main.inf", "Version=1\nPreset=Low Latency\nTargetPO=7\n");
    IniFile org;
    ASSERT_TRUE(org.read(inst.programDir() + "setting_org.inf"));
    inst.start();
    EXPECT_EQ(inst.read(inst.settingsFile()), org.text());
    EXPECT_EQ(inst.probe().currentPresetIndex(), inst.probe().defaultPresetIndex());
    EXPECT_EQ(inst.widget<QComboBox>("presetList")->currentText(), "Standard");
    EXPECT_EQ(inst.probe().settings().get("Version"), "2");
}

TEST(Startup, SameVersionKeepsTheSettingsFileAndItsPreset)
{
    Installation inst;
    inst.writeStandardFiles();
    const std::string mine = "Version=2\nPreset=Low Latency\nTargetPO=7\n";
    inst.write("settings/main.inf", mine);
    inst.start();
    EXPECT_EQ(inst.read(inst.settingsFile()), mine);
    EXPECT_EQ(inst.probe().currentPresetIndex(), 1);
    EXPECT_EQ(inst.probe().defaultPresetIndex(), 0);
    EXPECT_EQ(inst.widget<QComboBox>("presetList")->currentText(), "Low Latency");
}

TEST(Startup, MissingShippedDefaultsChangeNothing)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.remove("setting_org.inf");
    const std::string mine = "Version=1\nPreset=Low Latency\n";
    inst.write("settings/main.inf", mine);
    Dialog &d = inst.start();
    EXPECT_EQ(inst.read(inst.settingsFile()), mine);
    EXPECT_EQ(inst.probe().currentPresetIndex(), -1);
    EXPECT_EQ(inst.probe().defaultPresetIndex(), -1);
    EXPECT_TRUE(inst.probe().cycleGroupShown());
    EXPECT_EQ(d.size(), QSize(500, 353));
    for (const char *name : {"pcmList", "bsizeBox", "latencyBox", "interfaceList", "findIPEdit", "infoFrame"})
        EXPECT_FALSE(inst.widgetByName(name)->isHidden()) << name;
}

// Each feature word shows its group; without it the group is hidden and
// the other widgets stay where they are.
TEST(Startup, FeatureWordsShowTheirGroups)
{
    struct Group {
        const char *word;
        std::vector<const char *> widgets;
    };
    const std::vector<Group> groups = {
        {"Format", {"pcmList", "dsdlist", "Flabel_1", "Flabel_2"}},
        {"Buffer", {"bsizeBox", "bcountBox", "Blabel_1", "Blabel_2"}},
        {"Cycle", {"cycleBox", "cycleEdit", "cycleLabel", "Flabel_3"}},
        {"Latency", {"latencyBox", "label_3", "latencyLabel"}},
        {"Ether", {"interfaceList", "label"}},
        {"FindIP", {"findIPEdit", "label_IP"}},
        {"Info", {"infoFrame", "infoLable"}},
    };
    // One run per missing word, and one with the text empty.
    for (size_t missing = 0; missing <= groups.size(); ++missing) {
        std::string words;
        for (size_t g = 0; g < groups.size(); ++g) {
            if (g != missing && missing != groups.size())
                words += std::string(groups[g].word) + " ";
        }
        SCOPED_TRACE("AsioSetting=" + words);
        Installation inst;
        inst.writeStandardFiles();
        inst.write("setting_org.inf", "Version=2\nPreset=Standard\nAsioSetting=" + words + "\n");
        inst.start();
        for (size_t g = 0; g < groups.size(); ++g) {
            const bool hidden = missing == groups.size() || g == missing;
            for (const char *name : groups[g].widgets) {
                QWidget *w = inst.widgetByName(name);
                if (!hidden && std::string(name) == "cycleEdit")
                    continue; // the cycle rules pick one of spin box and edit
                if (!hidden && std::string(name) == "cycleBox")
                    continue;
                EXPECT_EQ(w->isHidden(), hidden) << name;
            }
        }
        EXPECT_EQ(inst.probe().cycleGroupShown(), missing != 2 && missing != groups.size());
        EXPECT_EQ(inst.widgetByName("saveButton")->pos(), QPoint(410, 160));
        EXPECT_EQ(inst.dialog().size(), QSize(500, 353));
    }
}

TEST(Startup, SimpleSelectsTheCompactLayout)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.write("setting_org.inf", "Version=2\nPreset=Standard\nAsioSetting=Simple\n");
    inst.start();
    const struct {
        const char *name;
        QPoint pos;
    } moved[] = {{"label_2", {10, 10}},       {"targetList", {110, 10}},    {"findButton", {10, 40}},
                 {"configButton", {110, 40}}, {"defaultButton", {210, 40}}, {"debugButton", {310, 40}},
                 {"saveButton", {410, 40}},   {"lavelView", {10, 70}},      {"label_4", {390, 150}}};
    for (const auto &m : moved)
        EXPECT_EQ(inst.widgetByName(m.name)->pos(), m.pos) << m.name;
    EXPECT_EQ(inst.widgetByName("cancelButton")->pos(), QPoint(410, 10));
    EXPECT_EQ(inst.dialog().size(), QSize(500, 173));
}

TEST(Startup, DeveloperPreviewOnlyForExactlyEnable)
{
    const struct {
        const char *value;
        bool on;
    } cases[] = {{"enable", true},
                 {"Enable", false},
                 {"enable ", true /* spaces are trimmed on read */},
                 {"", false},
                 {"yes", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        Installation inst;
        inst.writeStandardFiles();
        inst.write("setting_org.inf", std::string("Version=2\nAsioSetting=Info\nPreview=") + c.value + "\n");
        inst.start();
        EXPECT_EQ(inst.probe().developerPreview(), c.on);
        EXPECT_EQ(inst.widget<QLabel>("preLabel")->text(), c.on ? "DeveloperPreview" : "");
    }
}

TEST(Startup, InterfaceListOneItemPerFriendlyNameSorted)
{
    Installation inst;
    inst.writeStandardFiles();
    // Keys in address order: the later "eth0" (index 5) replaces index 2.
    inst.platform.adapters[node("fe80::1", 0, 2)] = {"eth0", "First card"};
    inst.platform.adapters[node("fe80::2", 0, 3)] = {"Wi-Fi", "Radio"};
    inst.platform.adapters[node("fe80::3", 0, 5)] = {"eth0", "Second card"};
    inst.platform.adapters[node("fe80::4", 0, 9)] = {"Ethernet 2", "Onboard"};
    inst.start();
    auto *list = inst.widget<QComboBox>("interfaceList");
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    EXPECT_EQ(items, QStringList({"AUTO", "[Ethernet 2]Onboard", "[Wi-Fi]Radio", "[eth0]Second card"}));
    EXPECT_EQ(inst.probe().interfaceIds(), (std::vector<uint32_t>{0, 9, 3, 5}));
}

TEST(Startup, PictureShownWhenPresent)
{
    for (bool present : {true, false}) {
        SCOPED_TRACE(present);
        Installation inst;
        inst.writeStandardFiles();
        if (present) {
            QImage img(480, 80, QImage::Format_ARGB32);
            img.fill(Qt::darkCyan);
            ASSERT_TRUE(img.save(QString::fromStdString(inst.programDir() + "label.png")));
        }
        inst.start();
        auto *view = inst.widget<QGraphicsView>("lavelView");
        ASSERT_NE(view->scene(), nullptr);
        EXPECT_EQ(view->scene()->items().size(), present ? 1 : 0);
        EXPECT_EQ(view->styleSheet(), "background:transparent; border: none;");
        EXPECT_TRUE(view->testAttribute(Qt::WA_TranslucentBackground));
        EXPECT_EQ(inst.widget<QLineEdit>("cycleEdit")->palette().color(QPalette::Base).alpha(), 0);
    }
}

// Selecting a saved interface other than "AUTO" searches at once, and the
// start-up refresh searches again.
TEST(Startup, SavedInterfaceSearchesTwice)
{
    for (uint32_t saved : {0u, 7u}) {
        SCOPED_TRACE(saved);
        Installation inst;
        inst.writeStandardFiles();
        inst.platform.adapters[node("fe80::1", 0, 7)] = {"eth0", "card"};
        inst.write("settings/main.inf",
                   "Version=2\nInterface=" + std::to_string(saved) + "\nFindIP=fe80::99\n");
        inst.start();
        const auto &s = fakeDriver().searches;
        ASSERT_EQ(s.size(), saved ? 2u : 1u);
        EXPECT_EQ(s.back().interfaceNumber, saved);
        ASSERT_EQ(s.back().addresses.size(), 1u); // the last search uses the loaded "FindIP"
        if (saved) {
            EXPECT_TRUE(s.front().addresses.empty()); // the first ran before "FindIP" was loaded
        }
        EXPECT_EQ(inst.widget<QComboBox>("interfaceList")->currentIndex(), saved ? 1 : 0);
    }
}

} // namespace

// Files at the main settings path that the store rejects: their bytes are
// kept beside them before the shipped defaults replace them, and the user
// is told once the window runs.
namespace {

TEST(StartupRejected, RejectedMainFileIsKeptAndTheUserTold)
{
    Installation inst;
    inst.writeStandardFiles();
    const std::string mine = "Version=2\nFindIP=fe80::1\tfe80::2\nSyncBufferCount=9\n";
    inst.write("settings/main.inf", mine);
    const std::string backup = inst.settingsFile() + ".rejected";
    inst.write("settings/main.inf.rejected", "an earlier one");
    ModalCloser closer;
    inst.start().show();
    EXPECT_EQ(inst.read(backup), mine) << "the user's bytes survive";
    EXPECT_TRUE(textContains(inst.probe().startupNotice(), QString::fromStdString(backup)));
    EXPECT_TRUE(textContains(inst.probe().startupNotice(), "replaced an earlier copy"));
    ASSERT_EVENTUALLY_EQ(closer.closed(), 1, 5000);
    EXPECT_TRUE(closer.lastText().contains(QString::fromStdString(backup)))
        << closer.lastText().toStdString();
    EXPECT_TRUE(closer.lastText().contains("control characters")) << closer.lastText().toStdString();
}

TEST(StartupRejected, PipeAtTheSettingsPathIsNeitherReadNorReplaced)
{
#ifndef _WIN32
    Installation inst;
    inst.writeStandardFiles();
    inst.remove("settings/main.inf");
    ASSERT_EQ(::mkfifo(inst.settingsFile().c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    inst.start();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(textContains(inst.probe().startupNotice(), "not a regular file"));
    struct stat st;
    ASSERT_EQ(::lstat(inst.settingsFile().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_FALSE(inst.exists(inst.settingsFile() + ".rejected"));
#endif
}

TEST(StartupRejected, ReadableFileGivesNoNotice)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.write("settings/main.inf", "Version=2\n");
    inst.start();
    EXPECT_TRUE(inst.probe().startupNotice().isEmpty());
    EXPECT_FALSE(inst.exists(inst.settingsFile() + ".rejected"));
}

// The driver reports no settings path: the set-up program runs when
// "setting_path.inf" is missing, and the debug switch goes nowhere (never
// into the current folder) while the monitor still opens.
// The monitor takes the real debug port: named in LOCKED_CASES
// (CMakeLists.txt here).
TEST(StartupRejected, EmptySettingsPath)
{
    for (bool pathFile : {false, true}) {
        SCOPED_TRACE(pathFile);
        Installation inst;
        inst.writeStandardFiles();
        if (pathFile)
            inst.write("setting_path.inf", "SettingPath=\n");
        else
            inst.remove("setting_path.inf");
        fakeDriver().settingsPath = "";
        QTemporaryDir cwd;
        const QString before = QDir::currentPath();
        QDir::setCurrent(cwd.path());
        inst.start().show();
        EXPECT_EQ(inst.platform.setupRuns, pathFile ? 0 : 1);
        ModalCloser closer;
        inst.widget<QPushButton>("debugButton")->click();
        EXPECT_EQ(closer.closed(), 1) << "the monitor opened";
        EXPECT_FALSE(QFileInfo::exists(cwd.filePath("debug.inf")));
        inst.finish();
        EXPECT_TRUE(inst.platform.removed.empty()) << inst.platform.removed.front();
        QDir::setCurrent(before);
    }
}

TEST(StartupRejected, EmptyProgramFolderIsNoDriver)
{
    Installation inst;
    inst.writeStandardFiles();
    inst.platform.directory = "";
    Dialog &d = inst.start();
    EXPECT_FALSE(d.driverFound());
}

} // namespace
