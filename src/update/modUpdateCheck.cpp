#include "update/modUpdateCheck.h"

#include "localize/modLocalize.h"
#include "ports/ErrorReport.h"
#include "ports/MsgBox.h"
#include "ports/Ports.h"

#include "update/http/UrlText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace modUpdateCheck {
namespace {
const QString kDefaultToolsSite = QStringLiteral("tools.marvok.example");
const QString kHomePagePath = QStringLiteral("/Applications/Orvane/Culvane403/Culvane403.html");
const QString kDownloadListPath = QStringLiteral("/SiteList/AllDownloads/AllDownloads.XML");
const QString kCell = QStringLiteral("<cell>");

const QString kUnableToContact =
    QStringLiteral("Unable to contact application home page to check for version.  You can access the home "
                   "page and check for updated versions of all Marvok Orvane tools by going to ");
const QString kUpToDate = QStringLiteral("You have the most up to date version of this tool installed");
const QString kUpdateTitle = QStringLiteral("Updated version is available");

// The browser is whatever the desktop opens an address with.
const QString kOpenAddressProgram = QStringLiteral("xdg-open");

bool isDigits(const QString& text)
{
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// One part through the pattern "0###": the "#" places show a digit or nothing and the "0" place a digit or
// a zero, so a part of fewer than four digits gets one leading zero (23 -> "023", 100 -> "0100") and zero
// shows as "0".
QString formatPart(const QString& part)
{
    if (!isDigits(part))
        raiseError(ErrorNumbers::TypeMismatch, QStringLiteral("Type mismatch"));
    QString digits = part;
    while (digits.startsWith(QLatin1Char('0')))
        digits.remove(0, 1);
    return digits.size() < 4 ? QLatin1Char('0') + digits : digits;
}

// The digits of a part without leading zeros, so that length and then text order is number order at any
// length.
QString significantDigits(const QString& part)
{
    qsizetype first = 0;
    while (first < part.size() && part.at(first) == QLatin1Char('0'))
        ++first;
    return part.mid(first);
}

void openHomePage(const QString& strHomePage)
{
    if (!Launcher::start(kOpenAddressProgram, {strHomePage}))
        raiseError(ErrorNumbers::FileNotFound, QStringLiteral("File not found: ") + kOpenAddressProgram);
}
} // namespace

QString ToolsSiteHost()
{
    QString site = qEnvironmentVariable("CULVANE_TOOLS_SITE").trimmed();
    // Forgive an address written out in full: the setting names the site, not a page on it.
    if (site.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        site.remove(0, 7);
    while (site.endsWith(QLatin1Char('/')))
        site.chop(1);
    return site.isEmpty() ? kDefaultToolsSite : site;
}

QString ToolsSiteAddress()
{
    return QStringLiteral("http://") + ToolsSiteHost();
}

QString ApplicationHomePage()
{
    return ToolsSiteAddress() + kHomePagePath;
}

QString DownloadListAddress()
{
    return ToolsSiteAddress() + kDownloadListPath;
}

QString OwnVersionText()
{
    return QStringLiteral("%1.%2.%3")
        .arg(CULVANE_VERSION_MAJOR)
        .arg(CULVANE_VERSION_MINOR)
        .arg(CULVANE_VERSION_REVISION);
}

QString GetUrlText(const QString& strUrl)
{
    const QString module = urlTextModulePath();
    QLibrary library(module);
    const auto urlText = reinterpret_cast<UrlTextFunction>(library.resolve(CULVANE_URL_TEXT_FUNCTION));
    if (urlText == nullptr) {
        std::fprintf(stderr, "Culvane: cannot check for updates without %s: %s\n",
                     qPrintable(QDir::toNativeSeparators(module)), qPrintable(library.errorString()));
        return QString();
    }
    QString text;
    urlText(strUrl, &text);
    return text;
}

QString urlTextModulePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/culvane_http.so");
}

QString PadVersionString(const QString& strVersion)
{
    const ErrorReport report =
        ErrorReport::fixed(QStringLiteral("(error):"),
                           QStringLiteral(") in procedure PadVersionString of Module modUpdateCheck"));
    if (strVersion.size() < 4)
        return QString();
    QString padded;
    report.step([&] {
        if (!strVersion.contains(QLatin1Char('.')))
            raiseError(ErrorNumbers::SubscriptOutOfRange, QStringLiteral("Subscript out of range"));
        QStringList parts;
        for (const QString& part : strVersion.split(QLatin1Char('.')))
            parts.append(formatPart(part));
        padded = parts.join(QLatin1Char('.'));
    });
    return padded;
}

int CompareVersions(const QString& strFirst, const QString& strSecond)
{
    // The pattern pads parts of different lengths to different widths ("023" against "0100"), so the
    // texts themselves do not sort like the versions they stand for.
    const QStringList first = strFirst.split(QLatin1Char('.'));
    const QStringList second = strSecond.split(QLatin1Char('.'));
    for (qsizetype i = 0; i < std::max(first.size(), second.size()); ++i) {
        const QString a = significantDigits(i < first.size() ? first.at(i) : QString());
        const QString b = significantDigits(i < second.size() ? second.at(i) : QString());
        if (a.size() != b.size())
            return a.size() < b.size() ? -1 : 1;
        const int order = a.compare(b);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}

QString GetPublishedVersion(const QString& strHomePage)
{
    const QString site = ToolsSiteAddress();
    if (strHomePage.size() < site.size())
        return QString();

    const QString list = GetUrlText(DownloadListAddress());
    if (list.size() < 10)
        return QString();

    const QString key = QLatin1Char('^') + strHomePage.mid(site.size()) + QStringLiteral("^ifram_a");
    const qsizetype keyAt = list.indexOf(key, 0, Qt::CaseInsensitive);
    if (keyAt < 0)
        return QString();
    const qsizetype cellAt = list.indexOf(kCell, keyAt, Qt::CaseInsensitive);
    if (cellAt < 0)
        return QString();

    QString version;
    for (qsizetype i = cellAt + kCell.size(); i < list.size(); ++i) {
        const QChar c = list.at(i);
        if ((c < QLatin1Char('0') || c > QLatin1Char('9')) && c != QLatin1Char('.'))
            break;
        version.append(c);
    }
    return PadVersionString(version);
}

void checkForUpdatedVersion_Foreground(const QString& strHomePage)
{
    const ErrorReport report = ErrorReport::fixed(
        QStringLiteral("Error "),
        QStringLiteral(") in procedure checkForUpdatedVersion_Foreground of Module modUpdateCheck"));

    QString published;
    report.step([&] { published = GetPublishedVersion(strHomePage); });
    QString own;
    report.step([&] { own = PadVersionString(OwnVersionText()); });

    if (published.isEmpty()) {
        MsgBox::show(kUnableToContact + ToolsSiteAddress(), MsgBox::vbOKOnly);
        return;
    }
    if (CompareVersions(own, published) >= 0) {
        MsgBox::show(kUpToDate, MsgBox::vbOKOnly);
        return;
    }
    const QString text = QStringLiteral("An updated version of this tool is available on ") +
                         ToolsSiteAddress() +
                         QStringLiteral(".  Click OK to open the application home page now");
    if (MsgBox::showTitled(kUpdateTitle, text, MsgBox::vbOKCancel) == MsgBox::vbOK)
        report.step([&] { openHomePage(strHomePage); });
}

void checkForUpdatedVersion_Background(const QString& strHomePage)
{
    const QString commandFile = modLocalize::programFolder() + QStringLiteral("/test.sh");
    const QFileInfo info(commandFile);
    if (!info.isFile() || !info.isExecutable())
        return;
    Launcher::start(commandFile, {OwnVersionText(), strHomePage});
}

} // namespace modUpdateCheck
