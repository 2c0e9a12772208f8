// Stands in for the driver's set-up program in the platform test: after a
// pause it writes its own program directory into "setup-ran.txt" beside
// itself.
#include "src/Platform/Platform.h"

#include <chrono>
#include <cstdio>
#include <thread>

int main()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string dir = createSystemPlatform()->programDirectory();
    if (dir.empty())
        return 1;
    std::FILE *f = std::fopen((dir + "setup-ran.txt").c_str(), "wb");
    if (!f)
        return 1;
    std::fputs(dir.c_str(), f);
    return std::fclose(f) == 0 ? 0 : 1;
}
