#pragma once

// A fixture installation for the main dialog: a program directory of the
// test's own with the shipped files it chooses, a fake driver library whose
// finder reports a settings path inside the fixture and returns the targets
// the test sets, a recorded set-up run and adapters of the test's choosing.

#include "config/Dialog.h"
#include "driver/DriverFinder.h"
#include "settings/IniFile.h"
#include "src/Platform/Platform.h"

#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QWidget;

// The Qt application object, created once for the whole test program.
void ensureApplication();

// What the fake driver reports and what it was asked.
struct FakeDriver {
    std::string settingsPath;
    uint64_t identifier = 0x1122334455667788ull;
    std::string version = "2.1.0";
    std::string host = "updates.example";
    FoundTargetMap targets;

    int finders = 0; // finders handed out
    int released = 0;
    struct Search {
        std::vector<NodeAddress> addresses;
        uint32_t interfaceNumber;
    };
    std::vector<Search> searches;
};

class FakePlatform : public Platform {
public:
    std::string directory;
    bool hasDriver = true;
    int setupRuns = 0;
    std::function<void()> onSetup; // runs inside the set-up run
    InterfaceMap adapters;
    std::set<std::string> undeletable; // removeFile fails for these
    std::vector<std::string> removed;  // every removeFile call

    std::string programDirectory() override { return directory; }
    DllVelmorafindFn findDriverEntry(const std::string &dir) override;
    bool runSetupProgram(const std::string &dir) override;
    bool removeFile(const std::string &path) override;
    bool listLinkLocalInterfaces(InterfaceMap &out) override
    {
        out = adapters;
        return true;
    }
    char separator() const override { return '/'; }
};

// The driver the fake entry point serves; one at a time.
FakeDriver &fakeDriver();

NodeAddress node(const char *address, uint16_t port = 0, uint16_t interfaceIndex = 0);
void addTarget(FakeDriver &driver, const NodeAddress &key, const std::string &name, uint16_t po);

// Reads the in-memory state of a dialog and calls its inner steps.
class DialogProbe {
public:
    explicit DialogProbe(Dialog &dialog) : d(dialog) {}
    IniFile &settings() { return d.settings; }
    bool cycleGroupShown() const { return d.cycleGroupShown; }
    bool developerPreview() const { return d.developerPreview; }
    bool presetsAvailable() const { return d.presetsAvailable; }
    int currentPresetIndex() const { return d.currentPresetIndex; }
    int defaultPresetIndex() const { return d.defaultPresetIndex; }
    bool debugWindowOpen() const { return d.debugWindowOpen; }
    void setDebugWindowOpen(bool open) { d.debugWindowOpen = open; }
    const std::vector<uint32_t> &interfaceIds() const { return d.interfaceIds; }
    const std::vector<TargetRecord> &targets() const { return d.targets; }
    const TargetRecord &selectedTarget() const { return d.selectedTarget; }
    const std::string &settingsPath() const { return d.settingsPath; }
    const QString &startupNotice() const { return d.startupNotice; }
    void applyRanges() { d.applyRanges(); }
    void showCycleInfo() { d.showCycleInfo(); }
    void applyPreset(const std::string &name) { d.applyPreset(name); }
    void loadTargetSettings(const std::string &path) { d.loadTargetSettings(path); }
    void refreshTargets() { d.refreshTargets(); }

private:
    Dialog &d;
};

// One fixture installation. Files are written with write() before the
// dialog is built with start().
class Installation {
public:
    Installation();
    ~Installation();

    std::string programDir() const;
    std::string settingsFile() const; // the main settings file the driver reports
    std::string debugSwitch() const;

    void write(const std::string &relativePath, const std::string &bytes);
    void remove(const std::string &relativePath);
    std::string read(const std::string &path) const;
    bool exists(const std::string &path) const;
    // The main settings file, written as the settings store's image.
    void writeSettings(const IniFile &settings);

    // The usual shipped files: defaults with every feature word, a matching
    // "setting_path.inf", two presets.
    void writeStandardFiles();

    Dialog &start(bool staging = false);
    Dialog &dialog() { return *dialog_; }
    DialogProbe probe() { return DialogProbe(*dialog_); }
    void finish(); // destroys the dialog

    template <class T> T *widget(const char *name) const;
    QWidget *widgetByName(const char *name) const;

    FakePlatform platform;

private:
    QTemporaryDir dir_;
    std::unique_ptr<Dialog> dialog_;
};

template <class T> T *Installation::widget(const char *name) const
{
    return qobject_cast<T *>(widgetByName(name));
}

// A store from "key=value" lines, for compact fixtures.
IniFile ini(const std::string &text);

// Closes the next modal window (message box or monitor) once it shows and
// hands over its text; used around calls that open one.
class ModalCloser {
public:
    ModalCloser();
    ~ModalCloser();
    QString lastText() const { return text_; }
    int closed() const { return closed_; }
    // Called while the modal window is up, before it is closed.
    std::function<void()> whileOpen;

private:
    void poll();
    QString text_;
    int closed_ = 0;
    class QTimer *timer_;
};

#include <ostream>
// Readable failures for Qt strings.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
