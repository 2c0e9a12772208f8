// The program entry: the "staging" switch, and a start without an installed
// driver.

#include "app/StagingFlag.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

TEST(StagingFlag, OnlyTheExactArgumentCounts)
{
    struct Case {
        const char *name;
        std::vector<const char *> args; // after the program name
        bool staging;
    };
    const Case cases[] = {
        {"no arguments", {}, false},
        {"alone", {"staging"}, true},
        {"twice", {"staging", "staging"}, true},
        {"among others", {"-x", "staging", "other"}, true},
        {"capitals", {"Staging"}, false},
        {"all capitals", {"STAGING"}, false},
        {"with more", {"staging=1"}, false},
        {"with a dash", {"--staging"}, false},
        {"with a space", {"staging "}, false},
        {"the program name does not count", {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<const char *> argv = {std::string(c.name) == "the program name does not count" ? "staging"
                                                                                                    : "velmora-configure"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.push_back(nullptr);
        EXPECT_EQ(stagingRequested(static_cast<int>(argv.size() - 1), argv.data()), c.staging);
    }
}

// Without the driver's library in its folder the program shows no window,
// says which folder it searched and ends with a failure status. A copy of
// the program in an empty folder of its own has nothing to find.
TEST(Program, NoDriverLibraryNoWindow)
{
    namespace fs = std::filesystem;
    const char *bin = std::getenv("VELMORA_PROGRAM_DIR");
    ASSERT_NE(bin, nullptr);
    const fs::path dir = fs::temp_directory_path() / ("velmora-app-test.pid" + std::to_string(::getpid()));
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "sub" / "notes.txt") << "no library here\n";
    fs::copy_file(fs::path(bin) / "velmora-configure", dir / "velmora-configure",
                  fs::copy_options::overwrite_existing);
    ChildOptions options;
    options.directory = "/";
    options.setEnv = {"QT_QPA_PLATFORM=offscreen"};
    ChildProcess program(std::vector<std::string>{(dir / "velmora-configure").string(), "staging"}, options);
    ASSERT_TRUE(program.started()) << program.startError();
    EXPECT_EQ(program.wait(60000), 2) << program.output();
    const std::string out = program.output();
    EXPECT_NE(out.find("no driver library"), std::string::npos) << out;
    EXPECT_NE(out.find(dir.string() + "/"), std::string::npos) << out;
    fs::remove_all(dir);
}

} // namespace
