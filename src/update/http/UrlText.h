#pragma once

#include <QString>

// The one function of the HTTP module (culvane_http beside the program). The module alone links Qt
// Network, whose libraries (with Kerberos and the proxy library) would otherwise load with every start of
// the program although only the menu's update check uses them.
#define CULVANE_URL_TEXT_FUNCTION "culvaneUrlText"

// The whole response body of a GET of the address, or the empty text when it cannot be fetched; blocks
// until done, serving the network but no user input. (Through a pointer: the function has C linkage.)
using UrlTextFunction = void (*)(const QString& address, QString* text);
