#pragma once

#include "src/Network/Socket/NodeAddress.h"
#include "update/core/UpdateList.h"
#include "update/net/UpdateAccess.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QNetworkAccessManager;
class QPushButton;
class QNetworkReply;
class QThread;

namespace Ui {
class Update;
}

using update::UpdateListEntry;

// One target on the network that names an update source.
struct UpdateTarget {
    NodeAddress address;
    std::string name;     // from discovery (UTF-8)
    bool duplicate = false; // another target of the list has the same name
    std::string baseUrl;  // resolved firmware base URL; ends with "/" unless empty
};

// The update dialog, opened from the main dialog's config button. The upper
// half updates a target's firmware from its update source, the lower half
// fetches a newer driver installer from the driver's update host and starts
// the Windows installer with it. The constructor searches the network for
// targets (blocking, bounded by the protocol's time-outs) before the dialog
// is shown.
class Update : public QDialog {
    Q_OBJECT

public:
    // selected: the address of the main dialog's chosen target; po is not
    // used. driverVersion and updateHost are the driver's texts.
    Update(bool staging, bool developerPreview, uint64_t targetIdentifier, const NodeAddress &selected,
           uint16_t po, const std::string &driverVersion, const std::string &updateHost, QWidget *parent);
    ~Update() override;

    // Set once a driver installer was started; the main dialog then closes.
    bool closeRequested = false;

    // While a firmware download or update runs the dialog refuses to close
    // (Escape included): the worker's thread must end first.
    void done(int result) override;

private slots:
    // The order is part of the meta-object.
    void replyFinishedList(QNetworkReply *reply);
    void replyFinishedDownload(QNetworkReply *reply);
    void replyFinishedDrvList(QNetworkReply *reply);
    void replyFinishedDrvDownload(QNetworkReply *reply);
    void on_checkButton_clicked();
    void on_targetList_currentIndexChanged(int index);
    void on_updateButton_clicked();
    void on_closeButton_clicked();
    void on_checkDrvButton_clicked();
    void on_updateDrvButton_clicked();
    void update_message(const QString &, const QString &);
    void on_dmesgButton_clicked();

private:
    friend class UpdateProbe; // tests look at the in-memory state

    void searchTargets(uint64_t targetIdentifier, const NodeAddress &selected);
    void finishList(QNetworkReply *reply, QList<UpdateListEntry> &entries, QComboBox *box, QPushButton *updateButton,
                    QPushButton *checkButton, const QString &done, const QString &failed);
    QNetworkReply *get(QNetworkAccessManager *manager, const std::string &url, qint64 maxBytes);
    void setStatus(const QString &text);
    void showBox(const QString &text);
    // Download and data-phase progress under the lists.
    void startProgress();
    void showProgress(qint64 done, qint64 total);
    void endProgress();
    bool busy() const { return downloading || updating; }
    QString downloadFolder() const;

    bool staging = false;
    bool developerPreview = false;
    std::unique_ptr<Ui::Update> ui;
    QNetworkAccessManager *listManager = nullptr;
    QNetworkAccessManager *downloadManager = nullptr;
    QNetworkAccessManager *drvListManager = nullptr;
    QNetworkAccessManager *drvDownloadManager = nullptr;
    std::string driverVersion;
    std::string updateHost;
    QList<UpdateTarget> targets;
    UpdateTarget currentTarget;
    QList<UpdateListEntry> fwEntries;
    UpdateListEntry currentFw;
    QList<UpdateListEntry> drvEntries;
    UpdateListEntry currentDrv;

    // Ours.
    update::UpdateAccess access;
    bool downloading = false;
    bool updating = false;
    QThread *thread = nullptr;
    QElapsedTimer progressClock;
    QString downloadDir; // empty: the user's download folder
    std::function<void(const QString &)> statusObserver;
};
