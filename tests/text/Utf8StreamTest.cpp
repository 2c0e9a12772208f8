#include "debugmon/text/Utf8Stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using debugtext::decodeUtf8;
using debugtext::Utf8StreamDecoder;

namespace {

// U+FFFD in UTF-8, written out.
#define R "\xef\xbf\xbd"

struct DecodeCase {
    const char *name;
    std::string bytes;
    std::string text;
};

void PrintTo(const DecodeCase &c, std::ostream *os)
{
    *os << c.name;
}

// The expected texts are written by hand from the rule: each maximal
// ill-formed subsequence (the longest start of a well-formed character, or
// one byte that starts none) becomes one U+FFFD.
const DecodeCase kDecodeCases[] = {
    {"Empty", "", ""},
    {"Ascii", "boot: ok\r\n", "boot: ok\r\n"},
    {"NulPasses", std::string("a\0b", 3), std::string("a\0b", 3)},
    {"TwoBytes", "\xc3\xa9", "\xc3\xa9"},
    {"ThreeBytes", "\xe2\x82\xac", "\xe2\x82\xac"},
    {"FourBytes", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
    {"LowestAndHighest", "\xc2\x80|\xe0\xa0\x80|\xf0\x90\x80\x80|\xf4\x8f\xbf\xbf",
     "\xc2\x80|\xe0\xa0\x80|\xf0\x90\x80\x80|\xf4\x8f\xbf\xbf"},
    {"NoncharacterPasses", "\xef\xbf\xbf\xef\xb7\x90", "\xef\xbf\xbf\xef\xb7\x90"},
    {"ByteOrderMarkPasses", "\xef\xbb\xbfx", "\xef\xbb\xbfx"},
    {"LoneContinuation",
     "a\x80"
     "b",
     "a" R "b"},
    {"ContinuationRun", "\x80\xbf\x80", R R R},
    {"InvalidLeads", "\xc0\xc1\xf5\xfe\xff", R R R R R},
    {"OverlongTwoBytes", "\xc0\xaf", R R},
    {"OverlongThreeBytes", "\xe0\x80\xaf", R R R},
    {"OverlongFourBytes", "\xf0\x8f\xbf\xbf", R R R R},
    {"Surrogate", "\xed\xa0\x80", R R R},
    {"LastBeforeSurrogates", "\xed\x9f\xbf", "\xed\x9f\xbf"},
    {"BeyondU10FFFF", "\xf4\x90\x80\x80", R R R R},
    {"TruncatedTwoOfThree",
     "\xe2\x82"
     "A",
     R "A"},
    {"TruncatedThreeOfFour",
     "\xf0\x9f\x98"
     "A",
     R "A"},
    {"TruncatedThenCharacter", "\xe2\x82\xc3\xa9", R "\xc3\xa9"},
    {"TruncatedAtEnd", "end\xe2\x82", "end" R},
    {"LeadAtEnd", "end\xf0", "end" R},
    {"TwoTruncatedInARow", "\xe2\x82\xe2\x82", R R},
    {"InvalidBetweenValid",
     "a\xff"
     "b\xe2\x82\xac",
     "a" R "b\xe2\x82\xac"},
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, OneShot)
{
    EXPECT_EQ(decodeUtf8(GetParam().bytes), GetParam().text);
}

TEST_P(Decode, EveryCutIntoTwoChunksGivesTheSameText)
{
    const std::string &bytes = GetParam().bytes;
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        Utf8StreamDecoder decoder;
        std::string out;
        decoder.decode(bytes.data(), cut, out);
        decoder.decode(bytes.data() + cut, bytes.size() - cut, out);
        decoder.finish(out);
        EXPECT_EQ(out, GetParam().text) << "cut at " << cut;
    }
}

TEST_P(Decode, ByteByByteGivesTheSameText)
{
    const std::string &bytes = GetParam().bytes;
    Utf8StreamDecoder decoder;
    std::string out;
    for (const char b : bytes)
        decoder.decode(&b, 1, out);
    decoder.decode(nullptr, 0, out);
    decoder.finish(out);
    EXPECT_EQ(out, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, Decode, ::testing::ValuesIn(kDecodeCases),
                         [](const auto &info) { return std::string(info.param.name); });

// What each chunk shows while a stream arrives in pieces: a character cut
// between chunks appears whole with the chunk that completes it.
struct SplitCase {
    const char *name;
    std::vector<std::string> chunks;
    std::vector<std::string> shown; // after each chunk
    bool waiting;                   // needsMoreData() after the last chunk
};

void PrintTo(const SplitCase &c, std::ostream *os)
{
    *os << c.name;
}

const SplitCase kSplitCases[] = {
    {"TwoByteHalves", {"<\xc3", "\xa9>"}, {"<", "\xc3\xa9>"}, false},
    {"EuroOneAndTwo", {"\xe2", "\x82\xac"}, {"", "\xe2\x82\xac"}, false},
    {"EuroTwoAndOne", {"\xe2\x82", "\xac"}, {"", "\xe2\x82\xac"}, false},
    {"EmojiInFourChunks", {"\xf0", "\x9f", "\x98", "\x80"}, {"", "", "", "\xf0\x9f\x98\x80"}, false},
    {"EmptyChunkBetween", {"\xe2", "", "\x82\xac"}, {"", "", "\xe2\x82\xac"}, false},
    {"CutThenBroken", {"\xe2\x82", "A"}, {"", R "A"}, false},
    {"CutThenOverlongSecond", {"\xe0", "\x80"}, {"", R R}, false},
    {"EndsInside", {"ok\xf0\x9f"}, {"ok"}, true},
    {"InvalidShownAtOnce", {"a\xff"}, {"a" R}, false},
};

class Split : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Split, ChunkByChunk)
{
    const SplitCase &c = GetParam();
    ASSERT_EQ(c.chunks.size(), c.shown.size());
    Utf8StreamDecoder decoder;
    for (size_t i = 0; i < c.chunks.size(); ++i)
        EXPECT_EQ(decoder.decode(c.chunks[i]), c.shown[i]) << "chunk " << i;
    EXPECT_EQ(decoder.needsMoreData(), c.waiting);
    std::string rest;
    decoder.finish(rest);
    EXPECT_EQ(rest, c.waiting ? R : "");
    EXPECT_FALSE(decoder.needsMoreData());
    // Ready for a new stream.
    EXPECT_EQ(decoder.decode("\xc3\xa9"), "\xc3\xa9");
}

INSTANTIATE_TEST_SUITE_P(Cases, Split, ::testing::ValuesIn(kSplitCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Utf8Characters, CountAndOffsetByCodePoint)
{
    const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";
    EXPECT_EQ(debugtext::countCharacters(text), 5u);
    const size_t offsets[] = {0, 1, 3, 6, 10, 11, 11, 11};
    for (size_t n = 0; n < sizeof offsets / sizeof offsets[0]; ++n)
        EXPECT_EQ(debugtext::offsetAfterCharacters(text, n), offsets[n]) << n;
    EXPECT_EQ(debugtext::countCharacters(""), 0u);
    EXPECT_EQ(debugtext::offsetAfterCharacters("", 3), 0u);
}

} // namespace
