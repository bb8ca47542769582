#pragma once
// Reads the text of a script into Statements: one statement a line (blocks for inline tables and
// SQL), includes resolved beside the including file. A line's statement is found in the table of
// statements (statements.h); the row's parse function reads the rest of the line with the
// primitives below, which throw ScriptError naming the file and line.
#include "script.h"

#include <QKeyCombination>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace fis::scenario {

struct Token
{
    enum Type { Word, String, Punct };
    Type type = Word;
    QString text;
};

class ScriptReader
{
public:
    ScriptReader(const QString &file, const QString &baseDir, QSet<QString> *includeStack);

    // Reads every statement of text (and of the files it includes) into out.
    void parse(const QString &text, QList<Statement> &out);

    // Makes line (of number lineNo) the one the primitives below read.
    void startLine(const QString &line, int lineNo);

    [[noreturn]] void fail(const QString &message) const;
    [[noreturn]] void failAt(int line, const QString &message) const;
    QString file() const { return m_file; }
    int line() const { return m_lineNo; }

    // ---- the tokens of the line ----
    bool atEnd() const { return m_pos >= m_tokens.size(); }
    const Token *peek() const { return atEnd() ? nullptr : &m_tokens[m_pos]; }
    bool peekWord(const char *w) const;
    bool peekPunct(char p) const;
    bool peekName() const;      // a word comes next
    bool peekString() const;    // a quoted text comes next
    bool accept(const char *w); // skips the word w when it comes next
    void skip() { ++m_pos; }
    QString found() const; // what comes next, for an error

    QString word(const QString &what);
    QString string(const QString &what); // a quoted text
    QString text(const QString &what);   // a word or a quoted text
    void punct(char p);
    int integer(const QString &what, int minimum = 0);
    void done();                                              // nothing more on the line
    int oneOf(const QStringList &words, const QString &what); // the index of the word read

    // value := "text" | number | null | date(dd/MM/yyyy[ HH:mm[:ss]]) | dd/MM/yyyy | [v, ...]
    Variant value();
    // A value, or * (anything), packet (any packet), packet(N) (a packet of N rows).
    Expected expectedValue();
    QKeyCombination keyCombination(const QString &name);
    // "since line N" (N from 1), or 0 when the line does not go on with "since".
    int sinceLine();
    static double parseNumber(const QString &w, bool *ok);

    // ---- blocks ----
    // The lines up to the line "end"; the reader goes on after it.
    QStringList blockLines(const QString &what);
    // An inline table block: the column line, then the rows.
    InlineTable table(const QString &name);

private:
    QList<Token> tokenize(const QString &line) const;
    void include(QList<Statement> &out);
    QStringList splitCells(const QString &line, int lineNo) const;
    static QString unquote(const QString &cell);
    Variant cellValue(const QString &cell, const TableColumn &col, int lineNo) const;

    QString m_file;
    QString m_baseDir;
    QSet<QString> *m_includes;
    QStringList m_lines;
    int m_index = 0;
    int m_lineNo = 0;
    QList<Token> m_tokens;
    int m_pos = 0;
};

} // namespace fis::scenario
