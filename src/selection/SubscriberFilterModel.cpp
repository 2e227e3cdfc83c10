#include "selection/SubscriberFilterModel.h"

#include "selection/SubscriberGridModel.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <string>

namespace {

using Grid = SubscriberGridModel;

// The columns a filter searches and a heading sorts: the text columns the view shows.
constexpr std::array<int, 9> kTextColumns{Grid::ColAlias,    Grid::ColDisplayName,   Grid::ColFirstName,
                                          Grid::ColLastName, Grid::ColExtension,     Grid::ColHomeServer,
                                          Grid::ColCOS,      Grid::ColLegacyMailbox, Grid::ColRemoteNodeID};

// Joins the columns of a row's key; a filter text never holds it, so no match spans two columns.
constexpr QChar kColumnBreak = QLatin1Char('\n');

// Markers in the table of folded characters; no character at or above U+0080 folds to U+0000, and U+FFFE
// and U+FFFF are no characters.
constexpr char16_t kDropped = 0;
constexpr char16_t kSeveral = 0xFFFE;
constexpr char16_t kUnknown = 0xFFFF;

// Compatibility decomposition, combining marks dropped, case folded.
QString foldCharacter(QChar c)
{
    const QString decomposed = QString(c).normalized(QString::NormalizationForm_KD);
    QString bare;
    for (const QChar part : decomposed) {
        const QChar::Category category = part.category();
        if (category != QChar::Mark_NonSpacing && category != QChar::Mark_SpacingCombining &&
            category != QChar::Mark_Enclosing)
            bare.append(part);
    }
    return bare.toCaseFolded();
}

// The folded form of a character at or above U+0080 that is no surrogate. Characters fold alone
// (decomposition, then dropping the marks, works character by character), so each is folded once and
// remembered: a grid of accented names then folds at the speed of a table.
char16_t foldedUnit(QChar c)
{
    static std::vector<char16_t> known(0x10000, kUnknown);
    char16_t& folded = known[c.unicode()];
    if (folded == kUnknown) {
        const QString alone = foldCharacter(c);
        folded = alone.isEmpty() ? kDropped : alone.size() == 1 ? alone.at(0).unicode() : kSeveral;
    }
    return folded;
}

void appendFolded(std::u16string& out, QStringView text)
{
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < 0x80) {
            out.push_back(unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit);
            continue;
        }
        if (c.isSurrogate()) {
            out.push_back(unit);
            continue;
        }
        const char16_t folded = foldedUnit(c);
        if (folded == kSeveral) {
            const QString several = foldCharacter(c);
            out.append(reinterpret_cast<const char16_t*>(several.utf16()),
                       static_cast<std::size_t>(several.size()));
        } else if (folded != kDropped) {
            out.push_back(folded);
        }
    }
}

bool isAscii(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

// How one cell sorts: whole numbers (extensions, node identifiers) by value and before any other text,
// other texts by their folded form, so that "Müller" sorts beside "Muller" and "muller".
struct SortKey {
    bool number = false;
    QString text;

    bool operator<(const SortKey& other) const
    {
        if (number != other.number)
            return number;
        if (number && text.size() != other.text.size())
            return text.size() < other.text.size();
        return text < other.text;
    }
    bool operator==(const SortKey& other) const { return number == other.number && text == other.text; }
};

SortKey sortKey(const QString& text)
{
    const bool digits = !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (!digits)
        return {false, SubscriberFilterModel::fold(text)};
    qsizetype zeros = 0;
    while (zeros < text.size() - 1 && text.at(zeros) == QLatin1Char('0'))
        ++zeros;
    return {true, text.mid(zeros)};
}

} // namespace

SubscriberFilterModel::SubscriberFilterModel(SubscriberGridModel& grid, QObject* parent)
    : QSortFilterProxyModel(parent), m_grid(grid)
{
    // Connected before the proxy's own handlers, so that keys and ranks are current when it filters and
    // sorts the changed rows.
    connect(&grid, &QAbstractItemModel::modelReset, this, &SubscriberFilterModel::forgetRows);
    connect(&grid, &QAbstractItemModel::layoutChanged, this, &SubscriberFilterModel::forgetRows);
    connect(&grid, &QAbstractItemModel::rowsRemoved, this, &SubscriberFilterModel::forgetRows);
    connect(&grid, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { rowsAppended(first, last); });
    connect(&grid, &QAbstractItemModel::dataChanged, this, &SubscriberFilterModel::textsChanged);
    setSourceModel(&grid);
}

SubscriberFilterModel::~SubscriberFilterModel() = default;

QString SubscriberFilterModel::fold(const QString& text)
{
    if (isAscii(text))
        return text.toLower();
    std::u16string folded;
    folded.reserve(static_cast<std::size_t>(text.size()));
    appendFolded(folded, text);
    return QString(reinterpret_cast<const QChar*>(folded.data()), static_cast<qsizetype>(folded.size()));
}

void SubscriberFilterModel::setFilterText(const QString& text)
{
    m_text = text;
    QString needle = fold(text.trimmed());
    needle.remove(kColumnBreak);
    if (needle == m_needle)
        return;
    // One reset instead of a removal per gap between the rows that stay: with tens of thousands of rows
    // the view takes a reset far faster.
    beginResetModel();
    m_needle = needle;
    m_matcher.setPattern(m_needle);
    endResetModel();
}

