#include "tools/ctl/JsonOut.h"

#include "src/Network/AddressText.h"
#include "tests/support/CtlJsonSchema.h"
#include "tools/ctl/Command.h"

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

    const struct {
        const Json *doc;
        const char *command;
        const char *list;
        const char *object; // of the list's items
    } rows[] = {{&discover, "discover", "targets", "target"},
                {&interfaces, "interfaces", "interfaces", "interface"},
                {&failed, "interfaces", "interfaces", "interface"}};
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
    for (const char *name : {"discover", "interfaces"}) {
        std::ostringstream out, err;
        ASSERT_EQ(ctl::runCtl({"velmora-ctl", name, "--help"}, out, err), ctl::kExitOk);
        EXPECT_NE(out.str().find("[--json]"), std::string::npos) << name;
        EXPECT_NE(out.str().find("  --json  "), std::string::npos) << name;
        EXPECT_NE(out.str().find("ctl-json.md"), std::string::npos) << name;
    }
}

} // namespace
