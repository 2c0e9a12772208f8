#include "src/Network/Crc16.h"
#include "src/Network/Message.h"
#include "src/Network/TargetClient.h"

#include <algorithm>
#include <limits>

// Firmware image transfer and commit. The target is asked for its slots and
// the chosen slot's geometry, the image goes out in numbered data blocks
// grouped into windows and bursts, every burst waits for one
// acknowledgement and is sent again, unchanged, when none or a wrong one
// comes; the check at the end makes the target confirm the image CRC.

namespace {

constexpr uint16_t kLastOfBurst = 0x8000;
constexpr uint16_t kCheckOnly = 0xFFFF;
constexpr uint16_t kNoBurstLimit = 0xFFFF;
constexpr uint32_t kAckWaitMicros = 100000;

// A target that stops acknowledging must not keep us resending forever:
// after 50 waits of 100 ms in a row without any acknowledgement for the
// same burst (5 s of silence) the transfer fails. A target that answers
// every resend with an older sequence number fails the transfer after 500
// resends of one burst; with the losses of a real link a burst needs a
// handful at most.
constexpr int kMaxSilentWaits = 50;
constexpr int kMaxBurstResends = 500;

// The target query, the slot query and the check change nothing on the
// target. A reply to one of them that never comes (a flood of foreign
// datagrams can keep the receive queue full until the system drops the
// target's reply) is asked for again: at most this many transactions of
// 100 ms each, and only after a time-out. A refusal, an echo or a failed
// send still ends the transfer at once.
constexpr int kQueryAttempts = 5;

// The slot number travels in the low 15 bits of a data block's p0.
constexpr int kMaxSlotNumber = 0x7FFF;
// The largest datagram the 13 length bits of lengthWord and an IPv6 UDP
// datagram can both carry.
constexpr size_t kMaxDatagram = 65520;

bool replyHeader(const std::vector<uint8_t> &reply, MessageHeader &header)
{
    return parseHeader(reply.data(), reply.size(), header);
}

} // namespace

