#include "tests/network/SimProcess.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/CtlJsonSchema.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <unistd.h>

// velmora-ctl's --json output as a script sees it: the real program run
// against emulated targets in the private test network (scripts/testnet.sh),
// its standard output parsed and checked against the schema that
// docs/ctl-json.md documents, with target names that hold quotes, control bytes and
// invalid UTF-8.

namespace {

using nlohmann::json;

bool isHexIdentifier(const std::string &s)
{
    return s.size() == 16 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The document against the documented schema, and the rules between its
// fields, for a run that ended with status.
void checkDocument(const json &doc, const std::string &command, int status)
{
    static const ctljson::Schema schema = ctljson::readSchema();
    const std::string list = ctljson::checkDocument(schema, doc, command);
    if (list.empty())
        return;
    EXPECT_EQ(doc["schemaVersion"], 1);
    EXPECT_EQ(doc["command"], command);
    EXPECT_EQ(doc["ok"].get<bool>(), status == 0);
    EXPECT_EQ(doc["error"].is_null(), status == 0);
    for (const auto &item : doc[list]) {
        const std::string address = item["address"];
        const int index = item["interfaceIndex"];
        EXPECT_GT(index, 0);
        EXPECT_LE(index, 65535);
        if (item.contains("port")) {
            const int port = item["port"];
            EXPECT_GT(port, 0);
            EXPECT_LE(port, 65535);
            EXPECT_EQ(item["endpoint"], address + "%" + std::to_string(index) + "," + std::to_string(port));
            EXPECT_TRUE(isHexIdentifier(item["identifier"])) << item["identifier"];
        } else {
            EXPECT_EQ(item["scopedAddress"], address + "%" + std::to_string(index));
        }
    }
}

// -------------------------------------------------------- the real program

struct ChildRun {
    int status = -1; // exit status, or -1 when it did not exit by itself
    std::string out;
    std::string err;
};

// Runs argv (a program path and its arguments) with standard output and
// error apart, within a fixed deadline; the harness kills a child that does
// not end in time and fails the test for that, for a signal and for a
// sanitizer report.
ChildRun runProgram(const std::vector<std::string> &argv)
{
    ChildOptions options;
    options.separateErrors = true;
    ChildProcess child(argv, options);
    ChildRun r;
    if (!child.started()) {
        ADD_FAILURE() << child.name() << " did not start: " << child.startError();
        return r;
    }
    r.status = child.wait(60000);
    r.out = child.output();
    r.err = child.errors();
    return r;
}

std::string ctlPath()
{
    return envText("VELMORA_PROGRAM_DIR") + "/velmora-ctl";
}

ChildRun ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), ctlPath());
    return runProgram(args);
}

// Standard output holds one document and nothing else; it is plain ASCII
// without control characters, whatever the targets sent.
json parseDocument(const ChildRun &r)
{
    for (char c : r.out) {
        if (!((c >= 0x20 && c < 0x7f) || c == '\n')) {
            ADD_FAILURE() << "byte " << int(static_cast<unsigned char>(c)) << " in the output:\n" << r.out;
            break;
        }
    }
    json doc;
    try {
        doc = json::parse(r.out);
    } catch (const json::exception &e) {
        ADD_FAILURE() << "standard output is not one JSON document (" << e.what() << "):\n" << r.out;
    }
    return doc;
}

class CtlJson : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string problem = testNetworkProblem();
        if (!problem.empty())
            FAIL() << problem;
        if (::access(ctlPath().c_str(), X_OK) != 0)
            FAIL() << "velmora-ctl is missing in VELMORA_PROGRAM_DIR";
    }
    void startSim(SimProcess &sim, int k, const std::vector<std::string> &args)
    {
        std::string error;
        ASSERT_TRUE(sim.start(k, args, error)) << error;
    }
};

// Names as bytes on the wire.
const std::string kControlName = "Say \"hi\"\\\tnow\n\x01\x1b[31mred\x7f";
const std::string kInvalidName = "Bad\xff\xc3(\xed\xa0\x80"
                                 "End";
const std::string kUnicodeName = u8"K\u00fcche \U0001D11E";

