#pragma once

#include <QString>

// Looks the tool up in the maker's download list and compares the version published there with its own.
namespace modUpdateCheck {

// The maker's tools site as host with an optional port: CULVANE_TOOLS_SITE when set (a test server, a
// mirror), else the maker's own.
QString ToolsSiteHost();
// "http://" + the tools site host; the messages name it as the place to look for updates.
QString ToolsSiteAddress();
// The tool's home page on the tools site, passed to both checks by the first page.
QString ApplicationHomePage();
// The one download list the tools site publishes for all its tools.
QString DownloadListAddress();
// The program's own major, minor and revision numbers joined by "." (4.0.23).
QString OwnVersionText();

// Menu entry "Check for updated version": tells the user the outcome and can open the home page.
void checkForUpdatedVersion_Foreground(const QString& strHomePage);
// Start-up: runs test.sh beside the program, if there is an executable one, with the own version and the
// home page address. Never touches the network and never shows anything.
void checkForUpdatedVersion_Background(const QString& strHomePage);

// The version the download list gives for this tool, normalised by PadVersionString, or the empty text.
QString GetPublishedVersion(const QString& strHomePage);
// The whole response body, or the empty text when the address cannot be fetched. Blocks until done.
// The fetch itself is the HTTP module's (urlTextModulePath); without that module nothing can be fetched.
QString GetUrlText(const QString& strUrl);
// The HTTP module beside the program's executable.
QString urlTextModulePath();
// Every "."-separated part formatted with the number pattern "0###"; texts under 4 characters give the
// empty text, and so does one without any "." (after an error message).
QString PadVersionString(const QString& strVersion);
// Two PadVersionString results compared part by part as whole numbers (a missing part counts as 0):
// negative, zero or positive as the first is older, the same or newer.
int CompareVersions(const QString& strFirst, const QString& strSecond);

} // namespace modUpdateCheck
