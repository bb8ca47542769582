// The reader of the scenario language: the line loop, tokens, values, blocks and inline tables.
// What each statement reads is in its family's file; the table in statements.cpp says which.
#include "reader.h"

#include "statements.h"

#include "data/packet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QRegularExpression>

namespace fis::scenario {

namespace {

const QString kPunct = QStringLiteral("=[](),");

} // namespace

ScriptReader::ScriptReader(const QString &file, const QString &baseDir, QSet<QString> *includeStack)
    : m_file(file), m_baseDir(baseDir), m_includes(includeStack)
{}

void ScriptReader::parse(const QString &text, QList<Statement> &out)
{
    m_lines = text.split(QLatin1Char('\n'));
    for (m_index = 0; m_index < m_lines.size(); ++m_index) {
        QString line = m_lines[m_index];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        startLine(line, m_index + 1);
        if (m_tokens.isEmpty())
            continue;
        if (!peekName())
            word(QStringLiteral("a statement"));
        if (accept("include")) {
            include(out);
            continue;
        }
        Statement st;
        st.file = m_file;
        st.line = m_lineNo;
        st.source = line.trimmed();
        readStatement(*this, st);
        out.append(std::move(st));
    }
}

void ScriptReader::startLine(const QString &line, int lineNo)
{
    m_lineNo = lineNo;
    m_tokens = tokenize(line);
    m_pos = 0;
}

void ScriptReader::fail(const QString &message) const
{
    throw ScriptError(m_file, m_lineNo, message);
}

void ScriptReader::failAt(int line, const QString &message) const
{
    throw ScriptError(m_file, line, message);
}

QList<Token> ScriptReader::tokenize(const QString &line) const
{
    QList<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        const QChar c = line[i];
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('#'))
            break;
        if (c == QLatin1Char('"')) {
            QString text;
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar d = line[i];
                if (d == QLatin1Char('\\') && i + 1 < n) {
                    const QChar e = line[i + 1];
                    if (e == QLatin1Char('n'))
                        text += QLatin1Char('\n');
                    else if (e == QLatin1Char('t'))
                        text += QLatin1Char('\t');
                    else if (e == QLatin1Char('"') || e == QLatin1Char('\\'))
                        text += e;
                    else
                        fail(QStringLiteral("unknown escape \\%1 in a quoted text").arg(e));
                    i += 2;
                    continue;
                }
                if (d == QLatin1Char('"')) {
                    closed = true;
                    ++i;
                    break;
                }
                text += d;
                ++i;
            }
            if (!closed)
                fail(QStringLiteral("quoted text not closed"));
            tokens.append({Token::String, text});
            continue;
        }
        if (kPunct.contains(c)) {
            tokens.append({Token::Punct, QString(c)});
            ++i;
            continue;
        }
        QString text;
        while (i < n && !line[i].isSpace() && !kPunct.contains(line[i]) &&
               line[i] != QLatin1Char('"'))
            text += line[i++];
        tokens.append({Token::Word, text});
    }
    return tokens;
}

bool ScriptReader::peekWord(const char *w) const
{
    const Token *t = peek();
    return t && t->type == Token::Word && t->text == QLatin1String(w);
}

bool ScriptReader::peekPunct(char p) const
{
    const Token *t = peek();
    return t && t->type == Token::Punct && t->text == QLatin1Char(p);
}

QString ScriptReader::found() const
{
    const Token *t = peek();
    if (!t)
        return QStringLiteral("the end of the line");
    if (t->type == Token::String)
        return QStringLiteral("\"%1\"").arg(t->text);
    return QStringLiteral("'%1'").arg(t->text);
}

QString ScriptReader::word(const QString &what)
{
    const Token *t = peek();
    if (!t || t->type != Token::Word)
        fail(QStringLiteral("expected %1, found %2").arg(what, found()));
    ++m_pos;
    return t->text;
}

QString ScriptReader::string(const QString &what)
{
    const Token *t = peek();
    if (!t || t->type != Token::String)
        fail(QStringLiteral("expected %1 in double quotes, found %2").arg(what, found()));
    ++m_pos;
    return t->text;
}

