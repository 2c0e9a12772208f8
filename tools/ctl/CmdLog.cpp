#include "debugmon/text/TerminalText.h"
#include "debugmon/text/Utf8Stream.h"
#include "src/Network/AddressText.h"
#include "src/Network/Socket/Socket.h"
#include "src/Network/Socket/StreamSocket.h"
#include "src/Platform/StopRequest.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ctl {

namespace {

// The target's log stream.
constexpr uint16_t kLogPort = 23;
// The longest wait for the connection; --seconds makes it shorter.
constexpr int64_t kConnectMicros = 5000000;
// Waits are cut into slices this long, so that Ctrl-C ends them soon.
constexpr int64_t kSliceMicros = 100000;
constexpr size_t kChunkSize = 65536;
// As the update dialog does after its log window's reboot button.
constexpr uint8_t kRebootMode = 1;
constexpr int kRebootTries = 3;
constexpr uint64_t kMaxSeconds = 31536000;

class CmdLog : public Command {
public:
    std::string name() const override { return "log"; }
    std::string summary() const override { return "show a target's log stream"; }
    std::string help() const override
    {
        return std::string("Usage: velmora-ctl log EP [--seconds N] [--reboot] [--port N] [--raw]\n"
                           "\n"
                           "Shows the log text a target streams on TCP port 23 of its address, as the\n"
                           "update dialog's log window does: the bytes are decoded as UTF-8, a character\n"
                           "cut between two pieces of the stream stays whole, and each ill-formed byte\n"
                           "sequence shows as U+FFFD. Runs until Ctrl-C (or SIGTERM, SIGHUP; on Windows\n"
                           "also Ctrl-Break or the console closing), until the target closes the\n"
                           "stream, or for --seconds. Nothing is sent to the target on this connection.\n"
                           "\n") +
               kEndpointHelp +
               "              (its address and interface; the port is the target's command\n"
               "              port, which --reboot uses)\n"
               "  --seconds N stop after N seconds (1..31536000)\n"
               "  --reboot    when the log ends, ask the target to reboot (mode 1) as the\n"
               "              log window's reboot button does: up to three tries until the\n"
               "              target confirms one\n"
               "  --port N    the log stream's TCP port instead of 23\n"
               "  --raw       write the text as it is; without it, what could move the\n"
               "              cursor or command the terminal shows as '?': ESC and the other\n"
               "              control characters except LF and TAB, a CR not followed by LF,\n"
               "              DEL and the C1 controls\n"
               "\n"
               "Output: the stream's text as it arrives. On standard error: a line when the\n"
               "connection stands and one that says how the log ended. The connection is\n"
               "waited for at most 5 s.\n"
               "\n"
               "Exit status: 0 when the log ended by Ctrl-C, a signal, --seconds or the\n"
               "target closing the stream (and, with --reboot, the target confirmed the\n"
               "reboot); 1 when the connection failed or broke, standard output could not be\n"
               "written, or the reboot was not confirmed; 2 for a bad command line.\n";
    }

    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, {{"--seconds", true}, {"--reboot", false}, {"--port", true}, {"--raw", false}},
                       parsed, error))
            return usageError(err, name(), error);
        int status = kExitOk;
        NodeAddress ep;
        if (!parseSingleEndpoint(parsed, name(), err, ep, status))
            return status;
        uint64_t seconds = 0;
        uint64_t port = kLogPort;
        if (!parseRangeOption(parsed, "--seconds", 1, kMaxSeconds, seconds, error) ||
            !parseRangeOption(parsed, "--port", 1, 65535, port, error))
            return usageError(err, name(), error);

        platform::StopRequest stop;
        NodeAddress logPeer = ep;
        logPeer.setHostPort(static_cast<uint16_t>(port));
        status = showLog(logPeer, seconds, parsed.has("--raw"), stop, out, err);
        if (parsed.has("--reboot") && !reboot(ep, err))
            status = kExitFailure;
        return status;
    }

