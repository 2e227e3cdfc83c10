#pragma once

#include "common/StandinFixture.h"

#include <QFile>
#include <QProcessEnvironment>

#include <optional>

// The environment that points culvane-run at a benchmark's stand-in: the sample registry copied into the
// stand-in's folder, the stand-in's odbcinst.ini and that folder as HOME. Nothing when the copy fails.
inline std::optional<QProcessEnvironment> culvaneRunEnvironment(const StandinFixture& standin)
{
    const QString registry = standin.folder() + QStringLiteral("/HKLM.reg");
    if (!QFile::copy(QStringLiteral(CULVANE_SOURCE_DIR "/standin/HKLM-sample.reg"), registry))
        return std::nullopt;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CULVANE_REGISTRY"), registry);
    environment.insert(QStringLiteral("ODBCSYSINI"), qEnvironmentVariable("ODBCSYSINI"));
    environment.insert(QStringLiteral("HOME"), standin.folder());
    return environment;
}
