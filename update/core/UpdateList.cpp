#include "update/core/UpdateList.h"

#include "src/Network/AddressText.h"

namespace update {

namespace {

bool parseLine(const std::string &line, UpdateListEntry &entry)
{
    const size_t first = line.find('\t');
    if (first == std::string::npos)
        return false;
    const size_t second = line.find('\t', first + 1);
    if (second == std::string::npos || line.find('\t', second + 1) != std::string::npos)
        return false;
    if (second - first - 1 != 4)
        return false;
    unsigned value = 0;
    for (size_t i = first + 1; i < second; ++i) {
        const int d = hexDigitValue(line[i]);
        if (d < 0)
            return false;
        value = (value << 4) | static_cast<unsigned>(d);
    }
    entry.name = line.substr(0, first);
    entry.checksum = static_cast<uint16_t>(value);
    entry.file = line.substr(second + 1);
    return true;
}

} // namespace

std::vector<UpdateListEntry> parseUpdateList(const std::string &bytes)
{
    std::vector<UpdateListEntry> entries;
    size_t start = 0;
    while (start <= bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = bytes.size();
        if (end > start) {
            UpdateListEntry entry;
            if (parseLine(bytes.substr(start, end - start), entry))
                entries.push_back(std::move(entry));
        }
        start = end + 1;
    }
    return entries;
}

} // namespace update
