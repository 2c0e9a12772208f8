#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The update server's list format, the same for firmware and driver lists:
// one entry per line, "name" TAB "checksum" TAB "file", where checksum is
// exactly four hexadecimal digits (the CRC-16/USB of the file's bytes).

namespace update {

// The file name of the list below a base URL.
constexpr char kUpdateListName[] = "updatelist";

struct UpdateListEntry {
    std::string name; // shown in the list (UTF-8)
    uint16_t checksum = 0;
    std::string file; // relative to the base URL
};

// Lines end at every CR and every LF; empty lines are dropped. Lines that
// do not have exactly two TABs or whose checksum is not exactly four hex
// digits are skipped. Entries keep the order of their lines.
std::vector<UpdateListEntry> parseUpdateList(const std::string &bytes);

} // namespace update
