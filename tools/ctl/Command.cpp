#include "tools/ctl/Command.h"

#include <algorithm>
#include <exception>

namespace ctl {

namespace {

std::vector<std::unique_ptr<Command>> &registry()
{
    // Function-local so that registrations from other files' static
    // initialisers find it constructed.
    static std::vector<std::unique_ptr<Command>> list;
    return list;
}

void printToolHelp(std::ostream &out)
{
    out << "Usage: velmora-ctl COMMAND [ARGUMENTS...]\n"
           "       velmora-ctl COMMAND --help\n"
           "\n"
           "Command-line companion of the Velmora ASIO configure tool: reads and edits the\n"
           "driver's settings files and talks to targets, for scripted installations.\n"
           "\n"
           "Commands:\n";
    std::vector<const Command *> sorted;
    size_t width = 0;
    for (const auto &c : registry()) {
        sorted.push_back(c.get());
        width = std::max(width, c->name().size());
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const Command *a, const Command *b) { return a->name() < b->name(); });
    for (const Command *c : sorted)
        out << "  " << c->name() << std::string(width - c->name().size() + 2, ' ') << c->summary() << "\n";
    out << "\n"
           "Exit status: 0 success, 1 the operation failed, 2 bad command line.\n";
}

} // namespace

void registerCommand(std::unique_ptr<Command> command)
{
    registry().push_back(std::move(command));
}

const std::vector<std::unique_ptr<Command>> &commands()
{
    return registry();
}

int runCtl(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    if (argv.size() < 2) {
        err << "velmora-ctl: no command given\n"
               "Run 'velmora-ctl --help' for the list of commands.\n";
        return kExitUsage;
    }
    const std::string &name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printToolHelp(out);
        return kExitOk;
    }
    Command *command = nullptr;
    for (const auto &c : registry()) {
        if (c->name() == name)
            command = c.get();
    }
    if (command == nullptr) {
        err << "velmora-ctl: unknown command '" << name << "'\n"
            << "Run 'velmora-ctl --help' for the list of commands.\n";
        return kExitUsage;
    }
    std::vector<std::string> args(argv.begin() + 2, argv.end());
    for (const std::string &a : args) {
        if (a == "--")
            break;
        if (a == "--help") {
            out << command->help();
            return kExitOk;
        }
    }
    // A command must never take the tool down with an uncaught exception
    // (std::bad_alloc on a huge file, a library throwing): report it.
    try {
        return command->run(args, out, err);
    } catch (const std::exception &e) {
        err << "velmora-ctl " << name << ": failed: " << e.what() << "\n";
    } catch (...) {
        err << "velmora-ctl " << name << ": failed with an unexpected error\n";
    }
    return kExitFailure;
}

} // namespace ctl
