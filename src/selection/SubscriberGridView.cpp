#include "selection/SubscriberGridView.h"

#include "selection/SubscriberFilterModel.h"
#include "selection/SubscriberGridModel.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

#include <algorithm>

SubscriberGridView::SubscriberGridView(SubscriberFilterModel& filter, QWidget* parent)
    : QTableView(parent), m_filter(filter)
{
    attachSubscriberGrid(*this, filter.grid(), filter);
    horizontalHeader()->setSectionsClickable(true);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &SubscriberGridView::headingClicked);
    // Arrow keys move inside the grid; Tab leaves it.
    setTabKeyNavigation(false);
    // The current row is the one selected row, so it stands out wherever the current cell is.
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void SubscriberGridView::keyPressEvent(QKeyEvent* event)
{
    const QModelIndex current = currentIndex();
    if (event->key() == Qt::Key_Space && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        current.isValid()) {
        SubscriberGridModel& grid = m_filter.grid();
        const qint32 row = SubscriberGridModel::gridRowFromViewRow(m_filter.mapToSource(current).row());
        grid.setChecked(row, !grid.isChecked(row));
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void SubscriberGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (current.isValid())
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void SubscriberGridView::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    // Coming in by Tab makes the first row current without selecting it.
    if (currentIndex().isValid())
        selectionModel()->select(currentIndex(),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

SubscriberGridView::~SubscriberGridView() = default;

void SubscriberGridView::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    // A language's own font is set after the view was made; the rows follow its height.
    if (event->type() == QEvent::FontChange) {
        fitRowsToOneLine(*this);
        fitColumnsToHeadings(*this);
    }
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

void attachSubscriberGrid(QTableView& view, SubscriberGridModel& model)
{
    attachSubscriberGrid(view, model, model);
}

void attachSubscriberGrid(QTableView& view, SubscriberGridModel& model, QAbstractItemModel& shown)
{
    view.setModel(&shown);
    const int dpi = view.logicalDpiX();
    // The style's minimum would widen the narrow check box column beyond its design width.
    int narrowest = view.horizontalHeader()->minimumSectionSize();
    for (int col = 0; col < SubscriberGridModel::ColumnCount; ++col)
        narrowest = std::min(narrowest, SubscriberGridModel::twipsToPixels(
                                            SubscriberGridModel::columnInfo(col).widthTwips, dpi));
    view.horizontalHeader()->setMinimumSectionSize(narrowest);
    for (int col = 0; col < SubscriberGridModel::ColumnCount; ++col) {
        const auto& info = SubscriberGridModel::columnInfo(col);
        view.setColumnWidth(col, SubscriberGridModel::twipsToPixels(info.widthTwips, dpi));
        view.setColumnHidden(col, info.hidden);
    }
    view.verticalHeader()->hide();
    fitRowsToOneLine(view);
    fitColumnsToHeadings(view);
    // Headings change with the language; a longer one widens its column.
    QObject::connect(&shown, &QAbstractItemModel::headerDataChanged, &view,
                     [&view](Qt::Orientation orientation) {
                         if (orientation == Qt::Horizontal)
                             fitColumnsToHeadings(view);
                     });
    QObject::connect(&view, &QAbstractItemView::clicked, &model, &SubscriberGridModel::onViewClicked,
                     Qt::UniqueConnection);
}

void fitColumnsToHeadings(QTableView& view)
{
    QHeaderView* header = view.horizontalHeader();
    // Room for the sort arrow too, which a click on the heading may show later.
    const int arrow = header->isSortIndicatorShown()
                          ? 0
                          : view.style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header) +
                                view.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int col = 0; col < header->count(); ++col) {
        if (header->isSectionHidden(col) ||
            header->model()->headerData(col, Qt::Horizontal).toString().isEmpty())
            continue;
        const int wanted = header->sectionSizeHint(col) + arrow;
        if (header->sectionSize(col) < wanted)
            view.setColumnWidth(col, wanted);
    }
}

void fitRowsToOneLine(QTableView& view)
{
    view.setWordWrap(false);
    view.setTextElideMode(Qt::ElideRight);
    QHeaderView* rows = view.verticalHeader();
    const int height =
        view.fontMetrics().height() + 2 * view.style()->pixelMetric(QStyle::PM_FocusFrameVMargin);
    rows->setMinimumSectionSize(height);
    rows->setDefaultSectionSize(height);
    rows->setSectionResizeMode(QHeaderView::Fixed);
}