private:
    int showLog(const NodeAddress &peer, uint64_t seconds, bool raw, const platform::StopRequest &stop,
                std::ostream &out, std::ostream &err)
    {
        const std::string where =
            "[" + formatAddress(peer.address) +
            (peer.interfaceIndex != 0 ? "%" + std::to_string(peer.interfaceIndex) : "") +
            "]:" + std::to_string(peer.hostPort());
        const int64_t start = nowMicros();
        // One absolute end for everything: no stream of data can stretch it.
        const int64_t end = seconds != 0 ? start + int64_t(seconds) * 1000000 : INT64_MAX;
        const int64_t connectEnd = std::min(end, start + kConnectMicros);

        TcpStream stream;
        if (!stream.beginConnect(peer))
            return failure(err, name(),
                           "cannot connect to " + where + ": " + socketErrorText(stream.lastError()));
        for (;;) {
            if (stop.requested()) {
                err << "velmora-ctl " << name() << ": stopped (" << stop.what()
                    << ") before the connection stood\n";
                return kExitOk;
            }
            const int64_t now = nowMicros();
            if (now >= connectEnd)
                return failure(err, name(),
                               "no connection to " + where + " within " +
                                   std::to_string((connectEnd - start) / 1000) + " ms");
            const int r =
                stream.waitConnected(static_cast<uint32_t>(std::min(kSliceMicros, connectEnd - now)));
            if (r == 2)
                break;
            if (r == 0)
                return failure(err, name(),
                               "cannot connect to " + where + ": " + socketErrorText(stream.lastError()) +
                                   (TcpStream::isRefused(stream.lastError())
                                        ? " (the target serves no log stream on this port)"
                                        : ""));
        }
        err << "velmora-ctl " << name() << ": connected to " << where << "\n";
        err.flush();

        debugtext::Utf8StreamDecoder decoder;
        debugtext::TerminalFilter filter;
        std::vector<char> chunk(kChunkSize);
        std::string text;
        std::string shown;
        // Writes what was decoded; false when standard output fails.
        const auto emit = [&](bool last) {
            if (last)
                decoder.finish(text);
            if (raw) {
                out << text;
            } else {
                filter.filter(text, shown);
                if (last)
                    filter.finish(shown);
                out << shown;
                shown.clear();
            }
            text.clear();
            out.flush();
            return static_cast<bool>(out);
        };
        for (;;) {
            if (stop.requested()) {
                err << "velmora-ctl " << name() << ": stopped (" << stop.what() << ")\n";
                return emit(true) ? kExitOk : outputFailed(err);
            }
            const int64_t now = nowMicros();
            if (now >= end) {
                err << "velmora-ctl " << name() << ": stopped after " << seconds << " s\n";
                return emit(true) ? kExitOk : outputFailed(err);
            }
            const int r = stream.waitReadable(static_cast<uint32_t>(std::min(kSliceMicros, end - now)));
            if (r == 0) {
                emit(true);
                return failure(err, name(),
                               "waiting for the log stream failed: " + socketErrorText(stream.lastError()));
            }
            if (r != 2)
                continue;
            const ReceiveResult got = stream.receive(chunk.data(), chunk.size());
            if (got.status == ReceiveResult::Data) {
                decoder.decode(chunk.data(), got.size, text);
                if (!emit(false))
                    return outputFailed(err);
            } else if (got.status == ReceiveResult::Closed) {
                const bool written = emit(true);
                err << "velmora-ctl " << name() << ": the target closed the log stream\n";
                return written ? kExitOk : outputFailed(err);
            } else if (got.status == ReceiveResult::Failed) {
                emit(true);
                return failure(err, name(), "the log stream broke: " + socketErrorText(stream.lastError()));
            }
        }
    }

    int outputFailed(std::ostream &err) { return outputFailure(err, name()); }

    bool reboot(const NodeAddress &ep, std::ostream &err)
    {
        int status = kExitOk;
        auto client = openClient(name(), err, status);
        if (!client)
            return false;
        for (int i = 0; i < kRebootTries; ++i) {
            if (client->reboot(ep, kRebootMode)) {
                err << "velmora-ctl " << name() << ": the target confirmed the reboot\n";
                return true;
            }
        }
        failure(err, name(),
                "the target did not confirm the reboot in " + std::to_string(kRebootTries) + " tries");
        return false;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdLog);

} // namespace ctl
