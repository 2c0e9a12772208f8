#pragma once

#include <QList>
#include <QNetworkRequest>
#include <QUrl>
#include <QtGlobal>

#include <string>

class QNetworkReply;

// How the tool talks to update servers; the update dialog and velmora-ctl
// share it so that the two can never disagree.
//
// - The URL text is read as UTF-8, in tolerant mode.
// - The built-in credential (HTTP Basic) goes only to the built-in update
//   server and to the driver's update host: a source URL that a device on
//   the network names gets no Authorization header, or any device on the
//   link could collect the credential by naming a server of its own.
// - HTTPS trusts the system's certificate authorities, plus the one file
//   that VELMORA_UPDATE_CA names (a private mirror, the tests, the demo).
//   Certificate errors fail the request; they are never ignored.
// - A transfer that stalls for kStallMillis fails, and a reply larger than
//   its cap is aborted (limitReplySize), so no server can hold the tool or
//   fill its memory.

namespace update {

// The built-in update server address (what stands between "https://" and
// "/"), rebuilt from its scrambled bytes.
std::string builtInServer();

// "Basic " and the Base64 text of user ":" password.
QByteArray credentialHeader();

// Caps of what one reply may bring.
constexpr qint64 kMaxListBytes = qint64(1) << 20;      // update lists
constexpr qint64 kMaxFirmwareBytes = qint64(64) << 20; // firmware images
constexpr qint64 kMaxInstallerBytes = qint64(1) << 30; // driver installers
constexpr int kStallMillis = 30000;

class UpdateAccess {
public:
    // updateHostBase: the driver's resolved update base URL; empty when it
    // has none.
    explicit UpdateAccess(const std::string &updateHostBase = std::string());

    static QUrl toUrl(const std::string &url);

    // The GET request for url.
    QNetworkRequest request(const std::string &url) const;

    // Whether a request to url carries the credential.
    bool sendsCredential(const QUrl &url) const;

    // The extra CA file's problem, when VELMORA_UPDATE_CA names one that
    // cannot be used; empty otherwise.
    static QString extraCaProblem();

private:
    QList<QUrl> trusted_;
};

// Aborts reply (it then ends with an error) once it brings more than
// maxBytes, and marks it with the property kReplyCapProperty (the cap).
void limitReplySize(QNetworkReply *reply, qint64 maxBytes);
constexpr char kReplyCapProperty[] = "velmoraReplyCap";

} // namespace update
