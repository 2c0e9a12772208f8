#include "settings/FileIo.h"
#include "src/Network/Crc16.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/Command.h"

#include <cstdio>

namespace ctl {

namespace {

class CmdCrc : public Command {
public:
    std::string name() const override { return "crc"; }
    std::string summary() const override { return "print the CRC-16/USB checksum of a file"; }
    std::string help() const override
    {
        return "Usage: velmora-ctl crc FILE\n"
               "\n"
               "Prints the CRC-16/USB checksum of FILE (the checksum of firmware images and\n"
               "installer packages in the update lists) as four lower-case hexadecimal\n"
               "digits and a line end. FILE must be a regular file (pipes and devices\n"
               "are refused); it is read to its end, whatever size it reports.\n"
               "\n"
               "Exit status: 0 success, 1 the file could not be read, 2 bad command line.\n";
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        int status = kExitOk;
        if (!parseArgs(args, {}, parsed, error))
            return usageError(err, name(), error);
        if (!expectPositional(parsed, 1, 1, name(), err, status))
            return status;
        const std::string &path = parsed.positional[0];
        // Streamed: an installer package need not fit in memory, and files
        // that report no size (under /proc) are read to their end.
        uint16_t reg = kCrc16UsbStart;
        fileio::FileError e = fileio::FileError::None;
        if (!fileio::streamFile(
                path,
                [&reg](const char *data, size_t size) {
                    reg = crc16UsbUpdate(reg, reinterpret_cast<const uint8_t *>(data), size);
                    return true;
                },
                &e))
            return failure(err, name(), "'" + path + "': " + fileio::describe(e));
        char text[8];
        std::snprintf(text, sizeof text, "%04x", crc16UsbFinish(reg));
        out << text << "\n";
        return kExitOk;
    }
};

VELMORA_CTL_COMMAND(CmdCrc);

} // namespace

} // namespace ctl
