#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>

// The part of an ADO recordset the program uses. Open runs the statement on the connection for the
// connection text (see DbConnection) and keeps the rows; Close releases them. Failures raise CulvaneError
// with the driver's native error number and message.
class Recordset {
public:
    enum CursorLocation { adUseServer = 2, adUseClient = 3 };
    enum CursorType { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
    enum LockType { adLockReadOnly = 1 };
    enum State { adStateClosed = 0, adStateOpen = 1 };
    enum SearchDirection { adSearchForward = 1, adSearchBackward = -1 };
    static constexpr int adCmdUnspecified = -1;

    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    void setCursorLocation(CursorLocation location);
    CursorLocation cursorLocation() const;

    void Open(const QString& source, const QString& connection, CursorType cursorType = adOpenForwardOnly,
              LockType lockType = adLockReadOnly, int options = adCmdUnspecified);
    void Close(); // raises when not open, as ADO does
    State state() const;
    bool isOpen() const { return state() == adStateOpen; }

    int RecordCount() const;
    bool EOF_() const;
    bool BOF_() const;
    // Both raise 3021 when there is no record to move to (MoveFirst on an empty recordset, MoveNext at EOF).
    void MoveFirst();
    void MoveNext();
    // Criteria of the form  Column='value'  (or Column=number); moves to the first match at or after the
    // current row (after skipping `skipRecords`), or to EOF.
    void Find(const QString& criteria, int skipRecords = 0, SearchDirection direction = adSearchForward);

    // Field of the current row by name, ignoring case. Raises when the column does not exist or the
    // recordset is at BOF/EOF.
    QVariant field(const QString& name) const;
    // The field as text; a NULL raises 94 "Invalid use of Null", as assigning it to a string would.
    QString fieldText(const QString& name) const;
    QStringList fieldNames() const;

    // A uniqueidentifier field's value as ADO renders it: its braced upper-case text,
    // {81AF14C1-5B5C-400D-8000-00000000000D}. A NULL, or a text that is no GUID, stays as it is.
    static QVariant guidValue(const QVariant& value);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
