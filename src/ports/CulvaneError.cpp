#include "ports/CulvaneError.h"

#include <limits>

CulvaneError::CulvaneError(int number, QString description, QString detail, Statement statement)
    : m_number(number), m_description(std::move(description)), m_detail(std::move(detail)),
      m_statement(statement), m_what(QStringLiteral("%1 %2").arg(number).arg(m_description).toStdString())
{
}

void raiseError(int number, const QString& description, const QString& detail)
{
    throw CulvaneError(number, description, detail);
}

void raiseOverflow()
{
    raiseError(ErrorNumbers::Overflow, QStringLiteral("Overflow"));
}

std::int16_t toInt16(long long value)
{
    if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max())
        raiseOverflow();
    return static_cast<std::int16_t>(value);
}

std::int16_t increment16(std::int16_t value)
{
    return toInt16(static_cast<long long>(value) + 1);
}
