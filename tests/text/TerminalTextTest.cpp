#include "debugmon/text/TerminalText.h"

#include <gtest/gtest.h>

#include <string>

using debugtext::TerminalFilter;

namespace {

struct FilterCase {
    const char *name;
    std::string in;
    std::string out;
};

void PrintTo(const FilterCase &c, std::ostream *os)
{
    *os << c.name;
}

const FilterCase kFilterCases[] = {
    {"PlainLines", "boot\nnet up\n", "boot\nnet up\n"},
    {"TabKept", "a\tb", "a\tb"},
    {"CrLfKept", "one\r\ntwo\r\n", "one\r\ntwo\r\n"},
    {"LoneCrReplaced", "forged\rline", "forged?line"},
    {"CrAtEnd", "end\r", "end?"},
    {"CrCr", "\r\r\n", "?\r\n"},
    {"EscapeSequence", "\x1b[2J\x1b]0;title\x07", "?[2J?]0;title?"},
    {"OtherC0AndDel", std::string("\0\x01\x08\x0b\x0c\x7f", 6), "??????"},
    {"C1Controls",
     "\xc2\x80\xc2\x9b"
     "31m\xc2\x9d",
     "??31m?"},
    {"NotC1Kept", "\xc2\xa0\xc2\xbf\xc3\x80", "\xc2\xa0\xc2\xbf\xc3\x80"},
    {"OtherCharactersKept", "\xe2\x82\xac\xf0\x9f\x98\x80\xef\xbf\xbd",
     "\xe2\x82\xac\xf0\x9f\x98\x80\xef\xbf\xbd"},
};

class Filter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(Filter, AnyCutBetweenCharactersGivesTheSameText)
{
    const FilterCase &c = GetParam();
    for (size_t cut = 0; cut <= c.in.size(); ++cut) {
        // Only cuts between characters: the decoder hands out whole ones.
        if (cut < c.in.size() && (static_cast<unsigned char>(c.in[cut]) & 0xc0) == 0x80)
            continue;
        TerminalFilter filter;
        std::string out;
        filter.filter(c.in.substr(0, cut), out);
        filter.filter(c.in.substr(cut), out);
        filter.finish(out);
        EXPECT_EQ(out, c.out) << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Filter, ::testing::ValuesIn(kFilterCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
