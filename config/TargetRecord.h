#pragma once

#include "src/Network/Socket/NodeAddress.h"

#include <cstdint>
#include <cstring>

// One target as the main dialog keeps it: where the driver found it and its
// PO number. The all-zero record stands for "AUTO" (no particular target).
struct TargetRecord {
    NodeAddress address;
    uint16_t po = 0;
    uint8_t spare[2] = {};

    bool isAuto() const { return address.isZero() && po == 0; }
    // The rule by which a refresh finds the chosen target again: the same
    // address and PO number; port and interface index may have changed.
    bool sameTarget(const TargetRecord &o) const
    {
        return std::memcmp(address.address, o.address.address, 16) == 0 && po == o.po;
    }
};
static_assert(sizeof(TargetRecord) == 24, "TargetRecord is a 24-byte record");
