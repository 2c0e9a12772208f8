// The update sequence against a scripted client: the reports of every path,
// in order, and each bounded wait ending in its failure report.

#include "update/core/UpdateSequence.h"
#include "src/Network/Crc16.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct Script {
    bool open = true;
    bool transfer = true;
    // Write states returned by successive commits; the last one repeats.
    std::vector<uint16_t> states{0};
    int commitFailsAt = -1; // 0-based commit call that fails
    bool reboot = true;
    int answersAfterReboot = 2; // probes that still answer; -1 = forever
    int silentProbes = 3;       // probes without answer afterwards; -1 = forever
    std::string version = "2.0.1";
    // The call at which the user asks to stop ("" never); at "transfer" the
    // transfer then ends as a stopped one, as TargetClient's does.
    std::string stopAt;
};

class FakeClient : public update::UpdateClient {
public:
    explicit FakeClient(Script s) : s_(std::move(s)) {}

    void record(const std::string &call)
    {
        calls.push_back(call);
        if (call == s_.stopAt)
            stopNow = true;
    }

    bool open() override
    {
        calls.push_back("open");
        isOpen = s_.open;
        return s_.open;
    }
    void close() override
    {
        calls.push_back("close");
        isOpen = false;
    }
    bool transferImage(const NodeAddress &, int slotIndex, const uint8_t *image, uint64_t length,
                       uint64_t burstLimit) override
    {
        record("transfer");
        slot = slotIndex;
        burst = burstLimit;
        sent.assign(image, image + length);
        stopped = stopNow;
        return s_.transfer && !stopped;
    }
    bool commitImage(const NodeAddress &, int slotIndex, uint16_t c, uint16_t &state) override
    {
        record("commit");
        slot = slotIndex;
        crc = c;
        actions.push_back(state);
        int call = commits++;
        if (call == s_.commitFailsAt)
            return false;
        state = s_.states[std::min<size_t>(size_t(call), s_.states.size() - 1)];
        return true;
    }
    bool reboot(const NodeAddress &, uint8_t mode) override
    {
        record("reboot");
        rebootMode = mode;
        rebooted = true;
        return s_.reboot;
    }
    bool probe(const NodeAddress &) override
    {
        if (!rebooted)
            return true;
        if (s_.answersAfterReboot != 0) {
            if (s_.answersAfterReboot > 0)
                --s_.answersAfterReboot;
            return true;
        }
        if (s_.silentProbes != 0) {
            if (s_.silentProbes > 0)
                --s_.silentProbes;
            return false;
        }
        return true;
    }
    bool queryVersion(const NodeAddress &, std::string &text) override
    {
        calls.push_back("version");
        text = s_.version;
        return true;
    }

    bool transferStopped() const override { return stopped; }

    std::vector<std::string> calls;
    bool stopNow = false; // the user's stop request
    bool stopped = false;
    std::vector<uint16_t> actions;
    std::vector<uint8_t> sent;
    int commits = 0;
    int slot = -1;
    uint64_t burst = 0;
    uint16_t crc = 0;
    uint8_t rebootMode = 0;
    bool rebooted = false;
    bool isOpen = false;

private:
    Script s_;
};

using Reports = std::vector<std::pair<std::string, std::string>>;

update::UpdateOptions fastOptions()
{
    update::UpdateOptions o;
    o.timings.pause = 1ms;
    o.timings.poll = 1ms;
    o.timings.writeBound = 60ms;
    o.timings.downBound = 60ms;
    o.timings.upBound = 60ms;
    return o;
}

// A stuck or slowly counting write state repeats its "State Write FW n"
// report once per poll; such repeats collapse into one. Every other report
// stays as it came, so a step reported twice or a second box shows.
Reports collapseStateRepeats(const Reports &reports)
{
    Reports out;
    for (const auto &r : reports) {
        const bool state = r.first.rfind("State Write FW ", 0) == 0 && r.second.empty();
        if (state && !out.empty() && out.back() == r)
            continue;
        out.push_back(r);
    }
    return out;
}

// Runs the sequence and returns its reports, state repeats collapsed.
Reports runCollapsed(FakeClient &client, bool &result, const update::UpdateOptions &options = fastOptions())
{
    Reports reports;
    const std::vector<uint8_t> image{'V', 'M', 'V', 'E', 'R', ':', '9'};
    result =
        update::runUpdate(client, image, NodeAddress{}, options,
                          [&](const std::string &s, const std::string &b) { reports.emplace_back(s, b); });
    return collapseStateRepeats(reports);
}

