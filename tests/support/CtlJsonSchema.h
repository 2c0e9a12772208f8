#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// The schema of velmora-ctl's --json output, read from its documentation
// (docs/ctl-json.md), so that the tests check the documents against what a
// script writer reads, and a field that is added, dropped or retyped
// without the page fails them.
//
// The page's field tables have rows "| `name` | type | meaning |". The table
// under "## Every document" holds the fields of every document; under
// "## `COMMAND`" the first table holds the command's own fields and the
// second the fields of its list's items.
namespace ctljson {

struct Field {
    std::string name;
    std::string type; // "integer", "string", "boolean", "string or null", "array of ..."
};

struct Schema {
    // heading text (without "## ") -> its tables, in order
    std::map<std::string, std::vector<std::vector<Field>>> sections;
    std::string problem; // why the page could not be read; empty when fine
};

inline Schema readSchema()
{
    Schema schema;
    const char *src = std::getenv("VELMORA_SOURCE_DIR");
    if (src == nullptr) {
        schema.problem = "VELMORA_SOURCE_DIR is not set";
        return schema;
    }
    const std::string path = std::string(src) + "/docs/ctl-json.md";
    std::ifstream in(path);
    if (!in) {
        schema.problem = "cannot read " + path;
        return schema;
    }
    std::string heading;
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("## ", 0) == 0) {
            heading = line.substr(3);
            inTable = false;
            continue;
        }
        if (line.rfind("| `", 0) != 0) {
            inTable = line.rfind("|", 0) == 0 && inTable;
            continue;
        }
        const size_t nameEnd = line.find('`', 3);
        const size_t typeStart = line.find('|', nameEnd);
        const size_t typeEnd =
            typeStart == std::string::npos ? std::string::npos : line.find('|', typeStart + 1);
        if (nameEnd == std::string::npos || typeEnd == std::string::npos) {
            schema.problem = "unreadable table row in " + path + ": " + line;
            return schema;
        }
        std::string type = line.substr(typeStart + 1, typeEnd - typeStart - 1);
        type = type.substr(type.find_first_not_of(' '));
        type = type.substr(0, type.find_last_not_of(' ') + 1);
        auto &tables = schema.sections[heading];
        if (!inTable)
            tables.emplace_back();
        inTable = true;
        tables.back().push_back({line.substr(3, nameEnd - 3), type});
    }
    return schema;
}

inline bool hasType(const nlohmann::json &value, const std::string &type)
{
    if (type == "integer")
        return value.is_number_integer();
    if (type == "string")
        return value.is_string();
    if (type == "boolean")
        return value.is_boolean();
    if (type == "string or null")
        return value.is_string() || value.is_null();
    if (type.rfind("array", 0) == 0)
        return value.is_array();
    ADD_FAILURE() << "the documentation names an unknown type \"" << type << "\"";
    return false;
}

// Every documented field with its type, and no field the page does not name.
inline void checkFields(const nlohmann::json &object, const std::vector<Field> &fields,
                        const std::string &where)
{
    ASSERT_TRUE(object.is_object()) << where << ": " << object.dump();
    for (const Field &f : fields) {
        ASSERT_TRUE(object.contains(f.name)) << where << ": no field " << f.name << " in " << object.dump();
        EXPECT_TRUE(hasType(object.at(f.name), f.type))
            << where << ": " << f.name << " is not of type " << f.type << ": " << object.dump();
    }
    for (const auto &item : object.items()) {
        bool known = false;
        for (const Field &f : fields)
            known = known || item.key() == f.name;
        EXPECT_TRUE(known) << where << ": field " << item.key() << " is not in docs/ctl-json.md";
    }
}

// The whole document that COMMAND printed: the common fields, the command's
// own, and each item of its list. Returns the list's field name (empty on a
// failure).
inline std::string checkDocument(const Schema &schema, const nlohmann::json &doc, const std::string &command)
{
    if (!schema.problem.empty()) {
        ADD_FAILURE() << schema.problem;
        return {};
    }
    const auto common = schema.sections.find("Every document");
    const auto own = schema.sections.find("`" + command + "`");
    if (common == schema.sections.end() || common->second.size() != 1 || own == schema.sections.end() ||
        own->second.size() != 2) {
        ADD_FAILURE() << "docs/ctl-json.md lacks the tables of every document or of " << command;
        return {};
    }
    std::vector<Field> top = common->second[0];
    top.insert(top.end(), own->second[0].begin(), own->second[0].end());
    checkFields(doc, top, command);
    if (testing::Test::HasFailure())
        return {};
    std::string list;
    for (const Field &f : own->second[0]) {
        if (f.type.rfind("array", 0) == 0)
            list = f.name;
    }
    if (list.empty()) {
        ADD_FAILURE() << "docs/ctl-json.md names no list for " << command;
        return {};
    }
    for (const auto &item : doc[list]) {
        checkFields(item, own->second[1], command + " " + list + " item");
        if (testing::Test::HasFailure())
            return {};
    }
    return list;
}

} // namespace ctljson
