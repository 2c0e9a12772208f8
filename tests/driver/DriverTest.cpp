// The stand-in driver library as the tool meets it (found by the platform
// walk, values through DriverFinder) and the stand-in set-up program.
#include "driver/DriverFinder.h"
#include "settings/IniFile.h"
#include "src/Platform/Platform.h"
#include "tests/settings/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TextContains.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::string programDir()
{
    const char *dir = std::getenv("VELMORA_PROGRAM_DIR");
    return dir ? std::string(dir) + "/" : std::string();
}

struct DriverValues {
    std::string settingsPath;
    uint64_t targetIdentifier = 0;
    std::string driverVersion;
    std::string updateHost;
};

// What the tool does at start: call the entry, take the four values in its
// order, release.
DriverValues query(DllVelmorafindFn entry)
{
    DriverValues v;
    DriverFinder *finder = entry();
    if (!finder)
        return v;
    finder->settingsPath(v.settingsPath);
    v.targetIdentifier = finder->targetIdentifier();
    finder->driverVersion(v.driverVersion);
    finder->updateHost(v.updateHost);
    finder->release();
    return v;
}

// Environment of the driver's configuration lookup, restored afterwards.
class DriverEnvTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : {"VELMORA_DRIVER_CONFIG", "XDG_CONFIG_HOME", "HOME"}) {
            const char *v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        unsetenv("VELMORA_DRIVER_CONFIG");
        setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
        setenv("HOME", home.path().c_str(), 1);
        entry = platform->findDriverEntry(programDir());
        ASSERT_NE(entry, nullptr) << "no stand-in driver library in " << programDir();
    }
    void TearDown() override
    {
        for (const auto &s : saved_) {
            if (s.second)
                setenv(s.first.c_str(), s.second->c_str(), 1);
            else
                unsetenv(s.first.c_str());
        }
    }

    TempDir home;
    std::unique_ptr<Platform> platform = createSystemPlatform();
    DllVelmorafindFn entry = nullptr;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

struct ConfigCase {
    const char *name;
    const char *text; // content of the configuration file; nullptr: no file
    const char *settingsPath; // "~" stands for the test's home folder, "@" for the file's folder
    uint64_t targetIdentifier;
    const char *driverVersion;
    const char *updateHost;
};

const ConfigCase kConfigCases[] = {
    {"AllFourKeys",
     "; stand-in driver\r\nSettingsPath=/srv/velmora/main.inf\r\nTargetIdentifier=5\r\n"
     "DriverVersion=2.3.1\r\nUpdateHost=certificarono/asio/\r\n",
     "/srv/velmora/main.inf", 5, "2.3.1", "certificarono/asio/"},
    {"AllOnesIdentifierKeepsAll64Bits", "TargetIdentifier=18446744073709551615\n", "~/config/velmora/setting.inf",
     ~uint64_t(0), "1.0.0", ""},
    {"RelativeSettingsPathIsBesideTheFile", "SettingsPath=demo/setting.inf\nUpdateHost=http://updates.test/\n",
     "@demo/setting.inf", 0, "1.0.0", "http://updates.test/"},
    {"EmptyFileGivesDefaults", "", "~/config/velmora/setting.inf", 0, "1.0.0", ""},
    {"NotADecimalIdentifierIsZero", "TargetIdentifier=12abc\n", "~/config/velmora/setting.inf", 0, "1.0.0", ""},
    {"IdentifierBeyond64BitsIsZero", "TargetIdentifier=18446744073709551616\n", "~/config/velmora/setting.inf", 0,
     "1.0.0", ""},
    {"MissingNamedFileGivesDefaults", nullptr, "~/config/velmora/setting.inf", 0, "1.0.0", ""},
};

class ConfigTest : public DriverEnvTest, public ::testing::WithParamInterface<ConfigCase> {
};

std::string expandPath(const std::string &pattern, const fs::path &home, const fs::path &folder)
{
    if (!pattern.empty() && pattern[0] == '~')
        return home.string() + pattern.substr(1);
    if (!pattern.empty() && pattern[0] == '@')
        return folder.string() + "/" + pattern.substr(1);
    return pattern;
}

