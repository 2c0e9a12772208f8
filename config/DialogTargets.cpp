#include "config/Dialog.h"
#include "ui_Dialog.h"

#include "settings/SettingsFiles.h"
#include "src/Network/AddressText.h"
#include "src/Network/Socket/Socket.h"

#include <QMessageBox>

#include <map>

namespace files = settings::file;
namespace keys = settings::key;
namespace values = settings::value;
namespace features = settings::feature;

namespace {

// pcmList index → "PCMRequest" value.
const char *const kPcmValues[] = {values::kPcm64, values::kPcm32, values::kPcm24, values::kPcm16, values::kCovertS32};

} // namespace

void Dialog::loadTargetSettings(const std::string &path)
{
    settings.clear();
    std::string bytes;
    fileio::FileError error = fileio::FileError::None;
    const bool read = fileio::readWholeFile(path, bytes, &error) && settings.parse(bytes);
    if (path == settingsPath) {
        loadedMissing = error == fileio::FileError::Missing;
        loadedBytes = read ? bytes : std::string();
    }
    applyPreset("");

    selectedTarget.po = static_cast<uint16_t>(settings.getInt(keys::kTargetPO) & 0xffff);
    parseEndpoint(settings.get(keys::kTargetAddress), selectedTarget.address);
    applyRanges();

    // Selecting an interface other than the current one searches for
    // targets at once (the interface slot).
    const int64_t iface = settings.getInt(keys::kInterface);
    int ifaceIndex = 0;
    for (size_t i = 0; i < interfaceIds.size(); ++i) {
        if (interfaceIds[i] == iface)
            ifaceIndex = static_cast<int>(i);
    }
    ui->interfaceList->setCurrentIndex(ifaceIndex);

    const std::string pcm = settings.get(keys::kPCMRequest);
    if (pcm == values::kCovertS32) {
        ui->pcmList->setCurrentIndex(4);
    } else {
        switch (settings.getInt(keys::kPCMRequest)) {
        case 16: ui->pcmList->setCurrentIndex(3); break;
        case 24: ui->pcmList->setCurrentIndex(2); break;
        case 32: ui->pcmList->setCurrentIndex(1); break;
        case 64: ui->pcmList->setCurrentIndex(0); break;
        default: break; // an unknown format leaves the choice as it was
        }
    }
    ui->dsdlist->setCurrentIndex(settings.get(keys::kDSDMSB) == values::kEnable ? 1 : 0);

    const int64_t count = settings.getInt(keys::kSyncBufferCount);
    ui->bcountBox->setCurrentIndex(count >= 3 && count <= 16 ? static_cast<int>(count - 3) : 3);

    ui->findIPEdit->setText(QString::fromStdString(settings.get(keys::kFindIP)));
}

void Dialog::refreshTargets()
{
    // The list reports index changes while it is rebuilt; the slot ignores
    // them until targets has caught up with the widget.
    ui->targetList->clear();
    targets.clear();
    ui->targetList->addItem(QStringLiteral("AUTO"));
    targets.push_back(TargetRecord{});

    // The address field keeps only what parses, so it shows what was used.
    std::vector<NodeAddress> extra;
    std::string kept;
    const QStringList pieces = ui->findIPEdit->text().split(QLatin1Char(';'));
    for (const QString &piece : pieces) {
        if (piece.isEmpty())
            continue;
        NodeAddress node;
        if (!parseAddress(piece.toStdString(), node.address))
            continue;
        extra.push_back(node);
        if (!kept.empty())
            kept += ";";
        kept += formatAddress(node.address);
    }
    ui->findIPEdit->setText(QString::fromStdString(kept));

    const int ifaceIndex = ui->interfaceList->currentIndex();
    const uint32_t iface =
        ifaceIndex >= 0 && static_cast<size_t>(ifaceIndex) < interfaceIds.size() ? interfaceIds[ifaceIndex] : 0;
    FoundTargetMap found;
    if (DriverFinder *finder = findEntry()) {
        finder->findTargets(found, extra, iface);
        finder->release();
    }

    // Targets that share an address are told apart by their PO number; the
    // same display name from two hosts is listed once, the later winning.
    std::map<std::string, TargetRecord> byName;
    for (const auto &entry : found) {
        TargetRecord record;
        record.address = entry.second.address;
        record.po = entry.second.po;
        std::string name = entry.second.name;
        if (hasSiblingPort(found, entry.first))
            name += ":" + std::to_string(entry.second.po);
        byName[name] = record;
    }
    int current = 0;
    for (const auto &item : byName) {
        ui->targetList->addItem(QString::fromStdString(item.first));
        targets.push_back(item.second);
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        if (targets[i].sameTarget(selectedTarget))
            current = static_cast<int>(i);
    }
    ui->targetList->setCurrentIndex(current);
}

void Dialog::saveForm()
{
    const int ifaceIndex = ui->interfaceList->currentIndex();
    if (ifaceIndex >= 0 && static_cast<size_t>(ifaceIndex) < interfaceIds.size())
        settings.setInt(keys::kInterface, interfaceIds[ifaceIndex]);
    const int targetIndex = ui->targetList->currentIndex();
    if (targetIndex >= 0 && static_cast<size_t>(targetIndex) < targets.size()) {
        settings.set(keys::kTargetAddress, formatEndpoint(targets[targetIndex].address));
        settings.setInt(keys::kTargetPO, targets[targetIndex].po);
    }
    settings.set(keys::kFindIP, ui->findIPEdit->text().toStdString());
    const int pcm = ui->pcmList->currentIndex();
    if (pcm >= 0 && pcm < 5)
        settings.set(keys::kPCMRequest, kPcmValues[pcm]);
    settings.set(keys::kDSDMSB,
                 ui->dsdlist->currentIndex() == 1 ? values::kEnable : values::kDisable);
    settings.setInt(keys::kSyncBufferCount, static_cast<uint64_t>(ui->bcountBox->currentIndex() + 3));
}

void Dialog::on_targetList_currentIndexChanged(int index)
{
    if (index >= 0 && static_cast<size_t>(index) < targets.size())
        selectedTarget = targets[index];
}

void Dialog::on_interfaceList_currentIndexChanged(int index)
{
    if (index >= 0 && static_cast<size_t>(index) < interfaceIds.size())
        refreshTargets();
}

void Dialog::on_findButton_clicked()
{
    refreshTargets();
}

void Dialog::on_cancelButton_clicked()
{
    close();
}

void Dialog::on_saveButton_clicked()
{
    saveForm();
    if (!saveSettings()) {
        if (saveDeclined)
            return; // the form stays, so the user may look and save again
        // Closing now would lose the user's choices without a word.
        QMessageBox::warning(this, windowTitle(),
                             tr("The settings could not be written to\n%1\n\n"
                                "Check that the folder exists and that you may write there, then save again.")
                                 .arg(QString::fromStdString(settingsPath)));
        return;
    }
    if (!debugWindowOpen)
        close();
}
