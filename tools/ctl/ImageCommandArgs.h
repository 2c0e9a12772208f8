#pragma once

#include "src/Network/Socket/NodeAddress.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/CmdNetCommon.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Pieces shared by the image commands of velmora-ctl (transfer, flash).

namespace ctl {

// The positional EP and IMAGE and the options --slot N (slot index, default
// 0), --burst N (burst limit in bytes, 0 = the target's own, default 1,
// one block per burst as the update dialog sends) and --crc XXXX (the CRC-16
// the image must have, as its update list gives it). On a bad command line
// reports a usage error, sets status and returns false; a file that cannot
// be read, is not a regular file, is empty (unless allowEmpty) or has
// another CRC than --crc is a failure (status 1), before anything is sent.
struct ImageCommandArgs {
    bool allowEmpty = true; // in
    NodeAddress endpoint;
    std::vector<uint8_t> image;
    int slotIndex = 0;
    uint64_t burstLimit = 1;
};
bool parseImageCommand(const ParsedArgs &parsed, const std::string &command, std::ostream &err,
                       ImageCommandArgs &out, int &status);

// The help lines of EP, --slot, --burst and --crc.
extern const char *const kImageArgsHelp;

// Reads a whole file; on failure error names the file and the reason.
bool readImageFile(const std::string &path, std::vector<uint8_t> &image, std::string &error);

// Progress of the data phase on err, one line at most every half second
// and a last one at the end: bytes sent, total, percent and rate.
std::function<void(uint64_t, uint64_t)> progressPrinter(std::ostream &err);

} // namespace ctl
