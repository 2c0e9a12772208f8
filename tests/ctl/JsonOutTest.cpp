#include "tools/ctl/JsonOut.h"

#include "src/Network/AddressText.h"
#include "tests/support/CtlJsonSchema.h"
#include "tools/ctl/Command.h"
#ifndef VELMORA_CTL_NO_FLEET
#include "tools/ctl/FleetJson.h"
#endif

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

// The writer of velmora-ctl's --json output, on hand-written documents: what
// a hostile text becomes, and the exact shape of a document. The commands'
// documents against emulated targets are checked in the private test
// network (tests/network/CtlJsonTest.cpp).

namespace {

using ctl::json::Json;

std::string written(const Json &doc)
{
    std::ostringstream out;
    ctl::json::write(out, doc);
    return out.str();
}

struct TextRow {
    const char *name;
    std::string in;       // the bytes a target sent
    const char *expected; // the JSON string as written, quotes included
};

// Unicode's recommended practice for invalid UTF-8 (one U+FFFD per maximal
// subpart of an ill-formed sequence), and JSON's escapes for the rest.
const TextRow kTextRows[] = {
    {"plain", "Out-A", R"("Out-A")"},
    {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
    {"short escapes", "\t\n\r\b\f", R"("\t\n\r\b\f")"},
    {"other C0 controls", "\x01\x1b[31m\x1f", R"("\u0001\u001b[31m\u001f")"},
    {"NUL inside", std::string("a\0b", 3), R"("a\u0000b")"},
    {"DEL", "\x7f", R"("\u007f")"},
    {"C1 control (8-bit CSI)", "\xc2\x9b", R"("\u009b")"},
    {"two-byte character", u8"K\u00fcche", R"("K\u00fcche")"},
    {"beyond the BMP as a surrogate pair", "\xf0\x9d\x84\x9e", R"("\ud834\udd1e")"},
    {"byte FF", "\xff", R"("\ufffd")"},
    {"lone continuation byte", "\x80", R"("\ufffd")"},
    {"truncated at the end", "a\xc3", R"("a\ufffd")"},
    {"truncated three-byte form", "\xe2\x82x", R"("\ufffdx")"},
    {"overlong slash", "\xc0\xaf", R"("\ufffd\ufffd")"},
    {"encoded surrogate", "\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},
    {"above U+10FFFF", "\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},
    {"valid text around invalid bytes",
     "Bad\xff\xc3(\xed\xa0\x80"
     "End",
     R"("Bad\ufffd\ufffd(\ufffd\ufffd\ufffdEnd")"},
};

TEST(CtlJsonWriter, TextsAreEscapedAndInvalidUtf8Replaced)
{
    for (const TextRow &row : kTextRows) {
        SCOPED_TRACE(row.name);
        std::string out;
        ASSERT_NO_THROW(out = written(Json(row.in)));
        EXPECT_EQ(out, std::string(row.expected) + "\n");
        for (char c : out)
            ASSERT_TRUE((c >= 0x20 && c < 0x7f) || c == '\n')
                << "byte " << int(static_cast<unsigned char>(c));
    }
}

TEST(CtlJsonWriter, ValidTextsComeBackUnchanged)
{
    for (const TextRow &row : kTextRows) {
        if (std::string(row.expected).find("ufffd") != std::string::npos)
            continue;
        SCOPED_TRACE(row.name);
        const Json back = Json::parse(written(Json(row.in)));
        EXPECT_EQ(back.get<std::string>(), row.in);
    }
}

TEST(CtlJsonWriter, DiscoverDocumentInItsDocumentedShape)
{
    NodeAddress a;
    ASSERT_TRUE(parseAddress("fe80::1:1", a.address));
    a.interfaceIndex = 3;
    a.setHostPort(19650);
    Json doc = ctl::json::document("discover");
    doc["targets"] = Json::array();
    doc["targets"].push_back(ctl::json::target(a, TargetInfo{0xfedcba9876543210ull, "Out \"A\""}));
    EXPECT_EQ(written(doc), R"doc({
  "schemaVersion": 1,
  "command": "discover",
  "ok": true,
  "error": null,
  "targets": [
    {
      "endpoint": "fe80::1:1%3,19650",
      "address": "fe80::1:1",
      "interfaceIndex": 3,
      "port": 19650,
      "identifier": "fedcba9876543210",
      "name": "Out \"A\""
    }
  ]
}
)doc");
}

TEST(CtlJsonWriter, InterfaceEntryAndFailure)
{
    NodeAddress a;
    ASSERT_TRUE(parseAddress("fe80::c:1", a.address));
    a.interfaceIndex = 12;
    Json doc = ctl::json::document("interfaces");
    doc["interfaces"] = Json::array();
    doc["interfaces"].push_back(ctl::json::interfaceEntry(a, InterfaceInfo{"Ethernet 2", "Intel\t(R)"}));
    ctl::json::setFailure(doc, "it broke");
    EXPECT_EQ(written(doc), R"doc({
  "schemaVersion": 1,
  "command": "interfaces",
  "ok": false,
  "error": "it broke",
  "interfaces": [
    {
      "address": "fe80::c:1",
      "interfaceIndex": 12,
      "scopedAddress": "fe80::c:1%12",
      "friendlyName": "Ethernet 2",
      "description": "Intel\t(R)"
    }
  ]
}
)doc");
}

// The documentation's tables and the writer's documents name the same
// fields with the same types, in the documented order.
TEST(CtlJsonWriter, DocumentsMatchTheDocumentedSchema)
{
    const ctljson::Schema schema = ctljson::readSchema();
    ASSERT_EQ(schema.problem, "");
    NodeAddress a;
    ASSERT_TRUE(parseAddress("fe80::1:1", a.address));
    a.interfaceIndex = 2;
    a.setHostPort(19650);

    Json discover = ctl::json::document("discover");
    discover["targets"] = Json::array({ctl::json::target(a, TargetInfo{7, "Solo"})});
    Json interfaces = ctl::json::document("interfaces");
    interfaces["interfaces"] = Json::array({ctl::json::interfaceEntry(a, InterfaceInfo{"vc1", "veth"})});
    Json failed = ctl::json::document("interfaces");
    failed["interfaces"] = Json::array();
    ctl::json::setFailure(failed, "no adapters");
#ifndef VELMORA_CTL_NO_FLEET
    // The fleet commands' objects from plain results: a target that named
    // no source and did not answer discovery, the driver host's list, a
    // target stopped after its write.
    fleet::FleetTarget unseen{a, "", std::nullopt};
    fleet::CheckResult noSource;
    noSource.address = a;
    noSource.version = "1.0.0";
    noSource.source = update::SourceState::NotUrl;
    noSource.sourceText = "ftp://x/";
    noSource.state = fleet::CheckState::NoSource;
    Json updates = ctl::json::document("updates");
    updates["targets"] = Json::array({ctl::json::targetCheck(unseen, noSource)});
    updates["driver"] = nullptr;
    fleet::DriverCheck host;
    host.baseUrl = "https://[::1]:18443/driver/";
    host.state = fleet::CheckState::Ok;
    host.entries = {{"4.2", 0xbeef, "setup-4.2.msi"}};
    Json driver = ctl::json::document("updates");
    driver["targets"] = Json::array();
    driver["driver"] = ctl::json::driverCheck("4.1", host);
    fleet::UpdateResult stopped;
    stopped.address = a;
    stopped.name = "Solo";
    stopped.oldVersion = "1.0.0";
    stopped.baseUrl = "https://[::1]:18443/living-room/";
    stopped.entry = {"2.5.0", 0x81f8, "fw-2.5.0.bin"};
    stopped.state = fleet::UpdateState::Stopped;
    stopped.step = "Stopped: new image written, target not rebooted";
    Json update = ctl::json::document("update");
    update["targets"] = Json::array({ctl::json::targetUpdate({a, "Solo", 7}, stopped)});
    ctl::json::setFailure(update, "0 updated, 0 failed, 0 without a source, 1 stopped");
#endif

    const struct {
        const Json *doc;
        const char *command;
        const char *list;
        const char *object; // of the list's items
    } rows[] = {
        {&discover, "discover", "targets", "target"},
        {&interfaces, "interfaces", "interfaces", "interface"},
        {&failed, "interfaces", "interfaces", "interface"},
#ifndef VELMORA_CTL_NO_FLEET
        {&updates, "updates", "targets", "target check"},
        {&driver, "updates", "targets", "target check"},
        {&update, "update", "targets", "target update"},
#endif
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.doc->dump());
        const nlohmann::json parsed = nlohmann::json::parse(written(*row.doc));
        EXPECT_EQ(ctljson::checkDocument(schema, parsed, row.command), row.list);
        // The documented order: the common fields, then the command's.
        const ctljson::Section &section = schema.sections.at(std::string("`") + row.command + "`");
        std::vector<std::string> names;
        for (const auto &item : row.doc->items())
            names.push_back(item.key());
        std::vector<std::string> documented;
        for (const auto &f : schema.sections.at("Every document").own)
            documented.push_back(f.name);
        for (const auto &f : section.own)
            documented.push_back(f.name);
        EXPECT_EQ(names, documented);
        if (row.doc->at(row.list).empty())
            continue;
        names.clear();
        documented.clear();
        for (const auto &item : row.doc->at(row.list).front().items())
            names.push_back(item.key());
        for (const auto &f : section.objects.at(row.object))
            documented.push_back(f.name);
        EXPECT_EQ(names, documented);
    }

    // A field the page does not name, one of another type and a missing one
    // fail the check.
    Json extra = discover;
    extra["targets"][0]["colour"] = "red";
    Json retyped = discover;
    retyped["targets"][0]["identifier"] = 7;
    Json missing = discover;
    missing["targets"][0].erase("name");
    Json notAList = discover;
    notAList["targets"] = Json::object();
    for (const Json *bad : {&extra, &retyped, &missing, &notAList}) {
        testing::TestPartResultArray failures;
        {
            testing::ScopedFakeTestPartResultReporter reporter(
                testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
            ctljson::checkDocument(schema, nlohmann::json::parse(written(*bad)), "discover");
        }
        EXPECT_GT(failures.size(), 0) << bad->dump();
    }
}

#ifndef VELMORA_CTL_NO_FLEET
// What the fleet objects say for results whose texts the lines show as "-".
TEST(CtlJsonWriter, FleetObjectsNameUnknownsNullAndKeepTheSteps)
{
    NodeAddress a;
    ASSERT_TRUE(parseAddress("fe80::2:1", a.address));
    a.interfaceIndex = 3;
    a.setHostPort(19650);
    fleet::UpdateResult failedWrite;
    failedWrite.address = a;
    failedWrite.name = "Faulty";
    failedWrite.oldVersion = "2.4.1";
    failedWrite.newVersion = "2.5.0"; // never shown: the update failed
    failedWrite.state = fleet::UpdateState::Failed;
    failedWrite.step = "Error FW Dlownload";
    failedWrite.detail = "HTTP 404 Not Found";
    EXPECT_EQ(written(ctl::json::targetUpdate({a, "Faulty", 5}, failedWrite)), R"doc({
  "endpoint": "fe80::2:1%3,19650",
  "address": "fe80::2:1",
  "interfaceIndex": 3,
  "port": 19650,
  "identifier": "0000000000000005",
  "name": "Faulty",
  "oldVersion": "2.4.1",
  "newVersion": null,
  "baseUrl": null,
  "entry": null,
  "result": "failed",
  "step": "Error FW Dlownload",
  "detail": "HTTP 404 Not Found",
  "ok": false,
  "error": "Error FW Dlownload: HTTP 404 Not Found"
}
)doc");

    fleet::CheckResult listFailed;
    listFailed.address = a;
    listFailed.source = update::SourceState::Ok;
    listFailed.sourceText = "certificarono/living-room/";
    listFailed.baseUrl = "https://[::1]:18443/living-room/";
    listFailed.error = "Error Dlownload Update List: HTTP 401 Unauthorized";
    EXPECT_EQ(written(ctl::json::targetCheck({a, "", std::nullopt}, listFailed)), R"doc({
  "endpoint": "fe80::2:1%3,19650",
  "address": "fe80::2:1",
  "interfaceIndex": 3,
  "port": 19650,
  "identifier": null,
  "name": null,
  "version": null,
  "source": "certificarono/living-room/",
  "baseUrl": "https://[::1]:18443/living-room/",
  "state": "failed",
  "detail": "Error Dlownload Update List: HTTP 401 Unauthorized",
  "ok": false,
  "error": "Error Dlownload Update List: HTTP 401 Unauthorized",
  "entries": []
}
)doc");
}
#endif

TEST(CtlJsonWriter, IdentifierTextKeepsAllSixtyFourBits)
{
    const struct {
        uint64_t id;
        const char *text;
    } rows[] = {
        {0, "0000000000000000"},
        {5, "0000000000000005"},
        {0x20000000000001ull, "0020000000000001"}, // 2^53 + 1: a double would lose it
        {0xfffffffffffffffeull, "fffffffffffffffe"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(ctl::json::identifierText(r.id), r.text);
}

// A bad command line prints no document: the exit status 2 and the message
// say it all (nothing was searched or listed).
TEST(CtlJsonCommands, UsageErrorsPrintNoDocument)
{
    const std::vector<std::vector<std::string>> cases = {
        {"discover", "--json=yes"},
        {"discover", "--json", "extra"},
        {"discover", "--json", "--mode", "256"},
        {"discover", "--json", "--filter", "0xg"},
        {"interfaces", "--json", "extra"},
        {"interfaces", "--json=1"},
        {"interfaces", "--jsonx"},
#ifndef VELMORA_CTL_NO_FLEET
        {"updates", "--json=1"},
        {"updates", "--json", "--driver", "--all"},
        {"update", "--json"},
        {"update", "--json", "--latest", "--parallel", "0"},
#endif
    };
    for (auto words : cases) {
        SCOPED_TRACE(testing::PrintToString(words));
        words.insert(words.begin(), "velmora-ctl");
        std::ostringstream out, err;
        EXPECT_EQ(ctl::runCtl(words, out, err), ctl::kExitUsage);
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(err.str().find("velmora-ctl " + words[1] + ": "), std::string::npos) << err.str();
    }
}

TEST(CtlJsonCommands, HelpNamesTheOption)
{
#ifdef VELMORA_CTL_NO_FLEET
    // The core-only build has no updates and update; their help says so.
    const char *const names[] = {"discover", "interfaces"};
#else
    const char *const names[] = {"discover", "interfaces", "updates", "update"};
#endif
    for (const char *name : names) {
        std::ostringstream out, err;
        ASSERT_EQ(ctl::runCtl({"velmora-ctl", name, "--help"}, out, err), ctl::kExitOk);
        EXPECT_NE(out.str().find("[--json]"), std::string::npos) << name;
        EXPECT_NE(out.str().find("  --json  "), std::string::npos) << name;
        EXPECT_NE(out.str().find("ctl-json.md"), std::string::npos) << name;
    }
}

} // namespace
