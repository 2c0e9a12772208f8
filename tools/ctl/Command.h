#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

// velmora-ctl is a library of commands plus a thin main, so tests call the
// commands directly. Each command lives in its own Cmd*.cpp and registers
// itself with VELMORA_CTL_COMMAND; the files are linked as an object
// library, so the registrations are never dropped by the linker.

namespace ctl {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1; // the operation failed or timed out
constexpr int kExitUsage = 2;   // bad command line

class Command {
public:
    virtual ~Command() = default;
    // The first word on the command line ("settings", "discover", ...).
    virtual std::string name() const = 0;
    // One line for the tool's --help.
    virtual std::string summary() const = 0;
    // The command's own --help text (usage, options, output format).
    virtual std::string help() const = 0;
    // args are the words after the command name. Writes results to out and
    // messages to err; returns an exit status.
    virtual int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) = 0;
    // A command that can run for minutes (flash, transfer): the program
    // ends with the one that started it (platform::endWithParent).
    virtual bool runsLong() const { return false; }
};

void registerCommand(std::unique_ptr<Command> command);
const std::vector<std::unique_ptr<Command>> &commands();

// The whole tool: dispatch, --help, usage errors. argv[0] is the program.
int runCtl(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err);

template <typename T> struct CommandRegistration {
    CommandRegistration() { registerCommand(std::make_unique<T>()); }
};

} // namespace ctl

#define VELMORA_CTL_COMMAND(Type) static ::ctl::CommandRegistration<Type> velmoraCtlRegistration_##Type
