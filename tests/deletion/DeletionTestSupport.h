#pragma once

#include "common/StandinFixture.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

// A subscriber of the stand-in whose deletion's directory synchronisation reports `syncResult` (null:
// success) or never finishes.
bool addSubscriber(StandinFixture& db, const QString& objectId, const QString& alias,
                   const QVariant& syncResult = QVariant(), bool neverFinishes = false);
QString objectIdFor(int n);

// The database file made unreadable (its bytes replaced by text that is no database) until restore().
class UnreadableDatabase {
public:
    explicit UnreadableDatabase(const QString& path);
    ~UnreadableDatabase();
    void restore();

private:
    QString m_path;
    QString m_aside;
    bool m_active = false;
};

QString readFile(const QString& path);
