#pragma once

#include "src/Network/Socket/NodeAddress.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The firmware update of one target, without Qt: transfer the image, have
// the target write it while polling the write state, reboot the target,
// wait for it to go down and come back and read its new version. Every step
// is reported through a callback (status text, box text): the box text is
// empty for progress, "Error" after a failure and "Ready : " with the new
// version after success. The update dialog's worker and velmora-ctl's flash
// command both run it.

namespace update {

// The report texts; the dialog and the command line show them as they are.
namespace text {
constexpr char kStartTransfer[] = "Start FW Transfer";
constexpr char kErrorOpen[] = "Error Find Open";
constexpr char kErrorTransfer[] = "Error Transfer";
constexpr char kTransferDone[] = "Compleat Transfer";
constexpr char kStartWrite[] = "Start Write FW";
constexpr char kWriteState[] = "State Write FW "; // followed by the state in decimal
constexpr char kErrorWrite[] = "Error Write FW";
constexpr char kWriteDone[] = "Complear Write FW";
constexpr char kErrorReboot[] = "Error Reboot Target";
constexpr char kStartReboot[] = "Start Reboot Target";
constexpr char kDoReboot[] = "Do Reboot Target";
constexpr char kEndReboot[] = "End Reboot Target";
constexpr char kRebootDone[] = "Complear Reboot Target";
constexpr char kBoxError[] = "Error";
constexpr char kBoxReady[] = "Ready : "; // followed by the version text
// The ends of an update stopped on request (velmora-ctl's Ctrl-C).
constexpr char kStoppedUnchanged[] = "Stopped: firmware unchanged";
constexpr char kStoppedWritten[] = "Stopped: new image written, target not rebooted";
constexpr char kBoxStopped[] = "Stopped";
} // namespace text

struct UpdateTimings {
    // The pauses between the steps.
    std::chrono::milliseconds pause{1000};
    // Between two write-state queries.
    std::chrono::milliseconds poll{200};
    // A target still writing after this long fails the update with "Error
    // Write FW": writing a large image takes about a minute.
    std::chrono::milliseconds writeBound{180000};
    // A target that still answers this long after the reboot request, or
    // that does not answer again this long after it went down, fails the
    // update with "Error Reboot Target".
    std::chrono::milliseconds downBound{30000};
    std::chrono::milliseconds upBound{90000};
};

struct UpdateOptions {
    int slotIndex = 0;
    uint64_t burstLimit = 1; // one block per burst, as the update dialog uses
    UpdateTimings timings;
    // Data phase progress: bytes sent, total (clients made by runUpdate only).
    std::function<void(uint64_t sent, uint64_t total)> progress;
    // Asked before the transfer, before every burst of its data phase,
    // before the write and before the reboot. When it says so, the update
    // ends there with a "Stopped" report and the target keeps a known
    // state: its old firmware before the write, the new image written but
    // not running after it. A write or a reboot under way runs to its end
    // (bounded): stopping the polling would not stop the target.
    std::function<bool()> stop;
};

using UpdateReport = std::function<void(const std::string &status, const std::string &box)>;

// The target operations the update uses; TargetClient in the product,
// fakes in tests.
class UpdateClient {
public:
    virtual ~UpdateClient() = default;
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool transferImage(const NodeAddress &destination, int slotIndex, const uint8_t *image,
                               uint64_t length, uint64_t burstLimit) = 0;
    virtual bool commitImage(const NodeAddress &destination, int slotIndex, uint16_t crc,
                             uint16_t &state) = 0;
    virtual bool reboot(const NodeAddress &destination, uint8_t mode) = 0;
    virtual bool probe(const NodeAddress &destination) = 0;
    virtual bool queryVersion(const NodeAddress &destination, std::string &text) = 0;
    // Whether the last transferImage ended because UpdateOptions::stop said
    // so (the client asks it before every burst).
    virtual bool transferStopped() const { return false; }
};

// The whole update with a client of its own (identifier filter all ones,
// empty name). True after the final "Complear Reboot Target" report, false
// after a failure or stop report. Every path ends with exactly one report
// whose box text is not empty.
bool runUpdate(const std::vector<uint8_t> &image, const NodeAddress &target, const UpdateOptions &options,
               const UpdateReport &report);

// The same on a given client; opens it first and closes it at the end.
bool runUpdate(UpdateClient &client, const std::vector<uint8_t> &image, const NodeAddress &target,
               const UpdateOptions &options, const UpdateReport &report);

} // namespace update
