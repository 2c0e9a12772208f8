// The settings reader on arbitrary file contents. Besides crashes and
// sanitizer reports it checks that the image of anything read is itself
// readable and settles after one more round.
#include "settings/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    IniFile ini;
    if (!ini.parse(bytes))
        return 0;
    for (const auto &section : ini.sections()) {
        for (const auto &entry : section.second) {
            if (entry.first.empty() || entry.second.order <= 0 || entry.second.order > ini.lastOrder())
                std::abort();
        }
    }
    if (!ini.sections().empty()) {
        const auto global = ini.sections().find(IniFile::kGlobal);
        if (global != ini.sections().end()) {
            for (const auto &entry : global->second) {
                if (ini.get(entry.first) != entry.second.value)
                    std::abort();
                (void)ini.getInt(entry.first);
            }
        }
    }
    const std::string image = ini.text();
    IniFile again;
    if (!again.parse(image))
        std::abort();
    IniFile third;
    if (!third.parse(again.text()) || third.text() != again.text())
        std::abort();
    // Reading the same bytes again merges to the same values.
    const std::string before = ini.text();
    if (!ini.parse(bytes) || ini.text() != before)
        std::abort();
    return 0;
}
