#include "selection/SubscriberGridModel.h"

#include "ports/CulvaneError.h"
#include "ports/MsgBox.h"

#include <QAbstractProxyModel>
#include <QLatin1String>

#include <algorithm>
#include <limits>
#include <new>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

using Grid = SubscriberGridModel;

constexpr std::array<Grid::ColumnInfo, Grid::ColumnCount> kColumns{{
    {"", 270, true},
    {"Selected", 255, false},
    {"Alias", 1500, false},
    {"DisplayName", 2340, false},
    {"FirstName", 1305, false},
    {"LastName", 1500, false},
    {"Extension", 1020, false},
    {"HomeServer", 1665, false},
    {"COS", 960, false},
    {"LegacyMailbox", 1275, false},
    {"RemoteNodeID", 1380, false},
    {"HandlerObjectID", 960, true},
    {"ObjectID", 960, true},
}};

// Member of SubscriberRow shown in each text column, from column 2 on.
constexpr std::array<QString SubscriberRow::*, Grid::ColumnCount - Grid::ColAlias> kTextMembers{{
    &SubscriberRow::Alias,
    &SubscriberRow::DisplayName,
    &SubscriberRow::FirstName,
    &SubscriberRow::LastName,
    &SubscriberRow::Extension,
    &SubscriberRow::HomeServer,
    &SubscriberRow::COS,
    &SubscriberRow::LegacyMailbox,
    &SubscriberRow::RemoteNodeID,
    &SubscriberRow::HandlerObjectID,
    &SubscriberRow::ObjectID,
}};

[[noreturn]] void raiseSubscript()
{
    raiseError(ErrorNumbers::SubscriptOutOfRange, QStringLiteral("Subscript out of range"));
}

void skipUser(const char* what)
{
    MsgBox::show(
        QStringLiteral("Error, invalid %1 string passed into AdDUserToGridFast routine.  Skipping user")
            .arg(QLatin1String(what)),
        MsgBox::vbOKOnly);
}

} // namespace

const Grid::ColumnInfo& SubscriberGridModel::columnInfo(int col)
{
    if (col < 0 || col >= ColumnCount)
        raiseSubscript();
    return kColumns[static_cast<std::size_t>(col)];
}

bool SubscriberGridModel::isColumnHidden(int col)
{
    return columnInfo(col).hidden;
}

QList<int> SubscriberGridModel::hiddenColumns()
{
    QList<int> hidden;
    for (int col = 0; col < ColumnCount; ++col) {
        if (kColumns[static_cast<std::size_t>(col)].hidden)
            hidden.append(col);
    }
    return hidden;
}

int SubscriberGridModel::twipsToPixels(int twips, int logicalDpiX)
{
    return static_cast<int>(static_cast<qint64>(twips) * logicalDpiX / 1440);
}

SubscriberGridModel::SubscriberGridModel(QObject* parent) : QAbstractTableModel(parent)
{
    // Columns 9 to 12 keep their own names in every language; the page sets 2 to 8 from the string table.
    m_headers[ColLegacyMailbox] = QStringLiteral("Legacy Mailbox");
    m_headers[ColRemoteNodeID] = QStringLiteral("Remote Node ID");
    m_headers[ColHandlerObjectID] = QStringLiteral("HandlerObjectID");
    m_headers[ColObjectID] = QStringLiteral("ObjectID");
}

SubscriberGridModel::~SubscriberGridModel() = default;

int SubscriberGridModel::StoredRow::begin(int col) const
{
    const auto at = static_cast<std::size_t>(col - ColAlias);
    return at == 0 ? 0 : ends[at - 1];
}

QStringView SubscriberGridModel::StoredRow::view(int col) const
{
    const int from = begin(col);
    return QStringView(texts).mid(from, ends[static_cast<std::size_t>(col - ColAlias)] - from);
}

