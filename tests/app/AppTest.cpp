// The program entry: the "staging" switch, and a start without an installed
// driver.

#include "app/StagingFlag.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
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

std::string run(const std::string &command, int &status)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int raw = pclose(p);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

// Without the driver's library in its folder the program shows no window,
// says which folder it searched and ends with a failure status. A copy of
// the program in an empty folder of its own has nothing to find.
TEST(Program, NoDriverLibraryNoWindow)
{
    namespace fs = std::filesystem;
    const char *bin = std::getenv("VELMORA_PROGRAM_DIR");
    ASSERT_NE(bin, nullptr);
    const fs::path dir = fs::temp_directory_path() / ("velmora-app-test-" + std::to_string(::getpid()));
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "sub" / "notes.txt") << "no library here\n";
    fs::copy_file(fs::path(bin) / "velmora-configure", dir / "velmora-configure",
                  fs::copy_options::overwrite_existing);
    int status = 0;
    const std::string out =
        run("cd / && QT_QPA_PLATFORM=offscreen timeout 60 '" + (dir / "velmora-configure").string() + "' staging 2>&1",
            status);
    EXPECT_EQ(status, 2) << out;
    EXPECT_NE(out.find("no driver library"), std::string::npos) << out;
    EXPECT_NE(out.find(dir.string() + "/"), std::string::npos) << out;
    fs::remove_all(dir);
}

} // namespace
