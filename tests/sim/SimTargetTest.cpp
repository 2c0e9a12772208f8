#include "tools/sim/SimTarget.h"
#include "tests/network/ProtocolPrint.h"
#include "tests/support/TextContains.h"
#include "tools/sim/SimOptions.h"
#include "tools/sim/SimServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

// The emulated target's answers and faults, without a network.

namespace {

using sim::Fault;
using sim::Outgoing;
using sim::SimTarget;
using sim::TargetConfig;

std::vector<Outgoing> ask(SimTarget &t, const std::vector<uint8_t> &request, int64_t now = 0)
{
    std::vector<Outgoing> out;
    std::string note;
    t.handle(request.data(), request.size(), now, out, note);
    return out;
}

TEST(SimTarget, HelloReplyCarriesIdentifierWordsAndName)
{
    TargetConfig c;
    c.name = "Out-A";
    c.identifier = 0x0004000300020001ull;
    SimTarget t(c);
    const auto out = ask(t, buildMessage(msg::Hello));
    ASSERT_EQ(out.size(), 1u);
    const std::vector<uint8_t> expected = {0x64, 0, 0x1b, 0, 1, 0, 1, 0, 1, 0, 2, 0, 3, 0, 4, 0,
                                           'O', 'u', 't', '-', 'A', 0, 0, 0};
    EXPECT_EQ(out[0].datagram, expected);
    EXPECT_FALSE(out[0].fromOtherPort);
}

TEST(SimTarget, FaultsShapeTheReply)
{
    const struct {
        Fault fault;
        size_t replies;
        bool wellFormed;
        uint16_t command;
        bool ok;
        size_t size;
    } rows[] = {
        {Fault::None, 1, true, msg::VersionReply, true, 24},
        {Fault::Silent, 0, false, 0, false, 0},
        {Fault::Refuse, 1, true, msg::VersionReply, false, 24},
        {Fault::Echo, 1, true, msg::VersionQuery, false, 16},
        {Fault::OtherPort, 1, true, msg::VersionReply, true, 24},
        {Fault::BadMagic, 1, false, 0, false, 24},
        {Fault::BadLength, 1, false, 0, false, 24},
        {Fault::BadPad, 1, true, msg::VersionReply, true, 16},
        {Fault::Oversize, 1, false, 0, false, 1501},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(sim::faultName(r.fault));
        TargetConfig c;
        c.version = "2.4.1";
        c.fault = r.fault;
        SimTarget t(c);
        const auto out = ask(t, buildMessage(msg::VersionQuery));
        ASSERT_EQ(out.size(), r.replies);
        if (r.replies == 0)
            continue;
        const auto &d = out[0].datagram;
        EXPECT_EQ(d.size(), r.size);
        EXPECT_EQ(out[0].fromOtherPort, r.fault == Fault::OtherPort);
        MessageHeader h;
        // The oversized reply is well-formed in its first 1500 bytes.
        EXPECT_EQ(parseHeader(d.data(), std::min<size_t>(d.size(), 1500), h), r.wellFormed || r.fault == Fault::Oversize);
        if (r.wellFormed) {
            ASSERT_TRUE(parseHeader(d.data(), d.size(), h));
            EXPECT_EQ(msg::Command(h.command), msg::Command(r.command));
            EXPECT_EQ(h.ok(), r.ok);
        }
        if (r.fault == Fault::BadPad) {
            EXPECT_EQ(payloadLength(h), 0u);
        }
    }
}

TEST(SimTarget, FaultAppliesOnlyToTheListedCommands)
{
    TargetConfig c;
    c.fault = Fault::Silent;
    c.faultCommands = {msg::VersionQuery};
    SimTarget t(c);
    EXPECT_TRUE(ask(t, buildMessage(msg::VersionQuery)).empty());
    EXPECT_EQ(ask(t, buildMessage(msg::Hello)).size(), 1u);
}

TEST(SimTarget, RebootSilenceThenBackOrNever)
{
    for (int64_t silence : {int64_t(300), sim::kForever}) {
        SCOPED_TRACE(silence);
        TargetConfig c;
        c.rebootSilenceMillis = silence;
        SimTarget t(c);
        const auto reply = ask(t, buildMessage(msg::Reboot, 0, 1), 1000000);
        ASSERT_EQ(reply.size(), 1u);
        MessageHeader h;
        ASSERT_TRUE(parseHeader(reply[0].datagram.data(), reply[0].datagram.size(), h));
        EXPECT_EQ(msg::Command(h.command), msg::RebootReply);
        EXPECT_TRUE(ask(t, buildMessage(msg::Hello), 1000000 + 299000).empty());
        EXPECT_EQ(ask(t, buildMessage(msg::Hello), 1000000 + 301000).size(), silence < 0 ? 0u : 1u);
        EXPECT_EQ(ask(t, buildMessage(msg::Hello), 1000000 + 3600000000ll).size(), silence < 0 ? 0u : 1u);
    }
}

TEST(SimTarget, AnnounceIsRememberedAndMalformedRequestsDropped)
{
    SimTarget t{TargetConfig{}};
    const std::string name = "Velmora-9";
    const auto r = ask(t, buildMessage(msg::Announce, msg::kFlagOk, 0, 0, 0, 0,
                                       reinterpret_cast<const uint8_t *>(name.data()), name.size()));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(t.announcedName(), name);
    std::vector<uint8_t> bad = buildMessage(msg::Hello);
    bad[0] = 99;
    EXPECT_TRUE(ask(t, bad).empty());
    EXPECT_TRUE(ask(t, buildMessage(msg::HelloReply)).empty()) << "replies are not requests";
}

TEST(SimOptions, GroupsPerTargetDefaultsAndErrors)
{
    sim::SimConfig config;
    std::string err;
    ASSERT_TRUE(sim::parseArguments({"--interface", "vt1", "--target", "A", "--id", "0x10", "--target", "B", "--id=all-ones",
                                     "--reboot-silence", "forever", "--port", "19700"},
                                    config, err))
        << err;
    ASSERT_EQ(config.targets.size(), 2u);
    EXPECT_EQ(config.interfaceName, "vt1");
    EXPECT_EQ(config.targets[0]->config().identifier, 16u);
    EXPECT_EQ(config.targets[0]->config().port, sim::kFirstDefaultPort);
    EXPECT_EQ(config.targets[1]->config().identifier, ~uint64_t(0));
    EXPECT_EQ(config.targets[1]->config().rebootSilenceMillis, sim::kForever);
    EXPECT_EQ(config.targets[1]->config().port, 19700);

    const std::vector<std::vector<std::string>> bad = {
        {"--port", "19642"},
        {"--port", "0"},
        {"--id", "-1"},
        {"--fault", "loud"},
        {"--delay", "soon"},
        {"--address", "fe80::1%vt1"},
        {"--target", "A", "--port", "19700", "--target", "B", "--port", "19700"},
        {"--no-such-option", "1"},
        {"--version"},
        {"stray"},
    };
    for (const auto &args : bad) {
        sim::SimConfig c;
        std::string e;
        EXPECT_FALSE(sim::parseArguments(args, c, e)) << args[0];
        EXPECT_FALSE(e.empty()) << args[0];
    }
    EXPECT_TRUE(textContains(sim::helpText(), SimStorage::optionsHelp()));
}

} // namespace

