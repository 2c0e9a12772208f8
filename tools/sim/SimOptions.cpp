#include "tools/sim/SimOptions.h"

#include "src/Network/AddressText.h"

#include <cerrno>
#include <cstdlib>
#include <set>

namespace sim {

namespace {

bool parseUnsigned(const std::string &text, uint64_t max, uint64_t &value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || v > max)
        return false;
    value = v;
    return true;
}

// Milliseconds, or "forever" / a negative number where allowed.
bool parseMillis(const std::string &text, bool foreverAllowed, int64_t &value)
{
    if (foreverAllowed && (text == "forever" || (!text.empty() && text[0] == '-'))) {
        value = kForever;
        return true;
    }
    uint64_t v = 0;
    if (!parseUnsigned(text, 86400000ull * 365, v))
        return false;
    value = static_cast<int64_t>(v);
    return true;
}

// "\n" and "\t" in texts given on the command line.
std::string unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char c = text[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool parseCommandList(const std::string &text, std::set<uint16_t> &out)
{
    out.clear();
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        uint64_t v = 0;
        if (!parseUnsigned(item, 0xffff, v))
            return false;
        out.insert(static_cast<uint16_t>(v));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return !out.empty();
}

} // namespace

bool parseArguments(const std::vector<std::string> &args, SimConfig &config, std::string &err)
{
    SimTarget *current = nullptr;
    auto target = [&]() -> SimTarget & {
        if (current == nullptr) {
            config.targets.push_back(std::make_unique<SimTarget>(TargetConfig{}));
            current = config.targets.back().get();
        }
        return *current;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "-h" || arg == "--help") {
            config.help = true;
            return true;
        }
        if (arg == "-v" || arg == "--verbose") {
            config.verbose = true;
            continue;
        }
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            err = "unexpected argument \"" + arg + "\" (options start with --; see --help)";
            return false;
        }
        std::string key = arg.substr(2);
        std::string value;
        const size_t eq = key.find('=');
        if (eq != std::string::npos) {
            value = key.substr(eq + 1);
            key.resize(eq);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            err = "option --" + key + " needs a value";
            return false;
        }
        const std::string bad = "bad value \"" + value + "\" for --" + key + ": ";

        if (key == "interface") {
            config.interfaceName = value;
        } else if (key == "log-port") {
            uint64_t v = 0;
            if (!parseUnsigned(value, 65535, v)) {
                err = bad + "expected a port number 0..65535";
                return false;
            }
            config.logPort = static_cast<int>(v);
        } else if (key == "target") {
            config.targets.push_back(std::make_unique<SimTarget>(TargetConfig{}));
            current = config.targets.back().get();
            current->config().name = value;
        } else if (key == "name") {
            target().config().name = value;
        } else if (key == "id") {
            uint64_t v = 0;
            if (value == "all-ones")
                v = ~uint64_t(0);
            else if (!parseUnsigned(value, ~uint64_t(0), v)) {
                err = bad + "expected a number (decimal or 0x hexadecimal) or all-ones";
                return false;
            }
            target().config().identifier = v;
        } else if (key == "version") {
            target().config().version = value;
        } else if (key == "source") {
            target().config().source = value;
        } else if (key == "port") {
            uint64_t v = 0;
            if (!parseUnsigned(value, 65535, v) || v == 0 || v == msg::kDiscoveryPort) {
                err = bad + "expected a port 1..65535 other than the discovery port 19642";
                return false;
            }
            target().config().port = static_cast<uint16_t>(v);
        } else if (key == "address") {
            uint8_t a[16];
            if (!parseAddress(value, a)) {
                err = bad + "expected an IPv6 address without scope";
                return false;
            }
            target().config().address = value;
        } else if (key == "fault") {
            Fault f;
            if (!parseFault(value, f)) {
                err = bad + "expected none, silent, refuse, echo, other-port, bad-magic, bad-length, bad-pad "
                            "or oversize";
                return false;
            }
            target().config().fault = f;
        } else if (key == "fault-commands") {
            if (!parseCommandList(value, target().config().faultCommands)) {
                err = bad + "expected request codes separated by commas, e.g. 0,32";
                return false;
            }
        } else if (key == "delay") {
            if (!parseMillis(value, false, target().config().delayMillis)) {
                err = bad + "expected milliseconds";
                return false;
            }
        } else if (key == "reboot-silence") {
            if (!parseMillis(value, true, target().config().rebootSilenceMillis)) {
                err = bad + "expected milliseconds, or forever";
                return false;
            }
        } else if (key == "log-text") {
            target().config().logText = unescape(value);
        } else if (key == "log-every") {
            if (!parseMillis(value, false, target().config().logEveryMillis)) {
                err = bad + "expected milliseconds";
                return false;
            }
        } else if (key == "log-line") {
            target().config().logLine = unescape(value);
        } else {
            std::string storageErr;
            if (!target().storage().setOption(key, value, storageErr)) {
                err = storageErr.empty() ? "unknown option --" + key + " (see --help)" : storageErr;
                return false;
            }
        }
    }
    if (config.targets.empty())
        target();
    std::set<std::pair<std::string, uint16_t>> used;
    for (size_t k = 0; k < config.targets.size(); ++k) {
        TargetConfig &c = config.targets[k]->config();
        if (c.port == 0)
            c.port = static_cast<uint16_t>(kFirstDefaultPort + k);
        if (!used.insert({c.address, c.port}).second) {
            err = "two targets on " + (c.address.empty() ? std::string("the any-address") : c.address) + " port " +
                  std::to_string(c.port) + ": give each its own --port";
            return false;
        }
    }
    return true;
}

