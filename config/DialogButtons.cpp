#include "config/Dialog.h"
#include "ui_Dialog.h"

#include "debugmon/Debug.h"
#include "settings/SettingsFiles.h"
#include "src/Platform/Platform.h"
#include "update/Update.h"

#include <QMessageBox>

#include <cstdio>

namespace files = settings::file;
namespace keys = settings::key;
namespace values = settings::value;
namespace features = settings::feature;

Dialog::~Dialog()
{
    // First of all, so that a switch left by an earlier run that ended
    // abnormally goes too: the driver stops sending debug output.
    if (!removeDebugSwitch())
        std::fprintf(stderr, "velmora-configure: could not delete the driver's debug switch %s\n",
                     settings::debugSwitchPath(settingsPath).c_str());
}

bool Dialog::removeDebugSwitch()
{
    // No settings folder: no switch was written, none is removed.
    const std::string path = settings::debugSwitchPath(settingsPath);
    if (path.empty())
        return true;
    return platform->removeFile(path);
}

void Dialog::on_defaultButton_clicked()
{
    // The shipped defaults replace the settings in memory only; the file
    // changes when the user saves.
    currentPresetIndex = defaultPresetIndex;
    loadTargetSettings(programFile(files::kSettingOrg));
    if (currentPresetIndex != -1)
        ui->presetList->setCurrentIndex(currentPresetIndex);
}

void Dialog::on_debugButton_clicked()
{
    ui->debugButton->setEnabled(false);
    debugWindowOpen = true;
    // The driver sends its debug stream while this file exists. A failed
    // write still opens the monitor: it shows that nothing arrives.
    const std::string switchPath = settings::debugSwitchPath(settingsPath);
    if (!switchPath.empty())
        settings::writeDebugSwitch(switchPath);
    {
        Debug monitor(this);
        monitor.exec();
    }
    if (!removeDebugSwitch()) {
        // While the file stays the driver keeps sending its debug stream.
        QMessageBox::warning(this, windowTitle(),
                             tr("The driver's debug switch could not be deleted:\n%1\n\n"
                                "The driver sends debug output until the file is deleted.")
                                 .arg(QString::fromStdString(settings::debugSwitchPath(settingsPath))));
    }
    debugWindowOpen = false;
    ui->debugButton->setEnabled(true);
}

void Dialog::on_configButton_clicked()
{
    ui->configButton->setEnabled(false);
    TargetRecord record;
    const int index = ui->targetList->currentIndex();
    if (index >= 0 && static_cast<size_t>(index) < targets.size())
        record = targets[static_cast<size_t>(index)];
    auto *updateDialog = new Update(staging, developerPreview, targetIdentifier, record.address, record.po,
                                    driverVersion, updateHost, this);
    updateDialog->show();
    updateDialog->exec();
    // After a driver installer was started: the installer replaces this
    // tool, so the tool ends.
    if (updateDialog->closeRequested)
        close();
    ui->configButton->setEnabled(true);
    delete updateDialog;
}
