#include "src/Network/AddressText.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using Groups = std::array<uint16_t, 8>;

std::array<uint8_t, 16> bytesOf(const Groups &g)
{
    std::array<uint8_t, 16> b{};
    for (int i = 0; i < 8; ++i) {
        b[2 * i] = static_cast<uint8_t>(g[i] >> 8);
        b[2 * i + 1] = static_cast<uint8_t>(g[i] & 0xff);
    }
    return b;
}

struct FormatCase {
    const char *name;
    Groups groups;
    const char *text;
};

const FormatCase kFormatCases[] = {
    {"leading_run_after_group", {0xfe80, 0, 0, 0, 1, 2, 3, 4}, "fe80::1:2:3:4"},
    {"single_zero_not_compressed", {1, 0, 2, 3, 4, 5, 6, 7}, "1:0:2:3:4:5:6:7"},
    {"first_run_not_longest", {1, 0, 0, 2, 0, 0, 0, 3}, "1::2:0:0:0:3"},
    {"all_zero", {0, 0, 0, 0, 0, 0, 0, 0}, "::"},
    {"trailing_run", {1, 0, 0, 0, 0, 0, 0, 0}, "1::"},
    {"leading_run", {0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
    {"no_zero",
     {0xffff, 0xabcd, 0x1234, 0x0f00, 0x00f0, 0x000f, 0x1000, 0x0001},
     "ffff:abcd:1234:f00:f0:f:1000:1"},
    {"single_zeros_both_ends", {0, 1, 2, 3, 4, 5, 6, 0}, "0:1:2:3:4:5:6:0"},
    {"two_runs_of_two", {1, 0, 0, 2, 3, 0, 0, 4}, "1::2:3:0:0:4"},
};

void PrintTo(const FormatCase &c, std::ostream *os)
{
    *os << c.name;
}

class FormatAddress : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatAddress, WritesExpectedTextAndParsesBack)
{
    const FormatCase &c = GetParam();
    const auto bytes = bytesOf(c.groups);
    EXPECT_EQ(formatAddress(bytes.data()), c.text);
    uint8_t back[16];
    ASSERT_TRUE(parseAddress(c.text, back));
    EXPECT_EQ(0, std::memcmp(back, bytes.data(), 16));
}

INSTANTIATE_TEST_SUITE_P(Table, FormatAddress, ::testing::ValuesIn(kFormatCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct ParseCase {
    const char *name;
    const char *text;
    bool ok;
    Groups groups; // when ok
};

const ParseCase kParseCases[] = {
    {"middle_gap", "2001:db8:1::2:3:4", true, {0x2001, 0xdb8, 1, 0, 0, 2, 3, 4}},
    {"all_zero", "::", true, {}},
    {"gap_at_start", "::1:2", true, {0, 0, 0, 0, 0, 0, 1, 2}},
    {"gap_at_end", "fe80::", true, {0xfe80, 0, 0, 0, 0, 0, 0, 0}},
    {"full_eight", "1:2:3:4:5:6:7:8", true, {1, 2, 3, 4, 5, 6, 7, 8}},
    {"gap_for_one_group", "1:2:3::5:6:7:8", true, {1, 2, 3, 0, 5, 6, 7, 8}},
    {"seven_then_gap", "1:2:3:4:5:6:7::", true, {1, 2, 3, 4, 5, 6, 7, 0}},
    {"upper_case_and_leading_zeros", "FE80::00Ab:0001", true, {0xfe80, 0, 0, 0, 0, 0, 0xab, 1}},
    {"empty", "", false, {}},
    {"nine_groups", "1:2:3:4:5:6:7:8:9", false, {}},
    {"seven_groups_no_gap", "1:2:3:4:5:6:7", false, {}},
    {"eight_groups_and_gap", "1:2:3:4::5:6:7:8", false, {}},
    {"five_digit_group", "fe80::12345", false, {}},
    {"dotted_ipv4_part", "::ffff:192.0.2.1", false, {}},
    {"second_gap", "1::2::3", false, {}},
    {"triple_colon", "1:::2", false, {}},
    {"lone_colon", ":", false, {}},
    {"leading_single_colon", ":1:2:3:4:5:6:7", false, {}},
    {"trailing_single_colon", "1:2:3:4:5:6:7:", false, {}},
    {"empty_inner_group", "1:2::3:", false, {}},
    {"space", "fe80::1 ", false, {}},
    {"percent_scope", "fe80::1%2", false, {}},
    {"brackets", "[fe80::1]", false, {}},
    {"non_hex", "fe8g::1", false, {}},
};

void PrintTo(const ParseCase &c, std::ostream *os)
{
    *os << c.name << " \"" << c.text << '"';
}

class ParseAddress : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseAddress, AcceptsOnlyTheStandardForm)
{
    const ParseCase &c = GetParam();
    uint8_t address[16];
    std::memset(address, 0x5a, sizeof address);
    ASSERT_EQ(parseAddress(c.text, address), c.ok);
    if (c.ok) {
        EXPECT_EQ(0, std::memcmp(address, bytesOf(c.groups).data(), 16));
    } else {
        for (uint8_t b : address)
            ASSERT_EQ(b, 0x5a) << "a failed parse changed the address";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ParseAddress, ::testing::ValuesIn(kParseCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ParseAddressBytes, EmbeddedNulByteFails)
{
    uint8_t address[16] = {};
    EXPECT_FALSE(parseAddress(std::string("fe80::1\0", 8), address));
    EXPECT_FALSE(parseAddress(std::string("fe80:\0:1", 8), address));
}

struct EndpointCase {
    const char *name;
    const char *text;
    bool ok;
    Groups groups;
    uint16_t port;
};

const EndpointCase kEndpointCases[] = {
    {"zero_record", "::,0", true, {}, 0},
    {"port_modulo", "fe80::1,70000", true, {0xfe80, 0, 0, 0, 0, 0, 0, 1}, 4464},
    {"empty_port_is_zero", "fe80::1,", true, {0xfe80, 0, 0, 0, 0, 0, 0, 1}, 0},
    {"max_port", "fe80::1,65535", true, {0xfe80, 0, 0, 0, 0, 0, 0, 1}, 65535},
    {"wraps_to_zero", "fe80::1,65536", true, {0xfe80, 0, 0, 0, 0, 0, 0, 1}, 0},
    {"leading_zeros", "::1,0019642", true, {0, 0, 0, 0, 0, 0, 0, 1}, 19642},
    {"very_long_port",
     "::1,99999999999999999999999999999999",
     true,
     {0, 0, 0, 0, 0, 0, 0, 1},
     // 10^32 - 1 modulo 65536
     static_cast<uint16_t>(0xffff)},
    {"letter_in_port", "fe80::1,80a", false, {}, 0},
    {"no_comma", "fe80::1", false, {}, 0},
    {"bad_address", "fe80:::1,80", false, {}, 0},
    {"empty_address", ",80", false, {}, 0},
    {"sign_in_port", "fe80::1,+80", false, {}, 0},
    {"space_in_port", "fe80::1, 80", false, {}, 0},
    {"second_comma", "fe80::1,80,1", false, {}, 0},
};

void PrintTo(const EndpointCase &c, std::ostream *os)
{
    *os << c.name << " \"" << c.text << '"';
}

class ParseEndpoint : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(ParseEndpoint, SplitsAtFirstComma)
{
    const EndpointCase &c = GetParam();
    NodeAddress before;
    std::memset(before.address, 0x77, 16);
    before.setHostPort(4242);
    before.interfaceIndex = 9;
    NodeAddress endpoint = before;
    ASSERT_EQ(parseEndpoint(c.text, endpoint), c.ok);
    if (c.ok) {
        EXPECT_EQ(0, std::memcmp(endpoint.address, bytesOf(c.groups).data(), 16));
        EXPECT_EQ(endpoint.hostPort(), c.port);
        EXPECT_EQ(endpoint.interfaceIndex, 9) << "the interface index is not part of the text";
    } else {
        EXPECT_EQ(endpoint, before) << "a failed parse changed the endpoint";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ParseEndpoint, ::testing::ValuesIn(kEndpointCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(FormatEndpoint, ZeroRecordAndPort)
{
    NodeAddress zero;
    EXPECT_EQ(formatEndpoint(zero), "::,0");
    NodeAddress target;
    target.address[0] = 0xfe;
    target.address[1] = 0x80;
    target.address[15] = 0x2a;
    target.setHostPort(19642);
    target.interfaceIndex = 3;
    EXPECT_EQ(formatEndpoint(target), "fe80::2a,19642");
    NodeAddress back;
    ASSERT_TRUE(parseEndpoint(formatEndpoint(target), back));
    EXPECT_EQ(0, std::memcmp(back.address, target.address, 16));
    EXPECT_EQ(back.port, target.port);
}

} // namespace
