#include "update/Update.h"
#include "ui_Update.h"

#include "config/formfont/FormFont.h"

#include "src/Network/AddressText.h"
#include "src/Network/Dmesg/Dmesg.h"
#include "src/Network/TargetClient.h"
#include "update/UpdateWorker.h"
#include "update/core/BaseUrl.h"
#include "update/core/UpdateFiles.h"
#include "update/core/UpdateTargets.h"
#include "update/net/UpdateFetch.h"

#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <cstring>

namespace {

constexpr uint8_t kRebootMode = 1;
constexpr int kRebootTries = 3;

QString fromUtf8Z(const std::string &text)
{
    // Shown up to a first zero byte, as the target's texts are C strings.
    const size_t end = text.find('\0');
    const size_t n = end == std::string::npos ? text.size() : end;
    return QString::fromUtf8(text.data(), static_cast<int>(n));
}

std::unique_ptr<TargetClient> makeClient(uint64_t filter, const char *name)
{
    try {
        return std::make_unique<TargetClient>(filter, name);
    } catch (const TORNE::Err &) {
        // The socket library did not start: every operation of this client
        // fails, as with a client that does not open.
        return nullptr;
    }
}

// Fills entries and box from a list; true when at least one entry.
bool fillList(const std::vector<UpdateListEntry> &list, QList<UpdateListEntry> &entries, QComboBox *box)
{
    entries.clear();
    box->clear();
    for (const UpdateListEntry &e : list) {
        entries.append(e);
        box->addItem(fromUtf8Z(e.name));
    }
    return !entries.isEmpty();
}

} // namespace

Update::Update(bool staging_, bool developerPreview_, uint64_t targetIdentifier, const NodeAddress &selected,
               uint16_t po, const std::string &driverVersion_, const std::string &updateHost_, QWidget *parent)
    : QDialog(parent), staging(staging_), developerPreview(developerPreview_), ui(std::make_unique<Ui::Update>()),
      listManager(new QNetworkAccessManager(this)), downloadManager(new QNetworkAccessManager(this)),
      drvListManager(new QNetworkAccessManager(this)), drvDownloadManager(new QNetworkAccessManager(this)),
      driverVersion(driverVersion_), updateHost(updateHost_)
{
    (void)po;
    ui->setupUi(this);
    // The fixed-pixel form shows its labels and buttons whole.
    fitFormFont(this, {ui->label_current, ui->label_menu, ui->label_update, ui->label_menu_Drv,
                       ui->label_current_Drv, ui->label_update_Drv, ui->label_address, ui->checkButton,
                       ui->updateButton, ui->closeButton, ui->checkDrvButton, ui->updateDrvButton, ui->dmesgButton});
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    connect(listManager, &QNetworkAccessManager::finished, this, &Update::replyFinishedList);
    connect(downloadManager, &QNetworkAccessManager::finished, this, &Update::replyFinishedDownload);
    connect(drvListManager, &QNetworkAccessManager::finished, this, &Update::replyFinishedDrvList);
    connect(drvDownloadManager, &QNetworkAccessManager::finished, this, &Update::replyFinishedDrvDownload);

    searchTargets(targetIdentifier, selected);

    // Only the marker rule applies to the driver's update host.
    updateHost = update::hostBaseUrl(updateHost, update::builtInServer(), staging, developerPreview);
    access = update::UpdateAccess(updateHost);
    if (!updateHost.empty())
        ui->checkDrvButton->setEnabled(true);
    ui->versionDrvEdit->setText(fromUtf8Z(driverVersion));

    const QString caProblem = update::UpdateAccess::extraCaProblem();
    if (!caProblem.isEmpty())
        setStatus(caProblem);
}

Update::~Update()
{
    // The worker's thread is a child of this dialog: it must have ended
    // before the dialog goes. done() refuses to close while it runs; this
    // is the last guard for any other way of destroying the dialog. The
    // update's waits are all bounded, so this ends.
    if (thread && thread->isRunning()) {
        thread->wait();
    }
}

