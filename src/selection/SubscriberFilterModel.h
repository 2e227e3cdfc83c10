#pragma once

#include <QSortFilterProxyModel>
#include <QString>
#include <QStringMatcher>
#include <QStringView>

#include <string>
#include <vector>

class SubscriberGridModel;

// What the selection page's grid view shows of the subscriber grid: the rows whose shown text columns
// contain the filter text, ignoring letter case and accents, sorted by a heading when one is chosen.
// The grid itself keeps its rows and their order: the deletion and "Next >>" walk the grid, not this.
//
// Each row's folded text is made once, when a filter first needs it, and kept until the row changes, so
// a keystroke in the filter only searches. Sorting likewise ranks the rows once per column.
class SubscriberFilterModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit SubscriberFilterModel(SubscriberGridModel& grid, QObject* parent = nullptr);
    ~SubscriberFilterModel() override;

    SubscriberGridModel& grid() const { return m_grid; }

    // Lower case, compatibility-decomposed, combining marks dropped: "Müller" folds to "muller".
    static QString fold(const QString& text);

    // Blanks around the text do not count; an empty or blank text shows every row.
    QString filterText() const { return m_text; }
    void setFilterText(const QString& text);

    // The grid rows (1..N) of the rows shown, in the order shown.
    std::vector<qint32> shownGridRows() const;
    // "Check visible rows" / "Uncheck visible rows": the rows filtered out keep their check.
    void setShownRowsChecked(bool checked);
    // The checked grid rows that the filter hides; they are deleted as much as the shown ones.
    qint32 checkedRowsHidden() const;

    // The shown text columns sort; the check box column does not.
    static bool isSortable(int column);
    // An unsortable column leaves the order as it is; -1 goes back to the grid's order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    QStringView key(int row) const;
    void appendKey(int row) const;
    int rank(int row, int column) const;
    void forgetRows();
    void rowsAppended(int first, int last);
    void textsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles);

    SubscriberGridModel& m_grid;
    QString m_text;
    QString m_needle;
    QStringMatcher m_matcher;
    // The folded texts of the grid's rows (model rows) one after the other, row r from m_starts[r] to
    // m_starts[r + 1] (no starts: not made yet), and the sort ranks by row; made when first needed.
    mutable std::u16string m_folded;
    mutable std::vector<std::size_t> m_starts;
    mutable std::vector<int> m_ranks;
    mutable int m_rankedColumn = -1;
};
