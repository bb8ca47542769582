// The table of statements: every row is found from its own phrase (a repeated or shadowed phrase
// would never run), a row that cannot run refuses every line, and a line that leaves the table is
// refused naming the words the table has at that place.
#include "reader.h"
#include "statements.h"

#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

using namespace fis::scenario;

namespace {

QString errorOf(const QString &text)
{
    try {
        parseText(text, QStringLiteral("t.fis"));
    } catch (const ScriptError &e) {
        return e.describe();
    }
    return QStringLiteral("<no error>");
}

} // namespace

TEST(TableOfStatements, EveryRowIsFoundFromItsPhrase)
{
    static const QRegularExpression name(QStringLiteral(R"(\b[A-Z]+\b)"));
    QSet<QString> includes;
    QSet<QString> phrases;
    for (const StatementForm *form : statementForms()) {
        const QString phrase = QString::fromLatin1(form->phrase);
        EXPECT_FALSE(phrases.contains(phrase)) << "twice in the table: " << form->phrase;
        phrases.insert(phrase);

        QString line = phrase;
        line.replace(name, QStringLiteral("ctlSomething"));
        ScriptReader in(QStringLiteral("t.fis"), QStringLiteral("."), &includes);
        in.startLine(line, 1);
        Statement st;
        EXPECT_EQ(&findForm(in, st), form) << "not found from its phrase: " << form->phrase;
        EXPECT_TRUE(in.atEnd()) << form->phrase;
        if (line != phrase) {
            EXPECT_EQ(st.target, "ctlSomething") << form->phrase;
        }
        if (!form->run) {
            EXPECT_THROW(form->parse(in, st), ScriptError)
                << "a row that cannot run accepts a line: " << form->phrase;
        }
    }
}

TEST(TableOfStatements, ALineThatLeavesTheTableNamesTheWordsItHas)
{
    EXPECT_EQ(errorOf("answer maybe"), "t.fis:1: expected 'pick', 'find', 'integration', "
                                       "'confirm', 'dialog' or 'file' after 'answer', found "
                                       "'maybe'");
    EXPECT_EQ(errorOf("expect no calls"),
              "t.fis:1: expected 'message', 'call', 'dialog', 'editor', 'ellipsis' or 'mark' "
              "after 'no', found 'calls'");
    // A word the table has there wins over a control of that name.
    EXPECT_EQ(errorOf("expect message text \"x\""),
              "t.fis:1: expected a message kind (info, warning, error, confirm), found 'text'");
}