void Update::searchTargets(uint64_t targetIdentifier, const NodeAddress &selected)
{
    targets.clear();
    std::unique_ptr<TargetClient> client = makeClient(targetIdentifier, "configure");
    if (client) {
        client->open();
        TargetMap found;
        discover(*client, found, 0);
        for (const auto &entry : found) {
            const update::SourceLookup lookup = update::lookUpSource(
                *client, entry.first, update::builtInServer(), staging, developerPreview);
            // A text that is no URL still gives an entry (its list request
            // then fails); no answer or no text leaves the target out.
            if (lookup.state != update::SourceState::Ok && lookup.state != update::SourceState::NotUrl)
                continue;
            qDebug().noquote() << QString::fromStdString(formatEndpoint(entry.first));
            UpdateTarget t;
            t.address = entry.first;
            t.name = entry.second.name;
            t.baseUrl = lookup.baseUrl;
            for (UpdateTarget &other : targets) {
                if (other.name == t.name) {
                    other.duplicate = true;
                    t.duplicate = true;
                }
            }
            targets.append(t);
        }
        client->close();
    }

    ui->targetList->clear();
    int selectedIndex = 0;
    for (int i = 0; i < targets.size(); ++i) {
        const UpdateTarget &t = targets[i];
        QString text = fromUtf8Z(t.name);
        if (t.duplicate)
            text += QStringLiteral(" [") + QString::fromStdString(formatAddress(t.address.address)) + "]";
        if (std::memcmp(t.address.address, selected.address, 16) == 0)
            selectedIndex = i;
        // The first item selects itself and runs the version query.
        ui->targetList->addItem(text);
    }
    if (!targets.isEmpty()) {
        ui->targetList->setCurrentIndex(selectedIndex);
        ui->checkButton->setEnabled(true);
    }
}

void Update::done(int result)
{
    if (busy()) {
        setStatus(tr("Wait: the firmware update is still running"));
        return;
    }
    QDialog::done(result);
}

QNetworkReply *Update::get(QNetworkAccessManager *manager, const std::string &url, qint64 maxBytes)
{
    return update::startGet(*manager, access, url, maxBytes);
}

void Update::setStatus(const QString &text)
{
    ui->statuslabel->setText(text);
    if (statusObserver)
        statusObserver(text);
}

void Update::showBox(const QString &text)
{
    QMessageBox box(this);
    box.setText(text);
    box.exec();
}

void Update::startProgress()
{
    progressClock.start();
    ui->progressBar->setRange(0, 0);
    ui->progressBar->setValue(0);
    ui->rateLabel->clear();
    ui->progressBar->show();
    ui->rateLabel->show();
}

void Update::showProgress(qint64 done, qint64 total)
{
    if (total > 0) {
        // Per mille, so that sizes above 2 GiB fit the bar's int range.
        ui->progressBar->setRange(0, 1000);
        ui->progressBar->setValue(static_cast<int>(done * 1000 / total));
    }
    const qint64 ms = progressClock.elapsed();
    if (ms > 0)
        ui->rateLabel->setText(tr("%1 KiB/s").arg(done * 1000 / ms / 1024));
}

void Update::endProgress()
{
    ui->progressBar->hide();
    ui->rateLabel->hide();
}

QString Update::downloadFolder() const
{
    return downloadDir.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) : downloadDir;
}

// ---------------------------------------------------------------- lists

void Update::on_checkButton_clicked()
{
    setStatus(QStringLiteral("Start Dlownload Update List"));
    const int index = ui->targetList->currentIndex();
    if (index < 0 || index >= targets.size())
        return;
    currentTarget = targets[index];
    get(listManager, update::updateListUrl(currentTarget.baseUrl), update::kMaxListBytes);
    ui->checkButton->setEnabled(false);
}

void Update::replyFinishedList(QNetworkReply *reply)
{
    finishList(reply, fwEntries, ui->FwList, ui->updateButton, ui->checkButton,
               QStringLiteral("Conpleat Dlownload Update List"), QStringLiteral("Error Dlownload Update List"));
}

