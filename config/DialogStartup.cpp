#include "config/Dialog.h"
#include "config/formfont/FormFont.h"
#include "ui_Dialog.h"

#include "settings/SettingsFiles.h"
#include "src/Platform/Platform.h"

#include <QGraphicsScene>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

#include <map>
#include <utility>

namespace files = settings::file;
namespace keys = settings::key;
namespace values = settings::value;
namespace features = settings::feature;

Dialog::Dialog(bool staging, QWidget *parent, Platform *platformIn)
    : QDialog(parent), platform(platformIn), staging(staging)
{
    if (!platform) {
        ownPlatform = createSystemPlatform();
        platform = ownPlatform.get();
    }
    programDir = platform->programDirectory();

    // An empty program folder would search the current folder: no driver.
    findEntry = programDir.empty() ? nullptr : platform->findDriverEntry(programDir);
    if (!findEntry) {
        // No driver installed: no form; the program entry reports it.
        close();
        return;
    }
    queryDriver();
    checkInstallation();
    checkMainSettingsFile();

    ui = std::make_unique<Ui::Dialog>();
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    fitFormFont(this, fixedTexts());

    fillInterfaceList();
    showPicture();

    std::string currentPreset;
    std::string defaultPreset;
    applyShippedDefaults(currentPreset, defaultPreset);
    if (developerPreview)
        ui->preLabel->setText(tr("DeveloperPreview"));

    fillPresetList(currentPreset, defaultPreset);
    // Selecting a saved interface other than "AUTO" already searches for
    // targets once; the refresh below searches again with the loaded
    // "FindIP" addresses.
    loadTargetSettings(settingsPath);
    refreshTargets();
    if (currentPresetIndex != -1)
        ui->presetList->setCurrentIndex(currentPresetIndex);
    debugWindowOpen = false;
    if (!startupNotice.isEmpty())
        QTimer::singleShot(0, this, &Dialog::showStartupNotice);
}

void Dialog::checkMainSettingsFile()
{
    if (settingsPath.empty())
        return;
    IniFile probe;
    fileio::FileError error = fileio::FileError::None;
    if (probe.read(settingsPath, &error) || error == fileio::FileError::Missing)
        return;
    const QString path = QString::fromStdString(settingsPath);
    const QString reason = QString::fromStdString(fileio::describe(error));
    QString text;
    if (error == fileio::FileError::Invalid || error == fileio::FileError::TooLarge ||
        error == fileio::FileError::Denied) {
        // Counted as missing, the file is replaced by the shipped defaults
        // or by the next save: keep what the user had first.
        bool replacedOlder = false;
        fileio::FileError backupError = fileio::FileError::None;
        const QString backup = QString::fromStdString(fileio::rejectedBackupPath(settingsPath));
        if (fileio::keepRejectedFile(settingsPath, replacedOlder, &backupError)) {
            text =
                tr("The driver's settings file\n%1\ncould not be used: %2.\n\n"
                   "Its content was kept as\n%3%4\nThe tool starts with the shipped defaults.")
                    .arg(path, reason, backup,
                         replacedOlder ? tr("\n(this replaced an earlier copy of that name).") : QString());
        } else {
            text = tr("The driver's settings file\n%1\ncould not be used: %2.\n\n"
                      "No copy of it could be kept as %3 (%4); saving replaces it.")
                       .arg(path, reason, backup, QString::fromStdString(fileio::describe(backupError)));
        }
    } else {
        text =
            tr("The driver's settings file\n%1\ncannot be used: %2.\n\nThe tool neither reads nor writes it.")
                .arg(path, reason);
    }
    startupNotice = text;
    std::fprintf(stderr, "velmora-configure: %s\n", text.toLocal8Bit().replace('\n', ' ').constData());
}

void Dialog::showStartupNotice()
{
    QMessageBox::warning(this, windowTitle(), startupNotice);
}

// The library's finder lives only for this call.
void Dialog::queryDriver()
{
    DriverFinder *finder = findEntry();
    if (!finder)
        return;
    finder->settingsPath(settingsPath);
    targetIdentifier = finder->targetIdentifier();
    finder->driverVersion(driverVersion);
    finder->updateHost(updateHost);
    finder->release();
}

// The driver's set-up program records the settings path it prepared the
// installation for; a different path means the installation has moved.
void Dialog::checkInstallation()
{
    // A missing file or key always counts as different, also when the
    // driver reports an empty path.
    IniFile pathFile;
    const bool read = pathFile.read(programFile(files::kSettingPath));
    const auto global = pathFile.sections().find(IniFile::kGlobal);
    const bool hasKey =
        read && global != pathFile.sections().end() && global->second.count(keys::kSettingPath) != 0;
    if (hasKey && pathFile.get(keys::kSettingPath) == settingsPath)
        return;
    platform->runSetupProgram(programDir);
}

