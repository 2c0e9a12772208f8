// The target emulator's request handling on arbitrary datagrams, without
// sockets. The first byte picks the answer mode (normal, refusing, or from
// another port) and the source text; the rest is a run of datagrams, each
// after a two-byte length (little-endian), handled in order by one target
// so that image writes and reboots carry over. Every reply must be a
// well-formed datagram that fits one Ethernet frame's payload: parseHeader
// accepts it, its length word gives exactly its size, its pad bytes lie
// after the header and are zero, and it is at most 1500 bytes. Normal and
// refusing targets answer a request with its reply command (one more than
// the request's), the refusing one never sets the OK flag, a malformed
// request gets no answer, and a rebooting target stays silent.
#include "src/Network/Message.h"
#include "tools/sim/SimTarget.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkReply(const std::vector<uint8_t> &datagram, const MessageHeader &request, bool requestWellFormed,
                sim::Fault fault)
{
    MessageHeader reply;
    check(datagram.size() <= 1500);
    check(parseHeader(datagram.data(), datagram.size(), reply));
    check(reply.magic == msg::kMagic);
    check(reply.paddedLength() == datagram.size() && datagram.size() % 8 == 0);
    check(reply.padCount() <= datagram.size() - msg::kHeaderSize);
    for (size_t i = datagram.size() - reply.padCount(); i < datagram.size(); ++i)
        check(datagram[i] == 0);
    check(requestWellFormed);
    check(reply.command == static_cast<uint16_t>(request.command + 1));
    if (fault == sim::Fault::Refuse)
        check(!reply.ok());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    sim::TargetConfig config;
    const sim::Fault faults[] = {sim::Fault::None, sim::Fault::Refuse, sim::Fault::OtherPort};
    config.fault = faults[(data[0] & 3) % 3];
    config.name = "fuzz-target";
    config.identifier = 0x0004000300020001ull;
    config.version = "2.1.0";
    if (data[0] & 4)
        config.source = "certificarono/firmware/fuzz";
    config.rebootSilenceMillis = (data[0] & 8) ? sim::kForever : 1;
    sim::SimTarget target(config);

    int64_t now = 1000000;
    size_t at = 1;
    while (at < size) {
        size_t length = data[at];
        if (at + 1 < size)
            length |= static_cast<size_t>(data[at + 1]) << 8;
        at = std::min(size, at + 2);
        length = std::min(length, size - at);
        const uint8_t *request = data + at;
        at += length;

        MessageHeader header;
        const bool wellFormed = parseHeader(request, length, header);
        std::vector<sim::Outgoing> out;
        std::string note;
        const bool silent = target.rebooting(now);
        target.handle(request, length, now, out, note);
        if (silent)
            check(out.empty());
        for (const sim::Outgoing &reply : out) {
            check(reply.fromOtherPort == (config.fault == sim::Fault::OtherPort));
            checkReply(reply.datagram, header, wellFormed, config.fault);
        }
        (void)sim::describeDatagram(request, length);
        now += 500000;
    }
    return 0;
}
