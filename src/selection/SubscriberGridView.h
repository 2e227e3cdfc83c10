#pragma once

#include <QTableView>

class SubscriberFilterModel;
class SubscriberGridModel;

// The selection page's grid view. It shows the grid through its filter, so a click on a text heading
// sorts the view (ascending, descending, then the grid's own order again) while the grid keeps its rows
// in place; the check box heading does not sort. Indexes of the grid model itself are taken as well as
// the filter's, so code that speaks the grid's rows can still ask where a cell is drawn.
class SubscriberGridView : public QTableView {
    Q_OBJECT

public:
    explicit SubscriberGridView(SubscriberFilterModel& filter, QWidget* parent = nullptr);
    ~SubscriberGridView() override;

    QRect visualRect(const QModelIndex& index) const override;

    void headingClicked(int column);

protected:
    void changeEvent(QEvent* event) override;
    // Space toggles the current row whichever of its cells is current, as a click does.
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    SubscriberFilterModel& m_filter;
};

// Puts the model into a table view the way the selection page shows it: hidden columns, widths from
// twips at the view's resolution, no row header, and clicks wired to toggleFromClick. The view shows
// `shown`, the grid itself or a proxy over it.
void attachSubscriberGrid(QTableView& view, SubscriberGridModel& model);
// Rows one text line high with elided text, as the grid has always shown them; the view calls it again
// when its font changes.
void fitRowsToOneLine(QTableView& view);
// Widens the columns whose heading would not fit; the view calls it again when its font or a heading
// changes.
void fitColumnsToHeadings(QTableView& view);
void attachSubscriberGrid(QTableView& view, SubscriberGridModel& model, QAbstractItemModel& shown);