const std::pair<std::string, std::string> kStart{"Start FW Transfer", ""};
const std::pair<std::string, std::string> kTransferred{"Compleat Transfer", ""};
const std::pair<std::string, std::string> kStartWrite{"Start Write FW", ""};
const std::pair<std::string, std::string> kWritten{"Complear Write FW", ""};
const std::pair<std::string, std::string> kStartReboot{"Start Reboot Target", ""};
const std::pair<std::string, std::string> kDoReboot{"Do Reboot Target", ""};
const std::pair<std::string, std::string> kEndReboot{"End Reboot Target", ""};

std::pair<std::string, std::string> state(int n)
{
    return {"State Write FW " + std::to_string(n), ""};
}
std::pair<std::string, std::string> error(const char *text)
{
    return {text, "Error"};
}

struct Case {
    const char *name;
    Script script;
    bool result;
    Reports reports;
};

Script with(void (*change)(Script &))
{
    Script s;
    change(s);
    return s;
}

const Case kCases[] = {
    {"WriteDoneAtOnce",
     Script{},
     true,
     {kStart,
      kTransferred,
      kStartWrite,
      state(0),
      kWritten,
      kStartReboot,
      kDoReboot,
      kEndReboot,
      {"Complear Reboot Target", "Ready : 2.0.1"}}},
    {"WriteCountsDown",
     with([](Script &s) {
         s.states = {100, 42, 7, 0};
     }),
     true,
     {kStart,
      kTransferred,
      kStartWrite,
      state(100),
      state(42),
      state(7),
      state(0),
      kWritten,
      kStartReboot,
      kDoReboot,
      kEndReboot,
      {"Complear Reboot Target", "Ready : 2.0.1"}}},
    {"EmptyVersion",
     with([](Script &s) { s.version.clear(); }),
     true,
     {kStart,
      kTransferred,
      kStartWrite,
      state(0),
      kWritten,
      kStartReboot,
      kDoReboot,
      kEndReboot,
      {"Complear Reboot Target", "Ready : "}}},
    {"OpenFails", with([](Script &s) { s.open = false; }), false, {kStart, error("Error Find Open")}},
    {"TransferFails", with([](Script &s) { s.transfer = false; }), false, {kStart, error("Error Transfer")}},
    {"FirstCommitFails",
     with([](Script &s) { s.commitFailsAt = 0; }),
     false,
     {kStart, kTransferred, kStartWrite, error("Error Write FW")}},
    {"LaterCommitFails",
     with([](Script &s) {
         s.states = {50, 0};
         s.commitFailsAt = 1;
     }),
     false,
     {kStart, kTransferred, kStartWrite, state(50), error("Error Write FW")}},
    {"RebootFails",
     with([](Script &s) { s.reboot = false; }),
     false,
     {kStart, kTransferred, kStartWrite, state(0), kWritten, error("Error Reboot Target")}},
    // The bounded waits.
    {"WriteNeverEnds",
     with([](Script &s) { s.states = {9}; }),
     false,
     {kStart, kTransferred, kStartWrite, state(9), error("Error Write FW")}},
    {"NeverGoesDown",
     with([](Script &s) { s.answersAfterReboot = -1; }),
     false,
     {kStart, kTransferred, kStartWrite, state(0), kWritten, kStartReboot, error("Error Reboot Target")}},
    {"NeverComesBack",
     with([](Script &s) { s.silentProbes = -1; }),
     false,
     {kStart, kTransferred, kStartWrite, state(0), kWritten, kStartReboot, kDoReboot,
      error("Error Reboot Target")}},
};

TEST(UpdateSequence, OnlyRepeatedStateReportsCollapse)
{
    const std::pair<std::string, std::string> start{"Start FW Transfer", ""};
    const std::pair<std::string, std::string> state5{"State Write FW 5", ""};
    const std::pair<std::string, std::string> state3{"State Write FW 3", ""};
    const std::pair<std::string, std::string> box{"State Write FW 3", "Error"};
    EXPECT_EQ(collapseStateRepeats({start, start, state5, state5, state5, state3, state5, box, box}),
              (Reports{start, start, state5, state3, state5, box, box}));
}

class UpdateSequencePath : public testing::TestWithParam<Case> {};

