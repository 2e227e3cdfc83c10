#include "server/Recordset.h"

#include "ports/CulvaneError.h"
#include "server/DbConnection.h"

#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include <algorithm>

#include <sql.h>
#include <sqlext.h>

struct Recordset::Impl {
    CursorLocation location = adUseServer;
    QStringList names;
    QVector<QVector<QVariant>> rows;
    int position = 0; // -1 is BOF, rows.size() is EOF
    bool open = false;

    void requireOpen() const
    {
        if (!open)
            raiseError(AdoErrors::ObjectClosed,
                       QStringLiteral("Operation is not allowed when the object is closed."));
    }
    void requireCurrent() const
    {
        requireOpen();
        if (position < 0 || position >= rows.size())
            raiseError(AdoErrors::NoCurrentRecord,
                       QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. "
                                      "Requested operation requires a current record."));
    }
    int column(const QString& name) const
    {
        // Callers mostly spell a name as the statement does; the exact match is much the cheaper test.
        int index = static_cast<int>(names.indexOf(name));
        for (int i = 0; i < names.size() && index < 0; ++i) {
            if (names.at(i).compare(name, Qt::CaseInsensitive) == 0)
                index = i;
        }
        if (index < 0)
            raiseError(AdoErrors::ItemNotFound,
                       QStringLiteral("Item cannot be found in the collection corresponding to the requested "
                                      "name or ordinal."));
        return index;
    }
};

