#include "app/OptionCaption.h"

#include <QAbstractButton>
#include <QEvent>
#include <QMouseEvent>

OptionCaption::OptionCaption(QAbstractButton* option, QWidget* parent) : QLabel(parent), m_option(option)
{
    setWordWrap(true);
    setBuddy(option);
    setEnabled(option->isEnabled());
    option->installEventFilter(this);
}

void OptionCaption::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_option->isEnabled())
        m_option->click();
    QLabel::mousePressEvent(event);
}

bool OptionCaption::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_option && event->type() == QEvent::EnabledChange)
        setEnabled(m_option->isEnabled());
    return QLabel::eventFilter(watched, event);
}
