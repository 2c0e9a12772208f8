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
               "digits and a line end.\n"
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
        std::string bytes;
        if (!fileio::readWholeFile(path, bytes))
            return failure(err, name(),
                           fileio::pathExists(path)
                               ? "cannot read '" + path + "' (not a readable regular file)"
                               : "'" + path + "': no such file");
        char text[8];
        std::snprintf(text, sizeof text, "%04x",
                      crc16Usb(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()));
        out << text << "\n";
        return kExitOk;
    }
};

VELMORA_CTL_COMMAND(CmdCrc);

} // namespace

} // namespace ctl
