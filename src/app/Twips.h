#pragma once

#include <QWidget>
#include <QtMath>

// Positions and sizes in twips (1/1440 inch) converted to and from a widget's pixels.
class Twips {
public:
    static constexpr double PerInch = 1440.0;

    explicit Twips(const QWidget& widget) : m_dpiX(widget.logicalDpiX()), m_dpiY(widget.logicalDpiY()) {}

    int toPixelsX(int twips) const { return qRound(twips * m_dpiX / PerInch); }
    int toPixelsY(int twips) const { return qRound(twips * m_dpiY / PerInch); }
    int fromPixelsX(int pixels) const { return qRound(pixels * PerInch / m_dpiX); }
    int fromPixelsY(int pixels) const { return qRound(pixels * PerInch / m_dpiY); }

private:
    double m_dpiX;
    double m_dpiY;
};
