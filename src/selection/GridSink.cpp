#include "selection/GridSink.h"

#include "ports/MsgBox.h"
#include "selection/SubscriberGridModel.h"

#include <QLabel>
#include <QWidget>

GridSink::GridSink(SubscriberGridModel& grid, QWidget* splash)
    : m_grid(grid), m_splash(splash),
      m_label(splash ? splash->findChild<QLabel*>(QStringLiteral("Label1")) : nullptr)
{
    m_sinceRepaint.start();
}

GridSink::~GridSink()
{
    // The label ends on the last count, whether or not that one was drawn.
    if (m_label && m_lastCount > 0)
        m_label->setText(QString::number(m_lastCount));
}

void GridSink::addSubscriber(SubscriberValues&& v)
{
    m_grid.AddUserToGridFAST(std::move(v.alias), std::move(v.firstName), std::move(v.lastName),
                             std::move(v.displayName), std::move(v.extension), std::move(v.homeServer),
                             std::move(v.remoteNode), std::move(v.legacyMailbox), std::move(v.cos),
                             std::move(v.subscriberObjectId), std::move(v.callHandlerObjectId));
}

void GridSink::message(const QString& text)
{
    MsgBox::show(text);
}

void GridSink::rowCounted(std::int16_t count)
{
    m_lastCount = count;
    if (!m_label || (count > 1 && m_sinceRepaint.elapsed() < kRepaintMs))
        return;
    m_label->setText(QString::number(count));
    m_splash->repaint();
    m_sinceRepaint.restart();
}

qint32 GridSink::gridRows() const
{
    return m_grid.Rows();
}
