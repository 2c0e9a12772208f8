#include "debugmon/text/DebugLine.h"
#include "debugmon/text/LocalTime.h"
#include "settings/SettingsFiles.h"
#include "src/Network/Socket/Socket.h"
#include "src/Network/Socket/StreamSocket.h"
#include "src/Platform/Platform.h"
#include "src/Platform/StopRequest.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ctl {

namespace {

// Where the driver sends its debug datagrams.
constexpr uint16_t kDebugPort = 19641;
constexpr int64_t kSliceMicros = 100000;
constexpr size_t kMaxDatagram = 65536;
// Datagrams read before the lines go out together.
constexpr int kBatch = 1024;
// As the debug window asks: bursts of lines must not overflow the queue.
constexpr int kReceiveBufferSize = 4 * 1024 * 1024;
constexpr uint64_t kMaxSeconds = 31536000;

// The debug switch while the command runs: written by on(), removed by
// off() or, on every other way out, by the destructor.
class DebugSwitch {
public:
    explicit DebugSwitch(std::string path) : path_(std::move(path)) {}
    ~DebugSwitch() { (void)off(); }
    DebugSwitch(const DebugSwitch &) = delete;
    DebugSwitch &operator=(const DebugSwitch &) = delete;

    bool on(std::string &error)
    {
        fileio::FileError e{};
        if (!settings::debugSwitch().write(path_, &e)) {
            error = "'" + path_ + "': " + fileio::describe(e);
            return false;
        }
        written_ = true;
        return true;
    }
    bool off()
    {
        if (!written_)
            return true;
        written_ = false;
        return createSystemPlatform()->removeFile(path_);
    }
    const std::string &path() const { return path_; }

private:
    std::string path_;
    bool written_ = false;
};

class CmdMonitor : public Command {
public:
    std::string name() const override { return "monitor"; }
    std::string summary() const override { return "show the driver's debug output"; }
    std::string help() const override
    {
        return "Usage: velmora-ctl monitor [--settings FILE] [--seconds N] [--port N] [--raw]\n"
               "\n"
               "Shows the driver's debug output as the configuration tool's debug window\n"
               "does: receives the datagrams the driver sends to [::1] port 19641, drops the\n"
               "31-character header of each and prints one line per datagram: the local time\n"
               "hh:mm:ss.zzz, a space, \"Host  : \" unless the line begins with \"Target: \",\n"
               "and the line. Runs until Ctrl-C (or SIGTERM, SIGHUP; on Windows also\n"
               "Ctrl-Break or the console closing) or for --seconds.\n"
               "\n"
               "  --settings FILE  the driver's main settings file: while the command runs,\n"
               "                   the driver's debug switch debug.inf beside it is on, so\n"
               "                   that the driver sends its debug output. It is written as\n"
               "                   the debug button writes it once the port is held, and\n"
               "                   removed on every way out (Ctrl-C and the signals above\n"
               "                   included; not after SIGKILL, which nothing can catch).\n"
               "  --seconds N      stop after N seconds (1..31536000)\n"
               "  --port N         listen on this port of ::1 instead of 19641\n"
               "  --raw            the lines as they are; without it, TAB, CR, LF and the\n"
               "                   other control characters (C0, DEL, C1) in a line show as\n"
               "                   '?', so that no line can pass for two or command the\n"
               "                   terminal\n"
               "\n"
               "Each datagram is decoded as UTF-8; ill-formed bytes show as U+FFFD. Only\n"
               "one program can hold the port: when another one does (the debug window,\n"
               "another monitor), the command says so and ends without touching the switch.\n"
               "On standard error: a line when the port is held (and the switch written),\n"
               "and one when the command ends.\n"
               "\n"
               "Exit status: 0 after Ctrl-C, a signal or --seconds; 1 when the port cannot\n"
               "be held, the switch cannot be written or removed, receiving fails or\n"
               "standard output cannot be written; 2 for a bad command line.\n";
    }

    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, {{"--settings", true}, {"--seconds", true}, {"--port", true}, {"--raw", false}},
                       parsed, error))
            return usageError(err, name(), error);
        int status = kExitOk;
        if (!expectPositional(parsed, 0, 0, name(), err, status))
            return status;
        uint64_t seconds = 0;
        uint64_t port = kDebugPort;
        if (!parseRangeOption(parsed, "--seconds", 1, kMaxSeconds, seconds, error) ||
            !parseRangeOption(parsed, "--port", 1, 65535, port, error))
            return usageError(err, name(), error);
        std::string switchPath;
        if (parsed.has("--settings")) {
            switchPath = settings::debugSwitchPath(parsed.value("--settings"));
            // The switch goes into the settings file's folder, never into
            // whatever the current folder is.
            if (switchPath.empty())
                return usageError(
                    err, name(),
                    "--settings \"" + parsed.value("--settings") +
                        "\" names no folder: give the settings file with its folder (for example "
                        "./setting.inf)");
        }

        // First the signals, so that none can end the command between the
        // switch's writing and its removal.
        platform::StopRequest stop;
        DatagramReceiver receiver;
        NodeAddress local;
        local.address[15] = 1; // ::1
        local.setHostPort(static_cast<uint16_t>(port));
        const std::string where = "[::1] port " + std::to_string(port);
        if (!receiver.bindExclusive(local)) {
            if (receiver.addressInUse())
                return failure(
                    err, name(),
                    where + " is in use: another program receives the driver's debug output (the "
                            "configuration tool's debug window or another velmora-ctl monitor); close it "
                            "and try again");
            return failure(err, name(),
                           "cannot receive on " + where + ": " + socketErrorText(receiver.lastError()));
        }
        receiver.setReceiveBuffer(kReceiveBufferSize);

        DebugSwitch debugSwitch(switchPath);
        if (!switchPath.empty() && !debugSwitch.on(error))
            return failure(err, name(), "cannot write the driver's debug switch " + error);
        err << "velmora-ctl " << name() << ": receiving on " << where;
        if (!switchPath.empty())
            err << ", debug switch " << switchPath << " on";
        err << "\n";
        err.flush();

        status = receive(receiver, seconds, parsed.has("--raw"), stop, out, err);
        if (!debugSwitch.off()) {
            failure(err, name(),
                    "could not delete the driver's debug switch " + switchPath +
                        ": the driver sends debug output until it is deleted");
            status = kExitFailure;
        }
        return status;
    }

