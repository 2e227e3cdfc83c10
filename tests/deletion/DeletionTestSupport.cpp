#include "DeletionTestSupport.h"

#include <QDir>

bool addSubscriber(StandinFixture& db, const QString& objectId, const QString& alias,
                   const QVariant& syncResult, bool neverFinishes)
{
    return db.exec(
        QStringLiteral("INSERT INTO subscriber (SubscriberObjectID, Alias, SubscriberType, SyncResult, "
                       "SyncNeverFinishes) VALUES (?, ?, 1, ?, ?)"),
        {objectId, alias, syncResult.isValid() ? syncResult : QVariant(QMetaType(QMetaType::Int)),
         neverFinishes ? 1 : 0});
}

QString objectIdFor(int n)
{
    return QStringLiteral("{5D000000-0000-4000-8000-%1}").arg(n, 12, 10, QLatin1Char('0'));
}

UnreadableDatabase::UnreadableDatabase(const QString& path)
    : m_path(path), m_aside(path + QStringLiteral(".aside"))
{
    // Every file of the database moves aside, so that nothing of it is found under its name.
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        QFile::remove(m_aside + suffix);
        if (QFile::exists(m_path + suffix))
            QFile::rename(m_path + suffix, m_aside + suffix);
    }
    QFile junk(m_path);
    if (junk.open(QIODevice::WriteOnly | QIODevice::Truncate))
        junk.write(
            QByteArray("This is no database at all, just text standing where the file was.\n").repeated(64));
    m_active = true;
}

UnreadableDatabase::~UnreadableDatabase()
{
    restore();
}

void UnreadableDatabase::restore()
{
    if (!m_active)
        return;
    m_active = false;
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        QFile::remove(m_path + suffix);
        if (QFile::exists(m_aside + suffix))
            QFile::rename(m_aside + suffix, m_path + suffix);
    }
}

QString readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}
