#include "settings/IniFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

struct ParseCase {
    const char *name;
    std::string bytes;
    std::string image; // text() after parsing into an empty store
    // Whether reading the image back gives the same image (a section with
    // only empty values comes back as nothing).
    bool stable = true;
};

const ParseCase kParseCases[] = {
    {"empty_file", "", ""},
    {"flat_keys_go_to_global", "b=2\r\na=1\r\n", "[global]\r\na=1\r\nb=2\r\n\r\n"},
    {"utf8_bom_skipped",
     "\xEF\xBB\xBF"
     "a=1\n",
     "[global]\r\na=1\r\n\r\n"},
    {"bom_only_is_empty", "\xEF\xBB\xBF", ""},
    {"two_bom_bytes_stay_a_line", "\xEF\xBB", ""},
    {"two_bom_bytes_then_key_on_same_line",
     "\xEF\xBB"
     "a=1",
     "[global]\r\n\xEF\xBB"
     "a=1\r\n\r\n"},
    {"lf_cr_crlf_and_blank_lines", "a=1\n\n\rb=2\r\r\nc=3\r\n\n", "[global]\r\na=1\r\nb=2\r\nc=3\r\n\r\n"},
    {"last_line_without_end", "a=1\r\nb=2", "[global]\r\na=1\r\nb=2\r\n\r\n"},
    {"spaces_trimmed_inner_kept", "  my key  =  a value  \r\n", "[global]\r\nmy key=a value\r\n\r\n"},
    {"value_holds_equals", "url=a=b==c\r\n", "[global]\r\nurl=a=b==c\r\n\r\n"},
    {"empty_key_ignored", "=x\r\n  = y\r\nk=v\r\n", "[global]\r\nk=v\r\n\r\n"},
    {"empty_value_omitted", "k=\r\nj=1\r\n", "[global]\r\nj=1\r\n\r\n"},
    {"line_without_equals_ignored", "just text\r\nk=v\r\n", "[global]\r\nk=v\r\n\r\n"},
    {"comments_whole_lines_only", "; c\r\n  # c\r\nk=v;not #comment\r\n",
     "[global]\r\nk=v;not #comment\r\n\r\n"},
    {"header_spaces_trimmed", "[  my section  ]  \r\nk=v\r\n", "[my section]\r\nk=v\r\n\r\n"},
    {"header_alone_creates_nothing", "[x]\r\n", ""},
    {"unterminated_header_keeps_section", "[x]\r\na=1\r\n[y\r\nb=2\r\n", "[x]\r\na=1\r\nb=2\r\n\r\n"},
    {"brackets_inside_name", "[[a]]\r\nk=v\r\n[a]b]\r\nk=w\r\n", "[[a]]\r\nk=v\r\n\r\n[a]b]\r\nk=w\r\n\r\n"},
    {"global_x_and_empty_header", "g1=1\r\n[x]\r\nx1=1\r\n[]\r\na0=0\r\n",
     "[global]\r\na0=0\r\ng1=1\r\n\r\n[x]\r\nx1=1\r\n\r\n"},
    {"blank_header_is_global", "[   ]\r\nk=v\r\n", "[global]\r\nk=v\r\n\r\n"},
    {"explicit_global_merges", "a=1\r\n[global]\r\nb=2\r\n", "[global]\r\na=1\r\nb=2\r\n\r\n"},
    {"sections_case_sensitive", "[Global]\r\nk=1\r\n[global]\r\nk=2\r\n",
     "[Global]\r\nk=1\r\n\r\n[global]\r\nk=2\r\n\r\n"},
    {"same_sections_merge_last_wins", "[s]\r\nk=1\r\n[t]\r\nk=3\r\n[s]\r\nk=2\r\nj=9\r\n",
     "[s]\r\nj=9\r\nk=2\r\n\r\n[t]\r\nk=3\r\n\r\n"},
    {"all_empty_section_keeps_header", "[s]\r\nk=\r\nj=\r\n", "[s]\r\n\r\n", false},
    {"byte_order_unsigned_and_prefix_first", "\xC3\xA4=1\r\nz=2\r\nab=3\r\na=4\r\nB=5\r\n",
     "[global]\r\nB=5\r\na=4\r\nab=3\r\nz=2\r\n\xC3\xA4=1\r\n\r\n"},
    {"high_bytes_and_del_pass_through", "k=\x7F\xFF\xFE\r\n", "[global]\r\nk=\x7F\xFF\xFE\r\n\r\n"},
};

void PrintTo(const ParseCase &c, std::ostream *os)
{
    *os << c.name;
}

class IniParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(IniParse, GivesImage)
{
    IniFile ini;
    ASSERT_TRUE(ini.parse(GetParam().bytes));
    EXPECT_EQ(ini.text(), GetParam().image);
    IniFile again;
    ASSERT_TRUE(again.parse(ini.text()));
    if (GetParam().stable)
        EXPECT_EQ(again.text(), GetParam().image);
    else
        EXPECT_EQ(again.text(), "");
}