QString SubscriberGridModel::StoredRow::text(int col) const
{
    const QStringView shown = view(col);
    return shown.isEmpty() ? QString() : shown.toString();
}

void SubscriberGridModel::StoredRow::setText(int col, const QString& text)
{
    const auto at = static_cast<std::size_t>(col - ColAlias);
    const int from = begin(col);
    const int delta = static_cast<int>(text.size()) - (ends[at] - from);
    QString replaced;
    replaced.reserve(texts.size() + delta);
    replaced.append(QStringView(texts).left(from)).append(text).append(QStringView(texts).mid(ends[at]));
    texts = std::move(replaced);
    for (std::size_t later = at; later < ends.size(); ++later)
        ends[later] += delta;
}

QString SubscriberGridModel::cellText(const StoredRow& row, int viewRow, int col)
{
    if (col == ColRowIndex)
        return row.showsOwnIndex ? QString::number(gridRowFromViewRow(viewRow)) : row.indexText;
    return col >= ColAlias ? row.text(col) : QString();
}

void SubscriberGridModel::setCellText(StoredRow& row, int col, const QString& text)
{
    if (col == ColRowIndex) {
        row.showsOwnIndex = false;
        row.indexText = text;
    } else if (col >= ColAlias) {
        row.setText(col, text);
    }
}

SubscriberGridModel::StoredRow& SubscriberGridModel::storedRow(qint32 gridRow)
{
    return const_cast<StoredRow&>(static_cast<const SubscriberGridModel*>(this)->storedRow(gridRow));
}

const SubscriberGridModel::StoredRow& SubscriberGridModel::storedRow(qint32 gridRow) const
{
    if (gridRow < 1 || gridRow >= Rows())
        raiseSubscript();
    return m_rows[static_cast<std::size_t>(viewRowFromGridRow(gridRow))];
}

const SubscriberGridModel::StoredRow* SubscriberGridModel::announcedRow(int viewRow) const
{
    if (viewRow < 0)
        return nullptr;
    const auto at = static_cast<std::size_t>(viewRow);
    if (m_resetPending)
        return at < m_announcedBeforeReset.size() ? &m_announcedBeforeReset[at] : nullptr;
    return at < m_announced ? &m_rows[at] : nullptr;
}

void SubscriberGridModel::append(StoredRow&& row)
{
    if (m_rows.size() >= static_cast<std::size_t>(std::numeric_limits<qint32>::max() - 1))
        raiseOverflow();
    // The row goes in before the views hear of it; rowCount() follows m_announced, so they stay consistent.
    m_rows.push_back(std::move(row));
    if (!m_redraw)
        return;
    const int at = static_cast<int>(m_rows.size() - 1);
    beginInsertRows(QModelIndex(), at, at);
    m_announced = m_rows.size();
    endInsertRows();
}

void SubscriberGridModel::truncate(std::size_t count)
{
    if (count >= m_rows.size())
        return;
    const auto tail = m_rows.begin() + static_cast<std::ptrdiff_t>(count);
    if (m_resetPending || count >= m_announced) {
        // Only rows the views have not heard of go, or the views are already due for a reset.
        m_rows.erase(tail, m_rows.end());
        return;
    }
    if (m_redraw) {
        beginResetModel();
        m_rows.erase(tail, m_rows.end());
        m_announced = m_rows.size();
        m_dirtyFirst = m_dirtyLast = -1;
        endResetModel();
        return;
    }
    // Drawing is suspended: the views keep seeing the rows they know until drawing resumes with one reset.
    if (count == 0) {
        m_announcedBeforeReset = std::move(m_rows);
        m_rows.clear();
    } else {
        m_announcedBeforeReset.assign(m_rows.begin(),
                                      m_rows.begin() + static_cast<std::ptrdiff_t>(m_announced));
        m_rows.erase(tail, m_rows.end());
    }
    m_announcedBeforeReset.resize(m_announced);
    m_resetPending = true;
    m_announced = 0;
    m_dirtyFirst = m_dirtyLast = -1;
}

