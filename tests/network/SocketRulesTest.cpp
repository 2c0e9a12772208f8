#include "src/Network/Socket/SocketCommon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

// The socket layer's rules that need no system: the adapter map made from
// an adapter list, the link-local filter, the scope of a bind and of a
// send, and the repetition of a send that would block.

namespace {

using socketcommon::AdapterRecord;
using socketcommon::SendAttempt;

std::array<uint8_t, 16> ip(std::initializer_list<uint8_t> head, uint8_t last)
{
    std::array<uint8_t, 16> a{};
    size_t i = 0;
    for (uint8_t b : head)
        a[i++] = b;
    a[15] = last;
    return a;
}

NodeAddress key(const std::array<uint8_t, 16> &address, uint16_t index)
{
    NodeAddress k;
    std::memcpy(k.address, address.data(), 16);
    k.interfaceIndex = index;
    return k;
}

std::string show(const InterfaceMap &map)
{
    std::string out;
    for (const auto &e : map) {
        char head[64];
        std::snprintf(head, sizeof head, "%02x%02x..%02x%%%u port %u: ", e.first.address[0],
                      e.first.address[1], e.first.address[15], unsigned(e.first.interfaceIndex),
                      unsigned(e.first.port));
        out += head + e.second.friendlyName.substr(0, 20) + " / " + e.second.description.substr(0, 20) + "\n";
    }
    return out;
}

TEST(AdapterMap, KeysNamesAndTheLinkLocalFilter)
{
    const auto fe80_1 = ip({0xfe, 0x80}, 1);
    const auto fe81_1 = ip({0xfe, 0x81}, 1);
    const auto febf_1 = ip({0xfe, 0xbf}, 1);
    const auto fec0_1 = ip({0xfe, 0xc0}, 1);
    const auto global = ip({0x20, 0x01, 0x0d, 0xb8}, 7);
    const auto loop = ip({}, 1);
    const std::vector<AdapterRecord> adapters = {
        {12, "eth0", "Intel(R) Ethernet", {fe80_1, fec0_1, global, fe81_1, febf_1}},
        // The same link-local address on a second adapter: a second entry.
        {14, "eth1", "Realtek USB", {fe80_1}},
        // An index above 16 bits is cut to its low 16 bits.
        {0x10005, "wlan0", "Wireless", {ip({0xfe, 0x80}, 5)}},
        // A key listed again (same address, index 12 after the cut) keeps
        // the names of the first adapter that listed it.
        {0x1000c, "later", "later", {fe80_1}},
        {1, "Loopback Pseudo-Interface 1", "Software Loopback Interface 1", {loop}},
        // No IPv6 address: nothing.
        {9, "ipv4 only", "IPv4", {}},
    };
    InterfaceMap all;
    all[key(loop, 99)] = {"stale", "stale"};
    socketcommon::fillAdapterMap(adapters, all);
    const InterfaceMap expectedAll = {
        {key(loop, 1), {"Loopback Pseudo-Interface 1", "Software Loopback Interface 1"}},
        {key(global, 12), {"eth0", "Intel(R) Ethernet"}},
        {key(fe80_1, 12), {"eth0", "Intel(R) Ethernet"}},
        {key(fe80_1, 14), {"eth1", "Realtek USB"}},
        {key(ip({0xfe, 0x80}, 5), 5), {"wlan0", "Wireless"}},
        {key(fe81_1, 12), {"eth0", "Intel(R) Ethernet"}},
        {key(febf_1, 12), {"eth0", "Intel(R) Ethernet"}},
        {key(fec0_1, 12), {"eth0", "Intel(R) Ethernet"}},
    };
    auto same = [](const InterfaceMap &a, const InterfaceMap &b) {
        if (a.size() != b.size())
            return false;
        for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
            if (i->first != j->first || i->second.friendlyName != j->second.friendlyName ||
                i->second.description != j->second.description)
                return false;
        }
        return true;
    };
    EXPECT_TRUE(same(all, expectedAll)) << "got:\n" << show(all) << "expected:\n" << show(expectedAll);

    // Only addresses that begin with exactly FE 80 stay; the order is the
    // map's: address bytes, then interface index.
    socketcommon::keepLinkLocal(all);
    const InterfaceMap expectedLinkLocal = {
        {key(fe80_1, 12), {"eth0", "Intel(R) Ethernet"}},
        {key(fe80_1, 14), {"eth1", "Realtek USB"}},
        {key(ip({0xfe, 0x80}, 5), 5), {"wlan0", "Wireless"}},
    };
    EXPECT_TRUE(same(all, expectedLinkLocal)) << "got:\n"
                                              << show(all) << "expected:\n"
                                              << show(expectedLinkLocal);
}

