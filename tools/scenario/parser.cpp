// The parser of the scenario language: tokens, values, blocks and statements.
#include "script.h"

#include "data/packet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QRegularExpression>
#include <QSet>

#include <cmath>

namespace fis::scenario {

namespace {

struct Token
{
    enum Type { Word, String, Punct };
    Type type = Word;
    QString text;
};

const QString kPunct = QStringLiteral("=[](),");

class Parser
{
public:
    Parser(const QString &file, const QString &baseDir, QSet<QString> *includeStack)
        : m_file(file), m_baseDir(baseDir), m_includes(includeStack)
    {}

    void parse(const QString &text, QList<Statement> &out)
    {
        m_lines = text.split(QLatin1Char('\n'));
        for (m_index = 0; m_index < m_lines.size(); ++m_index) {
            QString line = m_lines[m_index];
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            m_lineNo = m_index + 1;
            m_tokens = tokenize(line);
            m_pos = 0;
            if (m_tokens.isEmpty())
                continue;
            const QString keyword = word(QStringLiteral("a statement"));
            if (keyword == QLatin1String("include")) {
                include(out);
                continue;
            }
            Statement st;
            st.file = m_file;
            st.line = m_lineNo;
            st.source = line.trimmed();
            statement(keyword, st);
            out.append(std::move(st));
        }
    }

private:
    [[noreturn]] void fail(const QString &message) const
    {
        throw ScriptError(m_file, m_lineNo, message);
    }

    QList<Token> tokenize(const QString &line) const
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

    bool atEnd() const { return m_pos >= m_tokens.size(); }
    const Token *peek() const { return atEnd() ? nullptr : &m_tokens[m_pos]; }
    bool peekWord(const char *w) const
    {
        const Token *t = peek();
        return t && t->type == Token::Word && t->text == QLatin1String(w);
    }
    bool peekPunct(char p) const
    {
        const Token *t = peek();
        return t && t->type == Token::Punct && t->text == QLatin1Char(p);
    }
    QString found() const
    {
        const Token *t = peek();
        if (!t)
            return QStringLiteral("the end of the line");
        if (t->type == Token::String)
            return QStringLiteral("\"%1\"").arg(t->text);
        return QStringLiteral("'%1'").arg(t->text);
    }

    QString word(const QString &what)
    {
        const Token *t = peek();
        if (!t || t->type != Token::Word)
            fail(QStringLiteral("expected %1, found %2").arg(what, found()));
        ++m_pos;
        return t->text;
    }
    QString string(const QString &what)
    {
        const Token *t = peek();
        if (!t || t->type != Token::String)
            fail(QStringLiteral("expected %1 in double quotes, found %2").arg(what, found()));
        ++m_pos;
        return t->text;
    }
    // A word or a quoted text.
    QString text(const QString &what)
    {
        const Token *t = peek();
        if (!t || t->type == Token::Punct)
            fail(QStringLiteral("expected %1, found %2").arg(what, found()));
        ++m_pos;
        return t->text;
    }
    void punct(char p)
    {
        if (!peekPunct(p))
            fail(QStringLiteral("expected '%1', found %2").arg(QLatin1Char(p)).arg(found()));
        ++m_pos;
    }
    int integer(const QString &what, int minimum = 0)
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
    void done()
    {
        if (!atEnd())
            fail(QStringLiteral("unexpected %1 at the end of the statement").arg(found()));
    }
    // One of the words; returns its index.
    int oneOf(const QStringList &words, const QString &what)
    {
        const QString w = word(what);
        const int i = int(words.indexOf(w));
        if (i < 0)
            fail(QStringLiteral("expected %1 (%2), found '%3'")
                     .arg(what, words.join(QStringLiteral(", ")), w));
        return i;
    }

    // value := "text" | number | null | date(dd/MM/yyyy[ HH:mm[:ss]]) | dd/MM/yyyy | [v, ...]
    Variant value()
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
                    fail(
                        QStringLiteral("'%1' is not a date (dd/MM/yyyy [HH:mm[:ss]])").arg(joined));
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

