#include "tools/ctl/ImageCommandArgs.h"

#include "src/Network/AddressText.h"
#include "src/Network/Socket/Socket.h"
#include "tools/ctl/Args.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

namespace ctl {

bool parseTargetEndpoint(const std::string &text, NodeAddress &endpoint, std::string &error)
{
    const size_t comma = text.rfind(',');
    if (comma == std::string::npos) {
        error = "endpoint \"" + text + "\" has no port: give ADDRESS%IFNAME,PORT or ADDRESS%INDEX,PORT";
        return false;
    }
    uint64_t port = 0;
    if (!parseUnsigned(text.substr(comma + 1), 65535, port) || port == 0) {
        error = "bad port in \"" + text + "\": a decimal number 1..65535";
        return false;
    }
    const std::string host = text.substr(0, comma);
    const size_t percent = host.find('%');
    NodeAddress result;
    if (!parseAddress(host.substr(0, percent), result.address)) {
        error = "bad IPv6 address in \"" + text + "\"";
        return false;
    }
    const bool linkLocal = result.address[0] == 0xfe && (result.address[1] & 0xc0) == 0x80;
    if (percent == std::string::npos) {
        if (linkLocal) {
            error = "the link-local address in \"" + text +
                    "\" needs its interface: ADDRESS%IFNAME or ADDRESS%INDEX";
            return false;
        }
    } else {
        const std::string scope = host.substr(percent + 1);
        uint64_t index = 0;
        if (parseUnsigned(scope, 65535, index) && index != 0) {
            result.interfaceIndex = uint16_t(index);
        } else {
            InterfaceMap interfaces;
            listAdapterAddresses(interfaces);
            for (const auto &entry : interfaces) {
                if (entry.second.friendlyName == scope && entry.first.interfaceIndex != 0)
                    result.interfaceIndex = entry.first.interfaceIndex;
            }
            if (result.interfaceIndex == 0) {
                error = "no interface \"" + scope + "\" with an IPv6 address (give its name or index)";
                return false;
            }
        }
    }
    result.setHostPort(uint16_t(port));
    endpoint = result;
    return true;
}

bool readImageFile(const std::string &path, std::vector<uint8_t> &image, std::string &error)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        error = "cannot open the image \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    f.seekg(0, std::ios::end);
    const std::streamoff size = f.tellg();
    f.seekg(0, std::ios::beg);
    std::vector<uint8_t> data(size > 0 ? size_t(size) : 0);
    if (size < 0 || !f.read(reinterpret_cast<char *>(data.data()), std::streamsize(data.size()))) {
        error = "cannot read the image \"" + path + "\"";
        return false;
    }
    image.swap(data);
    return true;
}

bool parseImageCommand(const ParsedArgs &parsed, const std::string &command, std::ostream &err,
                       ImageCommandArgs &out, int &status)
{
    if (!expectPositional(parsed, 2, 2, command, err, status))
        return false;
    std::string error;
    if (!parseTargetEndpoint(parsed.positional[0], out.endpoint, error)) {
        status = usageError(err, command, error);
        return false;
    }
    uint64_t n = 0;
    if (parsed.has("--slot")) {
        // The slot number (index + 1) travels in 15 bits.
        if (!parseUnsigned(parsed.value("--slot"), 0x7FFE, n)) {
            status = usageError(err, command, "--slot takes a slot index 0..32766");
            return false;
        }
        out.slotIndex = int(n);
    }
    if (parsed.has("--burst")) {
        if (!parseUnsigned(parsed.value("--burst"), ~uint64_t(0), n)) {
            status = usageError(err, command, "--burst takes a byte count (0 = the target's limit)");
            return false;
        }
        out.burstLimit = n;
    }
    if (!readImageFile(parsed.positional[1], out.image, error)) {
        status = failure(err, command, error);
        return false;
    }
    return true;
}

std::function<void(uint64_t, uint64_t)> progressPrinter(std::ostream &err)
{
    using Clock = std::chrono::steady_clock;
    // The rate counts from the first block on: the flash command's pause
    // before the transfer is not part of it.
    struct State {
        Clock::time_point start;
        Clock::time_point last;
        uint64_t first = 0;
        bool any = false;
    };
    auto state = std::make_shared<State>();
    return [state, &err](uint64_t sent, uint64_t total) {
        const auto now = Clock::now();
        if (!state->any) {
            state->start = now;
            state->first = sent;
        } else if (sent < total && now - state->last < std::chrono::milliseconds(500)) {
            return;
        }
        state->any = true;
        state->last = now;
        const double seconds = std::chrono::duration<double>(now - state->start).count();
        const double rate = seconds > 0 ? double(sent - state->first) / seconds / 1e6 : 0.0;
        char line[128];
        std::snprintf(line, sizeof line, "sent %llu of %llu bytes (%.0f %%), %.2f MB/s",
                      (unsigned long long)sent, (unsigned long long)total,
                      total ? 100.0 * double(sent) / double(total) : 100.0, rate);
        err << line << std::endl;
    };
}

} // namespace ctl