// Both lists: an error keeps the previous list; a good reply replaces it.
void Update::finishList(QNetworkReply *reply, QList<UpdateListEntry> &entries, QComboBox *box,
                        QPushButton *updateButton, QPushButton *checkButton, const QString &done,
                        const QString &failed)
{
    const update::ListReply list = update::readListReply(*reply);
    if (!list.ok) {
        setStatus(failed);
    } else {
        setStatus(done);
        updateButton->setEnabled(false);
        if (fillList(list.entries, entries, box))
            updateButton->setEnabled(true);
    }
    checkButton->setEnabled(true);
}

void Update::on_checkDrvButton_clicked()
{
    setStatus(QStringLiteral("Start Drv Dlownload Update List"));
    get(drvListManager, update::updateListUrl(updateHost), update::kMaxListBytes);
    ui->checkDrvButton->setEnabled(false);
}

void Update::replyFinishedDrvList(QNetworkReply *reply)
{
    finishList(reply, drvEntries, ui->DrvList, ui->updateDrvButton, ui->checkDrvButton,
               QStringLiteral("Conpleat Drv Dlownload Update List"),
               QStringLiteral("Error Drv Dlownload Update List"));
}

// -------------------------------------------------------- target version

void Update::on_targetList_currentIndexChanged(int index)
{
    currentTarget = UpdateTarget();
    currentFw = UpdateListEntry();
    ui->updateButton->setEnabled(false);
    fwEntries.clear();
    ui->FwList->clear();
    if (index < 0 || index >= targets.size())
        return;
    std::string version;
    if (update::readTargetVersion(targets[index].address, version)) {
        ui->versionEdit->setText(fromUtf8Z(version));
        setStatus(QStringLiteral("Conpleat Get Target Version"));
        ui->addressEdit->setText(QString::fromStdString(formatAddress(targets[index].address.address)));
    } else {
        setStatus(QStringLiteral("Error Get Target Version"));
    }
}

// ------------------------------------------------------- firmware update

void Update::on_updateButton_clicked()
{
    const int index = ui->FwList->currentIndex();
    if (index < 0 || index >= fwEntries.size())
        return;
    currentFw = fwEntries[index];
    QNetworkReply *reply =
        get(downloadManager, currentTarget.baseUrl + currentFw.file, update::kMaxFirmwareBytes);
    ui->updateButton->setEnabled(false);
    setStatus(QStringLiteral("Start FW Dlownload"));
    ui->closeButton->setEnabled(false);
    ui->checkButton->setEnabled(false);
    // A selection change would clear the target the image is meant for.
    ui->targetList->setEnabled(false);
    downloading = true;
    startProgress();
    connect(reply, &QNetworkReply::downloadProgress, this, &Update::showProgress);
}

void Update::replyFinishedDownload(QNetworkReply *reply)
{
    downloading = false;
    endProgress();
    update::ImageReply image = update::readImageReply(*reply, currentFw.checksum);
    if (image.result != update::ImageCheck::Ok) {
        setStatus(QStringLiteral("Error FW Dlownload"));
        showBox(QStringLiteral("Error"));
        ui->updateButton->setEnabled(true);
        ui->closeButton->setEnabled(true);
        ui->targetList->setEnabled(true);
        return;
    }
    setStatus(QStringLiteral("Compleat Fw Dlownload"));

    thread = new QThread(this);
    auto *worker = new UpdateWorker(std::move(image.bytes), currentTarget.address);
    worker->moveToThread(thread);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(thread, &QThread::started, worker, &UpdateWorker::process);
    connect(worker, &UpdateWorker::processEnd, thread, &QThread::quit);
    connect(worker, &UpdateWorker::processEnd, worker, &QObject::deleteLater);
    connect(worker, &UpdateWorker::message, this, &Update::update_message);
    // Ours: the data phase on the progress bar, and the end of the thread
    // ends the update for the close guard.
    connect(worker->progress(), &UpdateProgress::dataSent, this, &Update::showProgress);
    connect(thread, &QThread::finished, this, [this] {
        updating = false;
        thread = nullptr;
    });
    updating = true;
    startProgress();
    thread->start(QThread::InheritPriority);
}

