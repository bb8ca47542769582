// The table of statements, and how a line finds its row.
//
// A line is matched word by word against the phrases. Where some phrase has the line's word, only
// those go on (so "expect no call" is never a control named "no"); otherwise a name in capitals
// takes the word; otherwise a phrase that has ended here is the statement, the first in the table
// when several have. "include FILE" is the reader's own (reader.cpp).
#include "statements.h"

#include "families.h"
#include "reader.h"

namespace fis::scenario {

namespace {

// To add a statement: its row here, its pair in its family's file (declared in families.h).
const StatementForm kStatements[] = {
    // set-up
    {"login", Role::Setup, parseLogin, runLogin},
    {"server", Role::Setup, parseServer, runServer},
    {"database table", Role::Setup, parseDatabaseTable, runDatabaseTable},
    {"database sql", Role::Setup, parseDatabaseSql, runDatabaseSql},
    {"database", Role::Setup, parseDatabase, runDatabase},
    {"table", Role::Setup, parseTable, runTable},
    {"reply", Role::Setup, parseReply, runReply},
    {"note", Role::Setup, parseNote, runNote},

    // answers to the modal windows to come
    {"answer pick", Role::Setup, parseAnswerPick, runAnswerPick},
    {"answer find", Role::Setup, parseAnswerFind, runAnswerFind},
    {"answer integration", Role::Setup, parseAnswerIntegration, runAnswerIntegration},
    {"answer confirm", Role::Setup, parseAnswerConfirm, runAnswerConfirm},
    {"answer dialog", Role::Setup, parseAnswerDialog, runAnswerDialog},
    {"answer file", Role::Setup, parseAnswerFile, runAnswerFile},

    // actions
    {"call", Role::Action, parseCall, runCall},
    {"type", Role::Action, parseType, runType},
    {"key", Role::Action, parseKey, runKey},
    {"click", Role::Action, parseClick, runClick},
    {"menu", Role::Action, parseMenu, runMenu},
    {"focus", Role::Action, parseFocus, runFocus},
    {"leave", Role::Action, parseLeave, runLeave},
    {"choose", Role::Action, parseChoose, runChoose},
    {"cell", Role::Action, parseCell, runCell},
    {"title", Role::Action, parseTitle, runTitle},
    {"close preview", Role::Action, parseClosePreview, runClosePreview},
    {"close", Role::Action, parseClose, runClose},
    {"snapshot", Role::Setup, parseSnapshot, runSnapshot},
    {"load", Role::Action, parseLoad, runLoad},
    {"edit", Role::Action, parseEdit, runEdit},
    {"screenshot", Role::Action, parseScreenshot, runScreenshot},

    // expectations
    {"expect message", Role::Expectation, parseExpectMessage, runExpectMessage},
    {"expect messages", Role::Expectation, parseExpectMessages, runExpectMessages},
    {"expect no message", Role::Expectation, parseExpectNoMessage, runExpectNoMessage},
    {"expect no call", Role::Expectation, parseExpectNoCall, runExpectNoCall},
    {"expect no dialog", Role::Expectation, parseExpectNoDialog, runExpectNoDialog},
    {"expect focus", Role::Expectation, parseExpectFocus, runExpectFocus},
    {"expect cell", Role::Expectation, parseExpectCell, runExpectCell},
    {"expect records", Role::Expectation, parseExpectRecords, runExpectRecords},
    {"expect field", Role::Expectation, parseExpectField, runExpectField},
    {"expect call", Role::Expectation, parseExpectCall, runExpectCall},
    {"expect calls", Role::Expectation, parseExpectCalls, runExpectCalls},
    {"expect dialog", Role::Expectation, parseExpectDialog, runExpectDialog},
    {"expect pick", Role::Expectation, parseExpectPick, runExpectPick},
    {"expect find", Role::Expectation, parseExpectFind, runExpectFind},
    {"expect integration", Role::Expectation, parseExpectIntegration, runExpectIntegration},
    {"expect result", Role::Expectation, parseExpectResult, runExpectResult},
    {"expect sql", Role::Expectation, parseExpectSql, runExpectSql},
    {"expect editor", Role::Expectation, parseExpectEditor, runExpectEditor},
    {"expect no editor", Role::Expectation, parseExpectNoEditor, runExpectEditor},
    {"expect ellipsis", Role::Expectation, parseExpectEllipsis, runExpectEllipsis},
    {"expect no ellipsis", Role::Expectation, parseExpectNoEllipsis, runExpectEllipsis},
    {"expect mark", Role::Expectation, parseExpectMark, runExpectMark},
    {"expect no mark", Role::Expectation, parseExpectNoMark, runExpectMark},
    {"expect report", Role::Expectation, parseExpectReport, runExpectReport},
    {"expect preview", Role::Expectation, parseExpectPreview, runExpectPreview},
    {"expect pages", Role::Expectation, parseExpectPages, runExpectPages},
    {"expect page", Role::Expectation, parseExpectPage, runExpectPage},

    // expectations of a control (a state is the words after the control's name)
    {"expect CONTROL enabled", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL disabled", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL visible", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL hidden", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL maximized", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL checked", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL unchecked", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL readonly", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL editable", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL absent", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL highlighted", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL not highlighted", Role::Expectation, parseExpectState, runExpectState},
    {"expect CONTROL text", Role::Expectation, parseExpectText, runExpectText},
    {"expect CONTROL display", Role::Expectation, parseExpectDisplay, runExpectDisplay},
    {"expect CONTROL index", Role::Expectation, parseExpectIndex, runExpectIndex},
    {"expect CONTROL count", Role::Expectation, parseExpectCount, runExpectCount},
    {"expect CONTROL row", Role::Expectation, parseExpectRow, runExpectRow},
    {"expect CONTROL column", Role::Expectation, parseExpectColumn, runExpectColumn},
    {"expect CONTROL property", Role::Expectation, parseExpectProperty, runExpectProperty},
    // (keep this one last: anything else after a control's name is refused)
    {"expect CONTROL", Role::Expectation, parseUnknownAspect, nullptr},
};

QStringList wordsOf(const StatementForm &form)
{
    return QString::fromLatin1(form.phrase).split(QLatin1Char(' '));
}

// A word of a phrase that stands for a name ("CONTROL").
bool isName(const QString &word)
{
    return !word.isEmpty() && word == word.toUpper();
}

// The words the line could have had after `previous`, for the error.
[[noreturn]] void refuse(ScriptReader &in, const QList<const StatementForm *> &candidates,
                         int depth, const QString &previous)
{
    QStringList options;
    for (const StatementForm *form : candidates) {
        const QStringList words = wordsOf(*form);
        if (words.size() <= depth)
            continue;
        const QString option = isName(words[depth])
                                   ? QStringLiteral("a %1's name").arg(words[depth].toLower())
                                   : QLatin1Char('\'') + words[depth] + QLatin1Char('\'');
        if (!options.contains(option))
            options << option;
    }
    const QString last = options.size() > 1 ? options.takeLast() : QString();
    const QString list = options.join(QStringLiteral(", ")) +
                         (last.isEmpty() ? QString() : QStringLiteral(" or ") + last);
    in.fail(QStringLiteral("expected %1 after '%2', found %3").arg(list, previous, in.found()));
}

} // namespace

QList<const StatementForm *> statementForms()
{
    QList<const StatementForm *> forms;
    for (const StatementForm &form : kStatements)
        forms << &form;
    return forms;
}

const StatementForm &findForm(ScriptReader &in, Statement &st)
{
    QList<const StatementForm *> candidates = statementForms();
    QString previous;
    for (int depth = 0;; ++depth) {
        const QString word = in.peekName() ? in.peek()->text : QString();
        QList<const StatementForm *> literal;
        QList<const StatementForm *> named;
        const StatementForm *ended = nullptr;
        for (const StatementForm *form : std::as_const(candidates)) {
            const QStringList words = wordsOf(*form);
            if (words.size() == depth) {
                if (!ended)
                    ended = form;
            } else if (isName(words[depth])) {
                if (!word.isEmpty())
                    named << form;
            } else if (words[depth] == word) {
                literal << form;
            }
        }
        if (!literal.isEmpty()) {
            candidates = literal;
        } else if (!named.isEmpty()) {
            candidates = named;
            st.target = word;
        } else if (ended) {
            return *ended;
        } else if (depth == 0) {
            in.fail(QStringLiteral("unknown statement '%1'").arg(word));
        } else {
            refuse(in, candidates, depth, previous);
        }
        previous = word;
        in.skip();
    }
}

void readStatement(ScriptReader &in, Statement &st)
{
    const StatementForm &form = findForm(in, st);
    st.form = &form;
    form.parse(in, st);
    in.done();
}

bool isActionKeyword(const QString &word)
{
    for (const StatementForm &form : kStatements)
        if (form.role == Role::Action && wordsOf(form).constFirst() == word)
            return true;
    return false;
}

QStringList controlAspects()
{
    QStringList aspects;
    for (const StatementForm &form : kStatements) {
        const QStringList words = wordsOf(form);
        if (words.size() > 2 && words[0] == QLatin1String("expect") && isName(words[1]))
            aspects << phraseAfter(form, 2);
    }
    return aspects;
}

QString phraseAfter(const StatementForm &form, int n)
{
    return wordsOf(form).mid(n).join(QLatin1Char(' '));
}

} // namespace fis::scenario
