#pragma once

#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

// The results file of a deletion run: one CSV row per checked subscriber, written beside the run log under
// the log's own time stamp, for spreadsheets (UTF-8 with a byte-order mark, RFC 4180 quoting, CR LF).
// Each row reaches the system as soon as it is written, so a run that is killed keeps the rows before.
class RunResultsFile {
public:
    // The last three are a dry run's: nothing was asked of the server but to look the subscriber up.
    enum class Outcome {
        Deleted,
        SyncFailed,
        SyncTimedOut,
        Rejected,
        RequestFailed,
        // No connection could be opened for the request: it never left this machine.
        NotSent,
        // The wait was ended before a result came (a second Ctrl-C, a signal): the request was sent, so the
        // subscriber may be gone.
        OutcomeUnknown,
        NotAttempted,
        WouldDelete,
        NotFound,
        LookupFailed
    };
    static constexpr int OutcomeCount = int(Outcome::LookupFailed) + 1;

    struct Row {
        QString alias;
        QString objectId;
        QString extension;
        Outcome outcome = Outcome::NotAttempted;
        QString detail;
        QString ticket;
        // Invalid (not attempted): the cell stays empty.
        QDateTime started;
        QDateTime finished;
    };

    // "Culvane_Log_<stamp>.TXT" gives "Culvane_Results_<stamp>.csv" in the same folder; a log with a
    // suffix ("_2") passes it on.
    static QString pathFor(const QString& logPath);

    // Creates the file, never over an existing one, and writes the heading row. False: failure() says why.
    bool open(const QString& path);
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }
    QString failure() const { return m_failure; }
    // Why the first row that could not be written was lost; empty while every row has been written.
    QString writeFailure() const { return m_writeFailure; }

    // Without an open file the row goes nowhere.
    void write(const Row& row);
    // The whole file again with these rows, in this order, in place of the rows written so far: written
    // aside and then put in the file's place, so that the file holds either every row or the rows as they
    // came. Nothing when no file is open or a row could not be written before.
    void rewrite(const QList<Row>& rows);
    void close() { m_file.close(); }

    static QString outcomeText(Outcome outcome);
    // The results file's heading row, as its fields.
    static QStringList headingFields();
    // The Detail of a request that failed on this side: its reason, then what the wait for its ticket gave
    // (an outcome with its own detail, if any).
    static QString requestFailedDetail(const QString& reason, Outcome waited, const QString& waitDetail);
    // ISO 8601 local time with its offset from UTC, e.g. 2009-03-03T07:05:09+01:00.
    static QString isoLocal(const QDateTime& moment);
    // One field quoted as RFC 4180 asks: in double quotes, inner quotes doubled, when it holds a comma, a
    // quote or a line break.
    static QString csvField(const QString& text);

private:
    void writeLine(const QStringList& fields);
    static QByteArray lineOf(const QStringList& fields);
    static QStringList fieldsOf(const Row& row);

    QFile m_file;
    QString m_failure;
    QString m_writeFailure;
};