std::vector<qint32> SubscriberFilterModel::shownGridRows() const
{
    std::vector<qint32> rows;
    const int shown = rowCount();
    rows.reserve(static_cast<std::size_t>(shown));
    for (int row = 0; row < shown; ++row)
        rows.push_back(Grid::gridRowFromViewRow(mapToSource(index(row, 0)).row()));
    return rows;
}

void SubscriberFilterModel::setShownRowsChecked(bool checked)
{
    m_grid.setRowsChecked(shownGridRows(), checked);
}

qint32 SubscriberFilterModel::checkedRowsHidden() const
{
    if (m_needle.isEmpty())
        return 0;
    qint32 hidden = 0;
    const qint32 rows = m_grid.Rows();
    for (qint32 row = 1; row < rows; ++row) {
        if (m_grid.isChecked(row) && !filterAcceptsRow(Grid::viewRowFromGridRow(row), QModelIndex()))
            ++hidden;
    }
    return hidden;
}

bool SubscriberFilterModel::isSortable(int column)
{
    return std::find(kTextColumns.begin(), kTextColumns.end(), column) != kTextColumns.end();
}

void SubscriberFilterModel::sort(int column, Qt::SortOrder order)
{
    if (column >= 0 && !isSortable(column))
        return;
    QSortFilterProxyModel::sort(column, order);
}

bool SubscriberFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (m_needle.isEmpty() || sourceParent.isValid())
        return true;
    return m_matcher.indexIn(key(sourceRow)) >= 0;
}

bool SubscriberFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    if (!isSortable(left.column()))
        return false;
    return rank(left.row(), left.column()) < rank(right.row(), right.column());
}

QStringView SubscriberFilterModel::key(int row) const
{
    if (m_starts.empty()) {
        const int rows = m_grid.rowCount();
        // Folding keeps the length of most texts: one allocation for them all.
        std::size_t length = 0;
        for (int at = 0; at < rows; ++at) {
            for (const int column : kTextColumns)
                length += static_cast<std::size_t>(m_grid.shownCell(at, column).size()) + 1;
        }
        m_folded.clear();
        m_folded.reserve(length);
        m_starts.assign(1, 0);
        m_starts.reserve(static_cast<std::size_t>(rows) + 1);
        for (int at = 0; at < rows; ++at)
            appendKey(at);
    }
    if (row < 0 || static_cast<std::size_t>(row) + 1 >= m_starts.size())
        return {};
    const std::size_t start = m_starts[static_cast<std::size_t>(row)];
    return QStringView(m_folded.data() + start, static_cast<qsizetype>(m_starts[row + 1u] - start));
}

void SubscriberFilterModel::appendKey(int row) const
{
    for (const int column : kTextColumns) {
        appendFolded(m_folded, m_grid.shownCell(row, column));
        m_folded.push_back(kColumnBreak.unicode());
    }
    m_starts.push_back(m_folded.size());
}

int SubscriberFilterModel::rank(int row, int column) const
{
    if (m_rankedColumn != column) {
        // Equal texts share a rank, so the sort keeps them in the grid's order.
        const int rows = m_grid.rowCount();
        std::vector<SortKey> keys;
        keys.reserve(static_cast<std::size_t>(rows));
        for (int at = 0; at < rows; ++at)
            keys.push_back(sortKey(m_grid.shownCell(at, column).toString()));
        std::vector<int> order(keys.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)];
        });
        m_ranks.assign(keys.size(), 0);
        int current = 0;
        for (std::size_t at = 0; at < order.size(); ++at) {
            if (at > 0 &&
                !(keys[static_cast<std::size_t>(order[at - 1])] == keys[static_cast<std::size_t>(order[at])]))
                current = static_cast<int>(at);
            m_ranks[static_cast<std::size_t>(order[at])] = current;
        }
        m_rankedColumn = column;
    }
    return row >= 0 && static_cast<std::size_t>(row) < m_ranks.size() ? m_ranks[static_cast<std::size_t>(row)]
                                                                      : 0;
}

void SubscriberFilterModel::forgetRows()
{
    std::u16string().swap(m_folded);
    std::vector<std::size_t>().swap(m_starts);
    std::vector<int>().swap(m_ranks);
    m_rankedColumn = -1;
}

void SubscriberFilterModel::rowsAppended(int first, int last)
{
    m_rankedColumn = -1;
    if (m_starts.empty())
        return; // no keys made yet
    if (static_cast<std::size_t>(first) + 1 != m_starts.size()) {
        forgetRows();
        return;
    }
    for (int row = first; row <= last; ++row)
        appendKey(row);
}

void SubscriberFilterModel::textsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                         const QList<int>& roles)
{
    if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole))
        return; // a check changed: no text did
    const bool texts = std::any_of(kTextColumns.begin(), kTextColumns.end(), [&](int column) {
        return column >= topLeft.column() && column <= bottomRight.column();
    });
    // Texts change after a row is added only by a direct write, seldom: the keys are made again.
    if (texts)
        forgetRows();
}
