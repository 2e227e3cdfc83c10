#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <vector>

// One subscriber row of the grid. Texts are stored exactly as the producer passed them.
struct SubscriberRow {
    bool Selected = false;
    QString Alias;
    QString DisplayName;
    QString FirstName;
    QString LastName;
    QString Extension;
    QString HomeServer;
    QString COS;
    QString LegacyMailbox;
    QString RemoteNodeID;
    QString HandlerObjectID;
    QString ObjectID;
};

// The subscriber grid `myGrid`: the grid-control calls the selection and deletion pages make, and a Qt
// table model for a QTableView.
//
// Two row numberings meet here:
//  - grid rows (every function taking a qint32 row): row 0 is the header row, subscriber rows are 1..N,
//    Rows() == N + 1. Rows are counted with 32-bit integers throughout.
//  - model rows (QModelIndex::row(), what the view shows): 0..N-1, the header row being the view's header.
// gridRowFromViewRow() / viewRowFromGridRow() are the only places that translate between the two.
// Model columns are the grid's column positions 0..12; the view hides the columns hiddenColumns() names.
//
// Drawing: setRedraw(false) suspends the model's notifications. Rows appended meanwhile are visible to the
// grid calls at once but announced to views only when drawing resumes, as one rowsInserted range (or one
// reset, when the grid was emptied while suspended). rowCount()/data() always match what was announced.
//
// Out-of-range rows or columns given to the grid calls raise CulvaneError 9 "Subscript out of range", the
// way the grid control raises; callers trap it with their ErrorReport.
class SubscriberGridModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column : int {
        ColRowIndex = 0,
        ColSelected = 1,
        ColAlias = 2,
        ColDisplayName = 3,
        ColFirstName = 4,
        ColLastName = 5,
        ColExtension = 6,
        ColHomeServer = 7,
        ColCOS = 8,
        ColLegacyMailbox = 9,
        ColRemoteNodeID = 10,
        ColHandlerObjectID = 11,
        ColObjectID = 12,
        ColumnCount = 13
    };

    struct ColumnInfo {
        const char* key; // empty for column 0
        int widthTwips;
        bool hidden;
    };

    static const ColumnInfo& columnInfo(int col);
    static bool isColumnHidden(int col);
    static QList<int> hiddenColumns();
    // twips * logicalDpiX / 1440 (1440 twips to the inch).
    static int twipsToPixels(int twips, int logicalDpiX);

    static qint32 gridRowFromViewRow(int viewRow) { return static_cast<qint32>(viewRow) + 1; }
    static int viewRowFromGridRow(qint32 gridRow) { return static_cast<int>(gridRow) - 1; }

    explicit SubscriberGridModel(QObject* parent = nullptr);
    ~SubscriberGridModel() override;

    // --- Grid calls (grid row numbering) ---
    qint32 Rows() const { return static_cast<qint32>(m_rows.size()) + 1; }
    // Truncating drops rows from the end (setRows(1) empties the grid); growing adds blank unchecked rows.
    void setRows(qint32 rows);
    void clear() { setRows(1); }

    // Position of the column with this key, ignoring letter case; -1 when there is none.
    int ColIndex(const QString& key) const;

    // Row 0 gives the header texts. The check box column holds no text.
    QString TextMatrix(qint32 row, int col) const;
    void setTextMatrix(qint32 row, int col, const QString& text);

    QString headerText(const QString& key) const;
    void setHeaderText(const QString& key, const QString& text);

    // The header row has no check box: it reads unchecked and ignores writes.
    bool isChecked(qint32 row) const;
    // How many rows are checked, counted past 32,767 as well.
    qint32 checkedRowCount() const;
    void setChecked(qint32 row, bool checked);
    // A copy of the row's texts and check, as the producer passed them.
    SubscriberRow subscriberRow(qint32 row) const;

    // Current cell (no notification: the fill loop moves it once per row).
    qint32 Row() const { return m_currentRow; }
    int Col() const { return m_currentCol; }
    void setRow(qint32 row);
    void setCol(int col);

    bool redraw() const { return m_redraw; }
    void setRedraw(bool on);

    // "Select All" / "deSelect All": one dataChanged over the check column.
    void setAllChecked(bool checked);
    // The given grid rows only (the filter's visible rows), also with one dataChanged.
    void setRowsChecked(const std::vector<qint32>& rows, bool checked);

    // A text cell (columns Alias to ObjectID) as the views know it (model row numbering), without a copy:
    // valid until the grid changes. Empty for other columns and for rows the views have not been told of.
    QStringView shownCell(int viewRow, int col) const;

    // The one way rows enter the grid: validates, then appends the row checked and makes it current. The
    // texts are taken by value so that a producer's temporaries move into the row.
    void AddUserToGridFAST(QString strAlias, QString strFirstName, QString strLastName,
                           QString strDisplayName, QString strExtension, QString strHomeServer,
                           QString strRemoteNodeID, QString strLegacyMailbox, QString strCOSTextName,
                           QString strSubscriberObjectID, QString strCallHandlerObjectID);

    // A click on a cell: the cell becomes current; on a subscriber row and a column right of the check
    // box the row's check is toggled. Answers whether it toggled.
    bool toggleFromClick(qint32 row, int col);

    // The edit guard: only the check box column may be edited.
    static bool editAllowed(int col) { return col == ColSelected; }

    // --- Qt model ---
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

public slots:
    // For QAbstractItemView::clicked: translates the model index, or the index of a proxy over this model
    // (the filter), to the grid's numbering.
    void onViewClicked(const QModelIndex& index);

private:
    // The texts of columns 2 to 12, in column order.
    static constexpr int TextColumns = ColumnCount - ColAlias;

    // A grid of 32,767 subscribers must stay small: a row keeps its eleven texts one after another in a
    // single string (one allocation instead of eleven), with the end of each.
    struct StoredRow {
        QString texts;
        std::array<int, TextColumns> ends{};
        // Column 0. A row appended by AddUserToGridFAST shows its own index, made into text when read: rows
        // never move (the grid only grows or loses rows at the end), so it needs no allocation per row.
        QString indexText;
        bool selected = false;
        bool showsOwnIndex = false;

        // Where a text column's text starts in texts, and the text itself (columns Alias to ObjectID).
        int begin(int col) const;
        QStringView view(int col) const;
        QString text(int col) const;
        void setText(int col, const QString& text);
    };

    // Text of a cell of a subscriber row; viewRow is the row's position (see the numbering above).
    static QString cellText(const StoredRow& row, int viewRow, int col);
    // Writes a cell; the check box column holds no text, and writing column 0 replaces the index.
    static void setCellText(StoredRow& row, int col, const QString& text);

    StoredRow& storedRow(qint32 gridRow);
    const StoredRow& storedRow(qint32 gridRow) const;
    const StoredRow* announcedRow(int viewRow) const;
    void append(StoredRow&& row);
    void truncate(std::size_t count);
    void cellChanged(int viewRow, int col, int role);
    void flushPending();

    std::vector<StoredRow> m_rows;
    // Rows the views know of. While an emptying is pending (grid emptied with drawing suspended), views
    // still see the rows they were last told about, kept in m_announcedBeforeReset.
    std::size_t m_announced = 0;
    bool m_resetPending = false;
    std::vector<StoredRow> m_announcedBeforeReset;
    // Announced rows changed while drawing was suspended (model rows, inclusive).
    int m_dirtyFirst = -1;
    int m_dirtyLast = -1;

    std::array<QString, ColumnCount> m_headers;
    qint32 m_currentRow = 0;
    int m_currentCol = 0;
    bool m_redraw = true;
};
