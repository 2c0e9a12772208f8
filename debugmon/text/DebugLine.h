#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The driver's debug lines as the debug monitor reads them. One line per
// UDP datagram: UTF-8, whose first 31 characters are a header the monitor
// drops. A few lines, known by their beginning, carry values the monitor
// shows in its three fields; every line is logged with a time stamp and,
// unless the driver marked it as coming from the target, the host mark.
namespace debugtext {

// Characters of the driver's header, counted after decoding.
constexpr size_t kHeaderCharacters = 31;

constexpr char kConfigTransfer[] = "configTransfer ";
constexpr char kStartCycle[] = "start cycle=";
constexpr char kStartSpeed[] = "start SPEED=";
constexpr char kInfoRcv[] = "info rcv ";
constexpr char kTargetMark[] = "Target: ";
constexpr char kHostMark[] = "Host  : ";

// The line a datagram carries: decoded (see Utf8Stream.h) and without the
// header; empty when the datagram holds 31 characters or fewer.
std::string lineOfDatagram(const char *data, size_t size);

// What one line changes. A field that is set takes the text given; the
// others stay as they are.
struct LineEffect {
    std::optional<std::string> mode;  // "configTransfer ": the first token
    std::optional<std::string> cycle; // "start cycle=": the second token
    std::optional<std::string> info;  // "info rcv ": from the last token
};

// Reads one line. speed is the last valid non-zero "start SPEED=" value
// (0 until one came); a "start SPEED=" line with a valid non-zero number
// replaces it.
LineEffect applyLine(const std::string &line, uint32_t &speed);

// The info field's text for the last token of an "info rcv " line: "fs="
// frames shown as microseconds at the known speed, "cy=" a cycle count
// shown as a frequency; empty for anything else or a value that does not
// convert.
std::string infoText(const std::string &lastToken, uint32_t speed);

// The line as it is logged, without time stamp and line feed: the host
// mark in front unless the line begins with the target mark.
std::string markedLine(const std::string &line);

// "hh:mm:ss.zzz " (with the trailing space) for a local time in
// milliseconds; only the time of day counts, also for negative values.
std::string timeStamp(int64_t localMillis);

// The driver's numbers as the monitor converts them: surrounding white
// space (Unicode's, as in a line that ends in CR LF) is ignored, and so is
// a leading '+'.
// Decimal digits; at most 4294967295.
bool toUnsigned32(const std::string &text, uint32_t &value);
// A decimal number with an optional sign, fraction and exponent ("2.5",
// "-3", "1e3"; U+2212 also serves as the minus sign), or "nan", "inf",
// "+inf", "-inf" in any case; read as a
// double and then as a float. Values beyond the float range and numbers
// whose digits are not all zero but that come out as zero fail.
bool toFloat32(const std::string &text, float &value);

} // namespace debugtext
