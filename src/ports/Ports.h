#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The program's seams to what a person does and to time and processes. The program installs the real
// implementations; tests install their own.

namespace FileDialog {
struct Request {
    enum class Mode { Open, Save };
    QString initialFolder;
    QString title;
    QString fileName;
    QString filter;
    Mode mode = Mode::Open;
    // Save: added to a chosen name that has no suffix of its own.
    QString defaultSuffix;
};
// The chosen full file name, or nothing when the dialog was cancelled.
using Handler = std::function<std::optional<QString>(const Request&)>;
std::optional<QString> getOpenFileName(const Request& request);
// The same dialog for a file to write; the real one asks before a chosen file is replaced.
std::optional<QString> getSaveFileName(Request request);
Handler setHandler(Handler handler);
} // namespace FileDialog

namespace Clock {
using Sleeper = std::function<void(int milliseconds)>;
// Blocks the calling thread for the time given. On the user-interface thread, pending events (clicks,
// repaints) are handled meanwhile, every 20 ms; the work that called it does not go on before the time is up.
void sleep(int milliseconds);
Sleeper setSleeper(Sleeper sleeper);
// Milliseconds on a clock that only goes forward, for times shown to the user (a run's elapsed time).
using Monotonic = std::function<qint64()>;
qint64 monotonicMs();
Monotonic setMonotonic(Monotonic monotonic);
} // namespace Clock

namespace Launcher {
// Starts a program without waiting for it (the text editor, a command file, the browser).
using Handler = std::function<bool(const QString& program, const QStringList& arguments)>;
bool start(const QString& program, const QStringList& arguments);
Handler setHandler(Handler handler);
} // namespace Launcher
