#include "server/Statements.h"

namespace Statements {

QString quoted(const QString& value)
{
    QString doubled = value;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return doubled;
}

QString allSubscribers()
{
    return SelectA + TypeFilter + OrderByAlias;
}

QString archivedSubscribers()
{
    return ArchivedStatement;
}

QString padExtension(const QString& typed)
{
    return (ExtensionPadding + typed).right(ExtensionPadding.size());
}

QString extensionRange(const QString& lowTyped, const QString& highTyped)
{
    return R1 + R2 + R3 + TypeFilter + R4 + padExtension(lowTyped) + R5 + padExtension(highTyped) +
           Apostrophe;
}

QString subscriberDetail(const QString& subscriberObjectId)
{
    return SelectD + subscriberObjectId + Apostrophe;
}

QString classOfService(const QString& cosObjectId)
{
    return SelectC + TypeFilter + CosCondition + quoted(cosObjectId) + QuotedOrderByAlias;
}

QString switchCondition(std::int16_t integrationId)
{
    return integrationId == 0 ? UnassignedSwitchCondition : SwitchCondition + QString::number(integrationId);
}

QString bySwitch(std::int16_t integrationId)
{
    return S1 + S2 + S3 + S4 + S5 + TypeFilter + And + switchCondition(integrationId) + SwitchOrderByAlias;
}

QString homeServer(const QString& server)
{
    return SelectC + TypeFilter + HomeServerCondition + quoted(server) + QuotedOrderByAlias;
}

QString location(const QString& locationObjectId)
{
    return SelectC + TypeFilter + LocationCondition + quoted(locationObjectId) + QuotedOrderByAlias;
}

QString remoteNode(const QString& node)
{
    return SelectC + TypeFilter + RemoteNodeCondition + quoted(node) + QuotedOrderByAlias;
}

QString csvByExtension(const QString& extension)
{
    return CsvByExtensionStem + extension + CsvClosing;
}

QString csvByAlias(const QString& aliasWithQuotesDoubled)
{
    return CsvByAliasStem + aliasWithQuotesDoubled + CsvClosing;
}

QString ticketPoll(const QString& ticket)
{
    return TicketPollStem + ticket + Apostrophe;
}

QString ticketsPoll(const QStringList& tickets)
{
    if (tickets.size() == 1)
        return ticketPoll(tickets.constFirst());
    QString text = TicketsPollStem;
    for (qsizetype i = 0; i < tickets.size(); ++i)
        text += (i > 0 ? QStringLiteral(",N'") : QStringLiteral("N'")) + tickets.at(i) + Apostrophe;
    return text + QLatin1Char(')');
}

Command deleteSubscriberCommand(const QString& connection, const QString& subscriberObjectId,
                                bool forceRemove, bool setForceRemoveEAdmin, const QString& ticket)
{
    Command command;
    command.setActiveConnection(connection);
    command.setCommandText(DeleteSubscriberProcedure);
    command.setParameter(SubscriberObjectIDParameter, Command::adGUID, subscriberObjectId);
    command.setParameter(DirectorySyncParameter, Command::adInteger, 1);
    command.setParameter(DirectorySyncFlagsParameter, Command::adInteger, DirectorySyncFlags);
    command.setParameter(ForceRemoveParameter, Command::adInteger, forceRemove ? 1 : 0);
    if (setForceRemoveEAdmin)
        command.setParameter(ForceRemoveEAdminParameter, Command::adInteger, 1);
    command.setParameter(DirectorySyncTicketParameter, Command::adGUID, ticket);
    return command;
}

Command deleteTicketCommand(const QString& connection, const QString& ticket)
{
    Command command;
    command.setActiveConnection(connection);
    command.setCommandText(DeleteTicketProcedure);
    command.setParameter(TicketParameter, Command::adGUID, ticket);
    return command;
}

QVector<SampleStatement> sampleStatements(const SampleValues& values)
{
    using K = SampleStatement;
    QString doubledAlias = values.alias;
    doubledAlias.replace(QLatin1String("'"), QLatin1String("''"));
    return {
        {QStringLiteral("distribution lists"), DistributionListsStatement, K::SharedList},
        {QStringLiteral("classes of service"), CosStatement, K::SharedList},
        {QStringLiteral("archived mailbox count"), ArchivedCountStatement, K::CriterionList},
        {QStringLiteral("mail servers"), MailServersStatement, K::CriterionList},
        {QStringLiteral("locations"), LocationsStatement, K::CriterionList},
        {QStringLiteral("networking nodes"), NetworkNodesStatement, K::CriterionList},
        {QStringLiteral("all subscribers"), allSubscribers(), K::SubscriberRows},
        {QStringLiteral("archived mailboxes"), archivedSubscribers(), K::SubscriberRows},
        {QStringLiteral("extension range"), extensionRange(values.rangeLow, values.rangeHigh),
         K::SubscriberIds},
        {QStringLiteral("extension range of one"), extensionRange(values.extension, values.extension),
         K::SubscriberIds},
        {QStringLiteral("subscriber detail"), subscriberDetail(values.subscriberObjectId), K::SubscriberRows},
        {QStringLiteral("class of service"), classOfService(values.cosObjectId), K::SubscriberRows},
        {QStringLiteral("switch"), bySwitch(values.switchId), K::SubscriberRows},
        {QStringLiteral("switch 0"), bySwitch(0), K::SubscriberRows},
        {QStringLiteral("mail server"), homeServer(values.homeServer), K::SubscriberRows},
        {QStringLiteral("location"), location(values.locationObjectId), K::SubscriberRows},
        {QStringLiteral("networking node"), remoteNode(values.remoteNode), K::SubscriberRows},
        {QStringLiteral("CSV extension"), csvByExtension(values.extension), K::ExtensionRows},
        {QStringLiteral("CSV second extension"), csvByExtension(values.secondExtension), K::ExtensionRows},
        {QStringLiteral("CSV alias"), csvByAlias(doubledAlias), K::SubscriberRows},
        {QStringLiteral("ticket poll"), ticketPoll(values.ticket), K::TicketRows},
        {QStringLiteral("tickets in flight poll"), ticketsPoll({values.ticket, values.secondTicket}),
         K::TicketRows},
    };
}

QVector<Command> sampleProcedureCalls(const QString& connection, const SampleValues& values)
{
    return {deleteSubscriberCommand(connection, values.subscriberObjectId, false, true, values.ticket),
            deleteTicketCommand(connection, values.ticket)};
}

} // namespace Statements
