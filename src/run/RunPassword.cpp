#include "run/RunPassword.h"

#include <QFile>
#include <QFileInfo>

namespace RunPassword {

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

bool othersCanRead(const QString& path)
{
    return (QFileInfo(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) != 0;
}

} // namespace RunPassword
