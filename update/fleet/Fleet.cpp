#include "update/fleet/Fleet.h"

#include "src/Network/TargetClient.h"
#include "update/net/UpdateAccess.h"
#include "update/net/UpdateFetch.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace fleet {

namespace {

using Clock = std::chrono::steady_clock;

// Runs job(0) .. job(count - 1) on at most `parallel` worker threads, in
// index order, and returns when all have ended. Each job runs wholly on one
// thread, so the Qt objects it makes (its network access manager) live and
// die there.
void runJobs(size_t count, unsigned parallel, const std::function<void(size_t)> &job)
{
    std::atomic<size_t> next{0};
    const size_t workers = std::min<size_t>(std::max(1u, parallel), count);
    std::vector<std::unique_ptr<QThread>> threads;
    for (size_t i = 0; i < workers; ++i) {
        threads.emplace_back(QThread::create([&next, count, &job] {
            for (size_t k = next++; k < count; k = next++)
                job(k);
        }));
        threads.back()->start();
    }
    for (auto &t : threads)
        t->wait();
}

// Progress calls from several threads, one at a time.
class SerialProgress {
public:
    explicit SerialProgress(const Progress &progress) : progress_(progress) {}
    void operator()(size_t index, const std::string &text)
    {
        if (!progress_)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        progress_(index, text);
    }

private:
    const Progress &progress_;
    std::mutex mutex_;
};

update::UpdateAccess accessFor(const FleetSettings &settings)
{
    return update::UpdateAccess(settings.updateHostBase);
}

// Looks up the target's source with a client of its own.
update::SourceLookup lookUp(const NodeAddress &address, const FleetSettings &settings)
{
    std::unique_ptr<TargetClient> client;
    try {
        client = std::make_unique<TargetClient>(TargetClient::kAllOnes, std::string());
    } catch (const TORNE::Err &) {
        return update::SourceLookup();
    }
    client->open();
    update::SourceLookup lookup = update::lookUpSource(*client, address, update::builtInServer(),
                                                       settings.staging, settings.developerPreview);
    client->close();
    return lookup;
}

std::string sourceProblem(const update::SourceLookup &lookup)
{
    switch (lookup.state) {
    case update::SourceState::Ok:
        return std::string();
    case update::SourceState::NoSource:
        return "the target names no update source";
    case update::SourceState::NotUrl:
        return "the update source \"" + lookup.source + "\" is not an http(s) URL";
    case update::SourceState::QueryFailed:
        return "no answer to the update source query";
    }
    return std::string();
}

// "data SENT/TOTAL bytes (P%)", at most once a second and once at the end.
class DataProgress {
public:
    DataProgress(SerialProgress &progress, size_t index) : progress_(progress), index_(index) {}
    void operator()(uint64_t sent, uint64_t total)
    {
        const Clock::time_point now = Clock::now();
        if (sent < total && started_ && now - last_ < std::chrono::seconds(1))
            return;
        started_ = true;
        last_ = now;
        const uint64_t percent = total == 0 ? 100 : sent * 100 / total;
        progress_(index_, "data " + std::to_string(sent) + "/" + std::to_string(total) + " bytes (" +
                              std::to_string(percent) + "%)");
    }

private:
    SerialProgress &progress_;
    size_t index_;
    bool started_ = false;
    Clock::time_point last_;
};

} // namespace

std::unique_ptr<QCoreApplication> ensureCoreApplication()
{
    if (QCoreApplication::instance())
        return nullptr;
    static int argc = 1;
    static char name[] = "velmora-ctl";
    static char *argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}

std::vector<CheckResult> checkTargets(const std::vector<FleetTarget> &targets, const FleetSettings &settings,
                                      const std::atomic<bool> &stop, const Progress &progress)
{
    std::vector<CheckResult> results(targets.size());
    SerialProgress report(progress);
    runJobs(targets.size(), settings.parallel, [&](size_t k) {
        CheckResult &r = results[k];
        r.address = targets[k].address;
        r.name = update::untilZero(targets[k].name);
        if (stop) {
            r.error = "stopped before the check";
            return;
        }
        if (update::readTargetVersion(r.address, r.version))
            r.version = update::untilZero(r.version);
        const update::SourceLookup lookup = lookUp(r.address, settings);
        r.source = lookup.state;
        r.sourceText = lookup.source;
        r.baseUrl = lookup.baseUrl;
        if (lookup.state == update::SourceState::QueryFailed) {
            r.error = std::string(kErrorSource) + ": " + sourceProblem(lookup);
            report(k, r.error);
            return;
        }
        if (lookup.state != update::SourceState::Ok) {
            r.state = CheckState::NoSource;
            report(k, std::string(kNoSource) + ": " + sourceProblem(lookup));
            return;
        }
        report(k, "Start Dlownload Update List");
        QNetworkAccessManager manager;
        update::FetchBounds bounds;
        bounds.deadline = settings.listDeadline;
        bounds.stop = [&stop] { return stop.load(); };
        const update::ListReply list = update::fetchList(manager, accessFor(settings), r.baseUrl, bounds);
        if (!list.ok) {
            r.error = std::string(kErrorList) + ": " + list.error;
            report(k, r.error);
            return;
        }
        r.state = CheckState::Ok;
        r.entries = list.entries;
        report(k, "Conpleat Dlownload Update List");
    });
    return results;
}

