#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// Runs one test function of this test program again in a process of its own, with the environment given
// and the ODBC configuration of odbcSysIni (also its working folder) and the user odbc.ini; answers what it
// wrote. unixODBC reads its configuration once per process, so a test of another configuration needs one.
inline QByteArray runTestFunctionInChild(const QString& function, QProcessEnvironment environment,
                                         const QString& odbcSysIni, const QString& userOdbcIni)
{
    environment.insert(QStringLiteral("ODBCSYSINI"), odbcSysIni);
    environment.insert(QStringLiteral("ODBCINI"), userOdbcIni);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(odbcSysIni);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {function});
    if (!child.waitForFinished(120000))
        child.kill();
    child.waitForFinished(5000);
    return child.readAll();
}
