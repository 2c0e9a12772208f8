// msiexec.exe, the stand-in installer of the demo and the tests.
#include "tools/msiexec/MsiexecRecord.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kHelp[] = "usage: msiexec.exe ARGS...\n"
                         "\n"
                         "A stand-in for the Windows installer, for the demo and the tests of the\n"
                         "Velmora ASIO configuration tool on Linux. It installs nothing. It records\n"
                         "how it was started: each argument on a line of its own, then a line \"--\",\n"
                         "and, when the last argument names an existing file (\"\\\" read as \"/\" if\n"
                         "needed), a line \"size N\" with the file's size. Control characters in an\n"
                         "argument are written as \\xHH.\n"
                         "\n"
                         "The record is appended to the file named by VELMORA_MSIEXEC_LOG; without\n"
                         "that variable it goes to standard error.\n"
                         "\n"
                         "Exit status: 0, or 1 when the log file cannot be written.\n";

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    const std::string record = velmora::msiexec::makeRecord(args);
    const char *log = std::getenv("VELMORA_MSIEXEC_LOG");
    if (log == nullptr || *log == '\0') {
        std::fputs(record.c_str(), stderr);
        return 0;
    }
    std::string error;
    if (!velmora::msiexec::appendRecord(log, record, error)) {
        std::fprintf(stderr, "msiexec.exe (stand-in): %s\n", error.c_str());
        return 1;
    }
    return 0;
}