QString ScriptReader::text(const QString &what)
{
    const Token *t = peek();
    if (!t || t->type == Token::Punct)
        fail(QStringLiteral("expected %1, found %2").arg(what, found()));
    ++m_pos;
    return t->text;
}

void ScriptReader::punct(char p)
{
    if (!peekPunct(p))
        fail(QStringLiteral("expected '%1', found %2").arg(QLatin1Char(p)).arg(found()));
    ++m_pos;
}

int ScriptReader::integer(const QString &what, int minimum)
{
    const QString w = word(what);
    bool ok = false;
    const int n = w.toInt(&ok);
    if (!ok || n < minimum)
        fail(QStringLiteral("expected %1 (a whole number from %2), found '%3'")
                 .arg(what)
                 .arg(minimum)
                 .arg(w));
    return n;
}

void ScriptReader::done()
{
    if (!atEnd())
        fail(QStringLiteral("unexpected %1 at the end of the statement").arg(found()));
}

int ScriptReader::oneOf(const QStringList &words, const QString &what)
{
    const QString w = word(what);
    const int i = int(words.indexOf(w));
    if (i < 0)
        fail(QStringLiteral("expected %1 (%2), found '%3'")
                 .arg(what, words.join(QStringLiteral(", ")), w));
    return i;
}

Variant ScriptReader::value()
{
    const Token *t = peek();
    if (!t)
        fail(QStringLiteral("expected a value, found the end of the line"));
    if (t->type == Token::String) {
        ++m_pos;
        return makeText(t->text);
    }
    if (t->type == Token::Punct && t->text == QLatin1String("[")) {
        ++m_pos;
        QVariantList items;
        if (!peekPunct(']')) {
            for (;;) {
                items.append(value());
                if (peekPunct(','))
                    ++m_pos;
                else
                    break;
            }
        }
        punct(']');
        return QVariant(items);
    }
    if (t->type == Token::Word) {
        const QString w = t->text;
        if (w == QLatin1String("null")) {
            ++m_pos;
            return Variant();
        }
        if (w == QLatin1String("date")) {
            ++m_pos;
            punct('(');
            QStringList parts;
            while (peek() && !peekPunct(')'))
                parts << text(QStringLiteral("a date"));
            punct(')');
            const QString joined = parts.join(QLatin1Char(' '));
            if (joined == QLatin1String("0"))
                return makeDate(TDateTime());
            const auto d = parseDateLiteral(joined);
            if (!d)
                fail(QStringLiteral("'%1' is not a date (dd/MM/yyyy [HH:mm[:ss]])").arg(joined));
            return makeDate(*d);
        }
        if (const auto d = parseDateLiteral(w)) {
            ++m_pos;
            return makeDate(*d);
        }
        bool ok = false;
        const double number = parseNumber(w, &ok);
        if (ok) {
            ++m_pos;
            return makeFloat(number);
        }
    }
    fail(QStringLiteral("expected a value (\"text\", a number, null, date(dd/MM/yyyy) or "
                        "[...]), found %1")
             .arg(found()));
}

double ScriptReader::parseNumber(const QString &w, bool *ok)
{
    static const QRegularExpression re(QStringLiteral(R"(^-?\d+(\.\d+)?$)"));
    *ok = re.match(w).hasMatch();
    return *ok ? w.toDouble() : 0.0;
}

Expected ScriptReader::expectedValue()
{
    if (peekWord("*")) {
        ++m_pos;
        return {Expected::Kind::Any, {}, 0};
    }
    if (peekWord("packet")) {
        ++m_pos;
        if (peekPunct('(')) {
            ++m_pos;
            const int rows = integer(QStringLiteral("a row count"));
            punct(')');
            return {Expected::Kind::PacketRows, {}, rows};
        }
        return {Expected::Kind::AnyPacket, {}, 0};
    }
    return Expected::exact(value());
}

