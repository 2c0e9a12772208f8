// The stand-in driver's target search against emulated targets, inside the
// private test network (run through scripts/testnet.sh).
#include "driver/DriverFinder.h"
#include "src/Platform/Platform.h"
#include "tests/settings/TempDir.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <memory>
#include <set>
#include <tuple>

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

NodeAddress address(const std::string &text, uint16_t interfaceIndex, uint16_t port = 0)
{
    NodeAddress a;
    inet_pton(AF_INET6, text.c_str(), a.address);
    a.interfaceIndex = interfaceIndex;
    a.setHostPort(port);
    return a;
}

// One row of a result: address text, port, interface, po, name.
using Row = std::tuple<std::string, uint16_t, uint16_t, uint16_t, std::string>;

std::set<Row> rows(const FoundTargetMap &map)
{
    std::set<Row> out;
    for (const auto &e : map) {
        char text[INET6_ADDRSTRLEN];
        inet_ntop(AF_INET6, e.first.address, text, sizeof text);
        out.emplace(text, e.first.hostPort(), e.first.interfaceIndex, e.second.po, e.second.name);
        EXPECT_EQ(e.second.address, e.first) << "the target's address is its key";
    }
    return out;
}

// Namespace 1: one player "Studio" with two outputs on one address, given
// in reverse port order; namespace 2: "Living Room" and "Kitchen" (another
// identifier) and one with the all-ones identifier that is never listed.
// Namespace 2 also has a unique-local address that only a search at that
// address finds under that address.
class SearchEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(env("VELMORA_TESTNET"), "1") << "run this test through scripts/testnet.sh";
        const std::string bin = env("VELMORA_PROGRAM_DIR") + "/velmora-target-sim";
        for (const char *add : {"$VELMORA_NS_T2 ip -6 addr add fd00:2::1/64 dev $VELMORA_T2_IF nodad",
                                "ip -6 addr add fd00:2::c/64 dev $VELMORA_C2_IF nodad"}) {
            ChildProcess ip(add);
            ASSERT_EQ(ip.wait(10000), 0) << add << ": " << ip.output();
        }
        sims.push_back(std::make_unique<ChildProcess>(
            "$VELMORA_NS_T1 " + bin +
            " --target 'Studio' --id 5 --port 19651 --target 'Studio' --id 5 --port 19650"));
        sims.push_back(std::make_unique<ChildProcess>(
            "$VELMORA_NS_T2 " + bin +
            " --target 'Living Room' --id 5 --port 19660 --target 'Kitchen' --id 6 --port 19661"
            " --target 'Unset' --id all-ones --port 19662"));
        for (auto &sim : sims)
            ASSERT_TRUE(sim->waitFor("ready\n", 10000)) << sim->output();
    }
    void TearDown() override { sims.clear(); }

    std::vector<std::unique_ptr<ChildProcess>> sims;
};

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        c1 = static_cast<uint16_t>(std::atoi(env("VELMORA_C1_INDEX").c_str()));
        c2 = static_cast<uint16_t>(std::atoi(env("VELMORA_C2_INDEX").c_str()));
        t1 = env("VELMORA_T1_ADDR");
        t2 = env("VELMORA_T2_ADDR");
        ASSERT_TRUE(c1 && c2 && !t1.empty() && !t2.empty());
        entry = createSystemPlatform()->findDriverEntry(env("VELMORA_PROGRAM_DIR") + "/");
        ASSERT_NE(entry, nullptr);
    }
    void TearDown() override { unsetenv("VELMORA_DRIVER_CONFIG"); }

    void configure(const std::string &text)
    {
        writeBytes(config.file("driver.inf"), text);
        setenv("VELMORA_DRIVER_CONFIG", config.file("driver.inf").c_str(), 1);
    }

    std::set<Row> search(const std::vector<NodeAddress> &extra, uint32_t interfaceNumber)
    {
        FoundTargetMap map;
        DriverFinder *finder = entry();
        EXPECT_NE(finder, nullptr);
        if (!finder)
            return {};
        finder->findTargets(map, extra, interfaceNumber);
        finder->release();
        return rows(map);
    }

    Row studio(uint16_t port, uint16_t po) const { return Row{t1, port, c1, po, "Studio"}; }
    Row living(const std::string &at, uint16_t iface) const { return Row{at, 19660, iface, 1, "Living Room"}; }
    Row kitchen(const std::string &at, uint16_t iface) const { return Row{at, 19661, iface, 2, "Kitchen"}; }

    TempDir config;
    uint16_t c1 = 0, c2 = 0;
    std::string t1, t2;
    DllVelmorafindFn entry = nullptr;
};

TEST_F(SearchTest, AllInterfacesNamesAndOutputNumbers)
{
    configure("TargetIdentifier=0\n");
    // Outputs at one address are numbered in port order; the all-ones
    // identifier is never listed.
    EXPECT_EQ(search({}, 0),
              (std::set<Row>{studio(19650, 1), studio(19651, 2), living(t2, c2), kitchen(t2, c2)}));
}

TEST_F(SearchTest, InterfaceNumberLimitsTheSearch)
{
    configure("");
    EXPECT_EQ(search({}, c2), (std::set<Row>{living(t2, c2), kitchen(t2, c2)}));
    EXPECT_EQ(search({}, c1), (std::set<Row>{studio(19650, 1), studio(19651, 2)}));
    // An interface the host does not have finds nothing.
    EXPECT_EQ(search({}, 999), std::set<Row>{});
}

TEST_F(SearchTest, TargetIdentifierFiltersAsDiscoveryDoes)
{
    configure("TargetIdentifier=5\n");
    EXPECT_EQ(search({}, 0), (std::set<Row>{studio(19650, 1), studio(19651, 2), living(t2, c2)}));
}

TEST_F(SearchTest, ExtraAddresses)
{
    configure("");
    // The unique-local address is not searched by discovery; asked at that
    // address the targets answer from it, from their command ports.
    const NodeAddress ula = address("fd00:2::1", 0, 19642);
    EXPECT_EQ(search({ula}, c1), (std::set<Row>{studio(19650, 1), studio(19651, 2), living("fd00:2::1", 0),
                                                kitchen("fd00:2::1", 0)}));
    // A link-local address already found by discovery gives no second
    // entry, with or without its interface; a zero address and an address
    // nobody has add nothing.
    EXPECT_EQ(search({address(t1, c1), address(t2, 0), NodeAddress(), address("fd00:2::99", 0)}, 0),
              (std::set<Row>{studio(19650, 1), studio(19651, 2), living(t2, c2), kitchen(t2, c2)}));
    // A link-local address on an interface other than the chosen one is
    // not searched.
    EXPECT_EQ(search({address(t2, c2)}, c1), (std::set<Row>{studio(19650, 1), studio(19651, 2)}));
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new SearchEnvironment);
    return RUN_ALL_TESTS();
}