void Update::update_message(const QString &statusText, const QString &boxText)
{
    setStatus(statusText);
    if (boxText.isEmpty())
        return;
    endProgress();
    showBox(boxText);
    ui->updateButton->setEnabled(true);
    ui->closeButton->setEnabled(true);
    ui->targetList->setEnabled(true);
    on_targetList_currentIndexChanged(ui->targetList->currentIndex());
    ui->checkButton->setEnabled(true);
}

// --------------------------------------------------------- driver update

void Update::on_updateDrvButton_clicked()
{
    const int index = ui->DrvList->currentIndex();
    if (index < 0 || index >= drvEntries.size())
        return;
    // The name becomes a file in the download folder: only a plain file
    // name may, so that no list can write anywhere else.
    if (!update::isPlainFileName(drvEntries[index].file)) {
        setStatus(QStringLiteral("Error Drv File Name"));
        return;
    }
    setStatus(QStringLiteral("Start Drv Dlownload"));
    currentDrv = drvEntries[index];
    QNetworkReply *reply = get(drvDownloadManager, updateHost + currentDrv.file, update::kMaxInstallerBytes);
    ui->updateDrvButton->setEnabled(false);
    startProgress();
    connect(reply, &QNetworkReply::downloadProgress, this, &Update::showProgress);
}

void Update::replyFinishedDrvDownload(QNetworkReply *reply)
{
    endProgress();
    const update::ImageReply package = update::readImageReply(*reply, currentDrv.checksum);
    if (package.result == update::ImageCheck::NetworkError) {
        setStatus(QStringLiteral("Error Drv Dlownload"));
        ui->updateDrvButton->setEnabled(true);
        return;
    }
    setStatus(QStringLiteral("Conpleat Drv Dlownload"));
    if (package.result == update::ImageCheck::ChecksumMismatch) {
        setStatus(QStringLiteral("Error Drv Checksum"));
        ui->updateDrvButton->setEnabled(true);
        return;
    }
    const QByteArray &body = package.bytes;
    const QString folder = downloadFolder();
    QDir().mkpath(folder);
    QString path = folder + "/" + QString::fromUtf8(currentDrv.file.data(), static_cast<int>(currentDrv.file.size()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(body) != body.size() ||
        !file.flush()) {
        setStatus(QStringLiteral("Error Drv File Write"));
        file.close();
        file.remove();
        ui->updateDrvButton->setEnabled(true);
        return;
    }
    file.close();
    path.replace('/', '\\');
    // Quoted, so that a download folder with spaces stays one argument.
    const QString command = QStringLiteral("msiexec.exe /i \"") + path + "\"";
    QStringList words = QProcess::splitCommand(command);
    const QString program = words.takeFirst();
    if (QProcess::startDetached(program, words)) {
        closeRequested = true;
        close();
    } else {
        setStatus(QStringLiteral("Error Start Installer"));
    }
    ui->updateDrvButton->setEnabled(true);
}

// ------------------------------------------------------------ log window

void Update::on_closeButton_clicked()
{
    close();
}

void Update::on_dmesgButton_clicked()
{
    const int index = ui->targetList->currentIndex();
    if (index < 0 || index >= targets.size())
        return;
    const UpdateTarget t = targets[index];
    const QString text = QString::fromStdString(formatAddress(t.address.address));
    QApplication::clipboard()->setText("[" + text + "]");
    qDebug().noquote() << text;
    ui->dmesgButton->setEnabled(false);
    QHostAddress host(text);
    // A link-local address is reachable only through its interface.
    if (t.address.interfaceIndex != 0)
        host.setScopeId(QString::number(t.address.interfaceIndex));
    auto *log = new Dmesg(host, this);
    log->show();
    log->exec();
    if (log->rebootRequested()) {
        std::unique_ptr<TargetClient> client = makeClient(TargetClient::kAllOnes, "");
        if (client && client->open()) {
            for (int i = 0; i < kRebootTries; ++i) {
                if (client->reboot(t.address, kRebootMode))
                    break;
            }
            client->close();
        }
    }
    ui->dmesgButton->setEnabled(true);
    delete log;
}
