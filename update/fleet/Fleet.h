#pragma once

#include "src/Network/Socket/NodeAddress.h"
#include "update/core/UpdateList.h"
#include "update/core/UpdateSequence.h"
#include "update/core/UpdateTargets.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Update checks and firmware updates of many targets at once, for
// velmora-ctl's updates and update commands. Every target is handled by a
// job of its own on a worker thread (at most `parallel` at a time), with its
// own target client and socket and its own network access manager; the
// jobs share nothing but the stop flag and the progress callback. The steps
// are the update dialog's: the same source lookup and base URL rules, the
// same requests (credential scope, TLS, caps, stall bound), the same list
// parser and checksum test, and update::runUpdate with the dialog's
// settings (slot 0, one block per burst, the dialog's pauses and bounds).
//
// The results are plain values, one per target in the order given, so the
// command line can print them as text or in any other form.
//
// The functions need a QCoreApplication (ensureCoreApplication) and are
// called from the thread that owns it.

class QCoreApplication;

namespace fleet {

struct FleetTarget {
    NodeAddress address;
    std::string name; // from discovery; empty when not known
};

struct FleetSettings {
    bool staging = false;
    bool developerPreview = false;
    unsigned parallel = 4; // jobs at a time, at least 1
    // The driver's resolved update base URL when known: the credential goes
    // there too, as in the update dialog.
    std::string updateHostBase;
    // Absolute bounds of one list and one image download (besides the
    // stall bound of every request).
    std::chrono::milliseconds listDeadline{60000};
    std::chrono::milliseconds imageDeadline{600000};
    update::UpdateTimings timings; // the update dialog's
};

// Progress of the job for targets[index], one line of text; calls are
// serialised (never two at once).
using Progress = std::function<void(size_t index, const std::string &text)>;

// ------------------------------------------------------------- checks

enum class CheckState {
    Ok,       // the list was fetched (it may hold no entry)
    NoSource, // the target names no usable update source
    Failed,   // a query or the list request failed; see error
};

struct CheckResult {
    NodeAddress address;
    std::string name;
    std::string version; // empty when the version query failed
    update::SourceState source = update::SourceState::QueryFailed;
    std::string sourceText; // what the target reported
    std::string baseUrl;    // resolved; empty without a usable source
    CheckState state = CheckState::Failed;
    std::string error; // the failed step and why, when Failed
    std::vector<update::UpdateListEntry> entries;
};

std::vector<CheckResult> checkTargets(const std::vector<FleetTarget> &targets, const FleetSettings &settings,
                                      const std::atomic<bool> &stop, const Progress &progress);

struct DriverCheck {
    std::string baseUrl; // the resolved update host; empty: none
    CheckState state = CheckState::Failed;
    std::string error;
    std::vector<update::UpdateListEntry> entries;
};

// The driver update host's list (the base URL already resolved).
DriverCheck checkDriverHost(const std::string &baseUrl, const FleetSettings &settings,
                            const std::atomic<bool> &stop);

// ------------------------------------------------------------ updates

enum class Choice {
    Latest, // the list's first entry (the one the dialog shows first)
    Entry,  // the entry with the name entryName
    Image,  // the given image; no list or source is needed
};

struct UpdateRequest {
    Choice choice = Choice::Latest;
    std::string entryName;
    std::vector<uint8_t> image; // Image: its bytes (checked by the caller)
};

enum class UpdateState {
    Updated,  // runUpdate ended with "Complear Reboot Target"
    Failed,   // step names the step that failed
    NoSource, // the target names no usable update source: untouched
    Stopped,  // stopped on request; step says what state the target is in
};

struct UpdateResult {
    NodeAddress address;
    std::string name;
    std::string oldVersion; // empty when the version query failed
    std::string newVersion; // after the reboot (may be empty when the
                            // target did not say)
    std::string baseUrl;
    update::UpdateListEntry entry; // the chosen entry (Latest, Entry)
    UpdateState state = UpdateState::Failed;
    std::string step;   // Failed: the failed step's text; Stopped: the
                        // state the target was left in; NoSource: "no source"
    std::string detail; // more about a failure (HTTP status, checksum, ...)
};

// Updates every target; a failure of one never stops the others. When stop
// becomes true no job starts any more, downloads are abandoned, a transfer
// sends no new burst and an update stops before its next step that would
// change the target (a write or reboot under way runs to its bounded end).
std::vector<UpdateResult> updateTargets(const std::vector<FleetTarget> &targets, const UpdateRequest &request,
                                        const FleetSettings &settings, const std::atomic<bool> &stop,
                                        const Progress &progress);

// Texts of the results.
constexpr char kNoSource[] = "no source";
constexpr char kNotStarted[] = "not started: firmware unchanged";
constexpr char kStoppedBeforeTransfer[] = "stopped before the transfer: firmware unchanged";
constexpr char kErrorVersion[] = "Error Get Target Version";
constexpr char kErrorSource[] = "Error Get Update Source";
constexpr char kErrorList[] = "Error Dlownload Update List";
constexpr char kErrorEntry[] = "Error No Such Entry";
constexpr char kErrorDownload[] = "Error FW Dlownload";

// A QCoreApplication for the calling program when it has none yet (the
// command line tool); null when one exists.
std::unique_ptr<QCoreApplication> ensureCoreApplication();

} // namespace fleet
