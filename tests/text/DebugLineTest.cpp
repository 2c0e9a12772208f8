#include "debugmon/text/DebugLine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace debugtext;

namespace {

#define R "\xef\xbf\xbd"

// The fields as a window shows them: what the lines set, starting empty.
struct Fields {
    std::string mode, cycle, info;
    uint32_t speed = 0;
    void apply(const std::string &line)
    {
        const LineEffect e = applyLine(line, speed);
        if (e.mode)
            mode = *e.mode;
        if (e.cycle)
            cycle = *e.cycle;
        if (e.info)
            info = *e.info;
    }
};

struct LineCase {
    const char *name;
    std::vector<std::string> lines;
    const char *mode;
    const char *cycle;
    const char *info;
    uint32_t speed;
};

void PrintTo(const LineCase &c, std::ostream *os)
{
    *os << c.name;
}

// Expected values worked out by hand: fs shows (1000000 / speed, in whole
// numbers) * frames microseconds; cy shows 100000000 / count as hundredths
// of a hertz.
const LineCase kLineCases[] = {
    {"ModeFirstToken", {"configTransfer DSD128 44100 x"}, "DSD128", "", "", 0},
    {"ModeEmptyRest", {"configTransfer PCM", "configTransfer "}, "", "", "", 0},
    {"CycleSecondToken", {"start cycle=8 1000 us"}, "", "1000", "", 0},
    {"CycleWithoutSecondTokenKeepsField", {"start cycle=8 2000", "start cycle=500"}, "", "2000", "", 0},
    {"SpeedKeptAcrossBadLines",
     {"start SPEED=44100", "start SPEED=0", "start SPEED=x", "start SPEED=-1"},
     "",
     "",
     "",
     44100},
    {"SpeedSurroundingSpace", {"start SPEED=\t48000\r\n"}, "", "", "", 48000},
    {"SpeedPlusSign", {"start SPEED=+96000"}, "", "", "", 96000},
    {"SpeedHighest", {"start SPEED=4294967295"}, "", "", "", 4294967295u},
    {"SpeedBeyond32Bits", {"start SPEED=7", "start SPEED=4294967296"}, "", "", "", 7},
    {"SpeedHexIsNotANumber", {"start SPEED=7", "start SPEED=0x10"}, "", "", "", 7},
    {"FsAfterSpeed", {"start SPEED=44100", "info rcv a b fs=512"}, "", "", "11264 usec", 44100},
    {"FsBeforeSpeed", {"info rcv fs=512"}, "", "", "", 0},
    {"FsLineEndsInCrLf", {"start SPEED=44100", "info rcv fs=512\r\n"}, "", "", "11264 usec", 44100},
    {"FsNoBreakSpaces",
     {"start SPEED=48000", "info rcv fs=\xc2\xa0"
                           "2\xe3\x80\x80"},
     "",
     "",
     "40 usec",
     48000},
    {"FsExponent", {"start SPEED=1000000", "info rcv fs=1E3"}, "", "", "1000 usec", 1000000},
    {"FsLeadingPoint", {"start SPEED=1000", "info rcv fs=.5"}, "", "", "500 usec", 1000},
    {"FsTrailingPoint", {"start SPEED=1000", "info rcv fs=5."}, "", "", "5000 usec", 1000},
    {"FsNegativeTruncatesTowardZero", {"start SPEED=3", "info rcv fs=-0.0000031"}, "", "", "-1 usec", 3},
    {"FsLowestInt32",
     {"start SPEED=1000000", "info rcv fs=-2147483648"},
     "",
     "",
     "-2147483648 usec",
     1000000},
    {"FsTwoToThe31",
     {"start SPEED=1000000", "info rcv cy=4000", "info rcv fs=2147483648"},
     "",
     "",
     "",
     1000000},
    {"FsTinyIsZeroMicroseconds", {"start SPEED=1000000", "info rcv fs=1e-30"}, "", "", "0 usec", 1000000},
    {"FsBelowFloatRange", {"start SPEED=1", "info rcv cy=4000", "info rcv fs=1e-50"}, "", "", "", 1},
    {"FsBeyondFloatRange", {"start SPEED=1", "info rcv cy=4000", "info rcv fs=1e39"}, "", "", "", 1},
    {"FsInfinityAndNan", {"start SPEED=1", "info rcv cy=4000", "info rcv fs=-INF"}, "", "", "", 1},
    {"CyWholeHertz", {"info rcv cy=4000"}, "", "", "250.00 Hz", 0},
    {"CyHundredths", {"info rcv cy=3"}, "", "", "333333.33 Hz", 0},
    {"CyLeadingZeroDigit", {"info rcv cy=11"}, "", "", "90909.09 Hz", 0},
    {"CyHighest", {"info rcv cy=4294967295"}, "", "", "0.00 Hz", 0},
    {"CyPlusAndSpace", {"info rcv cy=+4000\r"}, "", "", "250.00 Hz", 0},
    {"CyMinusIsNotANumber", {"info rcv cy=4000", "info rcv cy=-0"}, "", "", "", 0},
    {"NoEqualsOrTwoEquals", {"info rcv cy=4000", "info rcv cy=4000=1"}, "", "", "", 0},
    {"OnlyTheLastTokenCounts",
     {"start SPEED=44100", "info rcv fs=512 cy=4000 fs=2"},
     "",
     "",
     "44 usec",
     44100},
    {"BeginningsAreCaseSensitive",
     {"ConfigTransfer PCM", "start Cycle=1 2", "info Rcv cy=4000"},
     "",
     "",
     "",
     0},
};

class Lines : public ::testing::TestWithParam<LineCase> {};

TEST_P(Lines, FieldsAndSpeed)
{
    const LineCase &c = GetParam();
    Fields f;
    for (const std::string &line : c.lines)
        f.apply(line);
    EXPECT_EQ(f.mode, c.mode);
    EXPECT_EQ(f.cycle, c.cycle);
    EXPECT_EQ(f.info, c.info);
    EXPECT_EQ(f.speed, c.speed);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Lines, ::testing::ValuesIn(kLineCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DebugLine, OneKnownLineSetsOnlyItsField)
{
    uint32_t speed = 0;
    const LineEffect mode = applyLine("configTransfer PCM", speed);
    EXPECT_TRUE(mode.mode && !mode.cycle && !mode.info);
    const LineEffect cycle = applyLine("start cycle=1 2", speed);
    EXPECT_TRUE(!cycle.mode && cycle.cycle && !cycle.info);
    const LineEffect info = applyLine("info rcv x", speed);
    EXPECT_TRUE(!info.mode && !info.cycle && info.info);
    EXPECT_EQ(*info.info, "");
    const LineEffect plain = applyLine("Target: configTransfer PCM", speed);
    EXPECT_TRUE(!plain.mode && !plain.cycle && !plain.info);
    EXPECT_EQ(speed, 0u);
}

struct DatagramCase {
    const char *name;
    std::string payload;
    std::string line;
    std::string logged;
};

void PrintTo(const DatagramCase &c, std::ostream *os)
{
    *os << c.name;
}

const std::string kHeader = "[ 12.345678] velmora-drv 0001: ";

std::string repeated(const std::string &text, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += text;
    return out;
}

const DatagramCase kDatagramCases[] = {
    {"HostLine", kHeader + "buffer ok", "buffer ok", "Host  : buffer ok"},
    {"TargetLine", kHeader + "Target: po=3", "Target: po=3", "Target: po=3"},
    {"TargetWithoutSpace", kHeader + "Target:po=3", "Target:po=3", "Host  : Target:po=3"},
    {"HeaderOnly", kHeader, "", "Host  : "},
    {"ShorterThanHeader", "short", "", "Host  : "},
    {"Empty", "", "", "Host  : "},
    {"HeaderOfTwoByteCharacters", repeated("\xc3\xa9", 31) + "ok", "ok", "Host  : ok"},
    {"HeaderOfFourByteCharacters", repeated("\xf0\x9f\x98\x80", 31) + "ok", "ok", "Host  : ok"},
    // 30 characters and a broken one in the header: the broken one is the
    // 31st character, so the line starts right after it.
    {"BrokenCharacterCountsOnce", std::string(30, 'h') + "\xe2\x82" + "line", "line", "Host  : line"},
    {"InvalidInLineReplaced",
     kHeader + "a\xff"
               "b",
     "a" R "b", "Host  : a" R "b"},
};

class Datagrams : public ::testing::TestWithParam<DatagramCase> {};

TEST_P(Datagrams, LineAndMark)
{
    const DatagramCase &c = GetParam();
    const std::string line = lineOfDatagram(c.payload.data(), c.payload.size());
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(markedLine(line), c.logged);
}

INSTANTIATE_TEST_SUITE_P(Cases, Datagrams, ::testing::ValuesIn(kDatagramCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DebugLine, TimeStampIsTimeOfDay)
{
    const struct {
        int64_t millis;
        const char *text;
    } cases[] = {
        {0, "00:00:00.000 "},
        {45296789, "12:34:56.789 "},
        {86399999, "23:59:59.999 "},
        {86400000, "00:00:00.000 "},
        {86400000LL * 20000 + 3723004, "01:02:03.004 "},
        {-1, "23:59:59.999 "},
        {-86400000LL * 3 - 60000, "23:59:00.000 "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(timeStamp(c.millis), c.text) << c.millis;
}

TEST(DebugLine, FloatConversionReadsAsDoubleThenFloat)
{
    float f = 0;
    ASSERT_TRUE(toFloat32("0.1", f));
    EXPECT_EQ(f, float(0.1));
    ASSERT_TRUE(toFloat32("-0", f));
    EXPECT_TRUE(f == 0 && std::signbit(f));
    ASSERT_TRUE(toFloat32("\xe2\x88\x92"
                          "2.5e\xe2\x88\x92"
                          "1",
                          f));
    EXPECT_EQ(f, -0.25f);
    ASSERT_TRUE(toFloat32("NaN", f));
    EXPECT_TRUE(std::isnan(f));
    for (const char *bad : {"", " ", "+nan", "-nan", "infinity", "1e", "1e+", ".", "+", "1 2", "1,5", "--1",
                            "+-1", "0x1p3", "1_000", "\xe2\x88\x92-1"})
        EXPECT_FALSE(toFloat32(bad, f)) << bad;
}

} // namespace
