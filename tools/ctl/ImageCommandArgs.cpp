#include "tools/ctl/ImageCommandArgs.h"

#include "settings/FileIo.h"
#include "tools/ctl/Args.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace ctl {

const char *const kImageArgsHelp = "  EP          ADDRESS%IFNAME,PORT or ADDRESS%INDEX,PORT, for example\n"
                                   "              fe80::2%eth1,19642\n"
                                   "  --slot N    slot index, from 0 (default 0)\n"
                                   "  --burst N   bytes sent before waiting for an acknowledgement; 0 = the\n"
                                   "              target's own limit (default 1: one block at a time)\n";

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
    std::string error;
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
