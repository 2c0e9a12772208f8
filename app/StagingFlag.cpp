#include "app/StagingFlag.h"

#include <cstring>

bool stagingRequested(int argc, const char *const argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (argv[i] && std::strcmp(argv[i], "staging") == 0)
            return true;
    }
    return false;
}
