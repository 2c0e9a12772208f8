#include "debugmon/text/DebugLine.h"

#include <QString>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

// The debug monitor read the driver's numbers with QString::toUInt and
// QString::toFloat; the Qt-free conversions must read every text the same
// way. Checked on texts made to hit the corners (signs, spaces of every
// kind, exponents, points, letters, digits of other scripts) and on many
// texts drawn from the same pieces.
namespace {

const char *const kPieces[] = {
    "0",
    "1",
    "5",
    "9",
    "00",
    "42",
    "4294967295",
    "4294967296",
    "3.4e38",
    "3.5e38",
    "1e-45",
    "1e-46",
    "+",
    "-",
    ".",
    "e",
    "E",
    "e-",
    "e+",
    "x",
    "inf",
    "INF",
    "nan",
    "NaN",
    ",",
    "_",
    " ",
    "\t",
    "\r",
    "\n",
    "\v",
    "\f",
    "\xc2\xa0" /* no-break space */,
    "\xc2\x85" /* next line */,
    "\xe2\x80\x83" /* em space */,
    "\xe2\x80\xa8" /* line separator */,
    "\xe3\x80\x80" /* ideographic space */,
    "\xe2\x80\x8b" /* zero width space: not white */,
    "\xe2\x88\x92" /* minus sign */,
    "\xd9\xa3" /* Arabic-Indic three */,
    "\xef\xbc\x95" /* fullwidth five */,
    "\xe1\xa0\x8e" /* Mongolian vowel separator */,
};

const char *const kCorners[] = {
    "",
    "0",
    "+0",
    "-0",
    "007",
    "4294967295",
    "4294967296",
    "18446744073709551616",
    " 12 ",
    "\t12\r\n",
    "+ 1",
    "1 ",
    "\xc2\xa0"
    "3",
    "3\xe3\x80\x80",
    "\xe2\x80\x8b"
    "3",
    "1.5",
    ".5",
    "5.",
    ".",
    "1e5",
    "1E5",
    "1e",
    "1e+",
    "1e-3",
    "-1e-3",
    "+.5e+2",
    "0x10",
    "1,000",
    "1_000",
    "inf",
    "-inf",
    "+inf",
    "INF",
    "Inf",
    "nan",
    "NAN",
    "-nan",
    "+nan",
    "infinity",
    "1e400",
    "1e-400",
    "3.4e38",
    "3.5e38",
    "1e-45",
    "1e-46",
    "1e-38",
    "0e999999",
    "0.000000000000000000000000000000000000000000000000001",
    "\xe2\x88\x92"
    "5",
    "\xd9\xa3",
    "\xef\xbc\x95",
    "12\xe1\xa0\x8e",
};

void expectSameAsQt(const std::string &text)
{
    const QString q = QString::fromStdString(text);
    bool qtOk = false;
    const uint qtUnsigned = q.toUInt(&qtOk, 10);
    uint32_t ours = 0;
    const bool ourOk = debugtext::toUnsigned32(text, ours);
    EXPECT_EQ(ourOk, qtOk) << "toUInt of \"" << text << "\"";
    if (ourOk && qtOk) {
        EXPECT_EQ(ours, qtUnsigned) << "toUInt of \"" << text << "\"";
    }

    qtOk = false;
    const float qtFloat = q.toFloat(&qtOk);
    float ourFloat = 0;
    const bool ourFloatOk = debugtext::toFloat32(text, ourFloat);
    EXPECT_EQ(ourFloatOk, qtOk) << "toFloat of \"" << text << "\"";
    if (ourFloatOk && qtOk) {
        if (std::isnan(qtFloat)) {
            EXPECT_TRUE(std::isnan(ourFloat)) << "toFloat of \"" << text << "\"";
        } else {
            EXPECT_EQ(ourFloat, qtFloat) << "toFloat of \"" << text << "\"";
            EXPECT_EQ(std::signbit(ourFloat), std::signbit(qtFloat)) << "toFloat of \"" << text << "\"";
        }
    }
}

TEST(NumberConversion, CornersReadAsQtReadsThem)
{
    for (const char *text : kCorners)
        expectSameAsQt(text);
    expectSameAsQt(std::string("1\0", 2));
}

TEST(NumberConversion, TextsOfMixedPiecesReadAsQtReadsThem)
{
    // A fixed sequence, so that a failure can be repeated.
    uint64_t state = 0x2545f4914f6cdd1dULL;
    const auto next = [&state](uint64_t bound) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return (state >> 33) % bound;
    };
    const size_t pieces = sizeof kPieces / sizeof kPieces[0];
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        const uint64_t n = next(5);
        for (uint64_t k = 0; k < n; ++k) {
            // One more than the pieces: a NUL character.
            const size_t p = next(pieces + 1);
            text += p == pieces ? std::string("\0", 1) : std::string(kPieces[p]);
        }
        expectSameAsQt(text);
        if (::testing::Test::HasFailure())
            break;
    }
}

} // namespace
