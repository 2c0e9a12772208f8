#include "update/core/Unscramble.h"
#include "update/core/UpdateFiles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NameCase {
    const char *name;
    std::string file;
    bool plain;
};

void PrintTo(const NameCase &c, std::ostream *os)
{
    *os << c.name;
}

const NameCase kNames[] = {
    {"plain", "velmora-asio-1.1.0.msi", true},
    {"spaces_inside", "Velmora ASIO 1.1.msi", true},
    {"utf8", "pr\xC3\xBC" "fung.msi", true},
    {"empty", "", false},
    {"slash", "sub/x.msi", false},
    {"backslash", "sub\\x.msi", false},
    {"parent", "../x.msi", false},
    {"dots_inside", "x..msi", false},
    {"dot", ".", false},
    {"drive_letter", "C:x.msi", false},
    {"stream", "x.msi:evil", false},
    {"control_byte", "x\x01.msi", false},
    {"line_feed", "x\n.msi", false},
    {"delete_byte", "x\x7F.msi", false},
    {"trailing_dot", "x.msi.", false},
    {"trailing_space", "x.msi ", false},
    {"absolute", "/etc/passwd", false},
};

class PlainFileName : public ::testing::TestWithParam<NameCase> {};

TEST_P(PlainFileName, OnlyPlainNamesReachTheDownloadFolder)
{
    EXPECT_EQ(update::isPlainFileName(GetParam().file), GetParam().plain) << GetParam().file;
}

INSTANTIATE_TEST_SUITE_P(Names, PlainFileName, ::testing::ValuesIn(kNames),
                         [](const auto &info) { return std::string(info.param.name); });

// Bytes as the build stores them, worked out by hand from the rule: key
// 0x5A; stored = plain ^ key; key = key * 29 + plain + 59 (mod 256).
// "AB": 0x41 ^ 0x5A = 0x1B; key = (0x5A*29 + 0x41 + 59) & 255 = 0xAE;
// 0x42 ^ 0xAE = 0xEC.
TEST(Unscramble, RebuildsTheTextFromItsStoredBytes)
{
    static const volatile uint8_t stored[] = {0x1B, 0xEC};
    EXPECT_EQ(update::unscramble(stored, 2), "AB");
    EXPECT_EQ(update::unscramble(stored, 0), "");
}

} // namespace
