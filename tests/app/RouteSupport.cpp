#include "RouteSupport.h"

#include "common/RegFile.h"

#include <QFile>

QString freeTdsLibrary()
{
    for (const QString& folder :
         {QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc"), QStringLiteral("/usr/lib/aarch64-linux-gnu/odbc"),
          QStringLiteral("/usr/lib/odbc"), QStringLiteral("/usr/lib64")}) {
        if (QFile::exists(folder + QStringLiteral("/libtdsodbc.so")))
            return folder + QStringLiteral("/libtdsodbc.so");
    }
    return QStringLiteral("libtdsodbc.so");
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

void writeServer(RegFile& reg)
{
    reg.currentVersion(5, 0, 1, 33);
    reg.key(QStringLiteral("SOFTWARE\\Velcor\\SystemParameters\\1.0"))
        .sz(QStringLiteral("IDCProgID"), QStringLiteral("VCDsExchange.VcIDCExchange.1"));
    reg.key(QStringLiteral("Software\\Velcor\\PermissionsWizard\\1.0"))
        .dword(QStringLiteral("Restricted Rights"), 0);
    reg.key(QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations\\Main PBX"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("Main PBX"))
        .dword(QStringLiteral("IntegrationID"), 1);
    reg.save();
}

QString confirmOrvane(int checked)
{
    return QStringLiteral(
               "Are you sure you want to remove the selected subscribers from the Orvane database and clean "
               "all Orvane properties from their Active Directory accounts?  Press YES to continue the "
               "removal process or NO to abort.\n\nSubscribers that will be deleted: ") +
           QString::number(checked);
}

QString closingMessage(int processed, int errors)
{
    return QStringLiteral(
               "Subscriber deletion process complete, removed %1 subscribers.  %2 error(s) "
               "encountered.  It's HIGHLY recommended that you run the latest version of Ketrim to "
               "check for any database inconsistencies at this point.  Press OK to view the output "
               "log now.")
        .arg(processed)
        .arg(errors);
}