void SubscriberGridModel::setRows(qint32 rows)
{
    if (rows < 1)
        raiseError(ErrorNumbers::InvalidProcedureCall, QStringLiteral("Invalid procedure call or argument"));
    const auto count = static_cast<std::size_t>(rows - 1);
    if (count < m_rows.size()) {
        truncate(count);
    } else if (count > m_rows.size()) {
        const auto first = m_rows.size();
        m_rows.resize(count);
        if (m_redraw) {
            beginInsertRows(QModelIndex(), static_cast<int>(first), static_cast<int>(count - 1));
            m_announced = m_rows.size();
            endInsertRows();
        }
    }
    m_currentRow = std::min(m_currentRow, Rows() - 1);
}

int SubscriberGridModel::ColIndex(const QString& key) const
{
    if (key.isEmpty())
        return -1;
    for (int col = 0; col < ColumnCount; ++col) {
        if (key.compare(QLatin1String(kColumns[static_cast<std::size_t>(col)].key), Qt::CaseInsensitive) == 0)
            return col;
    }
    return -1;
}

QString SubscriberGridModel::TextMatrix(qint32 row, int col) const
{
    if (col < 0 || col >= ColumnCount)
        raiseSubscript();
    if (row == 0)
        return m_headers[static_cast<std::size_t>(col)];
    return cellText(storedRow(row), viewRowFromGridRow(row), col);
}

