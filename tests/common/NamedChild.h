#pragma once

#include <QObject>
#include <QString>

// The window's child of that type and object name; a test without it cannot go on, so it ends the test
// program with the name.
template <class T> T* namedChild(const QObject& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}
