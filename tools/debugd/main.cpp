// velmora-debugd: the stand-in driver's debug output. While the debug
// switch "debug.inf" exists in the driver's settings folder it sends debug
// lines as UDP datagrams to [::1]:19641, where the configuration tool's
// debug monitor listens; without the file it stays silent.
#include "driver/standin/DriverConfig.h"
#include "src/Network/Socket/Socket.h"
#include "src/Platform/ParentDeath.h"
#include "src/Platform/Platform.h"
#include "tools/debugd/DebugLines.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

const char *kHelp =
    "usage: velmora-debugd [--settings-dir DIR] [--rate N] [--poll-ms MS] [--port N]\n"
    "                      [--quiet]\n"
    "\n"
    "The stand-in ASIO driver's debug output. While the debug switch file\n"
    "\"debug.inf\" exists in the driver's settings folder, sends one debug line\n"
    "per UDP datagram to [::1] port 19641 (a 31-character header, then lines\n"
    "such as \"configTransfer ...\", \"start SPEED=...\", \"start cycle=...\",\n"
    "\"info rcv ... fs=...\", \"info rcv ... cy=...\", \"Target: ...\"); each time the\n"
    "switch appears a new session starts. Without the file nothing is sent.\n"
    "Sends only to the local host.\n"
    "\n"
    "  --settings-dir DIR  folder watched for debug.inf (default: the folder of\n"
    "                      the driver's settings file, from the driver's\n"
    "                      configuration: VELMORA_DRIVER_CONFIG, else driver.inf\n"
    "                      beside this program)\n"
    "  --rate N            lines per second while switched on (default 20;\n"
    "                      0.1 to 10000)\n"
    "  --poll-ms MS        how often the switch is looked at (default 200; 1 to\n"
    "                      10000)\n"
    "  --port N            destination port on ::1 (default 19641; for tests)\n"
    "  --quiet             no messages when the switch changes\n"
    "  --help, -h          this text\n"
    "\n"
    "Stops on SIGINT or SIGTERM. Exit status: 0 after a signal, 1 when it\n"
    "cannot start, 2 on a bad command line.\n";

bool parseNumber(const std::string &text, double low, double high, double &out)
{
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !(v >= low && v <= high))
        return false;
    out = v;
    return true;
}

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int usageError(const std::string &message)
{
    std::fprintf(stderr, "velmora-debugd: %s\n(see velmora-debugd --help)\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string dir;
    double rate = 20, pollMs = 200, port = debuglines::kPort;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        const size_t eq = arg.find('=');
        const bool inlineValue = arg.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        if (arg != "--settings-dir" && arg != "--rate" && arg != "--poll-ms" && arg != "--port")
            return usageError("unknown option \"" + arg + "\"");
        if (!inlineValue) {
            if (i + 1 >= argc)
                return usageError(arg + " needs a value");
            value = argv[++i];
        }
        if (arg == "--settings-dir") {
            if (value.empty())
                return usageError("--settings-dir needs a folder");
            dir = value;
        } else if (arg == "--rate" && !parseNumber(value, 0.1, 10000, rate)) {
            return usageError("--rate wants a number from 0.1 to 10000, not \"" + value + "\"");
        } else if (arg == "--poll-ms" && !parseNumber(value, 1, 10000, pollMs)) {
            return usageError("--poll-ms wants a number from 1 to 10000, not \"" + value + "\"");
        } else if (arg == "--port" &&
                   (!parseNumber(value, 1, 65535, port) || port != static_cast<double>(static_cast<int>(port)))) {
            return usageError("--port wants a port number from 1 to 65535, not \"" + value + "\"");
        }
    }

    if (dir.empty()) {
        std::string error;
        const DriverConfig config = driverconfig::load(createSystemPlatform()->programDirectory(), error);
        if (!error.empty())
            std::fprintf(stderr, "velmora-debugd: %s\n", error.c_str());
        const size_t slash = config.settingsPath.rfind('/');
        if (slash == std::string::npos) {
            std::fprintf(stderr, "velmora-debugd: the driver names no settings folder; give --settings-dir\n");
            return 1;
        }
        dir = config.settingsPath.substr(0, slash);
    }
    if (dir.back() != '/')
        dir += '/';
    const std::string switchFile = dir + "debug.inf";

    Socket socket;
    NodeAddress local; // [::1], any port: the datagrams never leave the host
    local.address[15] = 1;
    if (!socket.open(SocketKind::UdpV6Only) || !socket.bind(local)) {
        std::fprintf(stderr, "velmora-debugd: cannot open a UDP socket on ::1 (error %d); is lo up?\n",
                     socket.lastError());
        return 1;
    }
    NodeAddress destination;
    destination.address[15] = 1;
    destination.setHostPort(static_cast<uint16_t>(port));

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A killed demo script leaves no debug output behind.
    platform::endWithParent();

    if (!quiet)
        std::printf("velmora-debugd: watching %s; sends %g lines/s to [::1]:%d while it exists\n",
                    switchFile.c_str(), rate, static_cast<int>(port));
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    const auto linePeriod = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    const auto pollPeriod =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(pollMs));
    debuglines::Source source;
    uint64_t seq = 0;
    bool on = false;
    auto nextPoll = Clock::now();
    auto nextLine = Clock::now();
    while (!stopRequested) {
        const auto now = Clock::now();
        if (now >= nextPoll) {
            const bool present = exists(switchFile);
            if (present != on) {
                on = present;
                if (on) {
                    source.restart();
                    nextLine = now;
                }
                if (!quiet) {
                    std::printf("velmora-debugd: debug %s\n", on ? "on" : "off");
                    std::fflush(stdout);
                }
            }
            nextPoll = now + pollPeriod;
        }
        if (on && now >= nextLine) {
            const uint64_t micros = static_cast<uint64_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(now - started).count());
            const std::string datagram = debuglines::header(seq++, micros) + source.next();
            // Nobody listening is normal: the monitor is not always open.
            socket.sendTo(reinterpret_cast<const uint8_t *>(datagram.data()), datagram.size(), destination, false);
            nextLine += linePeriod;
            if (nextLine < now)
                nextLine = now; // after a stall, no burst to catch up
        }
        auto wake = nextPoll;
        if (on && nextLine < wake)
            wake = nextLine;
        // Short sleeps, so a signal is seen at once.
        const auto cap = Clock::now() + std::chrono::milliseconds(50);
        std::this_thread::sleep_until(wake < cap ? wake : cap);
    }
    if (!quiet)
        std::printf("velmora-debugd: stopped\n");
    return 0;
}
