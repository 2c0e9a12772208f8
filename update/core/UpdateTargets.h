#pragma once

#include "src/Network/Socket/NodeAddress.h"

#include <string>

class TargetClient;

// What the update dialog and velmora-ctl ask a target before an update:
// where its firmware lists lie and which version it runs. Both go through
// these functions, so the two never disagree on a target's base URL.

namespace update {

enum class SourceState {
    Ok,          // a usable base URL
    NoSource,    // the target names no source (empty text)
    NotUrl,      // a text that is neither the marker form nor an http(s) URL
    QueryFailed, // the target did not answer the source query
};

struct SourceLookup {
    SourceState state = SourceState::QueryFailed;
    std::string source;  // the text the target reported
    std::string baseUrl; // resolved and normalised; empty unless state is Ok
};

// Asks the target at address for its update source on an open client and
// resolves it (marker form, http(s) URL; staging wins over preview).
SourceLookup lookUpSource(TargetClient &client, const NodeAddress &address, const std::string &builtInServer,
                          bool staging, bool developerPreview);

// The version query of the update dialog: a client of its own (identifier
// filter all ones, empty name). True with a non-empty text.
bool readTargetVersion(const NodeAddress &address, std::string &version);

// A text as shown: up to a first zero byte (the target's texts are C
// strings).
std::string untilZero(const std::string &text);

} // namespace update
