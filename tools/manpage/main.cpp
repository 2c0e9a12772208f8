// Writes the manual page of velmora-ctl (roff, section 1) into a file,
// made from the tool's own --help texts, so the page says exactly what
// the commands say. The build runs it; nothing in it is written by
// hand except the section headings.
#include "tools/ctl/Command.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One line of help text as roff: backslashes and leading control
// characters escaped, dashes as the minus signs options are made of.
std::string roffLine(const std::string &line)
{
    std::string out;
    if (!line.empty() && (line[0] == '.' || line[0] == '\''))
        out += "\\&";
    for (char c : line) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    return out;
}

// A help text kept as it is laid out (aligned columns), in a fixed-width
// block without filling.
void verbatim(std::ostream &out, const std::string &text)
{
    out << ".nf\n";
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out << (line.empty() ? std::string(".sp") : roffLine(line)) << "\n";
    out << ".fi\n";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::cerr << "usage: velmora-ctl-manpage VERSION DATE OUTPUT-FILE\n";
        return 2;
    }
    const std::string version = argv[1];
    const std::string date = argv[2];

    std::ostringstream toolHelp;
    std::ostringstream ignored;
    if (ctl::runCtl({"velmora-ctl", "--help"}, toolHelp, ignored) != ctl::kExitOk) {
        std::cerr << "velmora-ctl-manpage: velmora-ctl --help failed\n";
        return 1;
    }
    std::vector<const ctl::Command *> sorted;
    for (const auto &c : ctl::commands())
        sorted.push_back(c.get());
    std::sort(sorted.begin(), sorted.end(),
              [](const ctl::Command *a, const ctl::Command *b) { return a->name() < b->name(); });

    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out << ".\\\" Generated at build time from the help texts of velmora-ctl; do not edit.\n"
        << ".TH VELMORA\\-CTL 1 \"" << date << "\" \"velmora-ctl " << version
        << "\" \"Velmora ASIO configure\"\n"
        << ".SH NAME\n"
        << "velmora\\-ctl \\- edit the Velmora ASIO driver's settings files and talk to its targets\n"
        << ".SH SYNOPSIS\n"
        << ".B velmora\\-ctl\n"
        << ".I COMMAND\n"
        << "[\\fIARGUMENTS\\fR...]\n"
        << ".br\n"
        << ".B velmora\\-ctl\n"
        << ".I COMMAND\n"
        << ".B \\-\\-help\n"
        << ".SH DESCRIPTION\n";
    verbatim(out, toolHelp.str());
    out << ".SH COMMANDS\n";
    for (const ctl::Command *c : sorted) {
        out << ".SS " << roffLine(c->name()) << "\n" << roffLine(c->summary()) << "\n.PP\n";
        verbatim(out, c->help());
    }
    out << ".SH SEE ALSO\n"
        << "The README of Velmora ASIO configure, installed in\n"
        << ".IR /usr/share/doc/velmora\\-configure/ .\n";
    out.close();
    if (!out) {
        std::cerr << "velmora-ctl-manpage: cannot write " << argv[3] << "\n";
        return 1;
    }
    return 0;
}