INSTANTIATE_TEST_SUITE_P(Table, IniParse, ::testing::ValuesIn(kParseCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(IniParseValues, GetReadsGlobalOnlyAndEmptyForMissing)
{
    IniFile ini;
    ASSERT_TRUE(ini.parse("  a b = x = y \r\nempty=\r\n[other]\r\nk=o\r\n"));
    EXPECT_EQ(ini.get("a b"), "x = y");
    EXPECT_EQ(ini.get("empty"), "");
    EXPECT_EQ(ini.sections().at("global").count("empty"), 1u) << "an empty value is still an entry";
    EXPECT_EQ(ini.get("k"), "") << "get addresses only global";
    EXPECT_EQ(ini.sections().at("other").at("k").value, "o");
}

TEST(IniParseRejects, ControlBytesRejectWholeFileAndChangeNothing)
{
    const std::string bad[] = {
        std::string("a=1\r\nb=\t2\r\n"),      std::string("a=1\r\n\0", 6),
        std::string("a=1\x1F\r\n"),           std::string("\x01"),
        std::string("; comment \x0B\r\na=1"), std::string("\xEF\xBB\xBF\x1B"),
    };
    for (const std::string &bytes : bad) {
        IniFile ini;
        ASSERT_TRUE(ini.parse("keep=1\r\n"));
        EXPECT_FALSE(ini.parse(bytes)) << testing::PrintToString(bytes);
        EXPECT_EQ(ini.text(), "[global]\r\nkeep=1\r\n\r\n");
        EXPECT_EQ(ini.lastOrder(), 1);
    }
}

TEST(IniOrder, KeyLinesNumberedAcrossReadsAndDuplicates)
{
    IniFile ini;
    const std::string file = "a=1\r\n; comment\r\n[s]\r\nb=2\r\nnot a key\r\na=3\r\n[s]\r\nb=4\r\n";
    ASSERT_TRUE(ini.parse(file));
    EXPECT_EQ(ini.lastOrder(), 4);
    EXPECT_EQ(ini.sections().at("global").at("a").order, 1);
    EXPECT_EQ(ini.sections().at("s").at("a").order, 3);
    EXPECT_EQ(ini.sections().at("s").at("b").order, 4) << "the last duplicate wins with its own number";
    EXPECT_EQ(ini.sections().at("s").at("b").value, "4");

    // Reading again merges: same values, new higher numbers.
    const std::string before = ini.text();
    ASSERT_TRUE(ini.parse(file));
    EXPECT_EQ(ini.text(), before);
    EXPECT_EQ(ini.lastOrder(), 8);
    EXPECT_EQ(ini.sections().at("global").at("a").order, 5);
    EXPECT_EQ(ini.sections().at("s").at("b").order, 8);

    // set keeps an existing entry's number; a new entry gets 0.
    ini.set("a", "changed");
    ini.set("fresh", "1");
    EXPECT_EQ(ini.sections().at("global").at("a").order, 5);
    EXPECT_EQ(ini.sections().at("global").at("fresh").order, 0);
    EXPECT_EQ(ini.lastOrder(), 8);
}

TEST(IniSetGet, WorksOnNewAndClearedStores)
{
    IniFile ini;
    ini.set("k", "v");
    EXPECT_EQ(ini.get("k"), "v");
    EXPECT_EQ(ini.text(), "[global]\r\nk=v\r\n\r\n");
    ini.set("k", "");
    EXPECT_EQ(ini.text(), "[global]\r\n\r\n") << "an emptied key is left out of the image";

    ASSERT_TRUE(ini.parse("[s]\r\nx=1\r\nn=5\r\n"));
    ini.clear();
    EXPECT_TRUE(ini.sections().empty());
    EXPECT_EQ(ini.lastOrder(), 0);
    EXPECT_EQ(ini.get("n"), "");
    EXPECT_EQ(ini.getInt("n"), 0);
    EXPECT_EQ(ini.text(), "");
    ini.set("after", "clear");
    EXPECT_EQ(ini.get("after"), "clear");
}

struct IntCase {
    const char *value;
    int64_t expected;
};

TEST(IniGetInt, FollowsCLibraryConversion)
{
    const IntCase cases[] = {
        {"16", 16},
        {"  -12abc", -12},
        {"letters", 0},
        {"", 0},
        {"+7", 7},
        {"\t\n\v\f\r 5", 5},
        {"- 5", 0},
        {"0x10", 0},
        {"007", 7},
        {"-0", 0},
        {"12 34", 12},
        {"9223372036854775807", std::numeric_limits<int64_t>::max()},
        {"9223372036854775808", std::numeric_limits<int64_t>::max()},
        {"99999999999999999999999", std::numeric_limits<int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
        {"-9223372036854775809", std::numeric_limits<int64_t>::min()},
        {"-99999999999999999999999x", std::numeric_limits<int64_t>::min()},
    };
    for (const IntCase &c : cases) {
        IniFile ini;
        ini.set("n", c.value);
        EXPECT_EQ(ini.getInt("n"), c.expected) << '"' << c.value << '"';
    }
    IniFile empty;
    EXPECT_EQ(empty.getInt("missing"), 0);
}

TEST(IniSetInt, WritesUnsignedDecimal)
{
    const std::pair<uint64_t, const char *> cases[] = {
        {16, "16"},
        {0, "0"},
        {65535, "65535"},
        {std::numeric_limits<uint64_t>::max(), "18446744073709551615"}};
    for (const auto &c : cases) {
        IniFile ini;
        ini.setInt("n", c.first);
        EXPECT_EQ(ini.get("n"), c.second);
    }
    IniFile ini;
    ini.setInt("n", std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(ini.getInt("n"), std::numeric_limits<int64_t>::max()) << "beyond the signed range saturates";
}

} // namespace
