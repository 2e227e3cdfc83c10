#include "common/TdsStandin.h"

#include <QElapsedTimer>
#include <QFile>

TdsStandin::TdsStandin(const QString& database, const QString& password, int wanted)
{
    if (!m_dir.isValid()) {
        m_problem = QStringLiteral("no temporary folder for tds-server");
        return;
    }
    const QString passwordFile = m_dir.filePath(QStringLiteral("password"));
    QFile file(passwordFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(password.toUtf8() + '\n') < 0) {
        m_problem = QStringLiteral("cannot write ") + passwordFile;
        return;
    }
    file.close();
    start(database,
          {QStringLiteral("--login"), QStringLiteral("culvane"), QStringLiteral("--password-file"),
           passwordFile, QStringLiteral("--guid-columns")},
          QProcessEnvironment::systemEnvironment(), wanted);
}

TdsStandin::TdsStandin(const QString& database, const QStringList& options,
                       const QProcessEnvironment& environment, int wanted)
{
    if (!m_dir.isValid()) {
        m_problem = QStringLiteral("no temporary folder for tds-server");
        return;
    }
    start(database, options, environment, wanted);
}

void TdsStandin::start(const QString& database, const QStringList& options,
                       const QProcessEnvironment& environment, int wanted)
{
    const QString script = QStringLiteral(CULVANE_SOURCE_DIR "/standin/tds-server");
    if (!QFile::exists(script)) {
        m_problem = script + QStringLiteral(" is missing");
        return;
    }
    const QString portFile = m_dir.filePath(QStringLiteral("port"));
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.setProcessEnvironment(environment);
    m_server.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{script, QStringLiteral("--db"), database, QStringLiteral("--port"),
                               QString::number(wanted), QStringLiteral("--port-file"), portFile} +
                       options);
    QElapsedTimer timer;
    timer.start();
    while (m_port == 0 && timer.elapsed() < 20000 && m_server.state() != QProcess::NotRunning) {
        m_server.waitForReadyRead(100);
        m_output += m_server.readAll();
        if (m_output.contains("listening on")) {
            QFile taken(portFile);
            if (taken.open(QIODevice::ReadOnly))
                m_port = taken.readAll().trimmed().toInt();
        }
    }
    if (m_port == 0)
        m_problem = QStringLiteral("tds-server did not start: ") + QString::fromUtf8(m_output);
}

TdsStandin::~TdsStandin()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(10000))
        m_server.kill();
    m_server.waitForFinished(5000);
}

QByteArray TdsStandin::output()
{
    m_output += m_server.readAll();
    return m_output;
}