TEST(AdapterMap, TextsThatDoNotFitTheBufferBecomeEmpty)
{
    // The buffer holds 2049 bytes with the terminating zero: 2048 bytes of
    // text fit, 2049 do not. A multi-byte character counts by its bytes.
    const std::string fits(2048, 'n');
    const std::string tooLong(2049, 'n');
    std::string umlauts;
    for (int i = 0; i < 1025; ++i)
        umlauts += "\xc3\xa4"; // 2050 bytes of UTF-8, 1025 characters
    const struct {
        const char *name;
        std::string text;
        bool kept;
    } rows[] = {
        {"empty", "", true},
        {"2048 bytes", fits, true},
        {"2049 bytes", tooLong, false},
        {"1025 two-byte characters", umlauts, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        InterfaceMap map;
        socketcommon::fillAdapterMap({{3, r.text, "desc " + r.text, {ip({0xfe, 0x80}, 3)}}}, map);
        ASSERT_EQ(map.size(), 1u);
        const InterfaceInfo &info = map.begin()->second;
        EXPECT_EQ(info.friendlyName.size(), r.kept ? r.text.size() : 0u);
        EXPECT_EQ(info.friendlyName == r.text, r.kept);
        // The description is 5 bytes longer: 2048 bytes of name fit, its
        // description of 2053 does not.
        const std::string description = "desc " + r.text;
        EXPECT_EQ(info.description, description.size() < 2049 ? description : std::string());
    }
}

TEST(ScopeRules, BindFixesAnInterfaceOnlyForLinkLocalAndIndexedLoopback)
{
    const struct {
        const char *name;
        std::array<uint8_t, 16> address;
        uint16_t index;
        uint32_t scope;
    } rows[] = {
        {"fe80::1%5", ip({0xfe, 0x80}, 1), 5, 5},
        {"fe80::1 without index", ip({0xfe, 0x80}, 1), 0, 0},
        {"fe81::1%5 (not FE 80)", ip({0xfe, 0x81}, 1), 5, 0},
        {"fec0::1%5", ip({0xfe, 0xc0}, 1), 5, 0},
        {"ff02::1%5 (multicast)", ip({0xff, 0x02}, 1), 5, 0},
        {"::1%3", ip({}, 1), 3, 3},
        {"::1 without index", ip({}, 1), 0, 0},
        {"::2%3 (not loopback)", ip({}, 2), 3, 0},
        {"1::1%3 (not loopback)", ip({0x00, 0x01}, 1), 3, 0},
        {":: (any)%3", ip({}, 0), 3, 0},
        {"2001:db8::7%4", ip({0x20, 0x01, 0x0d, 0xb8}, 7), 4, 0},
    };
    for (const auto &r : rows) {
        NodeAddress local = key(r.address, r.index);
        local.setHostPort(19650);
        EXPECT_EQ(socketcommon::bindScope(local), r.scope) << r.name;
    }
}

TEST(ScopeRules, SendUsesTheFixedInterfaceOverTheDestinationsIndex)
{
    NodeAddress destination = key(ip({0xfe, 0x80}, 9), 3);
    EXPECT_EQ(socketcommon::sendScope(0, destination), 3u);
    EXPECT_EQ(socketcommon::sendScope(7, destination), 7u);
    // The fixed interface keeps its full width; the destination's index is
    // 16 bits by its record.
    EXPECT_EQ(socketcommon::sendScope(0x10007, destination), 0x10007u);
    destination.interfaceIndex = 0;
    EXPECT_EQ(socketcommon::sendScope(0, destination), 0u);

    sockaddr_in6 sa;
    destination = key(ip({0xfe, 0x80}, 9), 3);
    destination.setHostPort(19642);
    socketcommon::toSockaddr(destination, socketcommon::sendScope(5, destination), sa);
    EXPECT_EQ(sa.sin6_family, AF_INET6);
    const auto *port = reinterpret_cast<const uint8_t *>(&sa.sin6_port);
    EXPECT_EQ(port[0], 0x4c); // 19642 = 0x4CBA, network order
    EXPECT_EQ(port[1], 0xba);
    EXPECT_EQ(sa.sin6_scope_id, 5u);
    EXPECT_EQ(std::memcmp(&sa.sin6_addr, destination.address, 16), 0);
}

TEST(SendRules, RetryableErrorsOfThisPlatform)
{
#ifdef _WIN32
    const struct {
        int code;
        bool retryable;
    } rows[] = {{10035, true},  // WSAEWOULDBLOCK
                {10055, true},  // WSAENOBUFS
                {10054, false}, // WSAECONNRESET
                {10040, false}, // WSAEMSGSIZE
                {10049, false}, // WSAEADDRNOTAVAIL
                {10051, false}, // WSAENETUNREACH
                {0, false}};
#else
    const struct {
        int code;
        bool retryable;
    } rows[] = {{EAGAIN, true},       {EWOULDBLOCK, true},
                {ENOBUFS, true},      {ECONNREFUSED, false},
                {EMSGSIZE, false},    {EADDRNOTAVAIL, false},
                {ENETUNREACH, false}, {EPERM, false},
                {EINTR, false},       {0, false}};
#endif
    for (const auto &r : rows)
        EXPECT_EQ(socketcommon::retryableSendError(r.code), r.retryable) << "error " << r.code;
}

// One send under the rules, with a scripted series of send outcomes (the
// last repeats), a fake clock that each send call advances by callMicros
// and each pause by pauseMicros.
struct SendRun {
    bool result = false;
    int calls = 0;
    int pauses = 0;
    int firstPauseAfterCall = 0;
    int64_t elapsed = 0;
};

SendRun runSend(bool retry, const std::vector<SendAttempt> &outcomes, int64_t callMicros = 1,
                int64_t pauseMicros = 1000)
{
    SendRun run;
    int64_t clock = 5000000;
    const int64_t start = clock;
    run.result = socketcommon::sendWithRetry(
        retry,
        [&] {
            const size_t i = std::min(size_t(run.calls), outcomes.size() - 1);
            ++run.calls;
            clock += callMicros;
            // A bound the rules must never need: fail the test, end the loop.
            if (run.calls > 1000000) {
                ADD_FAILURE() << "the send was repeated a million times";
                return SendAttempt::Failed;
            }
            return outcomes[i];
        },
        [&] { return clock; },
        [&] {
            if (run.pauses++ == 0)
                run.firstPauseAfterCall = run.calls;
            clock += pauseMicros;
        });
    run.elapsed = clock - start;
    return run;
}

TEST(SendRules, RepeatsWhatMayBeRepeatedAndNothingElse)
{
    using A = SendAttempt;
    const struct {
        const char *name;
        bool retry;
        std::vector<A> outcomes;
        bool result;
        int calls;
    } rows[] = {
        {"sent at once", true, {A::Whole}, true, 1},
        {"would block, then sent", true, {A::Retryable, A::Retryable, A::Whole}, true, 3},
        {"short, then sent whole", true, {A::Short, A::Whole}, true, 2},
        {"interrupted, then sent", true, {A::Interrupted, A::Whole}, true, 2},
        {"other error: not repeated", true, {A::Failed, A::Whole}, false, 1},
        {"would block, then another error", true, {A::Retryable, A::Failed, A::Whole}, false, 2},
        {"without retry: would block fails", false, {A::Retryable, A::Whole}, false, 1},
        {"without retry: short fails", false, {A::Short, A::Whole}, false, 1},
        {"without retry: interrupted is repeated", false, {A::Interrupted, A::Whole}, true, 2},
        {"without retry: other error fails", false, {A::Failed}, false, 1},
        {"40 would-blocks, then sent", true,
         [] {
             std::vector<A> v(40, A::Retryable);
             v.push_back(A::Whole);
             return v;
         }(),
         true, 41},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const SendRun run = runSend(r.retry, r.outcomes);
        EXPECT_EQ(run.result, r.result);
        EXPECT_EQ(run.calls, r.calls);
    }
}

TEST(SendRules, ASendThatKeepsBlockingGivesUpAfterItsBound)
{
    using A = SendAttempt;
    for (A outcome : {A::Retryable, A::Short, A::Interrupted}) {
        SCOPED_TRACE(int(outcome));
        const SendRun run = runSend(true, {outcome}, 1, 1000);
        EXPECT_FALSE(run.result);
        // The first tries go at once, then each after a pause.
        EXPECT_EQ(run.firstPauseAfterCall, socketcommon::SendRetry::kImmediateTries + 1);
        // It gives up once the bound has passed since the first failure,
        // not before and not long after: one pause of 1 ms past it at most.
        EXPECT_GT(run.elapsed, socketcommon::SendRetry::kBoundMicros);
        EXPECT_LE(run.elapsed, socketcommon::SendRetry::kBoundMicros + 1000 + 2 * 1);
        // 2 s of pauses of 1 ms: about 2000 tries.
        EXPECT_GE(run.calls, 1990);
        EXPECT_LE(run.calls, 2020);
    }
}

TEST(SendRules, ASlowSendCallStillEndsAtTheBound)
{
    // Each failing call takes 300 ms: the send gives up after the call that
    // ends past the bound, whatever the count of tries.
    const SendRun run = runSend(true, {SendAttempt::Retryable}, 300000, 0);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.calls, 8); // failure at 0.3 s; 2.1 s is past 2 s after 7 more
    EXPECT_EQ(run.pauses, 0);
}

} // namespace
