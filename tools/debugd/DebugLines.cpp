#include "tools/debugd/DebugLines.h"

#include <cstdio>

namespace debuglines {

namespace {

// What the stand-in driver plays: a few stream setups in turn.
struct Stream {
    const char *mode;
    unsigned rate;
    unsigned cycle; // microseconds
    unsigned frames;
    const char *target;
};

const Stream kStreams[] = {
    {"PCM", 44100, 2000, 512, "Living Room"},
    {"PCM", 96000, 1000, 256, "Studio"},
    {"DSD", 176400, 4000, 2048, "Studio"},
};

} // namespace

std::string header(uint64_t seq, uint64_t micros)
{
    char text[64];
    const unsigned long long s = static_cast<unsigned long long>(micros / 1000000 % 100000);
    const unsigned us = static_cast<unsigned>(micros % 1000000);
    const unsigned long long n = static_cast<unsigned long long>(seq % 1000000);
    // "00123.456789 #000042 ASIO-DRV : " cut or padded to 31 characters.
    std::snprintf(text, sizeof text, "%05llu.%06u #%06llu asio-drv:", s, us, n);
    std::string out(text);
    out.resize(kHeaderSize, ' ');
    return out;
}

void Source::restart()
{
    step_ = 0;
}

std::string Source::next()
{
    const Stream &s = kStreams[(seq_ / 64) % (sizeof kStreams / sizeof kStreams[0])];
    const uint64_t n = seq_++;
    char line[160];
    switch (step_++) {
    case 0:
        std::snprintf(line, sizeof line, "configTransfer %s %u 2ch frames=%u", s.mode, s.rate, s.frames);
        return line;
    case 1:
        std::snprintf(line, sizeof line, "start SPEED=%u", s.rate);
        return line;
    case 2:
        std::snprintf(line, sizeof line, "start cycle=%u %uHz latency=%u", s.cycle, 1000000 / s.cycle,
                      s.cycle * 10);
        return line;
    case 3:
        std::snprintf(line, sizeof line, "Target: %s connected po=1", s.target);
        return line;
    default:
        break;
    }
    // The steady part of a session, in a fixed round.
    switch (n % 6) {
    case 0:
        std::snprintf(line, sizeof line, "info rcv seq=%llu lost=0 fs=%u", static_cast<unsigned long long>(n),
                      s.frames);
        break;
    case 1:
        std::snprintf(line, sizeof line, "info rcv seq=%llu lost=0 cy=%u", static_cast<unsigned long long>(n),
                      s.cycle + static_cast<unsigned>(n % 7) * 10);
        break;
    case 2:
        std::snprintf(line, sizeof line, "bufferSwitch index=%llu late=0", static_cast<unsigned long long>(n % 2));
        break;
    case 3:
        std::snprintf(line, sizeof line, "Target: %s buffer=%llu/16 underrun=0", s.target,
                      static_cast<unsigned long long>(8 + n % 5));
        break;
    case 4:
        std::snprintf(line, sizeof line, "sync clock drift=%lldppm", static_cast<long long>(n % 5) - 2);
        break;
    default:
        std::snprintf(line, sizeof line, "stream sent=%llu packets", static_cast<unsigned long long>(n * 24));
        break;
    }
    return line;
}

} // namespace debuglines
