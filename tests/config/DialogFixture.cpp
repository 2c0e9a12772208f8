#include "tests/config/DialogFixture.h"

#include "src/Network/AddressText.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "velmora-config-tests";
    static char *argv[] = {name, nullptr};
    static QApplication *app = nullptr;
    if (!app) {
        static QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        app = new QApplication(argc, argv);
    }
}

FakeDriver &fakeDriver()
{
    static FakeDriver driver;
    return driver;
}

namespace {

class FakeFinder final : public DriverFinder {
public:
    void release() override
    {
        ++fakeDriver().released;
        delete this;
    }
    void findTargets(FoundTargetMap &result, const std::vector<NodeAddress> &addresses,
                     uint32_t interfaceNumber) override
    {
        fakeDriver().searches.push_back({addresses, interfaceNumber});
        result = fakeDriver().targets;
    }
    void settingsPath(std::string &out) override { out = fakeDriver().settingsPath; }
    void unused() override {}
    uint64_t targetIdentifier() override { return fakeDriver().identifier; }
    void updateHost(std::string &out) override { out = fakeDriver().host; }
    void driverVersion(std::string &out) override { out = fakeDriver().version; }
};

extern "C" DriverFinder *fakeEntry()
{
    ++fakeDriver().finders;
    return new FakeFinder;
}

} // namespace

DllVelmorafindFn FakePlatform::findDriverEntry(const std::string &)
{
    return hasDriver ? &fakeEntry : nullptr;
}

bool FakePlatform::runSetupProgram(const std::string &)
{
    ++setupRuns;
    if (onSetup)
        onSetup();
    return true;
}

bool FakePlatform::removeFile(const std::string &path)
{
    removed.push_back(path);
    if (undeletable.count(path))
        return false;
    QFile file(QString::fromStdString(path));
    return !file.exists() || file.remove();
}

NodeAddress node(const char *address, uint16_t port, uint16_t interfaceIndex)
{
    NodeAddress n;
    EXPECT_TRUE(parseAddress(address, n.address)) << address;
    n.setHostPort(port);
    n.interfaceIndex = interfaceIndex;
    return n;
}

void addTarget(FakeDriver &driver, const NodeAddress &key, const std::string &name, uint16_t po)
{
    FoundTarget t;
    t.po = po;
    t.name = name;
    t.address = key;
    driver.targets[key] = t;
}

Installation::Installation()
{
    ensureApplication();
    fakeDriver() = FakeDriver();
    platform.directory = programDir();
    QDir(dir_.path()).mkpath(QStringLiteral("settings"));
    fakeDriver().settingsPath = settingsFile();
}

Installation::~Installation()
{
    finish();
}

std::string Installation::programDir() const
{
    return dir_.path().toStdString() + "/";
}

std::string Installation::settingsFile() const
{
    return programDir() + "settings/main.inf";
}

std::string Installation::debugSwitch() const
{
    return programDir() + "settings/debug.inf";
}

void Installation::write(const std::string &relativePath, const std::string &bytes)
{
    std::ofstream out(programDir() + relativePath, std::ios::binary | std::ios::trunc);
    out << bytes;
    // Not fatal: the many callers go on, and the test fails all the same.
    EXPECT_TRUE(out.good()) << "cannot write " << relativePath;
}

void Installation::remove(const std::string &relativePath)
{
    QFile::remove(QString::fromStdString(programDir() + relativePath));
}

std::string Installation::read(const std::string &path) const
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Installation::exists(const std::string &path) const
{
    return QFile::exists(QString::fromStdString(path));
}

void Installation::writeSettings(const IniFile &settings)
{
    EXPECT_TRUE(settings.write(settingsFile())) << "cannot write " << settingsFile();
}

void Installation::writeStandardFiles()
{
    write("setting_org.inf", "Version=2\n"
                             "Preset=Standard\n"
                             "AsioSetting=Format,Buffer,Cycle,Latency,Ether,FindIP,Info\n"
                             "Interface=0\n"
                             "TargetAddress=::,0\n"
                             "TargetPO=0\n"
                             "PCMRequest=32\n"
                             "DSDMSB=disable\n"
                             "SyncBufferCount=6\n"
                             "ASIOBufferSize=512\n"
                             "ASIOBufferSizeMin=64\n"
                             "ASIOBufferSizeMax=4096\n"
                             "CycleTime=2000\n"
                             "FlexCycle=enable\n"
                             "LatencyBuffer=20000\n");
    write("setting_path.inf", "SettingPath=" + settingsFile() + "\n");
    write("preset.inf", "[Standard]\n"
                        "PresetASIOBufferSizeRange=64-2048\n"
                        "PresetCycleRange=500-4000,250\n"
                        "PresetLatencyBuffereRange=1000-50000,1000,Prefer\n"
                        "CycleTime=2000\n"
                        "[Low Latency]\n"
                        "PresetASIOBufferSizeRange=32-512\n"
                        "PresetCycleRange=250-1000,250\n"
                        "PresetLatencyBuffereRange=1000-10000,1000\n"
                        "CycleTime=500\n"
                        "LatencyBuffer=5000\n"
                        "ASIOBufferSize=128\n");
}

Dialog &Installation::start(bool staging)
{
    finish();
    dialog_ = std::make_unique<Dialog>(staging, nullptr, &platform);
    return *dialog_;
}

void Installation::finish()
{
    dialog_.reset();
}

QWidget *Installation::widgetByName(const char *name) const
{
    return dialog_ ? dialog_->findChild<QWidget *>(QString::fromLatin1(name)) : nullptr;
}

IniFile ini(const std::string &text)
{
    IniFile f;
    EXPECT_TRUE(f.parse(text));
    return f;
}

ModalCloser::ModalCloser() : timer_(new QTimer)
{
    QObject::connect(timer_, &QTimer::timeout, [this] { poll(); });
    timer_->start(10);
}

ModalCloser::~ModalCloser()
{
    delete timer_;
}

void ModalCloser::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    auto *window = qobject_cast<QDialog *>(modal);
    if (!window || !window->isVisible())
        return;
    if (auto *box = qobject_cast<QMessageBox *>(window))
        text_ = box->text();
    else
        text_ = window->metaObject()->className();
    if (whileOpen)
        whileOpen();
    ++closed_;
    window->done(QDialog::Rejected);
}
