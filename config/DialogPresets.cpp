#include "config/Dialog.h"

#include "ui_Dialog.h"

#include "settings/SettingsFiles.h"

#include <QMessageBox>

#include <chrono>

#include <map>

namespace files = settings::file;
namespace keys = settings::key;
namespace values = settings::value;
namespace features = settings::feature;

void Dialog::fillPresetList(const std::string &currentName, const std::string &defaultName)
{
    presetsAvailable = false;
    currentPresetIndex = -1;
    defaultPresetIndex = -1;
    if (!presets.read(programFile(files::kPreset))) {
        ui->presetList->hide();
        ui->label_preset->hide();
        return;
    }
    // Profiles in the order they stand in the file: by the sequence number
    // of each section's first entry in key order.
    std::map<int32_t, std::string> byOrder;
    for (const auto &section : presets.sections()) {
        if (!section.second.empty())
            byOrder[section.second.begin()->second.order] = section.first;
    }
    int32_t n = 0;
    for (const auto &profile : byOrder) {
        // The first item becomes current and reaches the list's slot while
        // presetsAvailable is still false, so nothing is applied yet.
        ui->presetList->addItem(QString::fromStdString(profile.second));
        if (profile.second == currentName)
            currentPresetIndex = n;
        if (profile.second == defaultName)
            defaultPresetIndex = n;
        ++n;
    }
    presetsAvailable = true;
}

void Dialog::applyPreset(const std::string &name)
{
    if (!presetsAvailable)
        return;
    const std::string stored = settings.get(keys::kPreset);
    // Choosing the stored profile again only refreshes its ranges, so the
    // user's edits since the last load stay.
    const bool refresh = name.empty() || name == stored;
    const std::string profile = name.empty() ? stored : name;

    // Read afresh: a profile edited on disk takes effect at once.
    IniFile file;
    if (!file.read(programFile(files::kPreset)))
        return;
    settings::dropRangeKeys(settings);

    const auto section = file.sections().find(profile);
    if (section != file.sections().end()) {
        for (const auto &entry : section->second) {
            if (!refresh || settings::isRangeKey(entry.first))
                settings.set(entry.first, entry.second.value);
        }
    }
    if (!refresh)
        settings.set(keys::kPreset, profile);
}

void Dialog::on_presetList_currentIndexChanged(const QString &text)
{
    applyPreset(text.toStdString());
    applyRanges();
    showCycleInfo();
}

bool Dialog::saveSettings()
{
    settings::dropRangeKeys(settings);
    saveDeclined = false;
    // The same lock velmora-ctl takes, and a look at whether another
    // program changed the file since it was loaded: overwriting silently
    // would undo that change.
    fileio::UpdateLock lock;
    lock.acquire(settingsPath, std::chrono::milliseconds(2000));
    std::string now;
    fileio::FileError error = fileio::FileError::None;
    const bool read = fileio::readWholeFile(settingsPath, now, &error);
    const bool missing = error == fileio::FileError::Missing;
    const bool changed = missing != loadedMissing || (read && now != loadedBytes);
    if (changed) {
        const auto answer = QMessageBox::question(
            this, windowTitle(),
            tr("The settings file\n%1\nwas changed by another program since this window loaded it.\n\n"
               "Overwrite those changes with the settings shown here?")
                .arg(QString::fromStdString(settingsPath)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            saveDeclined = true; // nothing written, by the user's choice
            return false;
        }
    }
    if (!settings.write(settingsPath))
        return false;
    loadedMissing = false;
    loadedBytes = settings.text();
    return true;
}
