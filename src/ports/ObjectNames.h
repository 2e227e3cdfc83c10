#pragma once

#include <QString>

// Gives a control the name the program's texts and tests know it by, and hands it back.
template <class Object> Object* named(Object* object, const char* name)
{
    object->setObjectName(QString::fromLatin1(name));
    return object;
}
