#pragma once

#include "common/StandinFixture.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlError>
#include <QUuid>

#include <optional>

// The environment that points culvane-run at a benchmark's stand-in: the sample registry copied into the
// stand-in's folder, the stand-in's odbcinst.ini and that folder as HOME. Nothing when the copy fails.
inline std::optional<QProcessEnvironment> culvaneRunEnvironment(const StandinFixture& standin)
{
    const QString registry = standin.folder() + QStringLiteral("/HKLM.reg");
    if (!QFile::copy(QStringLiteral(CULVANE_SOURCE_DIR "/standin/HKLM-sample.reg"), registry))
        return std::nullopt;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CULVANE_REGISTRY"), registry);
    environment.insert(QStringLiteral("ODBCSYSINI"), qEnvironmentVariable("ODBCSYSINI"));
    environment.insert(QStringLiteral("HOME"), standin.folder());
    return environment;
}

// Runs `use` on a connection of its own to the stand-in file at `path`, as a thread of a benchmark that
// plays the directory synchronisation needs; answers why the connection could not be opened, else nothing.
template <typename Use> QString onConnectionOfItsOwn(const QString& path, const QString& namePrefix, Use use)
{
    const QString name = namePrefix + QUuid::createUuid().toString(QUuid::Id128);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        db.setDatabaseName(QStringLiteral("Driver={SQL Server};database=") + path);
        if (!db.open())
            failure = db.lastError().text();
        else
            use(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return failure;
}