void SubscriberGridModel::setTextMatrix(qint32 row, int col, const QString& text)
{
    if (col < 0 || col >= ColumnCount)
        raiseSubscript();
    if (row == 0) {
        m_headers[static_cast<std::size_t>(col)] = text;
        emit headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    if (col == ColSelected)
        return;
    setCellText(storedRow(row), col, text);
    cellChanged(viewRowFromGridRow(row), col, Qt::DisplayRole);
}

QString SubscriberGridModel::headerText(const QString& key) const
{
    return TextMatrix(0, ColIndex(key));
}

void SubscriberGridModel::setHeaderText(const QString& key, const QString& text)
{
    setTextMatrix(0, ColIndex(key), text);
}

bool SubscriberGridModel::isChecked(qint32 row) const
{
    if (row == 0)
        return false;
    return storedRow(row).selected;
}

qint32 SubscriberGridModel::checkedRowCount() const
{
    qint32 checked = 0;
    const qint32 rows = Rows();
    for (qint32 row = 1; row < rows; ++row) {
        if (storedRow(row).selected)
            ++checked;
    }
    return checked;
}

void SubscriberGridModel::setChecked(qint32 row, bool checked)
{
    if (row == 0)
        return;
    StoredRow& target = storedRow(row);
    if (target.selected == checked)
        return;
    target.selected = checked;
    cellChanged(viewRowFromGridRow(row), ColSelected, Qt::CheckStateRole);
}

SubscriberRow SubscriberGridModel::subscriberRow(qint32 row) const
{
    const StoredRow& stored = storedRow(row);
    SubscriberRow copy;
    copy.Selected = stored.selected;
    for (int col = ColAlias; col < ColumnCount; ++col)
        copy.*kTextMembers[static_cast<std::size_t>(col - ColAlias)] = stored.text(col);
    return copy;
}

void SubscriberGridModel::setRow(qint32 row)
{
    if (row < 0 || row >= Rows())
        raiseSubscript();
    m_currentRow = row;
}

void SubscriberGridModel::setCol(int col)
{
    if (col < 0 || col >= ColumnCount)
        raiseSubscript();
    m_currentCol = col;
}

void SubscriberGridModel::cellChanged(int viewRow, int col, int role)
{
    if (m_resetPending || viewRow < 0 || static_cast<std::size_t>(viewRow) >= m_announced)
        return; // the views learn of this row when drawing resumes
    if (m_redraw) {
        const QModelIndex at = index(viewRow, col);
        emit dataChanged(at, at, {role});
        return;
    }
    m_dirtyFirst = m_dirtyFirst < 0 ? viewRow : std::min(m_dirtyFirst, viewRow);
    m_dirtyLast = std::max(m_dirtyLast, viewRow);
}

void SubscriberGridModel::setRedraw(bool on)
{
    const bool grew = on && m_rows.size() > m_announced;
    m_redraw = on;
    if (!on)
        return;
    flushPending();
#ifdef __GLIBC__
    // A fill leaves the database driver's row buffers freed among the grid's rows, where the allocator
    // keeps them from the system: tens of megabytes for a full grid. Hand those pages back.
    if (grew)
        malloc_trim(0);
#else
    (void)grew;
#endif
}

void SubscriberGridModel::flushPending()
{
    if (m_resetPending) {
        beginResetModel();
        std::vector<StoredRow>().swap(m_announcedBeforeReset);
        m_resetPending = false;
        m_announced = m_rows.size();
        m_dirtyFirst = m_dirtyLast = -1;
        endResetModel();
        return;
    }
    if (m_dirtyFirst >= 0) {
        const QModelIndex first = index(m_dirtyFirst, 0);
        const QModelIndex last = index(m_dirtyLast, ColumnCount - 1);
        m_dirtyFirst = m_dirtyLast = -1;
        emit dataChanged(first, last);
    }
    if (m_rows.size() > m_announced) {
        beginInsertRows(QModelIndex(), static_cast<int>(m_announced), static_cast<int>(m_rows.size() - 1));
        m_announced = m_rows.size();
        endInsertRows();
    }
}

void SubscriberGridModel::setAllChecked(bool checked)
{
    for (StoredRow& stored : m_rows)
        stored.selected = checked;
    if (m_resetPending || m_announced == 0)
        return;
    const int last = static_cast<int>(m_announced) - 1;
    if (m_redraw) {
        emit dataChanged(index(0, ColSelected), index(last, ColSelected), {Qt::CheckStateRole});
        return;
    }
    m_dirtyFirst = 0;
    m_dirtyLast = std::max(m_dirtyLast, last);
}

void SubscriberGridModel::setRowsChecked(const std::vector<qint32>& rows, bool checked)
{
    // Every row is checked before any changes, so that a bad row leaves the grid as it was.
    for (const qint32 row : rows)
        storedRow(row);
    int first = -1;
    int last = -1;
    for (const qint32 row : rows) {
        StoredRow& target = storedRow(row);
        if (target.selected == checked)
            continue;
        target.selected = checked;
        const int viewRow = viewRowFromGridRow(row);
        if (m_resetPending || static_cast<std::size_t>(viewRow) >= m_announced)
            continue; // the views learn of this row when drawing resumes
        first = first < 0 ? viewRow : std::min(first, viewRow);
        last = std::max(last, viewRow);
    }
    if (first < 0)
        return;
    if (m_redraw) {
        emit dataChanged(index(first, ColSelected), index(last, ColSelected), {Qt::CheckStateRole});
        return;
    }
    m_dirtyFirst = m_dirtyFirst < 0 ? first : std::min(m_dirtyFirst, first);
    m_dirtyLast = std::max(m_dirtyLast, last);
}

QStringView SubscriberGridModel::shownCell(int viewRow, int col) const
{
    const StoredRow* stored = announcedRow(viewRow);
    if (!stored || col < ColAlias || col >= ColumnCount)
        return {};
    return stored->view(col);
}

void SubscriberGridModel::AddUserToGridFAST(QString strAlias, QString strFirstName, QString strLastName,
                                            QString strDisplayName, QString strExtension,
                                            QString strHomeServer, QString strRemoteNodeID,
                                            QString strLegacyMailbox, QString strCOSTextName,
                                            QString strSubscriberObjectID, QString strCallHandlerObjectID)
{
    if (strAlias.isEmpty())
        return skipUser("Alias");
    if (strCOSTextName.isEmpty())
        return skipUser("COSObjectID");
    if (strSubscriberObjectID.isEmpty())
        return skipUser("SubscriberObjectID");
    if (strCallHandlerObjectID.isEmpty())
        return skipUser("CallHandlerObjectID");

    const qint32 newRow = Rows();
    StoredRow stored;
    stored.showsOwnIndex = true;
    stored.selected = true;
    // Column order: Alias, DisplayName, FirstName, LastName, Extension, HomeServer, COS, LegacyMailbox,
    // RemoteNodeID, HandlerObjectID, ObjectID.
    const std::array<const QString*, TextColumns> texts{
        &strAlias,        &strDisplayName,         &strFirstName,         &strLastName,
        &strExtension,    &strHomeServer,          &strCOSTextName,       &strLegacyMailbox,
        &strRemoteNodeID, &strCallHandlerObjectID, &strSubscriberObjectID};
    qsizetype total = 0;
    for (const QString* text : texts)
        total += text->size();
    // Beyond what a row's ends can hold: skipped like a row that cannot be stored.
    if (total > std::numeric_limits<int>::max())
        return;
    stored.texts.reserve(total);
    for (std::size_t at = 0; at < texts.size(); ++at) {
        stored.texts.append(*texts[at]);
        stored.ends[at] = static_cast<int>(stored.texts.size());
    }
    try {
        append(std::move(stored));
        m_currentRow = newRow;
    } catch (const std::bad_alloc&) {
        // A row that cannot be stored is skipped; the producer goes on with its next row.
    } catch (const CulvaneError&) {
    }
}

bool SubscriberGridModel::toggleFromClick(qint32 row, int col)
{
    if (row < 0 || row >= Rows() || col < 0 || col >= ColumnCount)
        return false;
    m_currentRow = row;
    m_currentCol = col;
    if (row < 1 || col <= ColSelected)
        return false;
    setChecked(row, !isChecked(row));
    return true;
}

void SubscriberGridModel::onViewClicked(const QModelIndex& index)
{
    QModelIndex at = index;
    while (at.isValid() && at.model() != this) {
        const auto* proxy = qobject_cast<const QAbstractProxyModel*>(at.model());
        if (!proxy)
            return;
        at = proxy->mapToSource(at);
    }
    if (at.isValid())
        toggleFromClick(gridRowFromViewRow(at.row()), at.column());
}

int SubscriberGridModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return static_cast<int>(m_resetPending ? m_announcedBeforeReset.size() : m_announced);
}

int SubscriberGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SubscriberGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() < 0 || index.column() >= ColumnCount)
        return QVariant();
    const StoredRow* stored = announcedRow(index.row());
    if (!stored)
        return QVariant();
    if (index.column() == ColSelected) {
        if (role == Qt::CheckStateRole)
            return static_cast<int>(stored->selected ? Qt::Checked : Qt::Unchecked);
        return QVariant();
    }
    // A cell shows one elided line; the tip carries the whole text.
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return cellText(*stored, index.row(), index.column());
    return QVariant();
}

QVariant SubscriberGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section >= 0 && section < ColumnCount) {
        if (role == Qt::DisplayRole)
            return m_headers[static_cast<std::size_t>(section)];
        return QVariant();
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags SubscriberGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (editAllowed(index.column()))
        return Qt::ItemIsUserCheckable | Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool SubscriberGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != ColSelected || m_resetPending ||
        !announcedRow(index.row()))
        return false;
    const qint32 row = gridRowFromViewRow(index.row());
    const bool checked = value.toInt() == Qt::Checked;
    StoredRow& target = storedRow(row);
    if (target.selected != checked) {
        target.selected = checked;
        cellChanged(index.row(), ColSelected, Qt::CheckStateRole);
    }
    return true;
}
