#pragma once

#include "update/core/UpdateList.h"
#include "update/net/UpdateAccess.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

// The downloads from update servers that the update dialog and velmora-ctl
// share: how a request starts (UpdateAccess: credential scope, TLS, stall
// bound) and what a finished reply means (list parsed, image checked). The
// dialog starts requests on its managers and reads the replies in its
// slots; velmora-ctl waits for each reply in a local event loop
// (fetchList, fetchImage) on the thread of its own manager.

namespace update {

// Starts the GET of url on manager with the size cap maxBytes.
QNetworkReply *startGet(QNetworkAccessManager &manager, const UpdateAccess &access, const std::string &url,
                        qint64 maxBytes);

// What went wrong with a finished reply, for a message: the HTTP status
// when the server answered, the cap or the deadline when the tool ended
// it, else Qt's text. Empty when the reply has no error.
std::string replyProblem(QNetworkReply &reply);

struct ListReply {
    bool ok = false;
    std::string error; // when not ok
    std::vector<UpdateListEntry> entries;
};

// A finished list reply: an error, or the parsed entries (malformed lines
// skipped).
ListReply readListReply(QNetworkReply &reply);

enum class ImageCheck {
    Ok,
    NetworkError,
    ChecksumMismatch,
};

struct ImageReply {
    ImageCheck result = ImageCheck::NetworkError;
    std::string error; // when not Ok
    QByteArray bytes;  // the image when Ok
};

// A finished image reply checked against the list's checksum (CRC-16/USB
// of every byte).
ImageReply readImageReply(QNetworkReply &reply, uint16_t checksum);

// Blocking fetches for callers without an event loop of their own. They
// need a QCoreApplication and run on manager's thread. Besides the stall
// bound every fetch has an absolute deadline that no trickle of data can
// stretch; stop (if given) is asked every 100 ms and aborts the request.
struct FetchBounds {
    std::chrono::milliseconds deadline{60000};
    std::function<bool()> stop;
    std::function<void(qint64 received, qint64 total)> progress;
};

ListReply fetchList(QNetworkAccessManager &manager, const UpdateAccess &access, const std::string &baseUrl,
                    const FetchBounds &bounds);
ImageReply fetchImage(QNetworkAccessManager &manager, const UpdateAccess &access, const std::string &baseUrl,
                      const UpdateListEntry &entry, const FetchBounds &bounds);

} // namespace update
