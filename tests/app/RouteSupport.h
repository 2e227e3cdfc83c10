#pragma once

#include <QByteArray>
#include <QString>

class RegFile;

// What the production route's tests share: FreeTDS's driver, a normal server's registry and the deletion
// page's texts.

// FreeTDS's ODBC driver where Debian installs it.
QString freeTdsLibrary();
bool writeFile(const QString& path, const QByteArray& content);
// A normal 5.0 installation with a switch and without restricted rights: the start-up shows no message.
void writeServer(RegFile& reg);
// The deletion page's question before an Orvane-data-only run, and its closing message.
QString confirmOrvane(int checked);
QString closingMessage(int processed, int errors);
