#include "src/Network/AddressText.h"

#include <cstring>
#include <vector>

namespace {

const char kHexDigits[] = "0123456789abcdef";

void appendGroup(std::string &out, unsigned group)
{
    char buf[4];
    int n = 0;
    do {
        buf[n++] = kHexDigits[group & 0xf];
        group >>= 4;
    } while (group != 0);
    while (n > 0)
        out += buf[--n];
}

// Parses "g:g:...:g" (one to four hex digits each) into groups. An empty
// text gives no groups.
bool parseGroups(const std::string &text, size_t begin, size_t end, std::vector<unsigned> &groups)
{
    if (begin == end)
        return true;
    size_t pos = begin;
    while (true) {
        unsigned value = 0;
        size_t digits = 0;
        while (pos < end && text[pos] != ':') {
            int v = hexDigitValue(text[pos]);
            if (v < 0 || ++digits > 4)
                return false;
            value = (value << 4) | static_cast<unsigned>(v);
            ++pos;
        }
        if (digits == 0)
            return false;
        groups.push_back(value);
        if (groups.size() > 8)
            return false;
        if (pos == end)
            return true;
        ++pos; // the ':'
        if (pos == end)
            return false; // a trailing single ':'
    }
}

} // namespace

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string formatAddress(const uint8_t address[16])
{
    unsigned groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = (static_cast<unsigned>(address[2 * i]) << 8) | address[2 * i + 1];

    // The driver writes the first run of two or more zero groups as "::",
    // not the longest one; the settings files must read back the same.
    int runStart = -1;
    int runEnd = -1;
    for (int i = 0; i < 8; ++i) {
        if (groups[i] != 0)
            continue;
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i >= 2) {
            runStart = i;
            runEnd = j;
            break;
        }
        i = j;
    }

    std::string out;
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            out += "::";
            i = runEnd - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':')
            out += ':';
        appendGroup(out, groups[i]);
    }
    return out;
}

std::string formatEndpoint(const NodeAddress &endpoint)
{
    return formatAddress(endpoint.address) + "," + std::to_string(endpoint.hostPort());
}

bool parseAddress(const std::string &text, uint8_t address[16])
{
    if (text.empty())
        return false;
    std::vector<unsigned> head;
    std::vector<unsigned> tail;
    const size_t gap = text.find("::");
    if (gap == std::string::npos) {
        if (!parseGroups(text, 0, text.size(), head) || head.size() != 8)
            return false;
    } else {
        if (text.find("::", gap + 1) != std::string::npos)
            return false; // a second "::" (also ":::")
        if (!parseGroups(text, 0, gap, head) || !parseGroups(text, gap + 2, text.size(), tail))
            return false;
        // A ':' right before or after the gap would make an empty group.
        if (gap > 0 && text[gap - 1] == ':')
            return false;
        if (gap + 2 < text.size() && text[gap + 2] == ':')
            return false;
        if (head.size() + tail.size() > 7)
            return false;
    }
    uint8_t result[16] = {};
    for (size_t i = 0; i < head.size(); ++i) {
        result[2 * i] = static_cast<uint8_t>(head[i] >> 8);
        result[2 * i + 1] = static_cast<uint8_t>(head[i] & 0xff);
    }
    const size_t tailStart = 8 - tail.size();
    for (size_t i = 0; i < tail.size(); ++i) {
        result[2 * (tailStart + i)] = static_cast<uint8_t>(tail[i] >> 8);
        result[2 * (tailStart + i) + 1] = static_cast<uint8_t>(tail[i] & 0xff);
    }
    std::memcpy(address, result, 16);
    return true;
}

bool parseEndpoint(const std::string &text, NodeAddress &endpoint)
{
    const size_t comma = text.find(',');
    if (comma == std::string::npos)
        return false;
    uint8_t address[16];
    if (!parseAddress(text.substr(0, comma), address))
        return false;
    // Any number of digits; only the value modulo 65536 is kept, so long
    // texts cannot overflow.
    uint32_t port = 0;
    for (size_t i = comma + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        port = (port * 10 + static_cast<uint32_t>(c - '0')) % 65536u;
    }
    std::memcpy(endpoint.address, address, 16);
    endpoint.setHostPort(static_cast<uint16_t>(port));
    return true;
}