TEST_P(ConfigTest, LibraryReportsTheConfiguredValues)
{
    const ConfigCase &c = GetParam();
    TempDir configDir;
    const std::string file = configDir.file("driver.inf");
    if (c.text)
        writeBytes(file, c.text);
    setenv("VELMORA_DRIVER_CONFIG", file.c_str(), 1);
    const DriverValues v = query(entry);
    EXPECT_EQ(v.settingsPath, expandPath(c.settingsPath, home.path(), configDir.path()));
    EXPECT_EQ(v.targetIdentifier, c.targetIdentifier);
    EXPECT_EQ(v.driverVersion, c.driverVersion);
    EXPECT_EQ(v.updateHost, c.updateHost);
    // The driver keeps its settings folder in place.
    EXPECT_TRUE(fs::is_directory(fs::path(v.settingsPath).parent_path())) << v.settingsPath;
}

INSTANTIATE_TEST_SUITE_P(Files, ConfigTest, ::testing::ValuesIn(kConfigCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(DriverEnvTest, WithoutEnvironmentTheFileBesideTheLibraryCounts)
{
    // A copy of the installation elsewhere: the library reads the
    // "driver.inf" of its own folder, wherever that is.
    TempDir install;
    fs::create_directories(install.path() / "driver");
    fs::copy_file(programDir() + "libvelmora_asio.so", install.path() / "driver" / "libvelmora_asio.so");
    writeBytes((install.path() / "driver" / "driver.inf").string(),
               "SettingsPath=/opt/test/setting.inf\nDriverVersion=9.9\nTargetIdentifier=77\n");
    const DllVelmorafindFn copy = platform->findDriverEntry(install.path().string());
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, entry);
    const DriverValues v = query(copy);
    EXPECT_EQ(v.settingsPath, "/opt/test/setting.inf");
    EXPECT_EQ(v.targetIdentifier, 77u);
    EXPECT_EQ(v.driverVersion, "9.9");
}

// The set-up program runs from a copy of the program directory, so the
// build's own stays untouched.
class SetupProgramTest : public DriverEnvTest {
protected:
    void SetUp() override
    {
        DriverEnvTest::SetUp();
        fs::copy_file(programDir() + "setting_path", install.path() / "setting_path");
    }
    std::string installDir() const { return install.path().string() + "/"; }
    std::string recordedPath() const
    {
        IniFile ini;
        if (!ini.read(install.file("setting_path.inf")))
            return "(no setting_path.inf)";
        return ini.get("SettingPath");
    }
    TempDir install;
};

TEST_F(SetupProgramTest, WritesTheLibrarysSettingsPath)
{
    TempDir configDir;
    const std::string file = configDir.file("driver.inf");
    writeBytes(file, "SettingsPath=" + configDir.file("settings/main.inf") + "\n");
    setenv("VELMORA_DRIVER_CONFIG", file.c_str(), 1);
    ASSERT_TRUE(platform->runSetupProgram(installDir()));
    EXPECT_EQ(recordedPath(), configDir.file("settings/main.inf"));
    EXPECT_TRUE(fs::is_directory(configDir.path() / "settings"));
    // The tool's check at its next start: the two agree.
    EXPECT_EQ(recordedPath(), query(entry).settingsPath);
}

TEST_F(SetupProgramTest, ReadsTheConfigurationBesideItselfAndOtherwiseTheDefault)
{
    ASSERT_TRUE(platform->runSetupProgram(installDir()));
    EXPECT_EQ(recordedPath(), (home.path() / "config/velmora/setting.inf").string());

    writeBytes(install.file("driver.inf"), "SettingsPath=local/setting.inf\n");
    ASSERT_TRUE(platform->runSetupProgram(installDir()));
    EXPECT_EQ(recordedPath(), install.file("local/setting.inf"));
}

TEST_F(SetupProgramTest, CommandLine)
{
    ChildProcess help(install.file("setting_path") + " --help");
    EXPECT_EQ(help.wait(), 0);
    EXPECT_TRUE(textContains(help.output(), "usage: setting_path"));
    ChildProcess bad(install.file("setting_path") + " --bogus");
    EXPECT_EQ(bad.wait(), 2);
    EXPECT_TRUE(textContains(bad.output(), "unexpected argument"));
    EXPECT_FALSE(fs::exists(install.file("setting_path.inf")));
}

TEST_F(SetupProgramTest, FileThatCannotBeWrittenIsAFailure)
{
    // A folder in the file's place: nothing can replace it.
    fs::create_directory(install.path() / "setting_path.inf");
    ChildProcess run(install.file("setting_path"));
    EXPECT_EQ(run.wait(), 1);
    EXPECT_NE(run.output().find("cannot write"), std::string::npos) << run.output();
}

} // namespace
