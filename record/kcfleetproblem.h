#pragma once

#include <QString>

// A problem found in a plan, a record or the ports, tied to the plan's line
// (0 when no line is to blame).
struct KcFleetProblem
{
    int line = 0;
    QString message;

    // "line 4: unknown role \"gnd\" (ground or airborne)"
    QString describe() const
    {
        return line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(message) : message;
    }
    bool operator==(const KcFleetProblem &other) const
    {
        return line == other.line && message == other.message;
    }
};