QStringList ScriptReader::blockLines(const QString &what)
{
    const int start = m_lineNo;
    QStringList lines;
    for (++m_index; m_index < m_lines.size(); ++m_index) {
        QString line = m_lines[m_index];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed() == QLatin1String("end")) {
            m_lineNo = m_index + 1;
            return lines;
        }
        lines << line;
    }
    m_lineNo = start;
    fail(QStringLiteral("%1 started here has no line 'end'").arg(what));
}

QStringList ScriptReader::splitCells(const QString &line, int lineNo) const
{
    QStringList cells;
    QString cell;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            cell += c;
        } else if (c == QLatin1Char('\\') && quoted && i + 1 < line.size()) {
            cell += c;
            cell += line[++i];
        } else if (c == QLatin1Char('|') && !quoted) {
            cells << cell.trimmed();
            cell.clear();
        } else {
            cell += c;
        }
    }
    if (quoted)
        throw ScriptError(m_file, lineNo, QStringLiteral("quoted text not closed"));
    cells << cell.trimmed();
    return cells;
}

QString ScriptReader::unquote(const QString &cell)
{
    QString out(QLatin1String("")); // "" is the empty text, never null
    for (qsizetype i = 1; i + 1 < cell.size(); ++i) {
        if (cell[i] == QLatin1Char('\\') && i + 2 < cell.size()) {
            const QChar e = cell[++i];
            out += e == QLatin1Char('n') ? QChar(QLatin1Char('\n')) : e;
        } else {
            out += cell[i];
        }
    }
    return out;
}

InlineTable ScriptReader::table(const QString &name)
{
    InlineTable t;
    t.name = name;
    t.line = m_lineNo;
    const int firstLine = m_index + 2;
    const QStringList lines = blockLines(QStringLiteral("the table"));
    static const QRegularExpression colRe(QStringLiteral(
        R"(^([A-Za-z_][A-Za-z0-9_]*)\s*:\s*(string|fixed|float|date)\s*(?:\(\s*(\d+)\s*\))?$)"));
    bool header = true;
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = firstLine + i;
        const QString trimmed = lines[i].trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        const QStringList cells = splitCells(trimmed, lineNo);
        if (header) {
            header = false;
            for (const QString &cell : cells) {
                const auto m = colRe.match(cell);
                if (!m.hasMatch())
                    throw ScriptError(m_file, lineNo,
                                      QStringLiteral("column '%1' is not NAME:type (types: "
                                                     "string(n), fixed(n), float, date)")
                                          .arg(cell));
                TableColumn col;
                col.name = m.captured(1);
                const QString type = m.captured(2);
                col.type = type == QLatin1String("string")  ? ColumnType::String
                           : type == QLatin1String("fixed") ? ColumnType::Fixed
                           : type == QLatin1String("float") ? ColumnType::Float
                                                            : ColumnType::Date;
                col.size = m.captured(3).toInt();
                if (col.type == ColumnType::Fixed && col.size <= 0)
                    throw ScriptError(
                        m_file, lineNo,
                        QStringLiteral("column '%1': fixed needs a size").arg(col.name));
                for (const TableColumn &other : std::as_const(t.columns))
                    if (other.name.compare(col.name, Qt::CaseInsensitive) == 0)
                        throw ScriptError(
                            m_file, lineNo,
                            QStringLiteral("column '%1' appears twice").arg(col.name));
                t.columns.append(col);
            }
            continue;
        }
        if (cells.size() != t.columns.size())
            throw ScriptError(m_file, lineNo,
                              QStringLiteral("row has %1 values, the table has %2 columns")
                                  .arg(cells.size())
                                  .arg(t.columns.size()));
        QVariantList row;
        for (int c = 0; c < cells.size(); ++c)
            row.append(cellValue(cells[c], t.columns[c], lineNo));
        t.rows.append(row);
    }
    if (t.columns.isEmpty())
        throw ScriptError(m_file, t.line, QStringLiteral("the table has no column line"));
    return t;
}