private:
    int receive(DatagramReceiver &receiver, uint64_t seconds, bool raw, const platform::StopRequest &stop,
                std::ostream &out, std::ostream &err)
    {
        const int64_t start = nowMicros();
        const int64_t end = seconds != 0 ? start + int64_t(seconds) * 1000000 : INT64_MAX;
        std::vector<char> datagram(kMaxDatagram);
        std::string lines;
        for (;;) {
            if (stop.requested()) {
                err << "velmora-ctl " << name() << ": stopped (" << stop.what() << ")\n";
                return kExitOk;
            }
            const int64_t now = nowMicros();
            if (now >= end) {
                err << "velmora-ctl " << name() << ": stopped after " << seconds << " s\n";
                return kExitOk;
            }
            const int r = receiver.waitReadable(static_cast<uint32_t>(std::min(kSliceMicros, end - now)));
            if (r == 0)
                return failure(err, name(),
                               "waiting for datagrams failed: " + socketErrorText(receiver.lastError()));
            if (r != 2)
                continue;
            // Everything waiting (up to a batch) goes out in one write.
            for (int n = 0; n < kBatch; ++n) {
                const ReceiveResult got = receiver.receive(datagram.data(), datagram.size());
                if (got.status == ReceiveResult::Failed)
                    return failure(err, name(), "receiving failed: " + socketErrorText(receiver.lastError()));
                if (got.status != ReceiveResult::Data)
                    break;
                const std::string line = debugtext::lineOfDatagram(datagram.data(), got.size);
                lines += debugtext::timeStamp(debugtext::localMillisOfDay());
                lines += raw ? debugtext::markedLine(line) : oneLine(debugtext::markedLine(line));
                lines += '\n';
            }
            out << lines;
            out.flush();
            lines.clear();
            if (!out)
                return outputFailure(err, name());
        }
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdMonitor);

} // namespace ctl
