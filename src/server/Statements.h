#pragma once

#include "server/Command.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

// Every fixed statement and fragment the program sends to OrvaneDb, word for word (blanks included), and
// the assembly of each statement from them. Values go between the apostrophes unchanged unless a builder
// says otherwise. A literal that carries a value is a Unicode literal, N'...': a plain one holds only the
// server's code page, so a name outside it would compare as question marks. The stand-in's dialect turns
// them back into plain literals.
namespace Statements {

// The one connection text of the program.
inline const QString ConnectionText = QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb");
// On a workstation whose administrator has defined the data source OrvaneDb (host, port, TDS version and
// sign-in), the program connects through it instead; modOrvaneDB::ChooseConnectionString decides.
inline const QString DataSourceName = QStringLiteral("OrvaneDb");
inline const QString DataSourceConnectionText = QStringLiteral("DSN=OrvaneDb;database=OrvaneDb");

// The two recordsets kept open from start-up on.
inline const QString DistributionListsStatement =
    QStringLiteral("Select * from vw_DistributionList order by SystemDListObjectID");
inline const QString CosStatement = QStringLiteral("Select * from vw_COS order by TextName ASC");

// What the server says of the program's own session, asked once after signing in (SignInReport). Only a
// SQL Server has them; the stand-in file is never asked, so they are not among the samples below.
inline const QString SignedInLoginStatement = QStringLiteral("SELECT SUSER_SNAME()");
inline const QString SignedInConnectionStatement = QStringLiteral(
    "SELECT auth_scheme, encrypt_option FROM sys.dm_exec_connections WHERE session_id = @@SPID");

// Criteria lists of the selection page (Q1 to Q4).
inline const QString ArchivedCountStatement = QStringLiteral(
    "SELECT count(*) from vw_subscriber where subscribertype=0 and callhandlerobjectid IS NOT NULL");
inline const QString MailServersStatement =
    QStringLiteral("select homeserver from subscriber where homeserver is not null group by homeserver");
inline const QString LocationsStatement =
    QStringLiteral("select TextName, LocationObjectID from vw_Location where DestinationType IN (5,7,8,9)");
inline const QString NetworkNodesStatement =
    QStringLiteral("SELECT RemoteNodeID from vw_Subscriber WHERE RemoteNodeID IS NOT NULL GROUP BY "
                   "RemoteNodeID ORDER BY RemoteNodeID");

// Subscriber queries by criterion.
inline const QString TypeFilter = QStringLiteral("WHERE vw_Subscriber.SubscriberType IN (1,2,3,5,7,8,9)");
inline const QString SelectA = QStringLiteral(
    "SELECT vw_subscriber.Alias, vw_subscriber.DisplayName, vw_subscriber.FirstName, vw_subscriber.LastName, "
    "vw_CallHandler.DTMFAccessID AS 'Extension', vw_Subscriber.HomeServer, vw_Cos.TextName AS 'COS', "
    "vw_Subscriber.SubscriberObjectID, vw_CallHandler.CallHandlerObjectID, vw_Subscriber.RemoteNodeID, "
    "vw_Subscriber.LegacyMailbox FROM vw_Subscriber INNER JOIN vw_CallHandler ON "
    "vw_Subscriber.CallHandlerObjectID=vw_CallHandler.CallHandlerObjectID LEFT OUTER JOIN vw_COS ON "
    "vw_Subscriber.CosObjectId=vw_COS.CosObjectID ");
inline const QString SelectC = QStringLiteral(
    "SELECT vw_subscriber.Alias, vw_subscriber.DisplayName, vw_subscriber.FirstName, vw_subscriber.LastName, "
    "vw_CallHandler.DTMFAccessID AS 'Extension', vw_Subscriber.HomeServer, vw_Cos.TextName AS 'COS', "
    "vw_Subscriber.SubscriberObjectID, vw_CallHandler.CallHandlerObjectID, vw_Subscriber.RemoteNodeID, "
    "vw_Subscriber.LegacyMailbox FROM vw_Subscriber INNER JOIN vw_CallHandler ON "
    "vw_Subscriber.CallHandlerObjectID=vw_CallHandler.CallHandlerObjectID LEFT OUTER JOIN vw_COS ON "
    "vw_Subscriber.CosObjectId = vw_COS.CosObjectID ");
inline const QString SelectD = QStringLiteral(
    "SELECT vw_subscriber.Alias, vw_subscriber.DisplayName, vw_subscriber.FirstName, vw_subscriber.LastName, "
    "vw_CallHandler.DTMFAccessID AS 'Extension', vw_Subscriber.HomeServer, vw_Cos.TextName AS 'COS', "
    "vw_Subscriber.SubscriberObjectID, vw_CallHandler.CallHandlerObjectID, vw_Subscriber.RemoteNodeID, "
    "vw_Subscriber.LegacyMailbox FROM vw_Subscriber INNER JOIN vw_CallHandler ON "
    "vw_Subscriber.CallHandlerObjectID=vw_CallHandler.CallHandlerObjectID LEFT OUTER JOIN vw_COS ON "
    "vw_Subscriber.CosObjectId=vw_COS.CosObjectID WHERE vw_Subscriber.SubscriberObjectID=N'");
inline const QString ArchivedStatement = QStringLiteral(
    "SELECT vw_subscriber.Alias, vw_subscriber.DisplayName, vw_subscriber.FirstName, vw_subscriber.LastName, "
    "vw_CallHandler.DTMFAccessID AS 'Extension', vw_Subscriber.HomeServer, vw_Cos.TextName AS 'COS', "
    "vw_Subscriber.SubscriberObjectID, vw_CallHandler.CallHandlerObjectID, vw_Subscriber.RemoteNodeID, "
    "vw_Subscriber.LegacyMailbox FROM vw_Subscriber INNER JOIN vw_CallHandler ON "
    "vw_Subscriber.CallHandlerObjectID=vw_CallHandler.CallHandlerObjectID LEFT OUTER JOIN vw_COS ON "
    "vw_Subscriber.CosObjectId=vw_COS.CosObjectID WHERE vw_subscriber.SubscriberType=0 AND "
    "vw_subscriber.CallHandlerObjectID IS NOT NULL ORDER BY vw_Subscriber.Alias");
inline const QString S1 = QStringLiteral("SELECT vw_subscriber.Alias, vw_subscriber.DisplayName, "
                                         "vw_subscriber.FirstName, vw_subscriber.LastName, ");
inline const QString S2 = QStringLiteral(
    "vw_Subscriber.DTMFAccessID AS 'Extension', vw_Subscriber.HomeServer, vw_Cos.TextName AS 'COS', ");
inline const QString S3 = QStringLiteral(
    "vw_Subscriber.SubscriberObjectID, vw_Subscriber.CallHandlerObjectID, vw_Subscriber.RemoteNodeID, ");
inline const QString S4 = QStringLiteral("vw_Subscriber.LegacyMailbox ");
inline const QString S5 =
    QStringLiteral("FROM vw_Subscriber INNER JOIN vw_COS ON vw_Subscriber.CosObjectId=vw_COS.CosObjectID ");
inline const QString R1 = QStringLiteral("SELECT DISTINCT vw_Subscriber.SubscriberObjectID ");
inline const QString R2 = QStringLiteral("FROM vw_Subscriber INNER JOIN vw_DTMFAccessID ");
inline const QString R3 =
    QStringLiteral("ON vw_Subscriber.SubscriberObjectID=vw_DTMFAccessID.ParentObjectID ");
inline const QString R4 =
    QStringLiteral("AND right('00000000000000000000' + vw_dtmfaccessid.DtmfAccessId,20) between N'");
inline const QString R5 = QStringLiteral(" ' and N'");
// Endings.
inline const QString QuotedOrderByAlias = QStringLiteral("' ORDER BY vw_Subscriber.Alias");
inline const QString OrderByAlias = QStringLiteral(" ORDER BY vw_Subscriber.Alias");
inline const QString SwitchOrderByAlias = QStringLiteral(" ORDER By vw_Subscriber.Alias");
inline const QString Apostrophe = QStringLiteral("'");
// Conditions the criteria add after the type filter.
inline const QString CosCondition = QStringLiteral(" AND vw_cos.COSObjectID=N'");
inline const QString HomeServerCondition = QStringLiteral(" AND vw_subscriber.HomeServer=N'");
inline const QString LocationCondition = QStringLiteral(" AND vw_subscriber.LocationObjectID=N'");
inline const QString RemoteNodeCondition = QStringLiteral(" AND vw_subscriber.RemoteNodeID=N'");
inline const QString And = QStringLiteral(" AND ");
inline const QString UnassignedSwitchCondition = QStringLiteral("(SwitchID IS NULL or SwitchID=0)");
inline const QString SwitchCondition = QStringLiteral("SwitchID=");
inline const QString ExtensionPadding = QStringLiteral("00000000000000000000");

// CSV look-ups; the value follows the stem and CsvClosing ends the statement.
inline const QString CsvByExtensionStem = QStringLiteral(
    "SELECT vw_subscriber.Alias, vw_subscriber.DisplayName, vw_subscriber.FirstName, vw_subscriber.LastName, "
    "vw_DTMFAccessID.DTMFAccessID, vw_Subscriber.HomeServer, vw_Cos.TextName AS 'COS', "
    "vw_Subscriber.SubscriberObjectID, vw_subscriber.CallHandlerObjectID, vw_Subscriber.RemoteNodeID, "
    "vw_Subscriber.LegacyMailbox FROM vw_Subscriber INNER JOIN vw_DTMFAccessID ON "
    "vw_Subscriber.SubscriberObjectID=vw_DTMFAccessID.ParentObjectID LEFT OUTER JOIN vw_COS ON "
    "vw_Subscriber.CosObjectId = vw_COS.CosObjectID WHERE vw_Subscriber.SubscriberType IN (0,1,2,3,5,7,8,9) "
    "AND "
    "vw_DTMFAccessID.DTMFAccessID=N'");
inline const QString CsvByAliasStem = QStringLiteral(
    "SELECT vw_subscriber.Alias, vw_subscriber.DisplayName, vw_subscriber.FirstName, vw_subscriber.LastName, "
    "vw_CallHandler.DTMFAccessID AS 'Extension', vw_Subscriber.HomeServer, vw_Cos.TextName AS 'COS', "
    "vw_Subscriber.SubscriberObjectID, vw_CallHandler.CallHandlerObjectID, vw_Subscriber.RemoteNodeID, "
    "vw_Subscriber.LegacyMailbox FROM vw_Subscriber INNER JOIN vw_CallHandler ON "
    "vw_Subscriber.CallHandlerObjectID=vw_CallHandler.CallHandlerObjectID LEFT OUTER JOIN vw_COS ON "
    "vw_Subscriber.CosObjectId=vw_COS.CosObjectID WHERE vw_Subscriber.SubscriberType IN (0,1,2,3,5,7,8,9) "
    "AND "
    "vw_subscriber.Alias=N'");
inline const QString CsvClosing = QStringLiteral("' ORDER BY vw_Subscriber.Alias");

// Deletion request.
inline const QString DeleteSubscriberProcedure = QStringLiteral("sp_DeleteSubscriber");
inline const QString SubscriberObjectIDParameter = QStringLiteral("@SubscriberObjectID");
inline const QString DirectorySyncParameter = QStringLiteral("@DirectorySync");
inline const QString DirectorySyncFlagsParameter = QStringLiteral("@DirectorySyncFlags");
inline const QString ForceRemoveParameter = QStringLiteral("@ForceRemove");
inline const QString ForceRemoveEAdminParameter = QStringLiteral("@ForceRemoveEAdmin");
inline const QString DirectorySyncTicketParameter = QStringLiteral("@DirectorySyncTicket");
constexpr int DirectorySyncFlags = 268435457; // 0x10000001

// Directory sync ticket wait.
inline const QString TicketPollStem = QStringLiteral("SELECT * FROM vw_DirectorySyncTicket WHERE Ticket=N'");
inline const QString TicketsPollStem =
    QStringLiteral("SELECT * FROM vw_DirectorySyncTicket WHERE Ticket IN (");
inline const QString DeleteTicketProcedure = QStringLiteral("sp_DeleteDirectorySyncTicket");
inline const QString TicketParameter = QStringLiteral("@Ticket");

// --- Assembled statements ------------------------------------------------------------------------------

QString allSubscribers();                                                  // criterion 1
QString archivedSubscribers();                                             // criterion 10
QString padExtension(const QString& typed);                                // "12" -> "00000000000000000012"
QString extensionRange(const QString& lowTyped, const QString& highTyped); // criterion 2, pads both
QString subscriberDetail(const QString& subscriberObjectId);               // criterion 2, one per subscriber
// A value with every apostrophe doubled, so that it stays one SQL text literal.
QString quoted(const QString& value);
// The next four double the apostrophes of their value: a home server or node named o'neil-mx is a name,
// not the end of the literal.
QString classOfService(const QString& cosObjectId); // criterion 7
QString switchCondition(std::int16_t integrationId);
QString bySwitch(std::int16_t integrationId);      // criterion 4
QString homeServer(const QString& server);         // criterion 5
QString location(const QString& locationObjectId); // criterion 8
QString remoteNode(const QString& node);           // criterion 9
QString csvByExtension(const QString& extension);
QString csvByAlias(const QString& aliasWithQuotesDoubled);
QString ticketPoll(const QString& ticket);
// Every ticket in one statement; one ticket alone is polled as ticketPoll polls it.
QString ticketsPoll(const QStringList& tickets);

// The deletion request for one subscriber; @ForceRemoveEAdmin only when asked for (servers from 5.0(0.0)).
Command deleteSubscriberCommand(const QString& connection, const QString& subscriberObjectId,
                                bool forceRemove, bool setForceRemoveEAdmin, const QString& ticket);
Command deleteTicketCommand(const QString& connection, const QString& ticket);

// --- Every statement the program sends, with sample values ----------------------------------------------
// A statement the program starts to send belongs here too: test_statements opens every one through the
// real driver on a generated stand-in, so a form the stand-in's dialect cannot carry shows up there.

struct SampleValues {
    // Defaults name objects every stand-in made by standin/new-orvanedb with 300 or more subscribers holds:
    // subscriber 13 (alias user00013, extensions 401 and 99000013), class of service StandardUsersEast,
    // location O'Hare Site, networking node 101, subscriber 38 (alias o'brien38).
    QString subscriberObjectId = QStringLiteral("{08D12DFD-5B5C-400D-8000-00000000000D}");
    QString extension = QStringLiteral("401");
    QString secondExtension = QStringLiteral("99000013");
    QString rangeLow = QStringLiteral("100");
    QString rangeHigh = QStringLiteral("999");
    QString cosObjectId = QStringLiteral("{DAA66D13-C050-4003-8000-000000000003}");
    std::int16_t switchId = 2;
    QString homeServer = QStringLiteral("MAILSRV02");
    QString locationObjectId = QStringLiteral("{538453D7-10CA-4007-8000-000000000007}");
    QString remoteNode = QStringLiteral("101");
    QString alias = QStringLiteral("o'brien38");
    QString ticket = QStringLiteral("{6F1C0D2E-9A41-4B7E-8C55-0123456789AB}");
    QString secondTicket = QStringLiteral("{0B7E4A19-3C2D-4F5E-9A6B-7C8D9E0F1A2B}");
};

struct SampleStatement {
    enum Kind {
        SharedList,     // Select * of a view
        CriterionList,  // one of Q1 to Q4
        SubscriberRows, // the eleven subscriber columns
        SubscriberIds,  // the range statement: SubscriberObjectID only
        ExtensionRows,  // the CSV look-up by extension: as SubscriberRows with DTMFAccessID for Extension
        TicketRows,     // the ticket poll
    };
    QString name;
    QString text;
    Kind kind;
};

QVector<SampleStatement> sampleStatements(const SampleValues& values = SampleValues());
// The two procedure calls, on the given connection text.
QVector<Command> sampleProcedureCalls(const QString& connection, const SampleValues& values = SampleValues());

} // namespace Statements
