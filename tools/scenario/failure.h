#pragma once
// What ends a statement that cannot be done or an expectation that does not hold. fail() may be
// called anywhere below a running statement; the runner reports the failure under the
// statement's file and line, with what was expected and what was found, and ends the run.
#include <QString>

namespace fis::scenario {

struct Failure
{
    QString what; // shown only when no statement is running (the set-up)
    QString expected;
    QString found;
};

[[noreturn]] inline void fail(const QString &what, const QString &expected, const QString &found)
{
    throw Failure{what, expected, found};
}

inline QString quoted(const QString &s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

} // namespace fis::scenario
