#include "run/RunConsole.h"

#include "ports/Ports.h"
#include "run/RunInterrupt.h"

#include <QStringList>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace {
const QString kPrefix = QStringLiteral("culvane-run: ");
// How often the terminal's line is redrawn between subscribers.
constexpr qint64 kRedrawMilliseconds = 1000;

// The terminal's settings while echo is off, for a signal that ends the program at the prompt: like the
// signal, process-wide. Written before the handlers go in, read only by them.
termios g_echoSettings{};
volatile sig_atomic_t g_echoOff = 0;

void restoreEchoAndEnd(int signal)
{
    // Only async-signal-safe calls: the terminal gets its echo back, then the signal ends the program as
    // it would have.
    if (g_echoOff != 0)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_echoSettings);
    const char newline = '\n';
    (void)!::write(STDERR_FILENO, &newline, 1);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Echo off on the terminal for the life of the object, and back on however the program ends meanwhile.
// Input typed ahead of the prompt is kept.
class HiddenInput {
public:
    HiddenInput()
    {
        if (tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        g_echoSettings = m_saved;
        m_handlers.emplace(std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP, SIGQUIT}, &restoreEchoAndEnd,
                           0);
        termios hidden = m_saved;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        hidden.c_lflag |= ECHONL;
        g_echoOff = 1;
        m_active = tcsetattr(STDIN_FILENO, TCSANOW, &hidden) == 0;
    }
    ~HiddenInput()
    {
        if (m_active)
            tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
        g_echoOff = 0;
    }
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

private:
    termios m_saved{};
    std::optional<RunInterrupt::Handlers> m_handlers;
    bool m_active = false;
};

// Each line of the text after the prefix, line breaks normalised.
QString prefixedLines(const QString& text)
{
    QString normalised = text;
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QString lines;
    for (const QString& line : normalised.split(QLatin1Char('\n')))
        lines += kPrefix + line + QLatin1Char('\n');
    return lines;
}

void writeQtMessage(QtMsgType type, const QString& text, bool verbose)
{
    if (!verbose && (type == QtDebugMsg || type == QtInfoMsg))
        return;
    // A progress line on the terminal is cleared first; the next redraw brings it back.
    const QString cleared = isatty(STDERR_FILENO) == 1 ? QStringLiteral("\r\x1b[K") : QString();
    const QByteArray bytes = (cleared + prefixedLines(text)).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void quietQtMessage(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text)
{
    writeQtMessage(type, text, false);
}

void verboseQtMessage(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text)
{
    writeQtMessage(type, text, true);
}

std::optional<QString> readLine()
{
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
}

} // namespace

RunConsole::RunConsole() : m_terminal(isatty(STDERR_FILENO) == 1) {}

bool RunConsole::stdinIsTerminal()
{
    return isatty(STDIN_FILENO) == 1;
}

void RunConsole::write(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void RunConsole::message(const QString& text)
{
    QString lines;
    if (m_lineShown)
        lines += QStringLiteral("\r\x1b[K");
    lines += prefixedLines(text);
    m_lineShown = false;
    write(lines);
    if (m_progressing && m_terminal)
        draw();
}

void RunConsole::startProgress(qint32 total, std::function<int()> errors)
{
    m_estimate.start(total, Clock::monotonicMs());
    m_errors = std::move(errors);
    m_progressing = true;
    if (m_terminal)
        draw();
}

void RunConsole::progressDone(qint32 done)
{
    while (m_estimate.done() < done && m_estimate.done() < m_estimate.total())
        m_estimate.subscriberDone(Clock::monotonicMs());
    if (m_terminal)
        draw();
    else
        write(kPrefix + progressText() + QLatin1Char('\n'));
}

void RunConsole::progressTick()
{
    if (m_progressing && m_terminal && (!m_drawn.isValid() || m_drawn.hasExpired(kRedrawMilliseconds)))
        draw();
}

void RunConsole::endProgress()
{
    if (m_lineShown)
        write(QStringLiteral("\n"));
    m_lineShown = false;
    m_progressing = false;
}

QString RunConsole::progressText() const
{
    const int errors = m_errors ? m_errors() : 0;
    return QStringLiteral("%1/%2 done, %3 %4, %5")
        .arg(m_estimate.done())
        .arg(m_estimate.total())
        .arg(errors)
        .arg(errors == 1 ? QStringLiteral("error") : QStringLiteral("errors"))
        .arg(timeLeft(m_estimate, Clock::monotonicMs()));
}

void RunConsole::draw()
{
    write(QStringLiteral("\r\x1b[K") + kPrefix + progressText());
    m_lineShown = true;
    m_drawn.start();
}

QString RunConsole::timeLeft(const RunTimeEstimate& estimate, qint64 nowMs)
{
    const std::optional<qint64> left = estimate.remainingMs(nowMs);
    if (!left)
        return QStringLiteral("time left unknown");
    if (estimate.done() >= estimate.total())
        return QStringLiteral("nothing left");
    return QStringLiteral("about %1 left").arg(RunTimeEstimate::format(*left));
}

bool RunConsole::confirm(const QString& question)
{
    write(kPrefix + question + QStringLiteral(" [y/N] "));
    const std::optional<QString> answer = readLine();
    if (!answer)
        write(QStringLiteral("\n"));
    const QString word = answer.value_or(QString()).trimmed().toLower();
    return word == QLatin1String("y") || word == QLatin1String("yes");
}

std::optional<QString> RunConsole::readSecret(const QString& prompt)
{
    if (!stdinIsTerminal())
        return std::nullopt;
    write(kPrefix + prompt);
    const HiddenInput hidden;
    return readLine();
}

RunConsole::QtMessages::QtMessages(bool verbose)
    : m_previous(qInstallMessageHandler(verbose ? &verboseQtMessage : &quietQtMessage))
{
}

RunConsole::QtMessages::~QtMessages()
{
    qInstallMessageHandler(m_previous);
}
