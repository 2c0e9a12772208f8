#include "update/net/UpdateFetch.h"

#include "src/Network/Crc16.h"
#include "update/core/BaseUrl.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <cstdio>

namespace update {

namespace {

// Why the tool itself ended a reply; read by replyProblem.
constexpr char kEndedBy[] = "velmoraEndedBy";

std::string hex4(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// Runs a local event loop until reply has finished, ending it when the
// deadline passes or stop says so.
void waitFor(QNetworkReply &reply, const FetchBounds &bounds)
{
    if (bounds.progress)
        QObject::connect(&reply, &QNetworkReply::downloadProgress, &reply,
                         [&bounds](qint64 received, qint64 total) { bounds.progress(received, total); });
    if (reply.isFinished())
        return;
    QEventLoop loop;
    QObject::connect(&reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (reply.isFinished())
            return;
        if (bounds.stop && bounds.stop()) {
            reply.setProperty(kEndedBy, QStringLiteral("stopped"));
            reply.abort();
        } else if (clock.elapsed() >= bounds.deadline.count()) {
            reply.setProperty(kEndedBy, QStringLiteral("not finished within %1 s")
                                            .arg(static_cast<qlonglong>(bounds.deadline.count() / 1000)));
            reply.abort();
        }
    });
    tick.start();
    if (!reply.isFinished())
        loop.exec();
}

} // namespace

QNetworkReply *startGet(QNetworkAccessManager &manager, const UpdateAccess &access, const std::string &url,
                        qint64 maxBytes)
{
    QNetworkReply *reply = manager.get(access.request(url));
    limitReplySize(reply, maxBytes);
    return reply;
}

std::string replyProblem(QNetworkReply &reply)
{
    if (reply.error() == QNetworkReply::NoError)
        return std::string();
    const QVariant endedBy = reply.property(kEndedBy);
    if (endedBy.isValid())
        return endedBy.toString().toStdString();
    const QVariant capped = reply.property(kReplyCapProperty);
    if (capped.isValid())
        return "larger than " + std::to_string(capped.toLongLong()) + " bytes";
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const QString reason = reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return "HTTP " + std::to_string(status.toInt()) +
               (reason.isEmpty() ? "" : " " + reason.toStdString());
    }
    return reply.errorString().toStdString();
}

ListReply readListReply(QNetworkReply &reply)
{
    ListReply result;
    if (reply.error() != QNetworkReply::NoError) {
        result.error = replyProblem(reply);
        return result;
    }
    result.ok = true;
    result.entries = parseUpdateList(reply.readAll().toStdString());
    return result;
}

ImageReply readImageReply(QNetworkReply &reply, uint16_t checksum)
{
    ImageReply result;
    if (reply.error() != QNetworkReply::NoError) {
        result.result = ImageCheck::NetworkError;
        result.error = replyProblem(reply);
        return result;
    }
    QByteArray body = reply.readAll();
    const uint16_t crc =
        crc16Usb(reinterpret_cast<const uint8_t *>(body.constData()), static_cast<size_t>(body.size()));
    if (crc != checksum) {
        result.result = ImageCheck::ChecksumMismatch;
        result.error = "checksum " + hex4(crc) + ", the list says " + hex4(checksum);
        return result;
    }
    result.result = ImageCheck::Ok;
    result.bytes = std::move(body);
    return result;
}

ListReply fetchList(QNetworkAccessManager &manager, const UpdateAccess &access, const std::string &baseUrl,
                    const FetchBounds &bounds)
{
    QNetworkReply *reply = startGet(manager, access, updateListUrl(baseUrl), kMaxListBytes);
    waitFor(*reply, bounds);
    ListReply result = readListReply(*reply);
    delete reply;
    return result;
}

ImageReply fetchImage(QNetworkAccessManager &manager, const UpdateAccess &access, const std::string &baseUrl,
                      const UpdateListEntry &entry, const FetchBounds &bounds)
{
    QNetworkReply *reply = startGet(manager, access, baseUrl + entry.file, kMaxFirmwareBytes);
    waitFor(*reply, bounds);
    ImageReply result = readImageReply(*reply, entry.checksum);
    delete reply;
    return result;
}

} // namespace update
