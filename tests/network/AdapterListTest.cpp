// The host's adapter list as the socket layer and the platform layer report
// it, inside the client namespace of the private test network, where every
// address is known: lo with ::1, vc1 with fe80::c:1 and vc2 with fe80::c:2
// (scripts/testnet.sh). The expected entries come from the network's own
// description, not from the code under test.

#include "src/Network/AddressText.h"
#include "src/Network/Socket/Socket.h"
#include "src/Platform/Platform.h"
#include "tests/network/ProtocolPrint.h"
#include "tests/network/SimProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::string key; // address%index
    std::string friendlyName;
    std::string description;
    bool operator==(const Entry &o) const
    {
        return key == o.key && friendlyName == o.friendlyName && description == o.description;
    }
};

void PrintTo(const Entry &e, std::ostream *os)
{
    *os << "{" << e.key << " \"" << e.friendlyName << "\" \"" << e.description << "\"}";
}

std::vector<Entry> entries(const InterfaceMap &map)
{
    std::vector<Entry> out;
    for (const auto &e : map) {
        EXPECT_EQ(e.first.port, 0) << "adapters have no port";
        out.push_back({formatAddress(e.first.address) + "%" + std::to_string(e.first.interfaceIndex),
                       e.second.friendlyName, e.second.description});
    }
    return out;
}

Entry clientSide(int k)
{
    const std::string n = std::to_string(k);
    return {envText(("VELMORA_C" + n + "_ADDR").c_str()) + "%" +
                envText(("VELMORA_C" + n + "_INDEX").c_str()),
            envText(("VELMORA_C" + n + "_IF").c_str()), "ethernet (veth)"};
}

class Adapters : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (envText("VELMORA_TESTNET") != "1")
            FAIL() << "not inside the private test network: run this test through scripts/testnet.sh (ctest "
                      "does)";
    }
};

TEST_F(Adapters, EveryIpv6AddressOfEveryAdapter)
{
    InterfaceMap all;
    ASSERT_TRUE(listAdapterAddresses(all));
    // Map order: ::1 sorts before fe80::.
    EXPECT_EQ(entries(all), (std::vector<Entry>{{"::1%1", "lo", "loopback"}, clientSide(1), clientSide(2)}));
}

TEST_F(Adapters, LinkLocalInterfacesOfTheSocketAndPlatformLayers)
{
    const std::vector<Entry> expected = {clientSide(1), clientSide(2)};
    InterfaceMap linkLocal;
    ASSERT_TRUE(listLinkLocalInterfaces(linkLocal));
    EXPECT_EQ(entries(linkLocal), expected);
    InterfaceMap platform;
    ASSERT_TRUE(createSystemPlatform()->listLinkLocalInterfaces(platform));
    EXPECT_EQ(entries(platform), expected);
}

} // namespace