namespace {

[[noreturn]] void raiseWrongArguments()
{
    raiseError(AdoErrors::WrongArguments,
               QStringLiteral("Arguments are of the wrong type, are out of acceptable "
                              "range, or are in conflict with one another."));
}

// A Find criterion: Column='text' ('' inside the text is one apostrophe) or Column=number.
struct Criterion {
    QString column;
    QString text;
    bool isText = true;
    double number = 0;
};

Criterion parseCriterion(const QString& criteria)
{
    const int equals = criteria.indexOf(QLatin1Char('='));
    if (equals <= 0)
        raiseWrongArguments();
    Criterion criterion;
    criterion.column = criteria.left(equals).trimmed();
    if (criterion.column.startsWith(QLatin1Char('[')) && criterion.column.endsWith(QLatin1Char(']')))
        criterion.column = criterion.column.mid(1, criterion.column.size() - 2);
    const QString value = criteria.mid(equals + 1).trimmed();
    if (criterion.column.isEmpty() || value.isEmpty())
        raiseWrongArguments();
    if (value.startsWith(QLatin1Char('\''))) {
        if (value.size() < 2 || !value.endsWith(QLatin1Char('\'')))
            raiseWrongArguments();
        // Everything between the outer apostrophes; a lone apostrophe inside is kept as it is.
        criterion.text = value.mid(1, value.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
        return criterion;
    }
    bool ok = false;
    criterion.number = value.toDouble(&ok);
    if (!ok)
        raiseWrongArguments();
    criterion.isText = false;
    return criterion;
}

bool matches(const QVariant& field, const Criterion& criterion)
{
    if (field.isNull())
        return false;
    if (criterion.isText)
        return field.toString().compare(criterion.text, Qt::CaseInsensitive) == 0;
    bool ok = false;
    const double value = field.toString().trimmed().toDouble(&ok);
    return ok && value == criterion.number;
}

} // namespace

Recordset::Recordset() : d(std::make_unique<Impl>()) {}

Recordset::~Recordset() = default;

void Recordset::setCursorLocation(CursorLocation location)
{
    d->location = location;
}

Recordset::CursorLocation Recordset::cursorLocation() const
{
    return d->location;
}

void Recordset::Open(const QString& source, const QString& connection, CursorType, LockType, int)
{
    if (d->open)
        raiseError(AdoErrors::ObjectOpen,
                   QStringLiteral("Operation is not allowed when the object is open."));
    // The rows are read here and the connection goes back at once: an open recordset holds no connection
    // and no lock, so the recordsets kept open for the program's life never stand in another's way.
    DbConnection db(connection);
    QStringList names;
    QVector<QVector<QVariant>> rows;
    bool returnsRows = false;
    {
        QSqlQuery query(db.database());
        query.setForwardOnly(true);
        db.execute(query, source);
        returnsRows = query.isSelect();
        if (returnsRows) {
            const QSqlRecord record = query.record();
            // QODBC hands a uniqueidentifier over as the driver's text, which has no braces.
            QVector<bool> guid;
            for (int i = 0; i < record.count(); ++i) {
                names.append(record.fieldName(i));
                guid.append(record.field(i).typeID() == SQL_GUID);
            }
            const bool anyGuid = guid.contains(true);
            while (query.next()) {
                QVector<QVariant> row;
                row.reserve(names.size());
                for (int i = 0; i < names.size(); ++i)
                    row.append(anyGuid && guid.at(i) ? guidValue(query.value(i)) : query.value(i));
                rows.append(std::move(row));
            }
            if (query.lastError().type() != QSqlError::NoError)
                db.fail(query);
        }
    }
    // A statement without rows leaves the recordset closed, as ADO does.
    if (!returnsRows)
        return;
    d->names = std::move(names);
    d->rows = std::move(rows);
    d->position = 0;
    d->open = true;
}

void Recordset::Close()
{
    d->requireOpen();
    d->open = false;
    d->rows.clear();
    d->names.clear();
    d->position = 0;
}

Recordset::State Recordset::state() const
{
    return d->open ? adStateOpen : adStateClosed;
}

int Recordset::RecordCount() const
{
    d->requireOpen();
    return d->rows.size();
}

bool Recordset::EOF_() const
{
    d->requireOpen();
    return d->position >= d->rows.size();
}

bool Recordset::BOF_() const
{
    d->requireOpen();
    return d->position < 0 || d->rows.isEmpty();
}

void Recordset::MoveFirst()
{
    d->requireOpen();
    if (d->rows.isEmpty())
        d->requireCurrent(); // an empty recordset has no first record
    d->position = 0;
}

void Recordset::MoveNext()
{
    d->requireOpen();
    if (d->position >= d->rows.size())
        d->requireCurrent();
    ++d->position;
}

void Recordset::Find(const QString& criteria, int skipRecords, SearchDirection direction)
{
    d->requireOpen();
    const Criterion criterion = parseCriterion(criteria);
    const int column = d->column(criterion.column);
    const int count = d->rows.size();
    if (direction == adSearchBackward) {
        for (int i = std::min(d->position, count - 1) - skipRecords; i >= 0; --i) {
            if (matches(d->rows.at(i).at(column), criterion)) {
                d->position = i;
                return;
            }
        }
        d->position = -1;
        return;
    }
    for (int i = std::max(d->position, 0) + skipRecords; i < count; ++i) {
        if (matches(d->rows.at(i).at(column), criterion)) {
            d->position = i;
            return;
        }
    }
    d->position = count;
}

QVariant Recordset::field(const QString& name) const
{
    d->requireOpen();
    const int column = d->column(name);
    d->requireCurrent();
    return d->rows.at(d->position).at(column);
}

QString Recordset::fieldText(const QString& name) const
{
    const QVariant value = field(name);
    if (value.isNull())
        raiseError(ErrorNumbers::InvalidUseOfNull, QStringLiteral("Invalid use of Null"));
    return value.toString();
}

QStringList Recordset::fieldNames() const
{
    d->requireOpen();
    return d->names;
}

QVariant Recordset::guidValue(const QVariant& value)
{
    if (value.isNull())
        return value;
    const QString text = value.toString().trimmed();
    const QUuid uuid = QUuid::fromString(text);
    // The nil GUID reads as a null QUuid too, as does a text that is no GUID.
    if (uuid.isNull() && text != QUuid().toString(QUuid::WithoutBraces) &&
        text != QUuid().toString(QUuid::WithBraces))
        return value;
    return uuid.toString(QUuid::WithBraces).toUpper();
}
