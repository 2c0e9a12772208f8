#pragma once

#include "config/TargetRecord.h"
#include "driver/DriverFinder.h"
#include "settings/IniFile.h"

#include <QDialog>
#include <QList>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Platform;
class QGraphicsScene;

namespace Ui {
class Dialog;
}

// The tool's main window. Its construction finds the installed driver
// through the driver's library, runs the driver's set-up program when the
// installation has moved, builds the form, applies the shipped defaults and
// the preset profiles and loads the driver's main settings into the form.
// Nothing reaches the driver before the user saves.
class Dialog : public QDialog {
    Q_OBJECT

public:
    // platform: the operating system seam; the system's own when null. The
    // dialog does not take ownership of one handed in.
    explicit Dialog(bool staging, QWidget *parent = nullptr, Platform *platform = nullptr);
    ~Dialog() override;

    // False when no driver library was found: the form was not built and
    // the dialog must not be shown.
    bool driverFound() const { return findEntry != nullptr; }
    // The folder that was searched for the driver's library.
    const std::string &programDirectory() const { return programDir; }

private slots:
    // Connected by name from the form; the order is part of the meta-object.
    void on_targetList_currentIndexChanged(int index);
    void on_interfaceList_currentIndexChanged(int index);
    void on_saveButton_clicked();
    void on_cancelButton_clicked();
    void on_configButton_clicked();
    void on_findButton_clicked();
    void on_defaultButton_clicked();
    void on_presetList_currentIndexChanged(const QString &text);
    void on_bsizeBox_currentIndexChanged(const QString &text);
    void on_cycleBox_valueChanged(int value);
    void on_latencyBox_currentIndexChanged(const QString &text);
    void on_debugButton_clicked();

private:
    friend class DialogProbe; // tests look at the in-memory state

    // Start-up (DialogStartup.cpp).
    void queryDriver();
    void checkInstallation();
    void fillInterfaceList();
    void showPicture();
    void applyShippedDefaults(std::string &currentPreset, std::string &defaultPreset);
    void hideGroups(const std::string &features);
    void useCompactLayout();
    // The labels and buttons whose texts never change.
    QList<QWidget *> fixedTexts() const;

    // Preset profiles (DialogPresets.cpp).
    void fillPresetList(const std::string &currentName, const std::string &defaultName);
    void applyPreset(const std::string &name);
    bool saveSettings();

    // Buffer, cycle and latency (DialogRanges.cpp).
    void applyRanges();
    void applyBufferRange();
    void applyCycleRange();
    void applyLatencyRange();
    void showCycleInfo();

    // Targets, loading and saving (DialogTargets.cpp).
    void loadTargetSettings(const std::string &path);
    void refreshTargets();
    void saveForm();

    // Buttons and the debug switch (DialogButtons.cpp).
    // False when the switch file is there and could not be deleted.
    bool removeDebugSwitch();
    std::string programFile(const char *name) const;
    // Looks at the main settings file before anything may overwrite it: a
    // file that exists but is rejected is kept beside it and startupNotice
    // says so (shown once the event loop runs).
    void checkMainSettingsFile();
    void showStartupNotice();

    std::unique_ptr<Ui::Dialog> ui;
    std::unique_ptr<Platform> ownPlatform;
    Platform *platform = nullptr;
    std::string programDir;

    bool staging = false;
    DllVelmorafindFn findEntry = nullptr;
    std::string settingsPath;
    uint64_t targetIdentifier = 0;
    std::string driverVersion;
    std::string updateHost;
    IniFile settings;
    IniFile presets;
    std::vector<uint32_t> interfaceIds;
    std::vector<TargetRecord> targets;
    TargetRecord selectedTarget;
    bool presetsAvailable = false;
    bool cycleGroupShown = false;
    int32_t currentPresetIndex = -1;
    int32_t defaultPresetIndex = -1;
    bool developerPreview = false;
    bool debugWindowOpen = false;
    QGraphicsScene *scene = nullptr;
    // What the main settings file held when it was loaded (missing: not
    // there), so that a save notices another program's change.
    bool loadedMissing = true;
    std::string loadedBytes;
    QString startupNotice;
    bool saveDeclined = false; // the user kept another program's change
};
