#pragma once

#include "src/Network/Socket/NodeAddress.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QtGlobal>

// Reports how far the data phase of an update has come. Lives beside the
// worker (same thread), so the worker's own signals stay what the dialog
// connects.
class UpdateProgress : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    void dataSent(qint64 sent, qint64 total);
};

// The firmware update of one target on a thread of its own: sends the
// image, has the target write it, reboots the target, waits until it is
// back and reads its new version. Shares nothing with the dialog: it owns
// its copy of the image and of the target address, and its own target
// client. Every step is reported through message(); processEnd() comes
// once at the end, whatever the outcome.
class UpdateWorker : public QObject {
    Q_OBJECT

public:
    UpdateWorker(QByteArray image, const NodeAddress &target);

    // Progress of the data phase; moves to the worker's thread with it.
    UpdateProgress *progress() const { return progress_; }

    QByteArray image;
    NodeAddress target;

signals:
    // Step text, then the text of a message box: empty for progress,
    // "Error" after a failure, "Ready : " and the new version after success.
    void message(const QString &, const QString &);
    void processEnd();

public slots:
    void process();

private:
    UpdateProgress *progress_;
};
