// The update list parser on arbitrary server bodies: no entry may carry a
// line end or a TAB, and there are never more entries than lines.
#include "update/core/UpdateList.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string body(reinterpret_cast<const char *>(data), size);
    const auto entries = update::parseUpdateList(body);
    size_t lineEnds = 0;
    for (char c : body)
        lineEnds += (c == '\r' || c == '\n') ? 1 : 0;
    if (entries.size() > lineEnds + 1)
        std::abort();
    for (const auto &e : entries) {
        if (e.name.find_first_of("\r\n\t") != std::string::npos ||
            e.file.find_first_of("\r\n\t") != std::string::npos)
            std::abort();
    }
    return 0;
}
