#include "debugmon/text/LocalTime.h"

#include <ctime>

namespace debugtext {

int64_t localMillisOfDay()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    const time_t seconds = now.tv_sec;
    if (::localtime_r(&seconds, &local) == nullptr)
        return int64_t(now.tv_sec % 86400) * 1000 + now.tv_nsec / 1000000;
    return (int64_t(local.tm_hour) * 3600 + local.tm_min * 60 + local.tm_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace debugtext
