#include "tools/ctl/ImageCommandArgs.h"

#include "settings/FileIo.h"
#include "src/Network/Crc16.h"
#include "tools/ctl/Args.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace ctl {

const char *const kImageArgsHelp =
    "  EP          ADDRESS%IFNAME,PORT or ADDRESS%INDEX,PORT, for example\n"
    "              fe80::2%eth1,19642\n"
    "  --slot N    slot index, from 0 (default 0)\n"
    "  --burst N   bytes sent before waiting for an acknowledgement; 0 = the\n"
    "              target's own limit (default 1: one block at a time)\n"
    "  --crc XXXX  the image's CRC-16 as the update list gives it (four\n"
    "              hexadecimal digits); an image with another CRC is refused\n"
    "              before anything is sent\n";

bool readImageFile(const std::string &path, std::vector<uint8_t> &image, std::string &error)
{
    // The same checks as for settings files (a pipe or device is refused at
    // once, the file is read to its end), without their size limit.
    std::vector<uint8_t> data;
    bool outOfMemory = false;
    fileio::FileError e = fileio::FileError::None;
    const bool ok = fileio::streamFile(
        path,
        [&](const char *chunk, size_t size) {
            try {
                data.insert(data.end(), reinterpret_cast<const uint8_t *>(chunk),
                            reinterpret_cast<const uint8_t *>(chunk) + size);
                return true;
            } catch (const std::bad_alloc &) {
                outOfMemory = true;
                return false;
            }
        },
        &e);
    if (!ok) {
        error = "cannot read the image \"" + path +
                "\": " + (outOfMemory ? std::string("not enough memory") : fileio::describe(e));
        return false;
    }
    image.swap(data);
    return true;
}

bool parseImageCommand(const ParsedArgs &parsed, const std::string &command, std::ostream &err,
                       ImageCommandArgs &out, int &status)
{
    if (!expectPositional(parsed, 2, 2, command, err, status) ||
        !parseEndpointArgument(parsed, command, err, out.endpoint, status))
        return false;
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
    int expectedCrc = -1;
    if (parsed.has("--crc")) {
        const std::string &t = parsed.value("--crc");
        if (t.size() != 4 || t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            status = usageError(err, command, "--crc takes four hexadecimal digits, for example 0f3a");
            return false;
        }
        expectedCrc = int(std::strtoul(t.c_str(), nullptr, 16));
    }
    const std::string &path = parsed.positional[1];
    std::string error;
    if (!readImageFile(path, out.image, error)) {
        status = failure(err, command, error);
        return false;
    }
    if (out.image.empty() && !out.allowEmpty) {
        status = failure(err, command, "the image \"" + path + "\" is empty: nothing was sent");
        return false;
    }
    if (expectedCrc >= 0) {
        const uint16_t crc = crc16Usb(out.image.data(), out.image.size());
        if (crc != expectedCrc) {
            char text[80];
            std::snprintf(text, sizeof text, "has the CRC %04x, not %04x: nothing was sent", crc,
                          unsigned(expectedCrc));
            status = failure(err, command, "the image \"" + path + "\" " + text);
            return false;
        }
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
