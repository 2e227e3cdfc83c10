#include "ports/MsgBox.h"

#include <cstdio>

namespace MsgBox {
namespace {
Handler& current()
{
    static Handler handler;
    return handler;
}

bool& writesItself()
{
    static bool itself = false;
    return itself;
}

TitledHandler& currentTitled()
{
    static TitledHandler handler;
    return handler;
}
} // namespace

Answer show(const QString& text, Buttons buttons, const QString& detail)
{
    if ((!detail.isEmpty() && !writesItself()) || !current()) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        if (!detail.isEmpty()) {
            QString indented = detail;
            indented.replace(QLatin1Char('\n'), QLatin1String("\n    "));
            std::fprintf(stderr, "    %s\n", indented.toLocal8Bit().constData());
        }
        std::fflush(stderr);
    }
    if (current())
        return current()(text, buttons, detail);
    return buttons == vbYesNo ? vbYes : vbOK;
}

Handler setHandler(Handler handler)
{
    writesItself() = false;
    Handler previous = std::move(current());
    current() = std::move(handler);
    return previous;
}

Handler setHandler(SimpleHandler handler)
{
    if (!handler)
        return setHandler(Handler());
    return setHandler(
        Handler([simple = std::move(handler)](const QString& text, Buttons buttons, const QString&) {
            return simple(text, buttons);
        }));
}

Handler setConsoleHandler(Handler handler)
{
    Handler previous = setHandler(std::move(handler));
    writesItself() = static_cast<bool>(current());
    return previous;
}

Answer showTitled(const QString& title, const QString& text, Buttons buttons)
{
    if (currentTitled())
        return currentTitled()(title, text, buttons);
    return show(text, buttons);
}

TitledHandler setTitledHandler(TitledHandler handler)
{
    TitledHandler previous = std::move(currentTitled());
    currentTitled() = std::move(handler);
    return previous;
}

} // namespace MsgBox
