#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// standin/tds-server on a port of the loopback address, in front of the given stand-in file, for the life of
// the object.
class TdsStandin {
public:
    // The SQL login culvane with this password, identifier columns served as uniqueidentifier; port 0: a
    // free one; another: that one, as a server restarted in place takes it again.
    TdsStandin(const QString& database, const QString& password, int wanted = 0);
    // The server with these options of its own (sign-ins, certificate), in this environment (a test realm's
    // keytab and host names), on the port wanted (0: a free one).
    TdsStandin(const QString& database, const QStringList& options, const QProcessEnvironment& environment,
               int wanted);
    ~TdsStandin();
    TdsStandin(const TdsStandin&) = delete;
    TdsStandin& operator=(const TdsStandin&) = delete;

    int port() const { return m_port; }
    QString problem() const { return m_problem; }
    bool running() const { return m_server.state() == QProcess::Running; }
    qint64 pid() const { return m_server.processId(); }
    // Whether the process has ended (or ends within seconds).
    bool ended() { return m_server.state() == QProcess::NotRunning || m_server.waitForFinished(5000); }
    // Everything the server wrote so far, its log of sign-ins and failures.
    QByteArray output();

private:
    void start(const QString& database, const QStringList& options, const QProcessEnvironment& environment,
               int wanted);

    QTemporaryDir m_dir;
    QProcess m_server;
    QByteArray m_output;
    QString m_problem;
    int m_port = 0;
};
