#pragma once

#include "src/Network/Message.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The storage side of an emulated target: its slots, the image transfer
// (SlotInfo, DataBlock, ImageCommit) and what happens to a written image.
// The emulator's target hands every request with command 26, 28 or 30 to
// handle(), and tells it when the target reboots.
class SimStorage {
public:
    using Reply = std::function<void(const std::vector<uint8_t> &datagram)>;

    SimStorage();
    ~SimStorage();

    // Per-target option "key=value" of the emulator's command line or config
    // file that belongs to storage (slots, burst limit, geometry, faults,
    // image file, ...). False when the key is not a storage option; err
    // gets a message when the value is bad.
    bool setOption(const std::string &key, const std::string &value, std::string &err);
    // Lines for the emulator's --help.
    static std::string optionsHelp();

    // A well-formed request with command SlotInfo, DataBlock or ImageCommit;
    // reply() sends a datagram back to the request's source.
    void handle(const MessageHeader &header, const uint8_t *datagram, size_t size, const Reply &reply);

    // The replies of the last handle() or onReboot() have gone out: file
    // work that would have held them back is done now (also at the next
    // handle() and at destruction, for callers that never call this).
    void afterReplies();

    // The target reboots now. Returns the version text the target reports
    // after this reboot, when a written image changes it.
    std::optional<std::string> onReboot();

private:
    struct State;
    State *state_;
};
