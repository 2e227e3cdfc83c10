#pragma once

#include <QString>

// The program writes its statements for SQL Server. When the connected DBMS is the embedded stand-in
// (SQLite), this adapts the few T-SQL forms it uses: string concatenation with '+', right(x, n), Unicode
// literals N'...' and EXEC proc @Name=?, ... (a stand-in procedure is a view whose INSTEAD OF INSERT trigger
// does its work).
namespace SqlDialect {

enum class Dbms { SqlServer, SQLite };

QString adapt(const QString& statement, Dbms dbms);

} // namespace SqlDialect
