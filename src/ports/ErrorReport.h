#pragma once

#include "ports/CulvaneError.h"

#include <QString>

#include <functional>
#include <utility>

// The program's way of reporting a trapped error: the routine shows the error in an OK message box and
// carries on with its next step. One instance per routine; the texts are fetched only when an error is
// reported, so a language change in between is honoured.
class ErrorReport {
public:
    using Text = std::function<QString()>;
    enum class Shape {
        NumberAndDescription, // head + number + " (" + description + closing
        DescriptionOnly,      // head + description
        Silent,               // the step fails quietly
    };

    ErrorReport(Text head, Text closing, Shape shape = Shape::NumberAndDescription);

    // "(error):" / "Error " style with fixed texts.
    static ErrorReport fixed(const QString& head, const QString& closing);
    // A fixed text followed by the description, e.g. "error in mymyLoadString: ".
    static ErrorReport prefixed(const QString& head);
    // Routines without a report skip the failed step silently.
    static ErrorReport silent();

    QString format(const CulvaneError& error) const;
    void report(const CulvaneError& error) const;

    // Runs one step of a routine. A trapped error is reported; the answer tells whether the step completed.
    template <class Step> bool step(Step&& body) const
    {
        try {
            std::forward<Step>(body)();
            return true;
        } catch (const CulvaneError& error) {
            report(error);
        } catch (const std::exception& error) {
            report(CulvaneError(ErrorNumbers::InvalidProcedureCall, QString::fromLocal8Bit(error.what())));
        }
        return false;
    }

private:
    Text m_head;
    Text m_closing;
    Shape m_shape;
};
