#include "debugmon/text/DebugLine.h"

#include "debugmon/text/Utf8Stream.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

namespace debugtext {

namespace {

bool startsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The parts of text after from, split at single spaces (two spaces in a
// row make an empty part).
std::vector<std::string> tokens(const std::string &text, size_t from)
{
    std::vector<std::string> parts;
    size_t begin = std::min(from, text.size());
    for (;;) {
        const size_t space = text.find(' ', begin);
        if (space == std::string::npos) {
            parts.push_back(text.substr(begin));
            return parts;
        }
        parts.push_back(text.substr(begin, space - begin));
        begin = space + 1;
    }
}

// The length of a white-space character at text[i] (0 if none): the C0
// spaces, U+0020, U+0085, U+00A0 and the Unicode space separators and line
// and paragraph separators of the Basic Multilingual Plane.
size_t spaceAt(const std::string &text, size_t i)
{
    const auto byte = [&](size_t k) {
        return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    const unsigned char b = byte(0);
    if (b == ' ' || (b >= 0x09 && b <= 0x0d))
        return 1;
    if (b == 0xc2 && (byte(1) == 0x85 || byte(1) == 0xa0))
        return 2;
    if (b == 0xe1 && byte(1) == 0x9a && byte(2) == 0x80) // U+1680
        return 3;
    if (b == 0xe2 && byte(1) == 0x80) { // U+2000..200A, U+2028, U+2029, U+202F
        const unsigned char c = byte(2);
        return (c >= 0x80 && c <= 0x8a) || c == 0xa8 || c == 0xa9 || c == 0xaf ? 3 : 0;
    }
    if (b == 0xe2 && byte(1) == 0x81 && byte(2) == 0x9f) // U+205F
        return 3;
    if (b == 0xe3 && byte(1) == 0x80 && byte(2) == 0x80) // U+3000
        return 3;
    return 0;
}

// text without white space at both ends.
std::string trimmed(const std::string &text)
{
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t n = spaceAt(text, begin);
        if (n == 0)
            break;
        begin += n;
    }
    // From the end: find the last position after which only spaces follow.
    size_t end = begin;
    for (size_t i = begin; i < text.size();) {
        const size_t n = spaceAt(text, i);
        if (n == 0) {
            ++i;
            while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xc0) == 0x80)
                ++i;
            end = i;
        } else {
            i += n;
        }
    }
    return text.substr(begin, end - begin);
}

constexpr char kMinusSign[] = "\xe2\x88\x92";

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string lowerAscii(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// [digits][.digits] with at least one digit, then an optional exponent
// with at least one digit.
bool isPlainDecimal(const std::string &text)
{
    size_t i = 0;
    size_t digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return false;
    }
    return i == text.size();
}

} // namespace

std::string lineOfDatagram(const char *data, size_t size)
{
    std::string text = decodeUtf8(data, size);
    return text.substr(offsetAfterCharacters(text, kHeaderCharacters));
}

LineEffect applyLine(const std::string &line, uint32_t &speed)
{
    LineEffect effect;
    if (startsWith(line, kConfigTransfer)) {
        effect.mode = tokens(line, std::strlen(kConfigTransfer)).front();
    } else if (startsWith(line, kStartCycle)) {
        // A line without a second token leaves the field as it was.
        const std::vector<std::string> parts = tokens(line, std::strlen(kStartCycle));
        if (parts.size() >= 2)
            effect.cycle = parts[1];
    } else if (startsWith(line, kStartSpeed)) {
        uint32_t value = 0;
        if (toUnsigned32(line.substr(std::strlen(kStartSpeed)), value) && value != 0)
            speed = value;
    } else if (startsWith(line, kInfoRcv)) {
        effect.info = infoText(tokens(line, std::strlen(kInfoRcv)).back(), speed);
    }
    return effect;
}

