#include "tools/ctl/Args.h"

#include "tools/ctl/Command.h"

#include <atomic>

namespace ctl {

bool parseArgs(const std::vector<std::string> &args, const std::vector<OptionSpec> &options, ParsedArgs &parsed,
               std::string &error)
{
    ParsedArgs result;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &word = args[i];
        if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
            result.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t eq = word.find('=');
        const std::string name = word.substr(0, eq);
        const OptionSpec *found = nullptr;
        for (const OptionSpec &s : options) {
            if (s.name == name)
                found = &s;
        }
        if (found == nullptr) {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (!found->takesValue) {
            if (eq != std::string::npos) {
                error = "option '" + name + "' takes no value";
                return false;
            }
            result.flags.insert(name);
            continue;
        }
        if (eq != std::string::npos) {
            result.values[name] = word.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            result.values[name] = args[++i];
        } else {
            error = "option '" + name + "' needs a value";
            return false;
        }
    }
    parsed = std::move(result);
    return true;
}

bool parseUnsigned(const std::string &text, uint64_t max, uint64_t &value)
{
    if (text.empty())
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (max - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

int usageError(std::ostream &err, const std::string &command, const std::string &message)
{
    err << "velmora-ctl " << command << ": " << message << "\n"
        << "Run 'velmora-ctl " << command << " --help' for usage.\n";
    return kExitUsage;
}

int failure(std::ostream &err, const std::string &command, const std::string &message)
{
    err << "velmora-ctl " << command << ": " << message << "\n";
    return kExitFailure;
}

namespace {
std::atomic<bool> outputFailureSaid{false};
} // namespace

int outputFailure(std::ostream &err, const std::string &command)
{
    outputFailureSaid = true;
    return failure(err, command, "could not write to standard output");
}

bool outputFailureReported()
{
    return outputFailureSaid;
}

bool expectPositional(const ParsedArgs &parsed, size_t min, size_t max, const std::string &command,
                      std::ostream &err, int &status)
{
    const size_t n = parsed.positional.size();
    if (n >= min && n <= max)
        return true;
    status = usageError(err, command, n < min ? "missing arguments" : "too many arguments");
    return false;
}

bool parseRangeOption(const ParsedArgs &parsed, const std::string &option, uint64_t min, uint64_t max,
                      uint64_t &value, std::string &error)
{
    if (!parsed.has(option))
        return true;
    uint64_t n = 0;
    if (!parseUnsigned(parsed.value(option), max, n) || n < min) {
        error = "bad " + option + " \"" + parsed.value(option) + "\": a number " + std::to_string(min) + ".." +
                std::to_string(max);
        return false;
    }
    value = n;
    return true;
}

} // namespace ctl
