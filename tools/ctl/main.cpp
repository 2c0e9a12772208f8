#include "src/Platform/ParentDeath.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/Command.h"

#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

// Arguments as UTF-8 (the settings paths are UTF-8 throughout), and binary
// standard output so "settings show" prints the file's bytes unchanged.
static std::vector<std::string> commandLine(int, char **)
{
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> result;
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide != nullptr && i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(n > 0 ? static_cast<size_t>(n) : 1, '\0');
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &s[0], n, nullptr, nullptr);
        s.resize(s.size() - 1);
        result.push_back(s);
    }
    LocalFree(wide);
    return result;
}
#else
static std::vector<std::string> commandLine(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}
#endif

int main(int argc, char **argv)
{
    const std::vector<std::string> words = commandLine(argc, argv);
    // A long command started by a script that is killed ends with it.
    for (const auto &c : ctl::commands()) {
        if (words.size() > 1 && c->name() == words[1] && c->runsLong())
            platform::endWithParent();
    }
    const int status = ctl::runCtl(words, std::cout, std::cerr);
    std::cout.flush();
    if (!std::cout) {
        if (!ctl::outputFailureReported())
            std::cerr << "velmora-ctl: could not write to standard output\n";
        return ctl::kExitFailure;
    }
    return status;
}
