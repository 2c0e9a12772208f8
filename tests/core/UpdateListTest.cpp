#include "update/core/UpdateList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using update::UpdateListEntry;

struct Expected {
    std::string name;
    uint16_t checksum;
    std::string file;
};

void expectEntries(const std::vector<UpdateListEntry> &got, const std::vector<Expected> &want)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].name, want[i].name) << i;
        EXPECT_EQ(got[i].checksum, want[i].checksum) << i;
        EXPECT_EQ(got[i].file, want[i].file) << i;
    }
}

TEST(UpdateList, ExampleBodyYieldsTwoEntries)
{
    // A line with an empty name, an empty line, and a last line without
    // its line end.
    ASSERT_NO_FATAL_FAILURE(expectEntries(update::parseUpdateList("\tABCD\tx.bin\r\n\r\nb\tabcd\ty.bin"),
                                          {{"", 0xABCD, "x.bin"}, {"b", 0xABCD, "y.bin"}}));
}

TEST(UpdateList, VersionLineGivesChecksumFromHex)
{
    ASSERT_NO_FATAL_FAILURE(expectEntries(update::parseUpdateList("1.2.3\t0f9A\tfw-1.2.3.bin\n"),
                                          {{"1.2.3", 0x0F9A, "fw-1.2.3.bin"}}));
}

struct LineCase {
    const char *name;
    std::string line;
    bool kept;
};

TEST(UpdateList, MalformedLinesSkippedOthersKept)
{
    const LineCase cases[] = {
        {"three_digit_checksum", "v\tabc\tf", false},
        {"five_digit_checksum", "v\tabcde\tf", false},
        {"non_hex_digit", "v\tabcg\tf", false},
        {"sign_in_checksum", "v\t+abc\tf", false},
        {"space_in_checksum", "v\t abc\tf", false},
        {"third_tab", "v\tabcd\tf\tx", false},
        {"no_tab", "v abcd f", false},
        {"one_tab", "v\tabcd", false},
        {"first_tab_is_last_byte", "v\t", false},
        {"empty_file_name", "v\tabcd\t", true},
        {"utf8_name_and_spaces", "Version 2 \xC3\xA4\tFFFF\tdir/file name.msi", true},
        {"nul_in_name", std::string("a\0b\t0000\tf", 10), true},
    };
    for (const LineCase &c : cases) {
        const auto entries = update::parseUpdateList("first\t0001\ta\n" + c.line + "\nlast\t0002\tb");
        ASSERT_EQ(entries.size(), c.kept ? 3u : 2u) << c.name;
        EXPECT_EQ(entries.front().name, "first") << c.name;
        EXPECT_EQ(entries.back().name, "last") << c.name;
    }
    const auto entries = update::parseUpdateList("v\tabcd\t\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].file, "");
}

TEST(UpdateList, LineEndsAndEmptyBodies)
{
    const std::string bodies[] = {"a\t0001\tx\rb\t0002\ty\r", "a\t0001\tx\nb\t0002\ty\n",
                                  "\r\n\r\na\t0001\tx\r\n\n\rb\t0002\ty"};
    for (const std::string &body : bodies)
        ASSERT_NO_FATAL_FAILURE(expectEntries(update::parseUpdateList(body), {{"a", 1, "x"}, {"b", 2, "y"}}));
    EXPECT_TRUE(update::parseUpdateList("").empty());
    EXPECT_TRUE(update::parseUpdateList("\r\n\n\r").empty());
    EXPECT_TRUE(update::parseUpdateList("<html>404 Not Found</html>\n").empty());
}

} // namespace
