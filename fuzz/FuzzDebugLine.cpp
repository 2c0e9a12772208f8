// The debug monitor's line handling. The input is a run of datagrams, each
// a length byte and that many bytes, handled in order with one speed as the
// window keeps it. For each:
// - the line is what follows the first 31 characters of the decoded
//   datagram (all of it is header when it has 31 or fewer), and is
//   well-formed UTF-8; the logged form is the line behind "Host  : ", or
//   the line alone when it begins with "Target: ";
// - at most one field changes, the one the line's beginning names; the
//   mode is the line's first token, the cycle its second; the info text is
//   empty, "N usec" or "H.CC Hz";
// - "cy=" shows r = H * 100 + CC with r * n <= 100000000 < (r + 1) * n for
//   the count n; "fs=" shows a number of the sign of the product of frames
//   and whole microseconds per frame, and not beyond it;
// - the speed changes only on a "start SPEED=" line, never to 0, and only
//   to the number its text writes (leading '+', zeros and white space
//   aside);
// - the time stamp of any time is "hh:mm:ss.zzz " and reads back as that
//   time of day; numbers written out read back as the same number.
#include "debugmon/text/DebugLine.h"
#include "debugmon/text/Utf8Stream.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace debugtext;

namespace {

bool startsWith(const std::string &s, const char *prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool allDigits(const std::string &s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Part k of text after from, split at spaces; false if there is none.
bool part(const std::string &text, size_t from, size_t k, std::string &out)
{
    size_t begin = from;
    for (size_t n = 0; n < k; ++n) {
        const size_t space = text.find(' ', begin);
        if (space == std::string::npos)
            return false;
        begin = space + 1;
    }
    out = text.substr(begin, text.find(' ', begin) - begin);
    return true;
}

void checkInfo(const std::string &line, const std::string &info, uint32_t speed)
{
    if (info.empty())
        return;
    const std::string last = line.substr(line.rfind(' ') + 1);
    const std::string value = last.substr(last.find('=') + 1);
    if (info.size() > 3 && info.compare(info.size() - 3, 3, " Hz") == 0) {
        const std::string number = info.substr(0, info.size() - 3);
        const size_t point = number.find('.');
        if (last.compare(0, 3, "cy=") != 0 || point == std::string::npos || number.size() - point != 3 ||
            !allDigits(number.substr(0, point)) || !allDigits(number.substr(point + 1)))
            std::abort();
        const uint64_t r = std::stoull(number.substr(0, point)) * 100 + std::stoull(number.substr(point + 1));
        uint32_t n = 0;
        if (!toUnsigned32(value, n) || n == 0 || r * n > 100000000 || (r + 1) * n <= 100000000)
            std::abort();
        return;
    }
    if (info.size() > 5 && info.compare(info.size() - 5, 5, " usec") == 0) {
        const std::string number = info.substr(0, info.size() - 5);
        const bool negative = number[0] == '-';
        if (last.compare(0, 3, "fs=") != 0 || !allDigits(negative ? number.substr(1) : number))
            std::abort();
        const long long shown = std::stoll(number);
        float frames = 0;
        if (!toFloat32(value, frames) || speed == 0 || shown < INT32_MIN || shown > INT32_MAX)
            std::abort();
        const double product = double(1000000u / speed) * double(frames);
        if ((shown < 0 && product > 0) || (shown > 0 && product < 0) ||
            std::fabs(double(shown)) > std::fabs(product) * (1 + 1e-6) + 1)
            std::abort();
        return;
    }
    std::abort();
}

void checkDatagram(const std::string &datagram, uint32_t &speed)
{
    const std::string decoded = decodeUtf8(datagram);
    const std::string line = lineOfDatagram(datagram.data(), datagram.size());
    if (line.size() > decoded.size() || decoded.compare(decoded.size() - line.size(), line.size(), line) != 0)
        std::abort();
    const size_t header = countCharacters(decoded.substr(0, decoded.size() - line.size()));
    if (header != std::min<size_t>(kHeaderCharacters, countCharacters(decoded)))
        std::abort();
    const std::string logged = markedLine(line);
    if (logged != (startsWith(line, kTargetMark) ? line : std::string(kHostMark) + line))
        std::abort();

    const uint32_t before = speed;
    const LineEffect e = applyLine(line, speed);
    const int set = int(bool(e.mode)) + int(bool(e.cycle)) + int(bool(e.info));
    if (set > 1)
        std::abort();
    std::string token;
    if (e.mode && (!startsWith(line, kConfigTransfer) ||
                   !part(line, std::strlen(kConfigTransfer), 0, token) || token != *e.mode))
        std::abort();
    if (e.cycle && (!startsWith(line, kStartCycle) || !part(line, std::strlen(kStartCycle), 1, token) ||
                    token != *e.cycle))
        std::abort();
    if (startsWith(line, kConfigTransfer) != bool(e.mode) || startsWith(line, kInfoRcv) != bool(e.info) ||
        (startsWith(line, kStartCycle) && part(line, std::strlen(kStartCycle), 1, token)) != bool(e.cycle))
        std::abort();
    if (e.info)
        checkInfo(line, *e.info, speed);
    if (speed != before) {
        if (!startsWith(line, kStartSpeed) || speed == 0)
            std::abort();
        // The digits of the rest are the new speed's.
        const std::string rest = line.substr(std::strlen(kStartSpeed));
        const std::string digits = std::to_string(speed);
        const size_t at = rest.find(digits);
        if (at == std::string::npos)
            std::abort();
        for (size_t i = 0; i < at; ++i) {
            if (rest[i] != '0' && rest[i] != '+' && std::strchr(" \t\r\n\v\f", rest[i]) == nullptr &&
                (uint8_t(rest[i]) < 0x80))
                std::abort();
        }
    }
}

void checkNumbers(const uint8_t *data, size_t size)
{
    if (size < 8)
        return;
    uint64_t bits = 0;
    std::memcpy(&bits, data, 8);
    int64_t millis = 0;
    std::memcpy(&millis, data, 8);
    const std::string stamp = timeStamp(millis);
    unsigned h = 99, m = 99, s = 99, z = 9999;
    char tail = 0;
    if (stamp.size() != 13 || std::sscanf(stamp.c_str(), "%2u:%2u:%2u.%3u%c", &h, &m, &s, &z, &tail) != 5 ||
        tail != ' ' || h > 23 || m > 59 || s > 59 || z > 999)
        std::abort();
    const int64_t day = 86400000;
    if (int64_t(((h * 60 + m) * 60 + s) * 1000 + z) != ((millis % day) + day) % day)
        std::abort();

    const uint32_t u = uint32_t(bits);
    uint32_t back = 0;
    if (!toUnsigned32(" +" + std::to_string(u) + "\r\n", back) || back != u)
        std::abort();
    float f = 0;
    std::memcpy(&f, data, 4);
    if (std::isfinite(f)) {
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", double(f));
        float read = 0;
        if (!toFloat32(text, read) || std::memcmp(&read, &f, 4) != 0)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkNumbers(data, size);
    uint32_t speed = 0;
    size_t i = 0;
    while (i < size) {
        const size_t length = std::min<size_t>(data[i], size - i - 1);
        checkDatagram(std::string(reinterpret_cast<const char *>(data) + i + 1, length), speed);
        i += 1 + length;
    }
    return 0;
}
