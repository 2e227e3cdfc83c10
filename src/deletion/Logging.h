#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

// The run log: one plain-text file per deletion run, and the counts of its error and warning lines.
// Process-wide, used from the user-interface thread only.
namespace Logging {

// Full path of a new log file in LogFolder(), named after the current second. The name is never one that
// exists: a second run within the same second gets "_2", then "_3", ... before ".TXT". The file is
// created empty to hold the name. Creates the folder if needed and deletes old logs (CleanupLogFiles).
QString GenerateNewLogFileName();

// Opens the path (appending, or emptied), writes the header and sets both counts to 0.
void OpenRunLog(const QString& path, bool append);

// Counts the line if it holds "(error)" / "(warning)" (any letter case; both counts stop at 32767), writes
// it with CR LF and flushes it to the system at once, then lets the window system handle pending events
// (at most every 40 ms, so that a fast run does not repaint its page for every line).
// Without an open log the line is counted only.
void WriteLogLine(const QString& line);

void CloseRunLog();

// Deletes every file in LogFolder() last modified more than 30 calendar days ago, read-only ones too.
void CleanupLogFiles();

std::int16_t RunLogErrorCount();
std::int16_t RunLogWarningCount();
QString RunLogPath();

// A file is open for writing right now.
bool RunLogIsOpen();
// After OpenRunLog: empty when the file opened, else the system's reason why not.
QString RunLogOpenFailure();
// Since OpenRunLog: empty while every line reached the file, else the system's reason for the first line
// that did not (a full disk, a file-size limit). The lines before it stay in the file.
QString RunLogWriteFailure();

// Where GenerateNewLogFileName puts logs: "logs" in the program folder when that folder is writable or can
// be made there, else $XDG_STATE_HOME/culvane/logs (~/.local/state/culvane/logs).
QString LogFolder();
// Tests point the log folder elsewhere; an empty text restores the default above.
void setLogFolder(const QString& folder);

// One channel for the log's lines: every line written is signalled here, exactly as received. The file
// writer listens to it; a view can too.
class RunLogChannel : public QObject {
    Q_OBJECT
signals:
    void lineWritten(const QString& line);
};
RunLogChannel& channel();

} // namespace Logging
