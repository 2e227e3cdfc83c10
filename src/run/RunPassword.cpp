#include "run/RunPassword.h"

#include "server/OdbcSetup.h"

#include <QFile>
#include <QFileInfo>

#include <array>

#include <odbcinst.h>

namespace RunPassword {
namespace {

QString dataSourceEntry(const QString& dataSource, const char* key)
{
    std::array<char, 1024> value{};
    const QByteArray section = dataSource.toLocal8Bit();
    SQLGetPrivateProfileString(section.constData(), key, "", value.data(), static_cast<int>(value.size()),
                               "odbc.ini");
    return QString::fromLocal8Bit(value.data()).trimmed();
}

} // namespace

QString userWithoutPassword(const QString& connection)
{
    const QString dataSource = OdbcSetup::connectionAttribute(connection, QStringLiteral("DSN"));
    if (dataSource.isEmpty() || !OdbcSetup::connectionAttribute(connection, QStringLiteral("PWD")).isEmpty())
        return QString();
    if (!dataSourceEntry(dataSource, "PWD").isEmpty() || !dataSourceEntry(dataSource, "Password").isEmpty())
        return QString();
    QString user = OdbcSetup::connectionAttribute(connection, QStringLiteral("UID"));
    if (user.isEmpty())
        user = dataSourceEntry(dataSource, "UID");
    return user;
}

QString withPassword(const QString& connection, const QString& password)
{
    QString braced = password;
    braced.replace(QLatin1Char('}'), QStringLiteral("}}"));
    QString text = connection;
    if (!text.isEmpty() && !text.endsWith(QLatin1Char(';')))
        text += QLatin1Char(';');
    return text + QStringLiteral("PWD={") + braced + QLatin1Char('}');
}

std::optional<QString> readPasswordFile(const QString& path, QString* reason)
{
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        *reason = QStringLiteral("it is not a file");
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return std::nullopt;
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty()) {
        *reason = QStringLiteral("its first line is empty");
        return std::nullopt;
    }
    return QString::fromUtf8(line);
}

} // namespace RunPassword