TEST_F(CtlJson, DiscoverListsTheTargetsWithTheirNamesAsSent)
{
    SimProcess one, two;
    startSim(one, 1,
             {"--target", "Out-A", "--id", "5", "--port", "19650", "--target", kControlName, "--id",
              "0xfffffffffffffffe", "--port", "19651"});
    startSim(two, 2,
             {"--target", "Unset", "--id", "all-ones", "--port", "19650", "--target", kInvalidName, "--id",
              "7", "--port", "19652", "--target", kUnicodeName, "--id", "0", "--port", "19653"});

    const ChildRun r = ctl({"discover", "--json", "--name", "json-test"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const json doc = parseDocument(r);
    checkDocument(doc, "discover", r.status);
    if (HasFailure())
        return;

    const struct {
        int k;
        int port;
        const char *identifier;
        std::string name; // as the document's reader gets it back
    } expected[] = {
        {1, 19650, "0000000000000005", "Out-A"},
        {1, 19651, "fffffffffffffffe", kControlName},
        {2, 19652, "0000000000000007",
         "Bad\xef\xbf\xbd\xef\xbf\xbd(\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"
         "End"},
        {2, 19653, "0000000000000000", kUnicodeName},
    };
    const json &targets = doc["targets"];
    ASSERT_EQ(targets.size(), std::size(expected)) << r.out;
    for (size_t i = 0; i < targets.size(); ++i) {
        SCOPED_TRACE(i);
        const auto &e = expected[i];
        const std::string k = std::to_string(e.k);
        EXPECT_EQ(targets[i]["address"], envText(("VELMORA_T" + k + "_ADDR").c_str()));
        EXPECT_EQ(targets[i]["interfaceIndex"],
                  std::atoi(envText(("VELMORA_C" + k + "_INDEX").c_str()).c_str()));
        EXPECT_EQ(targets[i]["port"], e.port);
        EXPECT_EQ(targets[i]["identifier"], e.identifier);
        EXPECT_EQ(targets[i]["name"].get<std::string>(), e.name);
    }
    // How the hostile names stand in the document itself.
    for (const char *text :
         {R"("name": "Say \"hi\"\\\tnow\n\u0001\u001b[31mred\u007f")",
          R"("name": "Bad\ufffd\ufffd(\ufffd\ufffd\ufffdEnd")", R"("name": "K\u00fcche \ud834\udd1e")"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;

    // The same targets, endpoints and identifiers as the lines of the text
    // output (the endpoint is what the other commands take as EP).
    const ChildRun text = ctl({"discover", "--name", "json-test"});
    EXPECT_EQ(text.status, 0) << text.err;
    std::istringstream lines(text.out);
    size_t n = 0;
    for (std::string line; std::getline(lines, line); ++n) {
        ASSERT_LT(n, targets.size()) << text.out;
        const std::string start = targets[n]["endpoint"].get<std::string>() + "\t" +
                                  targets[n]["identifier"].get<std::string>() + "\t";
        EXPECT_EQ(line.rfind(start, 0), 0u) << line;
    }
    EXPECT_EQ(n, targets.size()) << text.out;
    EXPECT_NE(one.output().find("announced name \"json-test\""), std::string::npos) << one.output();
}

TEST_F(CtlJson, DiscoverWithoutTargetsGivesAnEmptyList)
{
    const ChildRun r = ctl({"discover", "--json", "--filter", "0x5"});
    EXPECT_EQ(r.status, 0) << r.err;
    const json doc = parseDocument(r);
    checkDocument(doc, "discover", r.status);
    EXPECT_TRUE(doc["targets"].empty());
}

TEST_F(CtlJson, InterfacesListsTheClientSide)
{
    const ChildRun r = ctl({"interfaces", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const json doc = parseDocument(r);
    checkDocument(doc, "interfaces", r.status);
    if (HasFailure())
        return;
    const json &list = doc["interfaces"];
    ASSERT_EQ(list.size(), 2u) << r.out;
    for (int k = 1; k <= 2; ++k) {
        const json &item = list[k - 1];
        const std::string c = "VELMORA_C" + std::to_string(k);
        EXPECT_EQ(item["address"], envText((c + "_ADDR").c_str()));
        EXPECT_EQ(item["interfaceIndex"], std::atoi(envText((c + "_INDEX").c_str()).c_str()));
        EXPECT_EQ(item["friendlyName"], envText((c + "_IF").c_str()));
        EXPECT_EQ(item["description"], "ethernet (veth)");
    }
}

// In a network namespace of its own with no interface up there is nothing
// to search or list: exit status 1, the message on standard error, and still
// one document that says so.
TEST_F(CtlJson, FailuresStillPrintOneDocument)
{
    const struct {
        const char *command;
        const char *list;
        const char *message;
    } rows[] = {
        {"discover", "targets",
         "cannot open the client: no IPv6 link-local interface, or the socket cannot be bound"},
        {"interfaces", "interfaces", "cannot list the network adapters, or the host has no IPv6 address"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.command);
        const ChildRun r = runProgram({"unshare", "--net", ctlPath(), row.command, "--json"});
        ASSERT_NE(r.err.find("velmora-ctl " + std::string(row.command) + ": "), std::string::npos)
            << "unshare --net did not run velmora-ctl: " << r.err;
        EXPECT_EQ(r.status, 1) << r.err;
        const json doc = parseDocument(r);
        checkDocument(doc, row.command, r.status);
        if (HasFailure())
            continue;
        EXPECT_TRUE(doc[row.list].empty());
        const std::string error = doc["error"];
        EXPECT_EQ(error.rfind(row.message, 0), 0u) << error;
        EXPECT_EQ(r.err, "velmora-ctl " + std::string(row.command) + ": " + error + "\n");
    }
}

} // namespace
