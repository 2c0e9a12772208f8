#pragma once

#include "src/Network/Message.h"
#include "tools/sim/SimStorage.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// One emulated target: its identity, its answers to the command set and
// its fault modes. No sockets here: the server hands it requests and sends
// what it returns, so the behaviour is testable without a network.

namespace sim {

enum class Fault {
    None,
    Silent,    // no answer at all
    Refuse,    // replies with the OK flag clear
    Echo,      // the request itself comes back
    OtherPort, // the reply comes from another port of the same address
    BadMagic,  // magic 101
    BadLength, // padded length 8 bytes beyond the datagram
    BadPad,    // a bare header whose pad count (7) reaches into the header
    Oversize,  // a 1501-byte reply
};

// Text names of the faults, for the command line.
bool parseFault(const std::string &text, Fault &fault);
const char *faultName(Fault fault);

constexpr int64_t kForever = -1;

struct TargetConfig {
    std::string name = "velmora-sim";
    uint64_t identifier = 0;
    std::string version = "1.0.0";
    std::string source;
    uint16_t port = 0;   // command port; 0 = assigned by the server
    std::string address; // address to bind (link-local, without scope); empty = any
    Fault fault = Fault::None;
    std::set<uint16_t> faultCommands; // requests the fault applies to; empty = all
    int64_t delayMillis = 0;          // before every answer
    int64_t rebootSilenceMillis = 2000; // kForever: never comes back
    std::string logText;              // sent to each log client on connect
    int64_t logEveryMillis = 0;       // 0 = no periodic lines
    std::string logLine;              // periodic line (a counter is appended)
};

struct Outgoing {
    std::vector<uint8_t> datagram;
    bool fromOtherPort = false;
};

class SimTarget {
public:
    explicit SimTarget(TargetConfig config);

    TargetConfig &config() { return config_; }
    const TargetConfig &config() const { return config_; }
    SimStorage &storage() { return *storage_; }

    // One received datagram (from the command port, or a Hello from the
    // discovery port). Appends what to send back to the source. note gets
    // a line about what happened, for the log (may stay empty).
    void handle(const uint8_t *data, size_t size, int64_t nowMicros, std::vector<Outgoing> &out,
                std::string &note);

    // Silent because of a reboot in progress (or one it never returns from).
    bool rebooting(int64_t nowMicros) const;
    const std::string &announcedName() const { return announcedName_; }
    const std::string &currentVersion() const { return newVersion_ ? *newVersion_ : config_.version; }
    // Counts reboots, so the server can drop log clients.
    int rebootCount() const { return reboots_; }

private:
    void shape(const MessageHeader &request, const uint8_t *data, size_t size, std::vector<Outgoing> &replies);

    TargetConfig config_;
    std::unique_ptr<SimStorage> storage_;
    std::string announcedName_;
    std::optional<std::string> newVersion_; // from a reboot after a written image
    bool rebootForever_ = false;
    int64_t silentUntil_ = 0; // nowMicros value
    int reboots_ = 0;
};

// One line describing a datagram: command name and code, length word,
// flags, parameters and (printable) payload.
std::string describeDatagram(const uint8_t *data, size_t size);

} // namespace sim