TEST_P(UpdateSequencePath, ReportsInOrder)
{
    const Case &c = GetParam();
    FakeClient client(c.script);
    bool result = !c.result;
    Reports reports = runCollapsed(client, result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(reports, c.reports);
    // The client is closed on every path.
    EXPECT_FALSE(client.isOpen);
    EXPECT_EQ(client.calls.back(), "close");
}

INSTANTIATE_TEST_SUITE_P(All, UpdateSequencePath, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

TEST(UpdateSequence, UsesSlotBurstCrcWriteActionAndRebootMode)
{
    Script s;
    s.states = {3, 0};
    FakeClient client(s);
    bool result = false;
    runCollapsed(client, result);
    ASSERT_TRUE(result);
    const std::vector<uint8_t> image{'V', 'M', 'V', 'E', 'R', ':', '9'};
    EXPECT_EQ(client.sent, image);
    EXPECT_EQ(client.slot, 0);
    EXPECT_EQ(client.burst, 1u);
    EXPECT_EQ(client.crc, crc16Usb(image.data(), image.size()));
    // Every commit asks to write (action 0), also while polling.
    EXPECT_EQ(client.actions, (std::vector<uint16_t>{0, 0}));
    EXPECT_EQ(client.rebootMode, 1);
    EXPECT_EQ(client.calls, (std::vector<std::string>{"open", "transfer", "commit", "commit", "reboot",
                                                      "version", "close"}));
}

// A stop request ends the update where the target's state is known, and
// never interrupts a write or a reboot under way.
TEST(UpdateSequence, StopRequests)
{
    const std::pair<std::string, std::string> unchanged{"Stopped: firmware unchanged", "Stopped"};
    const std::pair<std::string, std::string> written{"Stopped: new image written, target not rebooted",
                                                      "Stopped"};
    const struct {
        const char *name;
        const char *stopAt;
        std::vector<uint16_t> states;
        bool result;
        Reports reports;
        std::vector<std::string> calls;
    } rows[] = {
        {"before the transfer", "start", {0}, false, {unchanged}, {"close"}},
        {"within the transfer", "transfer", {0}, false, {kStart, unchanged}, {"open", "transfer", "close"}},
        {"while writing: the write ends, no reboot",
         "commit",
         {50, 0},
         false,
         {kStart, kTransferred, kStartWrite, state(50), state(0), kWritten, written},
         {"open", "transfer", "commit", "commit", "close"}},
        {"after the reboot request: the update ends as usual",
         "reboot",
         {0},
         true,
         {kStart,
          kTransferred,
          kStartWrite,
          state(0),
          kWritten,
          kStartReboot,
          kDoReboot,
          kEndReboot,
          {"Complear Reboot Target", "Ready : 2.0.1"}},
         {"open", "transfer", "commit", "reboot", "version", "close"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Script s;
        s.states = row.states;
        s.stopAt = row.stopAt;
        FakeClient client(s);
        client.stopNow = s.stopAt == "start";
        auto options = fastOptions();
        options.stop = [&client] { return client.stopNow; };
        bool result = !row.result;
        EXPECT_EQ(runCollapsed(client, result, options), row.reports);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(client.calls, row.calls);
    }
}

TEST(UpdateSequence, StopAfterTheTransferLeavesTheImageUnwritten)
{
    FakeClient client(Script{});
    auto options = fastOptions();
    int asked = 0;
    // The first question comes before the transfer, the second after it.
    options.stop = [&asked] { return ++asked == 2; };
    bool result = true;
    EXPECT_EQ(runCollapsed(client, result, options),
              (Reports{kStart, kTransferred, {"Stopped: firmware unchanged", "Stopped"}}));
    EXPECT_FALSE(result);
    EXPECT_EQ(client.commits, 0);
}

TEST(UpdateSequence, OptionsChooseSlotAndBurst)
{
    FakeClient client(Script{});
    auto options = fastOptions();
    options.slotIndex = 2;
    options.burstLimit = 0;
    bool result = false;
    runCollapsed(client, result, options);
    EXPECT_TRUE(result);
    EXPECT_EQ(client.slot, 2);
    EXPECT_EQ(client.burst, 0u);
}

TEST(UpdateSequence, WaitsBetweenSteps)
{
    // Four one-second pauses (shortened here) and a poll wait per non-zero state.
    Script s;
    s.states = {1, 1, 0};
    FakeClient client(s);
    auto options = fastOptions();
    options.timings.pause = 30ms;
    options.timings.poll = 40ms;
    bool result = false;
    const auto start = std::chrono::steady_clock::now();
    runCollapsed(client, result, options);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(result);
    EXPECT_GE(took, 4 * 30ms + 2 * 40ms);
    EXPECT_LT(took, 10s);
}

TEST(UpdateSequence, NoPollWaitWhenFirstStateIsZero)
{
    FakeClient client(Script{});
    auto options = fastOptions();
    options.timings.poll = 5s;
    bool result = false;
    const auto start = std::chrono::steady_clock::now();
    runCollapsed(client, result, options);
    EXPECT_TRUE(result);
    EXPECT_EQ(client.commits, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

} // namespace
