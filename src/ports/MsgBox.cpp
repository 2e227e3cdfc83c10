#include "ports/MsgBox.h"

#include <cstdio>

namespace MsgBox {
namespace {
Handler& current()
{
    static Handler handler;
    return handler;
}

TitledHandler& currentTitled()
{
    static TitledHandler handler;
    return handler;
}
} // namespace

Answer show(const QString& text, Buttons buttons)
{
    if (current())
        return current()(text, buttons);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    return buttons == vbYesNo ? vbYes : vbOK;
}

Handler setHandler(Handler handler)
{
    Handler previous = std::move(current());
    current() = std::move(handler);
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
