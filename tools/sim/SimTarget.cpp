#include "tools/sim/SimTarget.h"

#include <cstdio>

namespace sim {

namespace {

struct FaultText {
    Fault fault;
    const char *name;
};
const FaultText kFaults[] = {
    {Fault::None, "none"},           {Fault::Silent, "silent"},       {Fault::Refuse, "refuse"},
    {Fault::Echo, "echo"},           {Fault::OtherPort, "other-port"}, {Fault::BadMagic, "bad-magic"},
    {Fault::BadLength, "bad-length"}, {Fault::BadPad, "bad-pad"},      {Fault::Oversize, "oversize"},
};

constexpr size_t kOversize = 1501;

void putLe16(std::vector<uint8_t> &d, size_t at, uint16_t v)
{
    d[at] = static_cast<uint8_t>(v & 0xff);
    d[at + 1] = static_cast<uint8_t>(v >> 8);
}

std::vector<uint8_t> textReply(uint16_t command, const std::string &text, uint16_t p0 = 0, uint16_t p1 = 0,
                               uint16_t p2 = 0, uint16_t p3 = 0)
{
    return buildMessage(command, msg::kFlagOk, p0, p1, p2, p3, reinterpret_cast<const uint8_t *>(text.data()),
                        text.size());
}

const char *commandName(uint16_t c)
{
    switch (c) {
    case msg::Hello: return "Hello";
    case msg::HelloReply: return "HelloReply";
    case msg::Announce: return "Announce";
    case msg::AnnounceReply: return "AnnounceReply";
    case msg::SlotInfo: return "SlotInfo";
    case msg::SlotInfoReply: return "SlotInfoReply";
    case msg::DataBlock: return "DataBlock";
    case msg::BlockAck: return "BlockAck";
    case msg::ImageCommit: return "ImageCommit";
    case msg::ImageCommitReply: return "ImageCommitReply";
    case msg::VersionQuery: return "VersionQuery";
    case msg::VersionReply: return "VersionReply";
    case msg::SourceQuery: return "SourceQuery";
    case msg::SourceReply: return "SourceReply";
    case msg::Reboot: return "Reboot";
    case msg::RebootReply: return "RebootReply";
    default: return "unknown";
    }
}

} // namespace

bool parseFault(const std::string &text, Fault &fault)
{
    for (const auto &f : kFaults) {
        if (text == f.name) {
            fault = f.fault;
            return true;
        }
    }
    return false;
}

const char *faultName(Fault fault)
{
    for (const auto &f : kFaults) {
        if (f.fault == fault)
            return f.name;
    }
    return "?";
}

SimTarget::SimTarget(TargetConfig config)
    : config_(std::move(config)), storage_(std::make_unique<SimStorage>())
{
}

bool SimTarget::rebooting(int64_t nowMicros) const
{
    return rebootForever_ || nowMicros < silentUntil_;
}

void SimTarget::handle(const uint8_t *data, size_t size, int64_t nowMicros, std::vector<Outgoing> &out,
                       std::string &note)
{
    note.clear();
    MessageHeader header;
    if (!parseHeader(data, size, header)) {
        note = "dropped: not a well-formed datagram";
        return;
    }
    if (rebooting(nowMicros)) {
        note = "silent: rebooting";
        return;
    }
    const bool faulty = config_.fault != Fault::None &&
                        (config_.faultCommands.empty() || config_.faultCommands.count(header.command) != 0);
    if (faulty && config_.fault == Fault::Silent) {
        note = "silent (fault)";
        return;
    }
    if (faulty && config_.fault == Fault::Echo) {
        out.push_back({std::vector<uint8_t>(data, data + size), false});
        note = "echoed (fault)";
        return;
    }

    std::vector<Outgoing> replies;
    const size_t payload = payloadLength(header);
    switch (header.command) {
    case msg::Hello: {
        const uint64_t id = config_.identifier;
        replies.push_back({textReply(msg::HelloReply, config_.name, uint16_t(id), uint16_t(id >> 16),
                                     uint16_t(id >> 32), uint16_t(id >> 48)),
                           false});
        break;
    }
    case msg::Announce:
        // A client announces itself with the OK flag set, nothing else.
        if (header.flags != msg::kFlagOk) {
            note = "refused: Announce with flags " + std::to_string(header.flags);
            replies.push_back({buildMessage(msg::AnnounceReply, 0), false});
            break;
        }
        announcedName_.assign(reinterpret_cast<const char *>(data) + msg::kHeaderSize, payload);
        note = "announced name \"" + announcedName_ + "\"";
        replies.push_back({buildMessage(msg::AnnounceReply, msg::kFlagOk), false});
        break;
    case msg::VersionQuery:
        replies.push_back({textReply(msg::VersionReply, currentVersion()), false});
        break;
    case msg::SourceQuery:
        replies.push_back({textReply(msg::SourceReply, config_.source), false});
        break;
    case msg::Reboot: {
        // Mode 1 is the one reboot this target knows.
        if (header.param0 != 1) {
            note = "refused: reboot mode " + std::to_string(header.param0);
            replies.push_back({buildMessage(msg::RebootReply, 0, header.param0), false});
            break;
        }
        replies.push_back({buildMessage(msg::RebootReply, msg::kFlagOk, header.param0), false});
        ++reboots_;
        if (config_.rebootSilenceMillis < 0)
            rebootForever_ = true;
        else
            silentUntil_ = nowMicros + config_.rebootSilenceMillis * 1000;
        if (auto v = storage_->onReboot())
            newVersion_ = *v;
        note = rebootForever_ ? "rebooting, never to come back"
                              : "rebooting, silent for " + std::to_string(config_.rebootSilenceMillis) + " ms";
        break;
    }
    case msg::SlotInfo:
    case msg::DataBlock:
    case msg::ImageCommit:
        storage_->handle(header, data, size,
                         [&replies](const std::vector<uint8_t> &d) { replies.push_back({d, false}); });
        break;
    default:
        note = "ignored: no such request";
        return;
    }
    if (faulty)
        shape(header, data, size, replies);
    for (auto &r : replies)
        out.push_back(std::move(r));
}

void SimTarget::shape(const MessageHeader &, const uint8_t *, size_t, std::vector<Outgoing> &replies)
{
    for (Outgoing &r : replies) {
        std::vector<uint8_t> &d = r.datagram;
        switch (config_.fault) {
        case Fault::Refuse:
            d[6] = static_cast<uint8_t>(d[6] & ~msg::kFlagOk);
            break;
        case Fault::OtherPort:
            r.fromOtherPort = true;
            break;
        case Fault::BadMagic:
            putLe16(d, 0, msg::kMagic + 1);
            break;
        case Fault::BadLength: {
            const uint16_t word = static_cast<uint16_t>(d[2] | (d[3] << 8));
            putLe16(d, 2, static_cast<uint16_t>(word + 8));
            break;
        }
        case Fault::BadPad:
            d.resize(msg::kHeaderSize);
            putLe16(d, 2, static_cast<uint16_t>(msg::kHeaderSize | 7));
            break;
        case Fault::Oversize:
            // Well-formed if it were cut to 1500 bytes: only a receiver
            // that notices the excess byte drops it.
            d.resize(kOversize, 'x');
            putLe16(d, 2, static_cast<uint16_t>(1496));
            break;
        default:
            break;
        }
    }
}

std::string describeDatagram(const uint8_t *data, size_t size)
{
    MessageHeader h;
    if (!parseHeader(data, size, h)) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "malformed datagram of %zu bytes", size);
        if (size >= 4) {
            std::snprintf(buf, sizeof buf, "malformed datagram of %zu bytes (magic %u, lengthWord %u)", size,
                          unsigned(data[0] | (data[1] << 8)), unsigned(data[2] | (data[3] << 8)));
        }
        return buf;
    }
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s(%u) len=%zu lengthWord=%u flags=0x%04x p=%u,%u,%u,%u",
                  commandName(h.command), unsigned(h.command), size, unsigned(h.lengthWord), unsigned(h.flags),
                  unsigned(h.param0), unsigned(h.param1), unsigned(h.param2), unsigned(h.param3));
    std::string out = buf;
    const size_t n = payloadLength(h);
    if (n > 0) {
        bool printable = true;
        for (size_t i = 0; i < n && printable; ++i)
            printable = data[16 + i] >= 0x20 && data[16 + i] < 0x7f;
        if (printable && n <= 200)
            out += " \"" + std::string(reinterpret_cast<const char *>(data) + 16, n) + "\"";
        else
            out += " payload=" + std::to_string(n) + " bytes";
    }
    return out;
}

} // namespace sim