std::string helpText()
{
    return "usage: velmora-target-sim [--interface IF] [--verbose] [--log-port N]\n"
           "                          [--target NAME TARGET-OPTIONS...]...\n"
           "\n"
           "Emulates network audio players (targets) of the target protocol on one\n"
           "interface of the network namespace it runs in: answers Hello on the\n"
           "discovery port 19642 (multicast ff02::1) from each target's command port,\n"
           "and Announce, VersionQuery, SourceQuery, Reboot and the image transfer\n"
           "commands on the command port. Serves each address's log stream on TCP.\n"
           "Stops on SIGINT or SIGTERM.\n"
           "\n"
           "It runs only inside a private network namespace and only on a veth\n"
           "interface (scripts/testnet.sh, scripts/simnet.sh build one): it refuses the\n"
           "machine's own network.\n"
           "\n"
           "Options take a value as --key VALUE or --key=VALUE.\n"
           "Global:\n"
           "  --interface IF      interface to serve (default: the only non-loopback\n"
           "                      interface of the namespace)\n"
           "  --verbose, -v       print every datagram received and sent, decoded\n"
           "  --log-port N        TCP port of the log stream (default 23; 0 = none)\n"
           "  --help, -h          this text\n"
           "Per target (after --target NAME; options before the first --target\n"
           "apply to a target named velmora-sim):\n"
           "  --target NAME       start a new target with this name (Hello payload)\n"
           "  --name NAME         the current target's name\n"
           "  --id N              identifier: decimal, 0x hexadecimal or all-ones\n"
           "                      (default 0)\n"
           "  --version TEXT      version text (default 1.0.0)\n"
           "  --source TEXT       update source text (default empty)\n"
           "  --port N            command port (default 19650 + position of the target);\n"
           "                      targets may share an address on different ports\n"
           "  --address ADDR      link-local address to answer from (default: any)\n"
           "  --fault MODE        none, silent, refuse (OK flag clear), echo (the request\n"
           "                      comes back), other-port (reply from another port),\n"
           "                      bad-magic, bad-length (padded length beyond the\n"
           "                      datagram), bad-pad (pad count beyond the payload),\n"
           "                      oversize (1501-byte reply)\n"
           "  --fault-commands L  request codes the fault applies to, e.g. 0,32\n"
           "                      (default: all)\n"
           "  --delay MS          wait before every answer\n"
           "  --reboot-silence MS silence after a Reboot (default 2000); forever or a\n"
           "                      negative value: never comes back\n"
           "  --log-text TEXT     log text sent on connect (\\n for line breaks)\n"
           "  --log-every MS      add a log line every MS milliseconds\n"
           "  --log-line TEXT     that line's text (a counter is appended)\n"
           "\n"
           "Storage options, per target, written --key=value or --key value:\n" +
           SimStorage::optionsHelp() +
           "\n"
           "Output: a line \"ready\" once all sockets are bound; announced names and\n"
           "reboots as lines on standard output; --verbose adds every datagram.\n"
           "Exit status: 0 after SIGINT/SIGTERM, 1 when it cannot start, 2 on a bad\n"
           "command line.\n"
           "\n"
           "Example (two outputs of one player, one other player):\n"
           "  velmora-target-sim --target Out-A --id 5 --port 19650 \\\n"
           "                     --target Out-B --id 5 --port 19651\n";
}

} // namespace sim
