#pragma once

// The texts of velmora-ctl's updates and update commands. The commands
// fetch from update servers with the update dialog's code, which needs Qt
// Network; the core-only build (Windows) has no Qt and lists them as
// unavailable with the same usage, so that a script sees at once why.

namespace ctl {

constexpr char kUpdatesSummary[] = "check targets' update lists: version, base URL, entries";
constexpr char kUpdateSummary[] = "update the firmware of several targets at once";

constexpr char kFleetTargetsHelp[] =
    "Targets: the EPs given (ADDRESS%IFNAME,PORT or ADDRESS%INDEX,PORT, the\n"
    "first column of discover), or with --all (the default without EPs) every\n"
    "target that discovery finds. Names come from discovery.\n"
    "  --filter ID       only targets with identifier ID or 0, as discover's\n"
    "                    --filter (default 0: all)\n"
    "  --staging         the staging lists (base URL + \"staging/\")\n"
    "  --preview         the developer preview lists (base URL + \"preview/\");\n"
    "                    --staging wins when both are given\n"
    "  --parallel N      targets handled at the same time, 1..64 (default 4)\n"
    "  --update-host T   the driver's update host text (marker form or URL): the\n"
    "                    credential goes there too, as in the update dialog\n"
    "  --program-dir D   read the update host from the driver's library in D\n"
    "                    (the configuration tool's program directory)\n";

constexpr char kUpdatesHelp[] = "Usage: velmora-ctl updates [EP...|--all] [OPTIONS]\n"
                                "       velmora-ctl updates --driver [--update-host T|--program-dir D]\n"
                                "\n"
                                "For each target, as the update dialog does: its name, current version, the\n"
                                "resolved base URL of its update source, and the entries of its firmware\n"
                                "list, fetched with the same request and credential scope. A target\n"
                                "without a source and a failed request are reported for that target; the\n"
                                "others go on.\n"
                                "With --driver: the driver update host's list instead, the host taken from\n"
                                "--update-host or from the driver's library (in --program-dir D, else in\n"
                                "velmora-ctl's own folder).\n"
                                "\n";

constexpr char kUpdatesOutputHelp[] =
    "\n"
    "Output: per target one line, then one line per list entry, TAB-separated:\n"
    "  EP<TAB>NAME<TAB>VERSION<TAB>BASE-URL<TAB>STATE[<TAB>DETAIL]\n"
    "  <TAB>ENTRY-NAME<TAB>CHECKSUM<TAB>FILE\n"
    "STATE is \"ok\" (the list was fetched), \"no source\" or \"failed\" (DETAIL\n"
    "says which step and why); an unknown field is \"-\". With --driver the\n"
    "first line is: driver<TAB>-<TAB>DRIVER-VERSION<TAB>BASE-URL<TAB>STATE.\n"
    "CHECKSUM is four lower-case hex digits. Progress goes to standard error.\n"
    "Exit status: 0 when every list that exists was fetched (also with no\n"
    "target), 1 when a query or a request failed, 2 for a bad command line.\n";

constexpr char kUpdateHelp[] =
    "Usage: velmora-ctl update [EP...|--all] (--latest|--entry NAME|--image FILE --crc XXXX)\n"
    "                          [OPTIONS]\n"
    "\n"
    "Updates the firmware of every target, several at the same time, each with\n"
    "its own client and socket: reads its version, looks up its update source,\n"
    "fetches its firmware list, chooses the entry, downloads the image and\n"
    "checks its checksum, then runs the whole firmware update exactly as the\n"
    "update dialog does (transfer, write, reboot, the new version). A failure\n"
    "of one target never stops the others.\n"
    "  --latest          the first entry of each target's list (the one the\n"
    "                    dialog shows first)\n"
    "  --entry NAME      the entry named NAME (for example 2.5.0)\n"
    "  --image FILE      this image for every target (no list or source needed);\n"
    "  --crc XXXX        its CRC-16 (four hex digits), checked before anything\n"
    "                    is sent\n"
    "\n";

constexpr char kUpdateOutputHelp[] =
    "\n"
    "Progress: one line per step and target on standard error, prefixed with\n"
    "the target (the update dialog's texts: \"Start FW Transfer\", ...).\n"
    "Output at the end: one line per target, TAB-separated:\n"
    "  EP<TAB>NAME<TAB>OLD-VERSION<TAB>NEW-VERSION<TAB>RESULT[<TAB>DETAIL]\n"
    "RESULT is \"ok\", \"failed\" (DETAIL: the step that failed, such as\n"
    "\"Error Write FW\", and why), \"no source\" (untouched) or \"stopped\" (DETAIL:\n"
    "the state the target was left in); an unknown field is \"-\".\n"
    "Ctrl-C (or SIGTERM) stops sending new data: no target starts, downloads\n"
    "end, a transfer sends no further block, an update stops before its write\n"
    "or, once written, before the reboot; a write or a reboot under way runs to\n"
    "its end within its bounds. Then the results are printed. A second Ctrl-C\n"
    "ends the tool at once.\n"
    "Exit status: 0 when every target was updated, 1 otherwise (also when no\n"
    "target was found), 2 for a bad command line.\n";

constexpr char kUnavailableHelp[] =
    "Not available in this build: this command fetches from update servers\n"
    "with the configuration tool's HTTP code, which needs Qt Network, and this\n"
    "velmora-ctl was built without Qt (the core-only build). Use a velmora-ctl\n"
    "built with Qt.\n"
    "\n";

} // namespace ctl
