#include "debugmon/text/LocalTime.h"

#include <windows.h>

namespace debugtext {

int64_t localMillisOfDay()
{
    SYSTEMTIME local;
    GetLocalTime(&local);
    return (int64_t(local.wHour) * 3600 + local.wMinute * 60 + local.wSecond) * 1000 + local.wMilliseconds;
}

} // namespace debugtext
