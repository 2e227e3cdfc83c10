#pragma once

#include "deletion/RunTimeEstimate.h"

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>
#include <qlogging.h>

#include <functional>
#include <optional>

// culvane-run's standard error: messages, one to a line after "culvane-run: ", and the progress of a run,
// which a terminal shows as one line rewritten in place and anything else gets as plain lines.
class RunConsole {
public:
    RunConsole();

    bool stderrIsTerminal() const { return m_terminal; }
    static bool stdinIsTerminal();

    // Each line of the text after "culvane-run: ". A progress line on the terminal is cleared first and
    // drawn again after.
    void message(const QString& text);

    // The run's progress: `total` subscribers to go, `errors` answers how many went wrong so far.
    void startProgress(qint32 total, std::function<int()> errors);
    // `done` subscribers have had their turn; the line is drawn (a plain line off a terminal).
    void progressDone(qint32 done);
    // Between subscribers' steps (the wait's pauses): the terminal's line keeps its time left current.
    void progressTick();
    // Leaves the progress line standing with a line break after it.
    void endProgress();

    // Asks on standard error and reads the answer from standard input: true for y or yes.
    bool confirm(const QString& question);
    // Reads a line from the terminal on standard input without showing it; nothing without a terminal.
    std::optional<QString> readSecret(const QString& prompt);

    // "about 1:05 left", from the deletion page's own estimate; public for its test.
    static QString timeLeft(const RunTimeEstimate& estimate, qint64 nowMs);

    // For the life of the object Qt's own messages (the run log's and the results file's among them) go to
    // standard error as every other line does; its debug and info messages only when verbose.
    class QtMessages {
    public:
        explicit QtMessages(bool verbose);
        ~QtMessages();
        QtMessages(const QtMessages&) = delete;
        QtMessages& operator=(const QtMessages&) = delete;

    private:
        QtMessageHandler m_previous;
    };

private:
    QString progressText() const;
    void draw();
    void write(const QString& text);

    bool m_terminal = false;
    bool m_lineShown = false;
    bool m_progressing = false;
    RunTimeEstimate m_estimate;
    std::function<int()> m_errors;
    QElapsedTimer m_drawn;
};
