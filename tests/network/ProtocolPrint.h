#pragma once

#include "src/Network/AddressText.h"
#include "src/Network/Message.h"
#include "src/Network/TargetClient.h"

#include <ostream>

// Failures name the protocol's values: "Timeout", not "2". Found by
// GoogleTest through argument-dependent lookup, so every test that includes
// this header prints them by name.

inline const char *transactResultName(TransactResult r)
{
    switch (r) {
    case TransactResult::Ok:
        return "Ok";
    case TransactResult::Failed:
        return "Failed";
    case TransactResult::Timeout:
        return "Timeout";
    case TransactResult::Refused:
        return "Refused";
    case TransactResult::Echoed:
        return "Echoed";
    }
    return nullptr;
}

inline void PrintTo(TransactResult r, std::ostream *os)
{
    const char *name = transactResultName(r);
    if (name != nullptr)
        *os << name;
    else
        *os << "TransactResult(" << int(r) << ")";
}

inline void PrintTo(const NodeAddress &a, std::ostream *os)
{
    *os << formatAddress(a.address) << "%" << a.interfaceIndex << "," << a.hostPort();
}

namespace msg {

inline const char *commandName(uint16_t c)
{
    switch (c) {
    case Hello:
        return "Hello";
    case HelloReply:
        return "HelloReply";
    case Announce:
        return "Announce";
    case AnnounceReply:
        return "AnnounceReply";
    case SlotInfo:
        return "SlotInfo";
    case SlotInfoReply:
        return "SlotInfoReply";
    case DataBlock:
        return "DataBlock";
    case BlockAck:
        return "BlockAck";
    case ImageCommit:
        return "ImageCommit";
    case ImageCommitReply:
        return "ImageCommitReply";
    case VersionQuery:
        return "VersionQuery";
    case VersionReply:
        return "VersionReply";
    case SourceQuery:
        return "SourceQuery";
    case SourceReply:
        return "SourceReply";
    case Reboot:
        return "Reboot";
    case RebootReply:
        return "RebootReply";
    }
    return nullptr;
}

inline void PrintTo(Command c, std::ostream *os)
{
    const char *name = commandName(c);
    if (name != nullptr)
        *os << name << " (" << unsigned(c) << ")";
    else
        *os << "command " << unsigned(c);
}

} // namespace msg
