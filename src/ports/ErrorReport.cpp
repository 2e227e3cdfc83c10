#include "ports/ErrorReport.h"

#include "ports/MsgBox.h"

ErrorReport::ErrorReport(Text head, Text closing, Shape shape)
    : m_head(std::move(head)), m_closing(std::move(closing)), m_shape(shape)
{
}

ErrorReport ErrorReport::fixed(const QString& head, const QString& closing)
{
    return ErrorReport([head] { return head; }, [closing] { return closing; });
}

ErrorReport ErrorReport::prefixed(const QString& head)
{
    return ErrorReport([head] { return head; }, [] { return QString(); }, Shape::DescriptionOnly);
}

ErrorReport ErrorReport::silent()
{
    return ErrorReport([] { return QString(); }, [] { return QString(); }, Shape::Silent);
}

QString ErrorReport::format(const CulvaneError& error) const
{
    switch (m_shape) {
    case Shape::NumberAndDescription:
        return m_head() + QString::number(error.number()) + QStringLiteral(" (") + error.description() +
               m_closing();
    case Shape::DescriptionOnly:
        return m_head() + error.description();
    case Shape::Silent:
        break;
    }
    return QString();
}

void ErrorReport::report(const CulvaneError& error) const
{
    if (m_shape == Shape::Silent)
        return;
    MsgBox::show(format(error), MsgBox::vbOKOnly, error.detail());
}
