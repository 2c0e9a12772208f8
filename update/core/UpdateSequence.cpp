#include "update/core/UpdateSequence.h"

#include "src/Network/Crc16.h"
#include "src/Network/TargetClient.h"

#include <memory>
#include <thread>

namespace update {

namespace {

using Clock = std::chrono::steady_clock;

class TargetClientAdapter : public UpdateClient {
public:
    explicit TargetClientAdapter(TargetClient &client) : client_(client) {}
    bool open() override { return client_.open(); }
    void close() override { client_.close(); }
    bool transferImage(const NodeAddress &destination, int slotIndex, const uint8_t *image, uint64_t length,
                       uint64_t burstLimit) override
    {
        return client_.transferImage(destination, slotIndex, image, length, burstLimit);
    }
    bool commitImage(const NodeAddress &destination, int slotIndex, uint16_t crc, uint16_t &state) override
    {
        return client_.commitImage(destination, slotIndex, crc, state);
    }
    bool reboot(const NodeAddress &destination, uint8_t mode) override
    {
        return client_.reboot(destination, mode);
    }
    bool probe(const NodeAddress &destination) override { return client_.probe(destination); }
    bool queryVersion(const NodeAddress &destination, std::string &text) override
    {
        return client_.queryVersion(destination, text);
    }
    bool transferStopped() const override { return client_.transferStopped(); }

private:
    TargetClient &client_;
};

constexpr uint8_t kRebootMode = 1;

} // namespace

bool runUpdate(const std::vector<uint8_t> &image, const NodeAddress &target, const UpdateOptions &options,
               const UpdateReport &report)
{
    std::unique_ptr<TargetClient> client;
    try {
        client = std::make_unique<TargetClient>(TargetClient::kAllOnes, std::string());
    } catch (const TORNE::Err &) {
        // The socket library did not start: the same as a client that does
        // not open.
        std::this_thread::sleep_for(options.timings.pause);
        report(text::kStartTransfer, "");
        report(text::kErrorOpen, text::kBoxError);
        return false;
    }
    if (options.progress)
        client->setTransferProgress(options.progress);
    if (options.stop)
        client->setTransferStop(options.stop);
    TargetClientAdapter adapter(*client);
    return runUpdate(adapter, image, target, options, report);
}

bool runUpdate(UpdateClient &client, const std::vector<uint8_t> &image, const NodeAddress &target,
               const UpdateOptions &options, const UpdateReport &report)
{
    const UpdateTimings &t = options.timings;
    const int slot = options.slotIndex;
    auto fail = [&](const char *status) {
        report(status, text::kBoxError);
        client.close();
        return false;
    };
    auto stopRequested = [&] { return options.stop && options.stop(); };
    auto stopped = [&](const char *status) {
        report(status, text::kBoxStopped);
        client.close();
        return false;
    };

    std::this_thread::sleep_for(t.pause);
    if (stopRequested())
        return stopped(text::kStoppedUnchanged);
    report(text::kStartTransfer, "");
    const uint16_t crc = crc16Usb(image.data(), image.size());
    if (!client.open())
        return fail(text::kErrorOpen);
    if (!client.transferImage(target, slot, image.data(), image.size(), options.burstLimit))
        return client.transferStopped() ? stopped(text::kStoppedUnchanged) : fail(text::kErrorTransfer);
    report(text::kTransferDone, "");
    std::this_thread::sleep_for(t.pause);
    if (stopRequested())
        return stopped(text::kStoppedUnchanged);
    report(text::kStartWrite, "");

    // Write-state polling, bounded: a target that never finishes writing
    // fails the update instead of holding it forever.
    const Clock::time_point writeStart = Clock::now();
    uint16_t state = 0;
    if (!client.commitImage(target, slot, crc, state))
        return fail(text::kErrorWrite);
    for (;;) {
        report(text::kWriteState + std::to_string(state), "");
        if (state == 0)
            break;
        if (Clock::now() - writeStart >= t.writeBound)
            return fail(text::kErrorWrite);
        std::this_thread::sleep_for(t.poll);
        state = 0;
        if (!client.commitImage(target, slot, crc, state))
            return fail(text::kErrorWrite);
    }

    report(text::kWriteDone, "");
    if (stopRequested())
        return stopped(text::kStoppedWritten);
    if (!client.reboot(target, kRebootMode))
        return fail(text::kErrorReboot);
    std::this_thread::sleep_for(t.pause);
    report(text::kStartReboot, "");
    // Both reboot waits are bounded: a target that never goes down or never
    // comes back fails the update with the reboot error.
    const Clock::time_point downStart = Clock::now();
    while (client.probe(target)) {
        if (Clock::now() - downStart >= t.downBound)
            return fail(text::kErrorReboot);
    }
    report(text::kDoReboot, "");
    const Clock::time_point upStart = Clock::now();
    while (!client.probe(target)) {
        if (Clock::now() - upStart >= t.upBound)
            return fail(text::kErrorReboot);
    }
    report(text::kEndReboot, "");
    std::string version;
    client.queryVersion(target, version);
    std::this_thread::sleep_for(t.pause);
    report(text::kRebootDone, text::kBoxReady + version);
    client.close();
    return true;
}

} // namespace update
