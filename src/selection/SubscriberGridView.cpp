#include "selection/SubscriberGridView.h"

#include "selection/SubscriberFilterModel.h"
#include "selection/SubscriberGridModel.h"

#include <QEvent>
#include <QHeaderView>

SubscriberGridView::SubscriberGridView(SubscriberFilterModel& filter, QWidget* parent)
    : QTableView(parent), m_filter(filter)
{
    attachSubscriberGrid(*this, filter.grid(), filter);
    horizontalHeader()->setSectionsClickable(true);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &SubscriberGridView::headingClicked);
}

SubscriberGridView::~SubscriberGridView() = default;

void SubscriberGridView::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    // A language's own font is set after the view was made; the rows follow its height.
    if (event->type() == QEvent::FontChange)
        fitRowsToOneLine(*this);
}

QRect SubscriberGridView::visualRect(const QModelIndex& index) const
{
    if (index.isValid() && index.model() == m_filter.sourceModel())
        return QTableView::visualRect(m_filter.mapFromSource(index));
    return QTableView::visualRect(index);
}

void SubscriberGridView::headingClicked(int column)
{
    if (SubscriberFilterModel::isSortable(column)) {
        if (m_filter.sortColumn() != column)
            m_filter.sort(column, Qt::AscendingOrder);
        else if (m_filter.sortOrder() == Qt::AscendingOrder)
            m_filter.sort(column, Qt::DescendingOrder);
        else
            m_filter.sort(-1);
    }
    // The header moves its indicator on any click; it shows the filter's order, whatever was clicked.
    QHeaderView* header = horizontalHeader();
    header->setSortIndicator(m_filter.sortColumn(), m_filter.sortOrder());
    header->setSortIndicatorShown(m_filter.sortColumn() >= 0);
}
