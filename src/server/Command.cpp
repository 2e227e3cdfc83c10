#include "server/Command.h"

#include "ports/CulvaneError.h"
#include "server/DbConnection.h"

#include <QSqlQuery>
#include <QStringList>

#include <utility>

void Command::setParameter(const QString& name, DataType type, const QVariant& value)
{
    for (Parameter& parameter : m_parameters) {
        if (parameter.name.compare(name, Qt::CaseInsensitive) == 0) {
            parameter.type = type;
            parameter.value = value;
            return;
        }
    }
    m_parameters.append({name, type, value});
}

QString Command::statementText() const
{
    QStringList assignments;
    for (const Parameter& parameter : m_parameters)
        assignments.append(parameter.name + QStringLiteral("=?"));
    QString text = QStringLiteral("EXEC ") + m_procedure;
    if (!assignments.isEmpty())
        text += QLatin1Char(' ') + assignments.join(QStringLiteral(", "));
    return text;
}

void Command::Execute()
{
    if (m_procedure.trimmed().isEmpty())
        raiseError(AdoErrors::NoConnection,
                   QStringLiteral("Command text was not set for the command object."));
    DbConnection connection(m_connection);
    QSqlQuery query(connection.database());
    connection.prepare(query, statementText());
    for (const Parameter& parameter : std::as_const(m_parameters)) {
        QVariant value;
        switch (parameter.type) {
        case adInteger:
            value = parameter.value.isNull() ? QVariant(QMetaType::fromType<int>())
                                             : QVariant(parameter.value.toInt());
            break;
        case adGUID: // passed as its text form; the server converts it to uniqueidentifier
        case adVarChar:
            value = parameter.value.isNull() ? QVariant(QMetaType::fromType<QString>())
                                             : QVariant(parameter.value.toString());
            break;
        }
        query.addBindValue(value);
    }
    if (!query.exec())
        connection.fail(query);
}
