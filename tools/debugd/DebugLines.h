#pragma once

#include <cstdint>
#include <string>

// The stand-in driver's debug output: one text line per datagram, each a
// 31-character header (the driver's time and source, which the monitor
// drops) followed by the line. A session starts as the driver's does when
// its debug switch is turned on (the configuration it got, the stream
// speed, the cycle) and goes on with reception reports, target status and
// ordinary lines.
namespace debuglines {

constexpr size_t kHeaderSize = 31;
constexpr uint16_t kPort = 19641;

// The header for a line sent at micros since the daemon started, as the
// seq-th line: always exactly kHeaderSize characters.
std::string header(uint64_t seq, uint64_t micros);

class Source {
public:
    // Starts a new session: the next line is the first of its opening.
    void restart();
    // The next line, without header.
    std::string next();

private:
    uint64_t step_ = 0;
    uint64_t seq_ = 0;
};

} // namespace debuglines