std::string infoText(const std::string &lastToken, uint32_t speed)
{
    const size_t eq = lastToken.find('=');
    if (eq == std::string::npos || lastToken.find('=', eq + 1) != std::string::npos)
        return {};
    const std::string name = lastToken.substr(0, eq);
    const std::string value = lastToken.substr(eq + 1);
    if (name == "fs") {
        float frames = 0;
        if (!toFloat32(value, frames) || frames == 0 || speed == 0)
            return {};
        // The driver's arithmetic: the whole microseconds of one frame,
        // times the frames, in float.
        const float usec = float(1000000u / speed) * frames;
        // Values beyond what the field can show (or not numbers at all)
        // show nothing rather than garbage. The lowest 32-bit value is exact
        // in a float and is in range; the highest is not (it rounds up to
        // 2^31), hence the two different bounds.
        if (!std::isfinite(usec) || usec < float(std::numeric_limits<int32_t>::min()) ||
            usec >= float(std::numeric_limits<int32_t>::max()))
            return {};
        return std::to_string(static_cast<int32_t>(usec)) + " usec";
    }
    if (name == "cy") {
        uint32_t count = 0;
        if (!toUnsigned32(value, count) || count == 0)
            return {};
        const uint32_t r = 100000000u / count;
        const uint32_t cents = r % 100;
        return std::to_string(r / 100) + "." + (cents < 10 ? "0" : "") + std::to_string(cents) + " Hz";
    }
    return {};
}

std::string markedLine(const std::string &line)
{
    return startsWith(line, kTargetMark) ? line : kHostMark + line;
}

std::string timeStamp(int64_t localMillis)
{
    constexpr int64_t kDayMs = 24 * 3600 * 1000;
    const int ms = static_cast<int>(((localMillis % kDayMs) + kDayMs) % kDayMs);
    const int fields[] = {ms / 3600000, ms / 60000 % 60, ms / 1000 % 60};
    const char separators[] = {':', ':', '.'};
    std::string text(13, ' ');
    for (int f = 0; f < 3; ++f) {
        text[size_t(f) * 3] = static_cast<char>('0' + fields[f] / 10);
        text[size_t(f) * 3 + 1] = static_cast<char>('0' + fields[f] % 10);
        text[size_t(f) * 3 + 2] = separators[f];
    }
    text[9] = static_cast<char>('0' + ms % 1000 / 100);
    text[10] = static_cast<char>('0' + ms % 100 / 10);
    text[11] = static_cast<char>('0' + ms % 10);
    return text;
}

bool toUnsigned32(const std::string &text, uint32_t &value)
{
    std::string t = trimmed(text);
    if (!t.empty() && t[0] == '+')
        t.erase(0, 1);
    if (t.empty())
        return false;
    uint64_t v = 0;
    for (const char c : t) {
        if (!isDigit(c))
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > std::numeric_limits<uint32_t>::max())
            return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

bool toFloat32(const std::string &text, float &value)
{
    // U+2212 MINUS SIGN reads as '-', wherever it stands.
    std::string t = trimmed(text);
    for (size_t at = t.find(kMinusSign); at != std::string::npos; at = t.find(kMinusSign, at + 1))
        t.replace(at, std::strlen(kMinusSign), "-");
    const std::string lower = lowerAscii(t);
    if (lower == "nan") {
        value = std::numeric_limits<float>::quiet_NaN();
        return true;
    }
    if (lower == "inf" || lower == "+inf" || lower == "-inf") {
        value = lower[0] == '-' ? -std::numeric_limits<float>::infinity()
                                : std::numeric_limits<float>::infinity();
        return true;
    }
    bool negative = false;
    size_t from = 0;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        from = 1;
    }
    const std::string number = t.substr(from);
    if (!isPlainDecimal(number))
        return false;
    double d = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), d);
    // Out of range covers both ends: beyond the double range, and digits
    // that are not all zero coming out as zero.
    if (error != std::errc() || end != number.data() + number.size())
        return false;
    if (negative)
        d = -d;
    if (std::fabs(d) > double(std::numeric_limits<float>::max()))
        return false;
    const float f = static_cast<float>(d);
    if (d != 0 && f == 0)
        return false;
    value = f;
    return true;
}

} // namespace debugtext