Variant ScriptReader::cellValue(const QString &cell, const TableColumn &col, int lineNo) const
{
    const bool quoted =
        cell.size() >= 2 && cell.startsWith(QLatin1Char('"')) && cell.endsWith(QLatin1Char('"'));
    if (!quoted && (cell.isEmpty() || cell == QLatin1String("null")))
        return Variant();
    const QString text = quoted ? unquote(cell) : cell;
    switch (col.type) {
    case ColumnType::String:
    case ColumnType::Fixed:
        return makeText(text);
    case ColumnType::Float: {
        bool ok = false;
        const double d = parseNumber(text, &ok);
        if (!ok)
            throw ScriptError(m_file, lineNo,
                              QStringLiteral("column %1: '%2' is not a number (write 1234.56)")
                                  .arg(col.name, text));
        return makeFloat(d);
    }
    case ColumnType::Date: {
        const auto d = parseDateLiteral(text);
        if (!d)
            throw ScriptError(
                m_file, lineNo,
                QStringLiteral("column %1: '%2' is not a date (dd/MM/yyyy)").arg(col.name, text));
        return makeDate(*d);
    }
    }
    return Variant();
}

void ScriptReader::include(QList<Statement> &out)
{
    const QString name = text(QStringLiteral("the file to include"));
    done();
    const QString path = QDir(m_baseDir).absoluteFilePath(name);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    QFile f(path);
    if (canonical.isEmpty() || !f.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read the included file '%1'").arg(path));
    if (m_includes->contains(canonical))
        fail(QStringLiteral("'%1' includes itself").arg(name));
    m_includes->insert(canonical);
    ScriptReader inner(QFileInfo(path).fileName(), QFileInfo(path).absolutePath(), m_includes);
    inner.parse(QString::fromUtf8(f.readAll()), out);
    m_includes->remove(canonical);
}

QKeyCombination ScriptReader::keyCombination(const QString &name)
{
    static const QMap<QString, QString> aliases{
        {QStringLiteral("Escape"), QStringLiteral("Esc")},
        {QStringLiteral("Delete"), QStringLiteral("Del")},
        {QStringLiteral("Insert"), QStringLiteral("Ins")},
        {QStringLiteral("PageUp"), QStringLiteral("PgUp")},
        {QStringLiteral("PageDown"), QStringLiteral("PgDown")},
    };
    QStringList parts = name.split(QLatin1Char('+'));
    if (!parts.isEmpty())
        parts.last() = aliases.value(parts.last(), parts.last());
    const QKeySequence seq =
        QKeySequence::fromString(parts.join(QLatin1Char('+')), QKeySequence::PortableText);
    if (seq.count() != 1 || seq[0].key() == Qt::Key_unknown || seq[0].key() == 0)
        fail(QStringLiteral("'%1' is not a key (e.g. Tab, Enter, Down, F5, Ctrl+I)").arg(name));
    return seq[0];
}

int ScriptReader::sinceLine()
{
    if (!accept("since"))
        return 0;
    if (!accept("line"))
        fail(QStringLiteral("expected 'since line N'"));
    return integer(QStringLiteral("a line number"), 1);
}

bool ScriptReader::peekName() const
{
    const Token *t = peek();
    return t && t->type == Token::Word;
}

bool ScriptReader::peekString() const
{
    const Token *t = peek();
    return t && t->type == Token::String;
}

bool ScriptReader::accept(const char *w)
{
    if (!peekWord(w))
        return false;
    ++m_pos;
    return true;
}

Script parseText(const QString &text, const QString &file, const QString &baseDir)
{
    Script script;
    script.file = file;
    script.baseDir = baseDir.isEmpty() ? QDir::currentPath() : baseDir;
    QSet<QString> includes;
    ScriptReader reader(file, baseDir.isEmpty() ? QDir::currentPath() : baseDir, &includes);
    reader.parse(text, script.statements);
    return script;
}

Script parseFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw ScriptError(path, 0,
                          QStringLiteral("cannot read the script: %1").arg(f.errorString()));
    const QFileInfo info(path);
    Script script;
    script.file = info.fileName();
    script.baseDir = info.absolutePath();
    QSet<QString> includes{info.canonicalFilePath()};
    ScriptReader reader(info.fileName(), info.absolutePath(), &includes);
    reader.parse(QString::fromUtf8(f.readAll()), script.statements);
    return script;
}

} // namespace fis::scenario
