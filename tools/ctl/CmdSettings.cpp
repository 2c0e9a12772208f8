#include "settings/FileIo.h"
#include "settings/IniFile.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/Command.h"

namespace ctl {

namespace {

bool hasControlByte(const std::string &s)
{
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 0x20)
            return true;
    }
    return false;
}

// Keys and values that would not read back as given: the store trims
// spaces, splits at the first "=", and treats ";", "#" and "[" at a line
// start as comments and headers.
bool checkKey(const std::string &key, std::string &error)
{
    if (key.empty())
        error = "KEY is empty";
    else if (hasControlByte(key))
        error = "KEY holds a control character";
    else if (key.find('=') != std::string::npos)
        error = "KEY holds '='";
    else if (key.front() == ' ' || key.back() == ' ')
        error = "KEY starts or ends with a space";
    else if (key.front() == ';' || key.front() == '#' || key.front() == '[')
        error = "KEY starts with ';', '#' or '[', which would make it a comment or a header";
    else
        return true;
    return false;
}

bool checkValue(const std::string &value, std::string &error)
{
    if (hasControlByte(value))
        error = "VALUE holds a control character (tab, line end, ...), which the driver rejects";
    else if (!value.empty() && (value.front() == ' ' || value.back() == ' '))
        error = "VALUE starts or ends with a space, which the store drops when it reads the file";
    else
        return true;
    return false;
}

// Loads FILE into store. Reasons for a failure go to error.
enum class Load { Ok, Missing, Failed };
Load load(const std::string &path, IniFile &store, std::string &error)
{
    std::string bytes;
    fileio::FileError e = fileio::FileError::None;
    if (!fileio::readWholeFile(path, bytes, &e)) {
        error = "'" + path + "': " + fileio::describe(e);
        return e == fileio::FileError::Missing ? Load::Missing : Load::Failed;
    }
    if (!store.parse(bytes)) {
        error = "'" + path + "' is " + fileio::describe(fileio::FileError::Invalid);
        return Load::Failed;
    }
    return Load::Ok;
}

class CmdSettings : public Command {
public:
    std::string name() const override { return "settings"; }
    std::string summary() const override { return "show, read or change a settings file (show|get|set)"; }
    std::string help() const override
    {
        return "Usage: velmora-ctl settings show FILE\n"
               "       velmora-ctl settings get [--int] FILE KEY\n"
               "       velmora-ctl settings set FILE KEY VALUE\n"
               "\n"
               "Works on the driver's settings files (the main settings file, setting_org.inf,\n"
               "preset.inf, ...) the way the configuration tool does. Keys are those of the\n"
               "section \"global\".\n"
               "\n"
               "  show   prints the file as the tool would write it: sections and keys sorted,\n"
               "         CR LF line ends, no comments, keys with empty values left out.\n"
               "  get    prints the value of KEY and a line end (an empty line when KEY is\n"
               "         missing). --int prints it as an integer, read like the driver does\n"
               "         (leading number, 0 when there is none).\n"
               "  set    sets KEY to VALUE and writes FILE back in the tool's format. A missing\n"
               "         FILE is created; an empty VALUE removes KEY. A file that is not a\n"
               "         valid settings file is left untouched. Concurrent sets of one file\n"
               "         wait for each other through the lock file FILE.lock beside it.\n"
               "\n"
               "Only regular files up to 1 MiB are read. Pipes, devices and folders are\n"
               "refused at once; so is a symbolic link owned by another user who does not\n"
               "own what it points to (when writing, or when run as root). A write keeps\n"
               "the file's owner, group and permissions and writes hard-linked files in\n"
               "place.\n"
               "\n"
               "Exit status: 0 success, 1 the file could not be read or written, 2 bad\n"
               "command line (also a KEY or VALUE that would not read back as given).\n";
    }

    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        if (args.empty())
            return usageError(err, name(), "missing subcommand: show, get or set");
        const std::string sub = args[0];
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (sub == "show")
            return show(rest, out, err);
        if (sub == "get")
            return get(rest, out, err);
        if (sub == "set")
            return set(rest, err);
        return usageError(err, name(), "unknown subcommand '" + sub + "': use show, get or set");
    }

private:
    int show(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
    {
        ParsedArgs parsed;
        std::string error;
        int status = kExitOk;
        if (!parseArgs(args, {}, parsed, error))
            return usageError(err, name() + " show", error);
        if (!expectPositional(parsed, 1, 1, name() + " show", err, status))
            return status;
        IniFile store;
        if (load(parsed.positional[0], store, error) != Load::Ok)
            return failure(err, name() + " show", error);
        out << store.text();
        return kExitOk;
    }

    int get(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
    {
        ParsedArgs parsed;
        std::string error;
        int status = kExitOk;
        if (!parseArgs(args, {{"--int", false}}, parsed, error))
            return usageError(err, name() + " get", error);
        if (!expectPositional(parsed, 2, 2, name() + " get", err, status))
            return status;
        IniFile store;
        if (load(parsed.positional[0], store, error) != Load::Ok)
            return failure(err, name() + " get", error);
        const std::string &key = parsed.positional[1];
        if (parsed.has("--int"))
            out << store.getInt(key) << "\n";
        else
            out << store.get(key) << "\n";
        return kExitOk;
    }

    int set(const std::vector<std::string> &args, std::ostream &err)
    {
        const std::string command = name() + " set";
        ParsedArgs parsed;
        std::string error;
        int status = kExitOk;
        if (!parseArgs(args, {}, parsed, error))
            return usageError(err, command, error);
        if (!expectPositional(parsed, 3, 3, command, err, status))
            return status;
        const std::string &path = parsed.positional[0];
        const std::string &key = parsed.positional[1];
        const std::string &value = parsed.positional[2];
        if (!checkKey(key, error) || !checkValue(value, error))
            return usageError(err, command, error);
        // Held from the read to the write, so that scripts setting keys of
        // one file at once do not undo each other's changes.
        fileio::UpdateLock lock;
        fileio::FileError e = fileio::FileError::None;
        if (!lock.acquire(path, fileio::kLockTimeout, &e))
            return failure(err, command,
                           "cannot lock '" + path + "' (lock file '" + fileio::lockFilePath(path) +
                               "'): " + fileio::describe(e) + "; nothing was changed");
        IniFile store;
        if (load(path, store, error) == Load::Failed)
            return failure(err, command, error + "; nothing was changed");
        store.set(key, value);
        if (!store.write(path, &e))
            return failure(err, command,
                           "cannot write '" + path + "': " + fileio::describe(e) +
                               "; the file was not changed");
        return kExitOk;
    }
};

VELMORA_CTL_COMMAND(CmdSettings);

} // namespace

} // namespace ctl
