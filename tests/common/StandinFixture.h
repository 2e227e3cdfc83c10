#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QVariantList>

// A fresh stand-in OrvaneDb for one test: a temporary folder holding the database file (made by
// standin/new-orvanedb) and an odbcinst.ini whose "SQL Server" entry is the SQLite ODBC driver.
// While the fixture lives, ODBCSYSINI names the folder of that odbcinst.ini and the working folder is the
// database's folder, so the program's own connection text reaches the file. CULVANE_REGISTRY is left alone.
//
// unixODBC reads ODBCSYSINI and odbcinst.ini once per process, so the odbcinst.ini lives in one folder
// kept for the whole test process, shared by every fixture. For the same reason a test of a missing
// odbcinst.ini or driver must run in a process of its own that never made a connection before.
class StandinFixture {
public:
    // subscribers: how many generated subscribers; 0 gives the schema and the fixed reference rows
    // (classes of service, locations, distribution lists) without subscribers.
    explicit StandinFixture(int subscribers = 0);
    ~StandinFixture();
    StandinFixture(const StandinFixture&) = delete;
    StandinFixture& operator=(const StandinFixture&) = delete;

    bool isValid() const { return m_valid; }
    QString folder() const { return m_dir.path(); }
    QString databasePath() const;
    // The odbcinst.ini in use (its folder is ODBCSYSINI).
    static QString odbcInstPath();

    // Runs one statement against the file through the same ODBC driver; false (with a warning) on failure.
    bool exec(const QString& sql, const QVariantList& bindValues = {});
    // First column of the first row of a query, or an invalid QVariant.
    QVariant scalar(const QString& sql, const QVariantList& bindValues = {});

private:
    QTemporaryDir m_dir;
    QString m_previousFolder;
    QByteArray m_previousOdbcSysIni;
    bool m_hadOdbcSysIni = false;
    bool m_valid = false;
};
