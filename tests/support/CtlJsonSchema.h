#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

// The schema of velmora-ctl's --json output, read from its documentation
// (docs/ctl-json.md), so that the tests check the documents against what a
// script writer reads, and a field that is added, dropped or retyped
// without the page fails them.
//
// The page's field tables have rows "| `name` | type | meaning |". Under
// "## Every document" one table holds the fields of every document. Under
// "## `COMMAND`" the first table holds the command's own fields; a table
// after a line "A WORDS object:" (or "An ...") describes the objects that a
// type "WORDS object", "WORDS object or null" or "array of WORDS objects"
// names. The other types: integer, string, boolean, "string or null",
// "integer or null", "array of strings", "array of integers".
namespace ctljson {

struct Field {
    std::string name;
    std::string type;
};

using Table = std::vector<Field>;

struct Section {
    Table own;                            // the first table without a name
    std::map<std::string, Table> objects; // "target" -> the table after "A target object:"
};

struct Schema {
    std::map<std::string, Section> sections; // heading text without "## "
    std::string problem;                     // why the page could not be read; empty when fine
};

inline std::string trimmed(const std::string &s)
{
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos)
        return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

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
    std::string objectName; // of the table that follows
    Table *table = nullptr; // the table being read
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("## ", 0) == 0) {
            heading = line.substr(3);
            objectName.clear();
            table = nullptr;
            continue;
        }
        for (const char *article : {"A ", "An "}) {
            const std::string a = article;
            const std::string tail = " object:";
            if (line.rfind(a, 0) == 0 && line.size() > a.size() + tail.size() &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
                objectName = line.substr(a.size(), line.size() - a.size() - tail.size());
        }
        if (line.rfind("| `", 0) != 0) {
            if (line.rfind("|", 0) != 0)
                table = nullptr; // header and separator rows keep a table open
            continue;
        }
        const size_t nameEnd = line.find('`', 3);
        const size_t typeStart = nameEnd == std::string::npos ? nameEnd : line.find('|', nameEnd);
        const size_t typeEnd = typeStart == std::string::npos ? typeStart : line.find('|', typeStart + 1);
        if (typeEnd == std::string::npos) {
            schema.problem = "unreadable table row in " + path + ": " + line;
            return schema;
        }
        if (table == nullptr) {
            Section &section = schema.sections[heading];
            if (!objectName.empty()) {
                table = &section.objects[objectName];
            } else if (section.own.empty()) {
                table = &section.own;
            } else {
                schema.problem = "a second unnamed table under \"" + heading + "\" in " + path;
                return schema;
            }
            objectName.clear();
        }
        table->push_back(
            {line.substr(3, nameEnd - 3), trimmed(line.substr(typeStart + 1, typeEnd - typeStart - 1))});
    }
    return schema;
}

inline void checkObject(const Schema &schema, const Section &section, const nlohmann::json &object,
                        const Table &fields, const std::string &where);

inline const Table *objectTable(const Schema &schema, const Section &section, const std::string &name)
{
    auto it = section.objects.find(name);
    if (it != section.objects.end())
        return &it->second;
    auto common = schema.sections.find("Every document");
    if (common != schema.sections.end()) {
        it = common->second.objects.find(name);
        if (it != common->second.objects.end())
            return &it->second;
    }
    ADD_FAILURE() << "docs/ctl-json.md has no table for \"" << name << " object\"";
    return nullptr;
}

inline bool endsWith(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// value against a documented type; nested objects against their tables.
inline void checkValue(const Schema &schema, const Section &section, const nlohmann::json &value,
                       const std::string &type, const std::string &where)
{
    bool ok = false;
    if (type == "integer")
        ok = value.is_number_integer();
    else if (type == "string")
        ok = value.is_string();
    else if (type == "boolean")
        ok = value.is_boolean();
    else if (type == "string or null")
        ok = value.is_string() || value.is_null();
    else if (type == "integer or null")
        ok = value.is_number_integer() || value.is_null();
    else if (type == "array of strings" || type == "array of integers") {
        ok = value.is_array();
        for (size_t i = 0; ok && i < value.size(); ++i)
            ok = type == "array of strings" ? value[i].is_string() : value[i].is_number_integer();
    } else if (type.rfind("array of ", 0) == 0 && endsWith(type, " objects")) {
        ok = value.is_array();
        const Table *t = objectTable(schema, section, type.substr(9, type.size() - 9 - 8));
        for (size_t i = 0; ok && t != nullptr && i < value.size(); ++i)
            checkObject(schema, section, value[i], *t, where + "[" + std::to_string(i) + "]");
    } else if (endsWith(type, " object or null") || endsWith(type, " object")) {
        const bool orNull = endsWith(type, " or null");
        ok = value.is_object() || (orNull && value.is_null());
        const Table *t = objectTable(schema, section, type.substr(0, type.size() - (orNull ? 15 : 7)));
        if (ok && t != nullptr && value.is_object())
            checkObject(schema, section, value, *t, where);
    } else {
        ADD_FAILURE() << "docs/ctl-json.md names an unknown type \"" << type << "\"";
        return;
    }
    EXPECT_TRUE(ok) << where << " is not of type " << type << ": " << value.dump();
}

// Every documented field with its type, and no field the page does not name.
inline void checkObject(const Schema &schema, const Section &section, const nlohmann::json &object,
                        const Table &fields, const std::string &where)
{
    if (!object.is_object()) {
        ADD_FAILURE() << where << " is not an object: " << object.dump();
        return;
    }
    for (const Field &f : fields) {
        if (!object.contains(f.name)) {
            ADD_FAILURE() << where << ": no field " << f.name << " in " << object.dump();
            continue;
        }
        checkValue(schema, section, object.at(f.name), f.type, where + "." + f.name);
    }
    for (const auto &item : object.items()) {
        bool known = false;
        for (const Field &f : fields)
            known = known || item.key() == f.name;
        EXPECT_TRUE(known) << where << ": field " << item.key() << " is not in docs/ctl-json.md";
    }
}

// The whole document that COMMAND printed: the common fields, the command's
// own, and every object in it. Returns the name of the command's first
// array field (its list), or empty when the page lacks the tables.
inline std::string checkDocument(const Schema &schema, const nlohmann::json &doc, const std::string &command)
{
    if (!schema.problem.empty()) {
        ADD_FAILURE() << schema.problem;
        return {};
    }
    const auto common = schema.sections.find("Every document");
    const auto own = schema.sections.find("`" + command + "`");
    if (common == schema.sections.end() || common->second.own.empty() || own == schema.sections.end() ||
        own->second.own.empty()) {
        ADD_FAILURE() << "docs/ctl-json.md lacks the tables of every document or of " << command;
        return {};
    }
    Table top = common->second.own;
    top.insert(top.end(), own->second.own.begin(), own->second.own.end());
    checkObject(schema, own->second, doc, top, command);
    for (const Field &f : own->second.own) {
        if (f.type.rfind("array", 0) == 0)
            return f.name;
    }
    ADD_FAILURE() << "docs/ctl-json.md names no list for " << command;
    return {};
}

} // namespace ctljson
