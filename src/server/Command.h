#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

// A stored-procedure call with named parameters, the part of an ADO command the program uses. Execute
// takes the connection for its connection text (see DbConnection), sends "EXEC proc @Name=?, ..." with the
// parameters that were set (the others stay unset, so the procedure sees its defaults) and reads no rows.
class Command {
public:
    enum DataType { adInteger = 3, adGUID = 72, adVarChar = 200 };

    void setActiveConnection(const QString& connection) { m_connection = connection; }
    void setCommandText(const QString& procedure) { m_procedure = procedure; }
    // Parameter names carry their "@". Setting a name again replaces its value.
    void setParameter(const QString& name, DataType type, const QVariant& value);
    // Raises CulvaneError on failure.
    void Execute();

    // The statement Execute sends, before any dialect adaptation.
    QString statementText() const;

private:
    struct Parameter {
        QString name;
        DataType type;
        QVariant value;
    };
    QString m_connection;
    QString m_procedure;
    QVector<Parameter> m_parameters;
};
