#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

// Command-line helpers shared by the velmora-ctl commands.
//
// Convention: words starting with "--" are options; "--name VALUE" and
// "--name=VALUE" both work for options that take a value; "--" ends the
// options. Every other word (also "-5" or "-") is a positional argument, so
// negative numbers and "-" can be passed as values.

namespace ctl {

struct OptionSpec {
    std::string name; // with the dashes: "--int"
    bool takesValue = false;
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::set<std::string> flags;               // options without a value that were given
    std::map<std::string, std::string> values; // options with a value (last one wins)

    bool has(const std::string &name) const { return flags.count(name) != 0 || values.count(name) != 0; }
    std::string value(const std::string &name, const std::string &fallback = std::string()) const
    {
        auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
};

// Splits args by the option list. On an unknown option, a missing value or a value
// given to a flag: false, with a message in error.
bool parseArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &options, ParsedArgs &parsed,
               std::string &error);

// Decimal digits only (no sign, no spaces), value <= max.
bool parseUnsigned(const std::string &text, uint64_t max, uint64_t &value);

// An optional numeric option: when given, its value must be min..max, else
// false with the message "bad OPTION "TEXT": a number MIN..MAX" in error.
// value keeps what it held when the option is not given.
bool parseRangeOption(const ParsedArgs &parsed, const std::string &option, uint64_t min, uint64_t max,
                      uint64_t &value, std::string &error);

// "velmora-ctl CMD: message" plus the hint to CMD --help on err; returns
// kExitUsage.
int usageError(std::ostream &err, const std::string &command, const std::string &message);
// "velmora-ctl CMD: message" on err; returns kExitFailure.
int failure(std::ostream &err, const std::string &command, const std::string &message);
// "velmora-ctl CMD: could not write to standard output" on err; returns
// kExitFailure. The program's last check of standard output then says
// nothing more (outputFailureReported).
int outputFailure(std::ostream &err, const std::string &command);
bool outputFailureReported();

// Checks the positional count; on a mismatch reports a usage error and
// returns false.
bool expectPositional(const ParsedArgs &parsed, size_t min, size_t max, const std::string &command,
                      std::ostream &err, int &status);

} // namespace ctl