bool TargetClient::transferImage(const NodeAddress &destination, int slotIndex, const uint8_t *image,
                                 uint64_t length, uint64_t burstLimit)
{
    transferStopped_ = false;
    if (slotIndex < 0 || slotIndex >= kMaxSlotNumber || (image == nullptr && length != 0))
        return false;
    const uint16_t slotNumber = uint16_t(slotIndex + 1);
    std::vector<uint8_t> reply;
    MessageHeader rh;
    auto query = [&](const std::vector<uint8_t> &request, uint16_t expected) {
        TransactResult r = TransactResult::Timeout;
        for (int attempt = 0; attempt < kQueryAttempts && r == TransactResult::Timeout; ++attempt)
            r = transact(destination, request, expected, reply);
        return r;
    };

    // Target query: number of slots and burst limit.
    if (query(buildMessage(msg::SlotInfo), msg::SlotInfoReply) != TransactResult::Ok ||
        !replyHeader(reply, rh))
        return false;
    if (rh.param0 == 0 || slotIndex >= int(rh.param0))
        return false;
    uint64_t limit = rh.param1 == kNoBurstLimit ? std::numeric_limits<uint64_t>::max() : rh.param1;
    if (burstLimit != 0)
        limit = std::min(limit, burstLimit);

    // Slot query: geometry and capacity.
    if (query(buildMessage(msg::SlotInfo, 0, slotNumber), msg::SlotInfoReply) != TransactResult::Ok ||
        !replyHeader(reply, rh) || rh.param0 != slotNumber)
        return false;
    const uint64_t blockSize = uint64_t(rh.param1) + 1;
    const uint64_t window = uint64_t(rh.param2) + 1;
    const uint64_t windowCount = uint64_t(rh.param3) + 1;
    if (blockSize * window * windowCount < length)
        return false;
    // A block the image would fill beyond one datagram cannot be sent.
    if (messageLength(size_t(std::min(blockSize, length))) > kMaxDatagram)
        return false;

    // One buffer per block position of a burst, kept for the whole transfer:
    // a resent burst sends exactly the datagrams built for it.
    DatagramChannel &ch = channel();
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint8_t> received;
    NodeAddress source;
    uint64_t left = length;
    // The image CRC, kept up to date while each burst waits for its
    // acknowledgement, so that the check follows the last block at once.
    uint16_t crcRegister = kCrc16UsbStart;
    uint16_t sequence = 0;
    uint16_t windowNumber = 0;

    auto sendBurst = [&](size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (!ch.sendTo(blocks[i].data(), blocks[i].size(), destination, true))
                return false;
        }
        return true;
    };

    while (left > 0) {
        const uint64_t windowBlocks = std::min(window, (left + blockSize - 1) / blockSize);
        uint64_t index = 0;
        while (index < windowBlocks) {
            // A new burst.
            if (transferStop_ && transferStop_()) {
                transferStopped_ = true;
                return false;
            }
            const uint64_t burstOffset = length - left;
            size_t count = 0;
            uint64_t burstBytes = 0;
            uint16_t lastSequence = 0;
            bool last = false;
            while (!last) {
                const uint64_t n = std::min(blockSize, left);
                burstBytes += n;
                last = burstBytes >= limit || left == n || index + 1 == windowBlocks;
                MessageHeader h;
                h.lengthWord = lengthWordFor(size_t(n));
                h.command = msg::DataBlock;
                h.param0 = uint16_t(slotNumber | (last ? kLastOfBurst : 0));
                h.param1 = sequence;
                h.param2 = uint16_t(index);
                h.param3 = windowNumber;
                if (blocks.size() <= count)
                    blocks.emplace_back();
                buildMessage(blocks[count], h, image + (length - left), size_t(n));
                lastSequence = sequence;
                ++sequence;
                ++index;
                left -= n;
                if (!ch.sendTo(blocks[count].data(), blocks[count].size(), destination, true))
                    return false;
                ++count;
                if (transferProgress_)
                    transferProgress_(length - left, length);
            }

            crcRegister = crc16UsbUpdate(crcRegister, image + burstOffset, size_t(burstBytes));

            // Acknowledgement. Each wait is one window of 100 ms with one
            // absolute deadline: when it passes without a valid
            // acknowledgement the burst goes out again and the window
            // counts as silent, whatever else arrived meanwhile.
            int silentWaits = 0;
            int resends = 0;
            int64_t deadline = ch.now() + kAckWaitMicros;
            for (;;) {
                const uint32_t timeLeft = microsUntil(deadline, ch.now());
                bool resend = false;
                if (timeLeft == 0) {
                    if (++silentWaits >= kMaxSilentWaits)
                        return false;
                    resend = true;
                } else {
                    const int w = ch.waitReadable(timeLeft);
                    if (w == 0)
                        return false;
                    if (w == 1) {
                        if (++silentWaits >= kMaxSilentWaits)
                            return false;
                        resend = true;
                    } else {
                        ch.receiveFrom(received, source);
                        MessageHeader ack;
                        if (parseHeader(received.data(), received.size(), ack) &&
                            ack.command == msg::BlockAck) {
                            if (!ack.ok() || ack.param0 != slotNumber)
                                return false;
                            if (ack.param1 == lastSequence)
                                break;
                            // The target is there but missed a block.
                            silentWaits = 0;
                            resend = true;
                        }
                    }
                }
                if (resend) {
                    if (++resends > kMaxBurstResends || !sendBurst(count))
                        return false;
                    deadline = ch.now() + kAckWaitMicros;
                }
            }
        }
        ++windowNumber;
    }

    // Check: the target must confirm the CRC of the whole image.
    const uint16_t crc = crc16UsbFinish(crcRegister);
    if (query(buildMessage(msg::ImageCommit, 0, slotNumber, crc, kCheckOnly, 0), msg::ImageCommitReply) !=
            TransactResult::Ok ||
        !replyHeader(reply, rh))
        return false;
    return rh.param0 == slotNumber && rh.param1 == crc && rh.param2 == kCheckOnly;
}

bool TargetClient::commitImage(const NodeAddress &destination, int slotIndex, uint16_t crc, uint16_t &state)
{
    if (slotIndex < 0 || slotIndex >= kMaxSlotNumber)
        return false;
    const uint16_t slotNumber = uint16_t(slotIndex + 1);
    std::vector<uint8_t> reply;
    MessageHeader rh;
    if (transact(destination, buildMessage(msg::ImageCommit, 0, slotNumber, crc, state, 0),
                 msg::ImageCommitReply, reply) != TransactResult::Ok ||
        !replyHeader(reply, rh))
        return false;
    if (rh.param0 != slotNumber || rh.param1 != crc)
        return false;
    state = rh.param2;
    return true;
}
