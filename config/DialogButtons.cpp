#include "config/Dialog.h"
#include "ui_Dialog.h"

#include "debugmon/Debug.h"
#include "settings/SettingsFiles.h"
#include "src/Platform/Platform.h"

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
    QMessageBox::information(this, windowTitle(),
                             tr("Target and driver updates are not part of this build of the tool."));
    ui->configButton->setEnabled(true);
}