    static double parseNumber(const QString &w, bool *ok)
    {
        static const QRegularExpression re(QStringLiteral(R"(^-?\d+(\.\d+)?$)"));
        *ok = re.match(w).hasMatch();
        return *ok ? w.toDouble() : 0.0;
    }

    Expected expectedValue()
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

    // ---- blocks ----------------------------------------------------------------------------

    // The lines up to the line "end"; m_index ends on it.
    QStringList blockLines(const QString &what)
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

    QStringList splitCells(const QString &line, int lineNo) const
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

    static QString unquote(const QString &cell)
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

    InlineTable table(const QString &name)
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

    Variant cellValue(const QString &cell, const TableColumn &col, int lineNo) const
    {
        const bool quoted = cell.size() >= 2 && cell.startsWith(QLatin1Char('"')) &&
                            cell.endsWith(QLatin1Char('"'));
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
                throw ScriptError(m_file, lineNo,
                                  QStringLiteral("column %1: '%2' is not a date (dd/MM/yyyy)")
                                      .arg(col.name, text));
            return makeDate(*d);
        }
        }
        return Variant();
    }

    // ---- statements ------------------------------------------------------------------------

    void include(QList<Statement> &out)
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
        Parser inner(QFileInfo(path).fileName(), QFileInfo(path).absolutePath(), m_includes);
        inner.parse(QString::fromUtf8(f.readAll()), out);
        m_includes->remove(canonical);
    }

    QKeyCombination keyCombination(const QString &name)
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

    void statement(const QString &keyword, Statement &st)
    {
        if (keyword == QLatin1String("login"))
            return login(st);
        if (keyword == QLatin1String("server")) {
            st.kind = StatementKind::Server;
            st.text = text(QStringLiteral("'fake' or HOST:PORT"));
            if (st.text != QLatin1String("fake") && !validAddress(st.text))
                fail(QStringLiteral("'%1' is neither 'fake' nor HOST:PORT").arg(st.text));
            return done();
        }
        if (keyword == QLatin1String("database"))
            return database(st);
        if (keyword == QLatin1String("table")) {
            st.kind = StatementKind::Table;
            const QString name = word(QStringLiteral("the table's name"));
            done();
            st.table = table(name);
            return;
        }
        if (keyword == QLatin1String("reply"))
            return reply(st);
        if (keyword == QLatin1String("answer"))
            return answer(st);
        if (keyword == QLatin1String("note")) {
            st.kind = StatementKind::Note;
            st.text = string(QStringLiteral("the note"));
            return done();
        }
        if (keyword == QLatin1String("expect"))
            return expect(st);
        if (action(keyword, st))
            return;
        fail(QStringLiteral("unknown statement '%1'").arg(keyword));
    }

    static bool validAddress(const QString &address)
    {
        const int colon = int(address.lastIndexOf(QLatin1Char(':')));
        if (colon <= 0)
            return false;
        bool ok = false;
        const int port = address.mid(colon + 1).toInt(&ok);
        return ok && port > 0 && port < 65536;
    }

    void login(Statement &st)
    {
        st.kind = StatementKind::Login;
        static const QStringList keys{QStringLiteral("FiliProc"), QStringLiteral("DataProc"),
                                      QStringLiteral("NomeOperador"), QStringLiteral("ReportDir"),
                                      QStringLiteral("Token")};
        if (atEnd())
            fail(QStringLiteral("expected KEY=VALUE after login"));
        while (!atEnd()) {
            const QString key = word(QStringLiteral("a login key"));
            if (key == QLatin1String("WebURL") || key == QLatin1String("WebPort"))
                fail(QStringLiteral("%1 is the runner's own server; choose a real one with "
                                    "'server HOST:PORT'")
                         .arg(key));
            const QString base = key.section(QLatin1Char('@'), 0, 0);
            if (!keys.contains(base) ||
                (key.contains(QLatin1Char('@')) && base != QLatin1String("DataProc")))
                fail(QStringLiteral("unknown login key '%1' (known: %2, DataProc@BRANCH)")
                         .arg(key, keys.join(QStringLiteral(", "))));
            punct('=');
            const QString v = text(QStringLiteral("the value of ") + key);
            if (base == QLatin1String("DataProc") && !parseDateLiteral(v))
                fail(QStringLiteral("%1: '%2' is not a date (dd/MM/yyyy)").arg(key, v));
            st.settings.insert(key, v);
        }
    }

    void database(Statement &st)
    {
        if (peekWord("table")) {
            ++m_pos;
            st.kind = StatementKind::DbTable;
            const QString name = word(QStringLiteral("the database table's name"));
            done();
            st.table = table(name);
            return;
        }
        if (peekWord("sql")) {
            ++m_pos;
            st.kind = StatementKind::DbSql;
            done();
            st.text = blockLines(QStringLiteral("the SQL block")).join(QLatin1Char('\n'));
            return;
        }
        st.kind = StatementKind::Database;
        st.text = text(QStringLiteral("a SQLite file, 'table NAME' or 'sql'"));
        done();
    }

    void reply(Statement &st)
    {
        st.kind = StatementKind::Reply;
        st.target = word(QStringLiteral("the remote method"));
        ReplySpec &r = st.reply;
        if (peekWord("once")) {
            ++m_pos;
            r.once = true;
        }
        while (peekWord("out")) {
            ++m_pos;
            const int pos = integer(QStringLiteral("an argument position"), 1);
            punct('=');
            r.outputs.insert(pos, value());
        }
        if (peekWord("table")) {
            ++m_pos;
            done();
            r.table = table(QString());
            return;
        }
        if (peekWord("packet")) {
            ++m_pos;
            r.packetName = word(QStringLiteral("the name of a table"));
            return done();
        }
        if (peekWord("error")) {
            ++m_pos;
            r.isError = true;
            r.errorText = string(QStringLiteral("the error text"));
            return done();
        }
        r.result = value();
        done();
    }

    void answer(Statement &st)
    {
        st.kind = StatementKind::Answer;
        const int what =
            oneOf({QStringLiteral("pick"), QStringLiteral("find"), QStringLiteral("integration"),
                   QStringLiteral("confirm"), QStringLiteral("dialog")},
                  QStringLiteral("what to answer"));
        switch (what) {
        case 0: // pick
            if (peekWord("cancel")) {
                ++m_pos;
                st.answerKind = AnswerKind::PickCancel;
            } else if (peekWord("row")) {
                ++m_pos;
                st.answerKind = AnswerKind::PickRow;
                st.number = integer(QStringLiteral("a row number"), 1);
            } else {
                st.answerKind = AnswerKind::PickValue;
                st.field = word(QStringLiteral("'row N', 'cancel' or FIELD=VALUE"));
                punct('=');
                st.value = value();
            }
            return done();
        case 1: // find
            if (peekWord("cancel")) {
                ++m_pos;
                st.answerKind = AnswerKind::FindCancel;
            } else {
                st.answerKind = AnswerKind::FindValue;
                st.field = word(QStringLiteral("'cancel' or FIELD=VALUE"));
                punct('=');
                st.value = value();
            }
            return done();
        case 2: { // integration
            const int how = oneOf({QStringLiteral("same"), QStringLiteral("cancel"),
                                   QStringLiteral("packet"), QStringLiteral("table")},
                                  QStringLiteral("the integration answer"));
            if (how == 0)
                st.answerKind = AnswerKind::IntegrationSame;
            else if (how == 1)
                st.answerKind = AnswerKind::IntegrationCancel;
            else if (how == 2) {
                st.answerKind = AnswerKind::IntegrationPacket;
                st.target = word(QStringLiteral("the name of a table"));
            } else {
                st.answerKind = AnswerKind::IntegrationPacket;
                done();
                st.table = table(QString());
                return;
            }
            return done();
        }
        case 3: // confirm
            st.answerKind = AnswerKind::Confirm;
            st.flag = oneOf({QStringLiteral("no"), QStringLiteral("yes")},
                            QStringLiteral("yes or no")) == 1;
            return done();
        default: { // dialog NAME <action>
            st.answerKind = AnswerKind::Dialog;
            st.target = word(QStringLiteral("the dialog's name"));
            auto inner = std::make_shared<Statement>();
            inner->file = st.file;
            inner->line = st.line;
            inner->source = st.source;
            const QString keyword = word(QStringLiteral("an action to run in the dialog"));
            if (!action(keyword, *inner))
                fail(QStringLiteral("'%1' is not an action").arg(keyword));
            st.nested = inner;
            return;
        }
        }
    }

    bool action(const QString &keyword, Statement &st)
    {
        if (keyword == QLatin1String("call")) {
            st.kind = StatementKind::Call;
            st.target = word(QStringLiteral("an entry point"));
            static const QStringList entries{QStringLiteral("IniProc"),
                                             QStringLiteral("CriaEmiPrevSocial"),
                                             QStringLiteral("CriaFiltroEmiPrevSocial")};
            // OBJECT.METHOD names an invokable method of a screen instead.
            const qsizetype dot = st.target.indexOf(QLatin1Char('.'));
            const bool method = dot > 0 && dot < st.target.size() - 1;
            if (!method && !entries.contains(st.target))
                fail(QStringLiteral("unknown entry point '%1' (known: %2)")
                         .arg(st.target, entries.join(QStringLiteral(", "))));
        } else if (keyword == QLatin1String("type")) {
            st.kind = StatementKind::Type;
            if (peek() && peek()->type == Token::Word)
                st.target = word(QString());
            st.text = string(QStringLiteral("the text to type"));
        } else if (keyword == QLatin1String("key")) {
            st.kind = StatementKind::Key;
            while (!atEnd() && !peekWord("in"))
                st.keys.append(keyCombination(word(QStringLiteral("a key"))));
            if (st.keys.isEmpty())
                fail(QStringLiteral("expected at least one key"));
            if (peekWord("in")) {
                ++m_pos;
                st.target = word(QStringLiteral("the control"));
            }
        } else if (keyword == QLatin1String("click")) {
            st.kind = StatementKind::Click;
            st.target = word(QStringLiteral("the control or menu item"));
        } else if (keyword == QLatin1String("menu")) {
            st.kind = StatementKind::Menu;
            st.text = string(QStringLiteral("the menu path (\"Operação/Imprimir\")"));
        } else if (keyword == QLatin1String("focus")) {
            st.kind = StatementKind::Focus;
            st.target = word(QStringLiteral("the control"));
        } else if (keyword == QLatin1String("leave")) {
            st.kind = StatementKind::Leave;
            if (!atEnd() && !peekWord("to"))
                st.target = word(QStringLiteral("the control"));
            if (peekWord("to")) {
                ++m_pos;
                st.other = word(QStringLiteral("the control that gets the focus"));
            }
        } else if (keyword == QLatin1String("choose")) {
            st.kind = StatementKind::Choose;
            st.target = word(QStringLiteral("the combo or radio group"));
            if (peek() && peek()->type == Token::String) {
                st.text = string(QString());
            } else {
                st.number = integer(QStringLiteral("an item index or \"text\""));
                st.hasNumber = true;
            }
        } else if (keyword == QLatin1String("cell")) {
            st.kind = StatementKind::Cell;
            st.target = word(QStringLiteral("the grid"));
            st.number = integer(QStringLiteral("a row number"), 1);
            st.field = word(QStringLiteral("the field name"));
            if (peekWord("double")) {
                ++m_pos;
                st.flag = true;
            }
        } else if (keyword == QLatin1String("title")) {
            st.kind = StatementKind::Title;
            st.target = word(QStringLiteral("the grid"));
            st.field = word(QStringLiteral("the field name"));
        } else if (keyword == QLatin1String("close")) {
            st.kind = StatementKind::Close;
            st.target = word(QStringLiteral("the window"));
        } else if (keyword == QLatin1String("load")) {
            // load SET table + block / load SET packet NAME: the set gets the rows as one packet,
            // as a confirmed filter hands it the server's answer.
            st.kind = StatementKind::Load;
            st.target = word(QStringLiteral("the record set"));
            const int how = oneOf({QStringLiteral("table"), QStringLiteral("packet")},
                                  QStringLiteral("'table' or 'packet NAME'"));
            if (how == 0) {
                done();
                st.table = table(QString());
                return true;
            }
            st.other = word(QStringLiteral("the name of a table"));
        } else {
            return false;
        }
        done();
        return true;
    }

    int sinceLine()
    {
        if (!peekWord("since"))
            return 0;
        ++m_pos;
        if (!peekWord("line"))
            fail(QStringLiteral("expected 'since line N'"));
        ++m_pos;
        return integer(QStringLiteral("a line number"), 1);
    }

    void expect(Statement &st)
    {
        st.kind = StatementKind::Expect;
        const QString what = word(QStringLiteral("what to expect"));
        if (what == QLatin1String("message")) {
            st.expectKind = ExpectKind::Message;
            if (peek() && peek()->type == Token::Word) {
                static const QStringList kinds{QStringLiteral("info"), QStringLiteral("warning"),
                                               QStringLiteral("error"), QStringLiteral("confirm")};
                st.other = kinds.at(oneOf(kinds, QStringLiteral("a message kind")));
            }
            st.text = string(QStringLiteral("the message text"));
        } else if (what == QLatin1String("messages")) {
            st.expectKind = ExpectKind::Messages;
            st.number = integer(QStringLiteral("a message count"));
        } else if (what == QLatin1String("no")) {
            const int which =
                oneOf({QStringLiteral("message"), QStringLiteral("call"), QStringLiteral("dialog")},
                      QStringLiteral("message, call or dialog"));
            st.expectKind = which == 0   ? ExpectKind::NoMessage
                            : which == 1 ? ExpectKind::NoCall
                                         : ExpectKind::NoDialog;
            if (which != 2)
                st.sinceLine = sinceLine();
        } else if (what == QLatin1String("focus")) {
            st.expectKind = ExpectKind::Focus;
            st.target = word(QStringLiteral("the control"));
        } else if (what == QLatin1String("cell")) {
            st.expectKind = ExpectKind::Cell;
            st.target = word(QStringLiteral("the grid"));
            st.number = integer(QStringLiteral("a row number"), 1);
            st.field = word(QStringLiteral("the field name"));
            st.text = string(QStringLiteral("the cell's text"));
        } else if (what == QLatin1String("records")) {
            st.expectKind = ExpectKind::Records;
            st.target = word(QStringLiteral("the record set"));
            if (peekWord("sql")) {
                // The count a query gives on the host database: "SELECT COUNT(*) ..." on the
                // line, or the statement in a block up to "end".
                ++m_pos;
                const int line = m_lineNo;
                if (atEnd()) {
                    st.text = blockLines(QStringLiteral("the SQL block")).join(QLatin1Char('\n'));
                } else {
                    st.text = string(QStringLiteral("the query"));
                    done();
                }
                st.text = st.text.trimmed();
                if (st.text.endsWith(QLatin1Char(';')))
                    st.text.chop(1);
                if (st.text.trimmed().isEmpty())
                    throw ScriptError(m_file, line,
                                      QStringLiteral("the query of 'expect records ... sql' is "
                                                     "empty"));
                return;
            }
            st.number = integer(QStringLiteral("a record count or 'sql'"));
        } else if (what == QLatin1String("field")) {
            st.expectKind = ExpectKind::Field;
            st.target = word(QStringLiteral("the record set"));
            st.number = integer(QStringLiteral("a row number"), 1);
            st.field = word(QStringLiteral("the field name"));
            st.expected = expectedValue();
        } else if (what == QLatin1String("call")) {
            st.expectKind = ExpectKind::Call;
            st.number = 1;
            if (peekPunct('[')) {
                ++m_pos;
                st.number = integer(QStringLiteral("which call back (1 = the last)"), 1);
                punct(']');
            }
            st.target = word(QStringLiteral("the remote method"));
            while (!atEnd()) {
                const int pos = integer(QStringLiteral("an argument position"), 1);
                punct('=');
                st.args.append({pos, expectedValue()});
            }
        } else if (what == QLatin1String("calls")) {
            st.expectKind = ExpectKind::Calls;
            st.target = word(QStringLiteral("the remote method"));
            st.number = integer(QStringLiteral("a call count"));
        } else if (what == QLatin1String("dialog")) {
            st.expectKind = ExpectKind::Dialog;
            st.target = word(QStringLiteral("the dialog's name"));
            if (peekWord("opened")) {
                ++m_pos;
                st.flag = true;
            }
        } else if (what == QLatin1String("pick")) {
            st.expectKind = ExpectKind::Pick;
            if (!atEnd())
                st.text = string(QStringLiteral("the pick list's title"));
        } else if (what == QLatin1String("find")) {
            st.expectKind = ExpectKind::Find;
        } else if (what == QLatin1String("integration")) {
            st.expectKind = ExpectKind::Integration;
        } else if (what == QLatin1String("result")) {
            st.expectKind = ExpectKind::Result;
            st.flag = oneOf({QStringLiteral("false"), QStringLiteral("true")},
                            QStringLiteral("true or false")) == 1;
        } else {
            // expect CONTROL <state | text "..." | display "..." | index N | count N | row N |
            //                 property NAME VALUE>
            st.target = what;
            static const QStringList states{QStringLiteral("enabled"),   QStringLiteral("disabled"),
                                            QStringLiteral("visible"),   QStringLiteral("hidden"),
                                            QStringLiteral("maximized"), QStringLiteral("checked"),
                                            QStringLiteral("unchecked"), QStringLiteral("readonly"),
                                            QStringLiteral("editable"),  QStringLiteral("absent")};
            const QString aspect = word(QStringLiteral("what to expect of ") + what);
            if (states.contains(aspect)) {
                st.expectKind = ExpectKind::State;
                st.text = aspect;
            } else if (aspect == QLatin1String("highlighted")) {
                // A required field shows the information colour as its background.
                st.expectKind = ExpectKind::State;
                st.text = aspect;
            } else if (aspect == QLatin1String("not")) {
                if (!peekWord("highlighted"))
                    fail(QStringLiteral("expected 'highlighted' after 'not', found %1")
                             .arg(found()));
                ++m_pos;
                st.expectKind = ExpectKind::State;
                st.text = QStringLiteral("not highlighted");
            } else if (aspect == QLatin1String("text")) {
                st.expectKind = ExpectKind::Text;
                st.text = string(QStringLiteral("the text"));
            } else if (aspect == QLatin1String("display")) {
                st.expectKind = ExpectKind::Display;
                st.text = string(QStringLiteral("the displayed text"));
            } else if (aspect == QLatin1String("index")) {
                st.expectKind = ExpectKind::Index;
                st.number = integer(QStringLiteral("an index"), -1);
            } else if (aspect == QLatin1String("count")) {
                st.expectKind = ExpectKind::Count;
                st.number = integer(QStringLiteral("a count"));
            } else if (aspect == QLatin1String("row")) {
                st.expectKind = ExpectKind::Row;
                st.number = integer(QStringLiteral("a row number"));
            } else if (aspect == QLatin1String("property")) {
                st.expectKind = ExpectKind::Property;
                st.field = word(QStringLiteral("the property name"));
                st.expected = expectedValue();
            } else {
                fail(QStringLiteral("unknown expectation '%1 %2' (a control takes: %3, "
                                    "highlighted, not highlighted, text, display, index, count, "
                                    "row, property)")
                         .arg(what, aspect, states.join(QStringLiteral(", "))));
            }
        }
        done();
    }

    QString m_file;
    QString m_baseDir;
    QSet<QString> *m_includes;
    QStringList m_lines;
    int m_index = 0;
    int m_lineNo = 0;
    QList<Token> m_tokens;
    int m_pos = 0;
};

} // namespace

Script parseText(const QString &text, const QString &file, const QString &baseDir)
{
    Script script;
    script.file = file;
    script.baseDir = baseDir.isEmpty() ? QDir::currentPath() : baseDir;
    QSet<QString> includes;
    Parser parser(file, baseDir.isEmpty() ? QDir::currentPath() : baseDir, &includes);
    parser.parse(text, script.statements);
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
    Parser parser(info.fileName(), info.absolutePath(), &includes);
    parser.parse(QString::fromUtf8(f.readAll()), script.statements);
    return script;
}

} // namespace fis::scenario
