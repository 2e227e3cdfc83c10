#pragma once

#include <QString>

#include <functional>

// Every message of the program goes through here. The application installs a handler that shows a real
// dialog with the application's title; tests install one that records the texts and answers from a queue.
namespace MsgBox {

// vbRetryCancel's second button reads "Stop": the one such question asks whether a run goes on.
enum Buttons { vbOKOnly = 0, vbOKCancel = 1, vbYesNo = 4, vbRetryCancel = 5 };
enum Answer { vbOK = 1, vbCancel = 2, vbRetry = 4, vbYes = 6, vbNo = 7 };

// detail is the reason beneath the message (a driver's error), shown behind "Show Details..."; often empty.
using Handler = std::function<Answer(const QString& text, Buttons buttons, const QString& detail)>;
// A handler that has no use for the detail.
using SimpleHandler = std::function<Answer(const QString& text, Buttons buttons)>;

// A non-empty detail also goes to standard error with the text, so that it survives the box.
Answer show(const QString& text, Buttons buttons = vbOKOnly, const QString& detail = QString());

// Installs a handler and returns the previous one. Without a handler the text goes to standard error and
// the first button is the answer.
Handler setHandler(Handler handler);
Handler setHandler(SimpleHandler handler);
// A handler that writes to standard error itself (a program without windows): show() then leaves the text
// and its detail to it. Returns the previous handler; setHandler installs an ordinary one again.
Handler setConsoleHandler(Handler handler);

// The few boxes that carry a title of their own instead of the application's. Without a titled handler
// the box goes through the plain handler above.
using TitledHandler = std::function<Answer(const QString& title, const QString& text, Buttons buttons)>;
Answer showTitled(const QString& title, const QString& text, Buttons buttons = vbOKOnly);
TitledHandler setTitledHandler(TitledHandler handler);

} // namespace MsgBox
