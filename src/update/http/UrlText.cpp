#include "update/http/UrlText.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <memory>

namespace {

constexpr qint64 kPieceSize = 1000;
// A site that accepts the connection and then stalls must not hold the program forever.
constexpr int kTransferTimeoutMs = 30000;

// The system's configured proxies, as the default internet access uses them; an address on this machine
// is never sent through a proxy.
class SystemProxies : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        const QString host = query.peerHostName();
        const QHostAddress address(host);
        if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
            (!address.isNull() && address.isLoopback()))
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        return systemProxyForQuery(query);
    }
};

QString urlText(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return QString();

    QNetworkAccessManager manager;
    manager.setProxyFactory(new SystemProxies); // the manager owns it
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("HTTP Generic"));
    request.setTransferTimeout(kTransferTimeoutMs);
    const std::unique_ptr<QNetworkReply> reply(manager.get(request));

    // The body is read as it arrives, in pieces, until the reply has finished: blanks are data like any
    // other byte, so a run of them never ends the read early.
    QByteArray body;
    const auto readPieces = [&body, &reply] {
        while (reply->bytesAvailable() > 0) {
            const QByteArray piece = reply->read(kPieceSize);
            if (piece.isEmpty())
                break;
            body += piece;
        }
    };
    {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, readPieces);
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        // The check blocks: the network is served, but no click or key reaches the windows meanwhile.
        if (!reply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    readPieces();

    // A refused connection, an error page or a transfer cut off half way is no list.
    if (reply->error() != QNetworkReply::NoError)
        return QString();
    // Decoded as a whole, so a character split between two pieces stays whole.
    return QString::fromLocal8Bit(body);
}

} // namespace

extern "C" Q_DECL_EXPORT void culvaneUrlText(const QString& address, QString* text)
{
    *text = urlText(address);
}