DriverCheck checkDriverHost(const std::string &baseUrl, const FleetSettings &settings,
                            const std::atomic<bool> &stop)
{
    DriverCheck r;
    r.baseUrl = baseUrl;
    if (baseUrl.empty()) {
        r.state = CheckState::NoSource;
        return r;
    }
    QNetworkAccessManager manager;
    update::FetchBounds bounds;
    bounds.deadline = settings.listDeadline;
    bounds.stop = [&stop] { return stop.load(); };
    FleetSettings withHost = settings;
    withHost.updateHostBase = baseUrl;
    const update::ListReply list = update::fetchList(manager, accessFor(withHost), baseUrl, bounds);
    if (!list.ok) {
        r.error = std::string("Error Drv Dlownload Update List: ") + list.error;
        return r;
    }
    r.state = CheckState::Ok;
    r.entries = list.entries;
    return r;
}

std::vector<UpdateResult> updateTargets(const std::vector<FleetTarget> &targets, const UpdateRequest &request,
                                        const FleetSettings &settings, const std::atomic<bool> &stop,
                                        const Progress &progress)
{
    std::vector<UpdateResult> results(targets.size());
    SerialProgress report(progress);
    auto stopRequested = [&stop] { return stop.load(); };
    runJobs(targets.size(), settings.parallel, [&](size_t k) {
        UpdateResult &r = results[k];
        r.address = targets[k].address;
        r.name = update::untilZero(targets[k].name);
        auto fail = [&](const char *step, const std::string &detail) {
            r.state = UpdateState::Failed;
            r.step = step;
            r.detail = detail;
            report(k, step + (detail.empty() ? std::string() : ": " + detail));
        };
        auto stopHere = [&](const char *state) {
            r.state = UpdateState::Stopped;
            r.step = state;
            report(k, state);
        };
        if (stopRequested())
            return stopHere(kNotStarted);

        if (update::readTargetVersion(r.address, r.oldVersion)) {
            r.oldVersion = update::untilZero(r.oldVersion);
            report(k, "Conpleat Get Target Version: " + r.oldVersion);
        } else {
            // The update goes on: the steps that follow tell whether the
            // target answers at all.
            report(k, kErrorVersion);
        }

        std::vector<uint8_t> image;
        if (request.choice == Choice::Image) {
            image = request.image;
        } else {
            const update::SourceLookup lookup = lookUp(r.address, settings);
            if (lookup.state == update::SourceState::QueryFailed)
                return fail(kErrorSource, sourceProblem(lookup));
            if (lookup.state != update::SourceState::Ok) {
                r.state = UpdateState::NoSource;
                r.step = kNoSource;
                r.detail = sourceProblem(lookup);
                report(k, std::string(kNoSource) + ": " + r.detail);
                return;
            }
            r.baseUrl = lookup.baseUrl;
            QNetworkAccessManager manager;
            const update::UpdateAccess access = accessFor(settings);
            update::FetchBounds bounds;
            bounds.stop = stopRequested;
            bounds.deadline = settings.listDeadline;
            report(k, "Start Dlownload Update List");
            const update::ListReply list = update::fetchList(manager, access, r.baseUrl, bounds);
            if (stopRequested())
                return stopHere(kStoppedBeforeTransfer);
            if (!list.ok)
                return fail(kErrorList, list.error);
            report(k, "Conpleat Dlownload Update List");
            const update::UpdateListEntry *chosen = nullptr;
            for (const update::UpdateListEntry &e : list.entries) {
                if (request.choice == Choice::Latest || e.name == request.entryName) {
                    chosen = &e;
                    break;
                }
            }
            if (!chosen)
                return fail(kErrorEntry, list.entries.empty()
                                             ? std::string("the list has no entry")
                                             : "no entry \"" + request.entryName + "\" in the list");
            r.entry = *chosen;
            report(k, "Start FW Dlownload: " + r.entry.name + " (" + r.entry.file + ")");
            bounds.deadline = settings.imageDeadline;
            update::ImageReply downloaded = update::fetchImage(manager, access, r.baseUrl, r.entry, bounds);
            if (stopRequested())
                return stopHere(kStoppedBeforeTransfer);
            if (downloaded.result != update::ImageCheck::Ok)
                return fail(kErrorDownload, downloaded.error);
            report(k, "Compleat Fw Dlownload");
            image.assign(downloaded.bytes.begin(), downloaded.bytes.end());
        }

        update::UpdateOptions options;
        options.slotIndex = 0;
        options.burstLimit = 1;
        options.timings = settings.timings;
        DataProgress data(report, k);
        options.progress = [&data](uint64_t sent, uint64_t total) { data(sent, total); };
        options.stop = stopRequested;
        std::string lastStatus;
        std::string lastBox;
        const bool ok = update::runUpdate(image, r.address, options,
                                          [&](const std::string &status, const std::string &box) {
                                              lastStatus = status;
                                              lastBox = box;
                                              report(k, box.empty() || box == update::text::kBoxError
                                                            ? status
                                                            : status + ": " + box);
                                          });
        if (ok) {
            r.state = UpdateState::Updated;
            const size_t prefix = std::strlen(update::text::kBoxReady);
            r.newVersion =
                update::untilZero(lastBox.size() > prefix ? lastBox.substr(prefix) : std::string());
        } else if (lastBox == update::text::kBoxStopped) {
            r.state = UpdateState::Stopped;
            r.step = lastStatus;
        } else {
            r.state = UpdateState::Failed;
            r.step = lastStatus;
        }
    });
    return results;
}

} // namespace fleet
