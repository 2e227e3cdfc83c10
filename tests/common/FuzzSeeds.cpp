#include "common/FuzzSeeds.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

namespace FuzzSeeds {

void keep(const char* format, const QByteArray& input)
{
    const QString root = qEnvironmentVariable("CULVANE_FUZZ_SEEDS");
    if (root.isEmpty())
        return;
    const QDir folder(QDir(root).filePath(QString::fromLatin1(format)));
    if (!folder.mkpath(QStringLiteral(".")))
        return;
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(input, QCryptographicHash::Sha1).toHex());
    QFile file(folder.filePath(name));
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.write(input);
}

} // namespace FuzzSeeds
