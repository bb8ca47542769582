#pragma once
// The table of statements: for every statement of the language, how it is written, what it is
// (set-up, action or expectation), the function that reads it and the one that runs it. The
// table is in statements.cpp; the functions are in the statement's family file (families.h).
#include "script.h"

#include <QList>
#include <QStringList>

namespace fis::scenario {

class Runner;
class ScriptReader;

enum class Role {
    Setup,       // takes effect where it stands (set-up, answers queued for windows, notes)
    Action,      // what the clerk does: logged, and what it causes is told under it
    Expectation, // checked where it stands; "ok" when it holds
};

struct StatementForm
{
    // The words that start the statement, as in "expect no call". A word in capitals (CONTROL)
    // stands for a name the script gives; it is read into Statement::target.
    const char *phrase;
    Role role;
    // Reads the rest of the line (and its block) into the statement.
    void (*parse)(ScriptReader &in, Statement &st);
    // Runs it. Null for a form whose parse function only refuses the line.
    void (*run)(Runner &runner, const Statement &st);
};

// Every row of the table, in order.
QList<const StatementForm *> statementForms();

// The row of the statement at the reader's line: its phrase is read, the name in it (if any) is
// in st.target. Throws ScriptError for a line that is no statement.
const StatementForm &findForm(ScriptReader &in, Statement &st);

// Reads the statement at the reader's line: finds its form, lets it read the rest and checks that
// nothing is left. Throws ScriptError for a line that is no statement.
void readStatement(ScriptReader &in, Statement &st);

// True when some action starts with this word.
bool isActionKeyword(const QString &word);

// What an expectation of a control takes after its name ("enabled", ..., "not highlighted",
// "text", ...), in the table's order.
QStringList controlAspects();

// The words of the form's phrase after the first n ("expect CONTROL not highlighted", 2 ->
// "not highlighted").
QString phraseAfter(const StatementForm &form, int n);

} // namespace fis::scenario
