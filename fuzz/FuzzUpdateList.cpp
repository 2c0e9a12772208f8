// The update list parser on arbitrary server bodies, against a reference
// written differently (one pass over the bytes, fields collected as they
// come), and a round trip: the entries written out again as a list parse
// back to themselves.
#include "update/core/UpdateList.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::string name;
    unsigned checksum;
    std::string file;
};

int hexValue(char c)
{
    static const char digits[] = "0123456789abcdef0123456789ABCDEF";
    for (int i = 0; i < 32; ++i) {
        if (digits[i] == c)
            return i % 16;
    }
    return -1;
}

// A line is kept when it has exactly three fields split by TAB and the
// middle one is four hexadecimal digits.
std::vector<Entry> reference(const std::string &body)
{
    std::vector<Entry> out;
    std::vector<std::string> fields(1);
    auto endLine = [&] {
        if (fields.size() == 3 && fields[1].size() == 4) {
            unsigned value = 0;
            bool hex = true;
            for (char c : fields[1]) {
                const int d = hexValue(c);
                hex = hex && d >= 0;
                value = value * 16 + unsigned(d < 0 ? 0 : d);
            }
            if (hex)
                out.push_back({fields[0], value, fields[2]});
        }
        fields.assign(1, std::string());
    };
    for (char c : body) {
        if (c == '\r' || c == '\n')
            endLine();
        else if (c == '\t')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    endLine();
    return out;
}

bool same(const std::vector<update::UpdateListEntry> &got, const std::vector<Entry> &want)
{
    if (got.size() != want.size())
        return false;
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i].name != want[i].name || got[i].checksum != want[i].checksum || got[i].file != want[i].file)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string body(reinterpret_cast<const char *>(data), size);
    const auto entries = update::parseUpdateList(body);
    if (!same(entries, reference(body)))
        std::abort();

    std::string again;
    std::vector<Entry> expected;
    for (const auto &e : entries) {
        static const char hex[] = "0123456789ABCDEF";
        again += e.name + '\t';
        for (int shift = 12; shift >= 0; shift -= 4)
            again += hex[(e.checksum >> shift) & 0xF];
        again += '\t' + e.file + "\r\n";
        expected.push_back({e.name, e.checksum, e.file});
    }
    if (!same(update::parseUpdateList(again), expected))
        std::abort();
    return 0;
}
