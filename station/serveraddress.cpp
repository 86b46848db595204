#include "serveraddress.h"

#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

bool parseServerAddress(const QString &location, ServerAddress &address, QString &error)
{
    const QUrl url(location, QUrl::StrictMode);
    address = ServerAddress();
    address.database = url.path().mid(1);
    if (!url.isValid() || address.database.isEmpty() || address.database.contains(QLatin1Char('/'))) {
        error = QStringLiteral("%1: not a server address (postgresql://user@host/database)").arg(url.toDisplayString(QUrl::RemovePassword));
        return false;
    }
    address.host = url.host();
    address.port = url.port(5432);
    address.user = url.userName();
    address.password = url.password();
    // libpq's own options ride in the query: host=/run/postgresql for a
    // socket, sslmode=require, and the like.
    QStringList options;
    for (const auto &item : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (item.first == QLatin1String("host"))
            address.host = item.second;
        else
            options << item.first + QLatin1Char('=') + item.second;
    }
    address.options = options.join(QLatin1Char(';'));
    if (address.host.isEmpty())
        address.host = QStringLiteral("localhost");
    QUrl shown = url;
    shown.setPassword(QString());
    address.display = shown.toDisplayString();
    // The same server and database however the station logs in.
    address.target = QStringLiteral("postgresql://%1:%2/%3").arg(address.host).arg(address.port).arg(address.database);
    return true;
}
