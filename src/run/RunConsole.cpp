#include "run/RunConsole.h"

#include <QStringList>

#include <cstdio>
#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace {
const QString kPrefix = QStringLiteral("culvane-run: ");
// How often the terminal's line is redrawn between subscribers.
constexpr qint64 kRedrawMilliseconds = 1000;

QString clock(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds / 60 % 60;
    const QString rest = QStringLiteral("%1:%2").arg(minutes).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (hours == 0)
        return rest;
    return QStringLiteral("%1:%2").arg(hours).arg(rest.rightJustified(5, QLatin1Char('0')));
}

// Echo off on the terminal for the life of the object. Input typed ahead of the prompt is kept.
class HiddenInput {
public:
    HiddenInput()
    {
        if (tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        termios hidden = m_saved;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        hidden.c_lflag |= ECHONL;
        m_active = tcsetattr(STDIN_FILENO, TCSANOW, &hidden) == 0;
    }
    ~HiddenInput()
    {
        if (m_active)
            tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

private:
    termios m_saved{};
    bool m_active = false;
};

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
    QString normalised = text;
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (const QString& line : normalised.split(QLatin1Char('\n')))
        lines += kPrefix + line + QLatin1Char('\n');
    m_lineShown = false;
    write(lines);
    if (m_progressing && m_terminal)
        draw();
}

void RunConsole::startProgress(qint32 total, std::function<int()> errors)
{
    m_total = total;
    m_done = 0;
    m_errors = std::move(errors);
    m_progressing = true;
    m_started.start();
    if (m_terminal)
        draw();
}

void RunConsole::progressDone(qint32 done)
{
    m_done = done;
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
        .arg(m_done)
        .arg(m_total)
        .arg(errors)
        .arg(errors == 1 ? QStringLiteral("error") : QStringLiteral("errors"))
        .arg(timeLeft(m_started.isValid() ? m_started.elapsed() : 0, m_done, m_total));
}

void RunConsole::draw()
{
    write(QStringLiteral("\r\x1b[K") + kPrefix + progressText());
    m_lineShown = true;
    m_drawn.start();
}

QString RunConsole::timeLeft(qint64 elapsedMilliseconds, qint32 done, qint32 total)
{
    if (done >= total)
        return QStringLiteral("nothing left");
    if (done <= 0)
        return QStringLiteral("time left unknown");
    const qint64 left = elapsedMilliseconds * (total - done) / done;
    return QStringLiteral("about %1 left").arg(clock((left + 999) / 1000));
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