void Dialog::fillInterfaceList()
{
    // The list reports index changes while it is filled; the slot ignores
    // them until interfaceIds has caught up with the widget.
    ui->interfaceList->clear();
    interfaceIds.clear();
    ui->interfaceList->addItem(QStringLiteral("AUTO"));
    interfaceIds.push_back(0);

    InterfaceMap adapters;
    platform->listLinkLocalInterfaces(adapters);
    // One item per friendly name, sorted by it; a later adapter of the same
    // name replaces the earlier one.
    std::map<std::string, std::pair<std::string, uint32_t>> byName;
    for (const auto &entry : adapters)
        byName[entry.second.friendlyName] = {entry.second.description, entry.first.interfaceIndex};
    for (const auto &item : byName) {
        const std::string text = "[" + item.first + "]" + item.second.first;
        ui->interfaceList->addItem(QString::fromStdString(text));
        interfaceIds.push_back(item.second.second);
    }
}

void Dialog::showPicture()
{
    scene = new QGraphicsScene(this);
    QPixmap picture;
    if (picture.load(QString::fromStdString(programFile(files::kLabelImage))))
        scene->addPixmap(picture);
    ui->lavelView->setScene(scene);
    ui->lavelView->setAttribute(Qt::WA_TranslucentBackground);
    ui->lavelView->setStyleSheet(QStringLiteral("background:transparent; border: none;"));
    ui->lavelView->setFrameShape(QFrame::NoFrame);

    QPalette palette = ui->cycleEdit->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    ui->cycleEdit->setPalette(palette);
    cycleGroupShown = true;
}

void Dialog::applyShippedDefaults(std::string &currentPreset, std::string &defaultPreset)
{
    IniFile org;
    if (!org.read(programFile(files::kSettingOrg)))
        return;
    IniFile cur;
    cur.read(settingsPath);
    defaultPreset = org.get(keys::kPreset);
    if (cur.get(keys::kVersion) != org.get(keys::kVersion)) {
        // New shipped defaults replace the user's settings. A failed write
        // leaves the old file; the form then loads that.
        org.write(settingsPath);
        currentPreset = defaultPreset;
    } else {
        currentPreset = cur.get(keys::kPreset);
    }
    developerPreview = org.get(keys::kPreview) == values::kEnable;

    const std::string features = org.get(keys::kAsioSetting);
    hideGroups(features);
    if (settings::hasFeature(features, features::kSimple))
        useCompactLayout();
}

void Dialog::hideGroups(const std::string &features)
{
    const auto hideUnless = [&](const char *word, std::initializer_list<QWidget *> widgets) {
        if (settings::hasFeature(features, word))
            return false;
        for (QWidget *w : widgets)
            w->hide();
        return true;
    };
    hideUnless(features::kFormat, {ui->pcmList, ui->dsdlist, ui->Flabel_1, ui->Flabel_2});
    hideUnless(features::kBuffer, {ui->bsizeBox, ui->bcountBox, ui->Blabel_1, ui->Blabel_2});
    if (hideUnless(features::kCycle, {ui->cycleBox, ui->cycleEdit, ui->cycleLabel, ui->Flabel_3}))
        cycleGroupShown = false;
    hideUnless(features::kLatency, {ui->latencyBox, ui->label_3, ui->latencyLabel});
    hideUnless(features::kEther, {ui->interfaceList, ui->label});
    hideUnless(features::kFindIP, {ui->findIPEdit, ui->label_IP});
    hideUnless(features::kInfo, {ui->infoFrame, ui->infoLable});
}

// The few controls of the simple installation, moved up into two rows.
void Dialog::useCompactLayout()
{
    ui->label_2->move(10, 10);
    ui->targetList->move(110, 10);
    ui->findButton->move(10, 40);
    ui->configButton->move(110, 40);
    ui->defaultButton->move(210, 40);
    ui->debugButton->move(310, 40);
    ui->saveButton->move(410, 40);
    ui->lavelView->move(10, 70);
    ui->label_4->move(390, 150);
    resize(500, 173);
}

QList<QWidget *> Dialog::fixedTexts() const
{
    return {ui->label,    ui->label_IP,   ui->label_2,      ui->label_preset,  ui->Flabel_1,
            ui->Flabel_2, ui->Blabel_1,   ui->Blabel_2,     ui->Flabel_3,      ui->label_3,
            ui->latencyLabel, ui->label_4, ui->cancelButton, ui->findButton,   ui->configButton,
            ui->defaultButton, ui->debugButton, ui->saveButton};
}

std::string Dialog::programFile(const char *name) const
{
    return programDir + name;
}
