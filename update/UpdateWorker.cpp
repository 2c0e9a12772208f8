#include "update/UpdateWorker.h"

#include "update/core/UpdateSequence.h"

#include <vector>

UpdateWorker::UpdateWorker(QByteArray image_, const NodeAddress &target_)
    : image(std::move(image_)), target(target_), progress_(new UpdateProgress(this))
{
}

void UpdateWorker::process()
{
    const std::vector<uint8_t> bytes(image.begin(), image.end());
    // Slot 0, one block per burst (stop-and-wait), and the bounded waits of
    // the update sequence: a target that never finishes writing, never goes
    // down or never comes back ends the update with an error report.
    update::UpdateOptions options;
    options.slotIndex = 0;
    options.burstLimit = 1;
    options.progress = [this](uint64_t sent, uint64_t total) {
        emit progress_->dataSent(static_cast<qint64>(sent), static_cast<qint64>(total));
    };
    update::runUpdate(bytes, target, options, [this](const std::string &status, const std::string &box) {
        emit message(QString::fromStdString(status), QString::fromUtf8(box.data(), static_cast<int>(box.size())));
    });
    emit processEnd();
}
