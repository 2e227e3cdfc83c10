#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstdio>

// A benchmark's first steps: before its application object, the offscreen platform unless another is
// named; after it, a warning when the build is not optimised, since its `measures` (times, sizes) then
// say little.
inline void useOffscreenPlatformUnlessNamed()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

inline void warnUnlessRelease([[maybe_unused]] const char* measures)
{
#ifndef NDEBUG
    std::printf("warning: not a Release build; the %s are not representative\n", measures);
#endif
}
