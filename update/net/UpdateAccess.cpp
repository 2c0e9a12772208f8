#include "update/net/UpdateAccess.h"

#include "update/core/BaseUrl.h"
#include "update/core/Unscramble.h"
#include "update/net/UpdateSecrets.h"

#include <QFile>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <cstdio>
#include <cstdlib>

namespace update {

namespace {

// scheme://host:port, the part that decides where a credential may go.
bool sameOrigin(const QUrl &a, const QUrl &b)
{
    if (!a.isValid() || !b.isValid() || a.host().isEmpty())
        return false;
    const QString scheme = a.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1;
    return scheme == b.scheme().toLower() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort) == b.port(defaultPort);
}

struct ExtraCa {
    QList<QSslCertificate> certificates;
    QString problem;
};

const ExtraCa &extraCa()
{
    static const ExtraCa ca = [] {
        ExtraCa result;
        const char *path = std::getenv("VELMORA_UPDATE_CA");
        if (!path || !*path)
            return result;
        QFile file(QString::fromLocal8Bit(path));
        if (file.size() > (1 << 20) || !file.open(QIODevice::ReadOnly)) {
            result.problem = QStringLiteral("cannot read the CA file %1 (VELMORA_UPDATE_CA)").arg(file.fileName());
        } else {
            result.certificates = QSslCertificate::fromData(file.read(1 << 20), QSsl::Pem);
            if (result.certificates.isEmpty())
                result.problem =
                    QStringLiteral("no PEM certificate in %1 (VELMORA_UPDATE_CA)").arg(file.fileName());
        }
        if (!result.problem.isEmpty())
            std::fprintf(stderr, "velmora: %s\n", result.problem.toLocal8Bit().constData());
        return result;
    }();
    return ca;
}

} // namespace

std::string builtInServer()
{
    return unscramble(secret::kServer, secret::kServerLength);
}

QByteArray credentialHeader()
{
    const std::string user = unscramble(secret::kUser, secret::kUserLength);
    const std::string password = unscramble(secret::kPassword, secret::kPasswordLength);
    const QByteArray pair = QByteArray::fromStdString(user + ":" + password);
    return QByteArrayLiteral("Basic ") + pair.toBase64();
}

UpdateAccess::UpdateAccess(const std::string &updateHostBase)
{
    trusted_.append(toUrl("https://" + builtInServer() + "/"));
    if (!updateHostBase.empty())
        trusted_.append(toUrl(updateHostBase));
}

QUrl UpdateAccess::toUrl(const std::string &url)
{
    return QUrl(QString::fromUtf8(url.data(), static_cast<int>(url.size())), QUrl::TolerantMode);
}

bool UpdateAccess::sendsCredential(const QUrl &url) const
{
    for (const QUrl &t : trusted_) {
        if (sameOrigin(t, url))
            return true;
    }
    return false;
}

QNetworkRequest UpdateAccess::request(const std::string &url) const
{
    const QUrl target = toUrl(url);
    QNetworkRequest request(target);
    if (sendsCredential(target))
        request.setRawHeader("Authorization", credentialHeader());
    request.setTransferTimeout(kStallMillis);
    const ExtraCa &ca = extraCa();
    if (!ca.certificates.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(ca.certificates);
        request.setSslConfiguration(tls);
    }
    return request;
}

QString UpdateAccess::extraCaProblem()
{
    return extraCa().problem;
}

void limitReplySize(QNetworkReply *reply, qint64 maxBytes)
{
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, maxBytes](qint64 received, qint64 total) {
                         if (received > maxBytes || total > maxBytes) {
                             reply->setProperty(kReplyCapProperty, maxBytes);
                             reply->abort();
                         }
                     });
}

} // namespace update