namespace {

// The emulator runs only where it can tell that the network is a private
// one: the same namespace as process 1, or links it cannot read, refuse.
TEST(SimNamespaceCheck, RefusesUnlessTwoReadableDifferentNamespaces)
{
    char folder[] = "/tmp/velmora-ns-check.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string dir = folder;
    ASSERT_EQ(::symlink("net:[4026531840]", (dir + "/init").c_str()), 0);
    ASSERT_EQ(::symlink("net:[4026531840]", (dir + "/same").c_str()), 0);
    ASSERT_EQ(::symlink("net:[4026532999]", (dir + "/other").c_str()), 0);
    const struct {
        const char *own;
        const char *init;
        const char *hint;
        bool ok;
        const char *message;
    } rows[] = {
        {"other", "init", nullptr, true, ""},
        {"same", "init", nullptr, false, "machine's own network namespace"},
        {"same", "init", "net:[1]", false, "machine's own network namespace"}, // readable init wins
        {"missing", "init", nullptr, false, "cannot read"},
        {"other", "missing", nullptr, false, "cannot read"},
        {"other", "missing", "", false, "cannot read"},
        {"missing", "missing", nullptr, false, "cannot read"},
        {"other", "missing", "net:[4026531840]", true, ""},
        {"same", "missing", "net:[4026531840]", false, "machine's own network namespace"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.own) + " " + r.init);
        std::string err;
        EXPECT_EQ(sim::checkPrivateNamespace((dir + "/" + r.own).c_str(), (dir + "/" + r.init).c_str(), r.hint, err),
                  r.ok);
        EXPECT_NE(err.find(r.message), std::string::npos) << err;
    }
    for (const char *f : {"init", "same", "other"})
        ::unlink((dir + "/" + f).c_str());
    ::rmdir(folder);
}

} // namespace

#include "tests/network/GoldenBytes.h"

namespace {

// The emulator answers every request of the hand-written table with the
// row's reply, byte for byte, in the table's order (one target, its state
// carried from row to row).
TEST(GoldenBytes, EmulatorAnswersTheTable)
{
    TargetConfig c;
    c.name = "Out-A";
    c.identifier = 0x0004000300020001ull;
    c.version = "2.4.1";
    c.source = "http://u/x";
    SimTarget t(c);
    for (const auto &row : golden::table()) {
        SCOPED_TRACE(row.name);
        const auto out = ask(t, row.request);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].datagram, row.reply);
        t.storage().afterReplies();
    }
    EXPECT_EQ(t.rebootCount(), 1);
}

} // namespace
