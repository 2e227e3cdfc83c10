#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QVariantList>

// A fresh stand-in OrvaneDb for one test: a temporary folder holding the database file (made by
// standin/new-orvanedb) and an odbcinst.ini whose "SQL Server" entry is the SQLite ODBC driver.
// While the fixture lives, ODBCSYSINI names that folder and the working folder is that folder, so the
// program's own connection text reaches the file. CULVANE_REGISTRY is left alone.
class StandinFixture {
public:
    // subscribers: how many generated subscribers; 0 gives the schema with no rows at all.
    explicit StandinFixture(int subscribers = 0);
    ~StandinFixture();
    StandinFixture(const StandinFixture&) = delete;
    StandinFixture& operator=(const StandinFixture&) = delete;

    bool isValid() const { return m_valid; }
    QString folder() const { return m_dir.path(); }
    QString databasePath() const;

    // Runs one statement against the file through the same ODBC driver; false (with a warning) on failure.
    bool exec(const QString& sql, const QVariantList& bindValues = {});
    // First column of the first row of a query, or an invalid QVariant.
    QVariant scalar(const QString& sql, const QVariantList& bindValues = {});

private:
    QTemporaryDir m_dir;
    QString m_previousFolder;
    QByteArray m_previousOdbcSysIni;
    bool m_valid = false;
};
