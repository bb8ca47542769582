// The host database, tables and record sets:
//   database "FILE"                  the host database is a copy of FILE
//   database table NAME + block      a table made and filled in the host database
//   database sql + block             SQL run on the host database
//   table NAME + block               an table, named for replies, answers and loads
//   load SET table + block | packet NAME    the record set gets the rows as one data packet
//   expect records SET N | sql "..."        its record count (or the count a query gives)
//   expect field SET ROW FIELD VALUE        a field's value in a row of the set
//   expect sql VALUE "..." | + block         the one value a query gives on the database the
//                                           run was given (the server's, end to end), as it is now
#include "failure.h"
#include "families.h"
#include "finder.h"
#include "host.h"
#include "reader.h"
#include "runner.h"

#include "data/dataset.h"
#include "framework/hostdatabase.h"
#include "widgets/errorguard.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextStream>

namespace fis::scenario {

namespace {

QString sqlType(const TableColumn &c)
{
    switch (c.type) {
    case ColumnType::String:
        return QStringLiteral("VARCHAR(%1)").arg(c.size > 0 ? c.size : kDefaultStringSize);
    case ColumnType::Fixed:
        return QStringLiteral("CHAR(%1)").arg(c.size);
    case ColumnType::Float:
        return QStringLiteral("DOUBLE PRECISION");
    case ColumnType::Date:
        return QStringLiteral("DATE");
    }
    return QString();
}

// SQL statements of a block, split at the semicolons outside quotes.
QStringList splitSql(const QString &text)
{
    QStringList out;
    QString current;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (c == QLatin1Char(';') && !quoted) {
            if (!current.trimmed().isEmpty())
                out << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        out << current.trimmed();
    return out;
}

// Runs a "database table" or "database sql" statement on the host database, in one transaction.
void writeHostDatabase(Runner &r, const Statement &st)
{
    r.host().markDatabaseUsed();
    const QString connection = QStringLiteral("fis_scenario_setup");
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(r.host().databasePath());
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            QStringList statements;
            if (st.kind == StatementKind::DbSql) {
                statements = splitSql(st.text);
            } else {
                QStringList cols;
                for (const TableColumn &c : st.table->columns)
                    cols << c.name + QLatin1Char(' ') + sqlType(c);
                statements << QStringLiteral("CREATE TABLE %1 (%2)")
                                  .arg(st.table->name, cols.join(QStringLiteral(", ")));
            }
            db.transaction();
            for (const QString &sql : std::as_const(statements)) {
                if (!q.exec(sql)) {
                    error = QStringLiteral("%1: %2").arg(sql, q.lastError().text());
                    break;
                }
            }
            if (error.isEmpty() && st.kind == StatementKind::DbTable) {
                QStringList marks;
                for (qsizetype i = 0; i < st.table->columns.size(); ++i)
                    marks << QStringLiteral("?");
                q.prepare(QStringLiteral("INSERT INTO %1 VALUES (%2)")
                              .arg(st.table->name, marks.join(QStringLiteral(", "))));
                for (const QVariantList &row : st.table->rows) {
                    for (int i = 0; i < row.size(); ++i) {
                        const Variant &v = row[i];
                        if (kindOf(v) == VariantKind::Date)
                            q.bindValue(i, v.value<TDateTime>().toDate());
                        else if (kindOf(v) == VariantKind::Null)
                            q.bindValue(i, QVariant());
                        else
                            q.bindValue(i, v);
                    }
                    if (!q.exec()) {
                        error = q.lastError().text();
                        break;
                    }
                }
            }
            if (error.isEmpty())
                db.commit();
            else
                db.rollback();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (!error.isEmpty())
        fail(QStringLiteral("database"), QStringLiteral("the statements to run"), error);
}

// The one value (one row, one column) the query gives on the SQLite file, read-only; fails
// naming what the query gave instead.
Variant valueOnDatabase(const QString &path, const QString &sql)
{
    const QString connection = QStringLiteral("fis_scenario_value");
    QString error;
    Variant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!QFileInfo::exists(path)) {
            error = QStringLiteral("no database file %1").arg(path);
        } else if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            if (!q.exec(sql))
                error = q.lastError().text();
            else if (q.record().count() != 1)
                error =
                    QStringLiteral("the query gives %1 columns, not one").arg(q.record().count());
            else if (!q.next())
                error = QStringLiteral("the query gives no row");
            else {
                value = normalized(q.value(0));
                if (q.next())
                    error = QStringLiteral("the query gives more than one row");
            }
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    if (!error.isEmpty())
        fail(QStringLiteral("sql"), QStringLiteral("one value from the database"), error);
    return value;
}

// The query of an expectation: on the line as a text, or in a block up to "end" (a closing ";"
// dropped).
QString queryOf(ScriptReader &in, const char *statement)
{
    const int line = in.line();
    QString sql;
    if (in.atEnd()) {
        sql = in.blockLines(QStringLiteral("the SQL block")).join(QLatin1Char('\n'));
    } else {
        sql = in.string(QStringLiteral("the query"));
        in.done();
    }
    sql = sql.trimmed();
    if (sql.endsWith(QLatin1Char(';')))
        sql.chop(1);
    if (sql.trimmed().isEmpty())
        in.failAt(line, QStringLiteral("the query of '%1' is empty").arg(QLatin1String(statement)));
    return sql;
}

qint64 countOnHostDatabase(const QString &path, const QString &sql)
{
    // Read-only: an expectation looks at the data, it never changes it.
    const QString connection = QStringLiteral("fis_scenario_count");
    QString error;
    qint64 count = -1;
    if (!QFileInfo::exists(path)) {
        error = QStringLiteral("the host database is still empty (no database statement ran)");
    } else {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            try {
                HostDatabase::installNvl(db); // as the screens' own statements have it
                QSqlQuery q(db);
                q.setForwardOnly(true);
                if (!q.exec(sql)) {
                    error = q.lastError().text();
                } else if (q.record().count() != 1) {
                    error = QStringLiteral("the query gives %1 columns, not one count")
                                .arg(q.record().count());
                } else if (!q.next()) {
                    error = QStringLiteral("the query gives no row");
                } else {
                    bool ok = false;
                    const QVariant v = q.value(0);
                    count = v.toLongLong(&ok);
                    // A count is a whole number: 2.5 is not rounded into one.
                    if (ok && v.typeId() == QMetaType::Double && v.toDouble() != double(count))
                        ok = false;
                    if (v.isNull() || !ok || count < 0)
                        error =
                            QStringLiteral("the query gives %1, not a count")
                                .arg(v.isNull() ? QStringLiteral("null") : quoted(v.toString()));
                    else if (q.next())
                        error = QStringLiteral("the query gives more than one row");
                }
            } catch (const std::exception &e) {
                error = QString::fromUtf8(e.what());
            }
            db.close();
        }
        db = QSqlDatabase();
    }
    QSqlDatabase::removeDatabase(connection);
    if (!error.isEmpty())
        fail(QStringLiteral("records"), QStringLiteral("a count from the host database"), error);
    return count;
}

// The record set of that name, or a failure.
ClientDataSet *recordSet(const QString &name)
{
    QObject *o = findObject(name);
    auto *set = qobject_cast<ClientDataSet *>(o);
    if (!set)
        fail(name, QStringLiteral("a record set named ") + name,
             o ? QString::fromLatin1(o->metaObject()->className())
               : QStringLiteral("none in any window"));
    return set;
}

} // namespace

void parseDatabase(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Database;
    st.text = in.text(QStringLiteral("a SQLite file, 'table NAME' or 'sql'"));
}

void runDatabase(Runner &r, const Statement &st)
{
    if (!r.options().database.isEmpty()) {
        r.out() << "  # " << st.file << ":" << st.line << "  " << st.source
                << ": the database of the command line is used instead" << Qt::endl;
        return;
    }
    if (r.host().databaseUsed())
        fail(QStringLiteral("database"),
             QStringLiteral("the database file named before any table or SQL"),
             QStringLiteral("the host database already written"));
    r.host().copyDatabase(r.host().resolvePath(st.text));
}

void parseDatabaseTable(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::DbTable;
    const QString name = in.word(QStringLiteral("the database table's name"));
    in.done();
    st.table = in.table(name);
}

void runDatabaseTable(Runner &r, const Statement &st)
{
    writeHostDatabase(r, st);
}

void parseDatabaseSql(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::DbSql;
    in.done();
    st.text = in.blockLines(QStringLiteral("the SQL block")).join(QLatin1Char('\n'));
}

void runDatabaseSql(Runner &r, const Statement &st)
{
    writeHostDatabase(r, st);
}

void parseTable(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Table;
    const QString name = in.word(QStringLiteral("the table's name"));
    in.done();
    st.table = in.table(name);
}

void runTable(Runner &r, const Statement &st)
{
    r.defineTable(*st.table);
}

// load SET table + block / load SET packet NAME: the set gets the rows as one packet, as a
// confirmed filter hands it the server's answer.
void parseLoad(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Load;
    st.target = in.word(QStringLiteral("the record set"));
    const int how = in.oneOf({QStringLiteral("table"), QStringLiteral("packet")},
                             QStringLiteral("'table' or 'packet NAME'"));
    if (how == 0) {
        in.done();
        st.table = in.table(QString());
        return;
    }
    st.other = in.word(QStringLiteral("the name of a table"));
}

void runLoad(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    ClientDataSet *set = recordSet(st.target);
    const DataPacket packet = st.table ? r.packetOf(*st.table) : r.namedPacket(st.other);
    // As the filter loads the server's answer: the set's before-open rules run, and what they
    // raise is reported as any handler's would be.
    fis::guarded([&] { set->setData(packet); });
    r.note(QStringLiteral("    -> %1 %2 records").arg(st.target).arg(set->recordCount()));
}

void parseExpectRecords(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Records;
    st.target = in.word(QStringLiteral("the record set"));
    if (!in.accept("sql")) {
        st.number = in.integer(QStringLiteral("a record count or 'sql'"));
        return;
    }
    // The count a query gives on the host database: "SELECT COUNT(*) ..." on the line, or the
    // statement in a block up to "end".
    st.text = queryOf(in, "expect records ... sql");
}

void runExpectRecords(Runner &r, const Statement &st)
{
    ClientDataSet *set = recordSet(st.target);
    const bool byQuery = !st.text.isEmpty();
    const qint64 wanted =
        byQuery ? countOnHostDatabase(r.host().databasePath(), st.text) : st.number;
    if (set->recordCount() != wanted)
        fail(st.target,
             QStringLiteral("%1 records%2")
                 .arg(wanted)
                 .arg(byQuery ? QStringLiteral(" (the count the query gives)") : QString()),
             QStringLiteral("%1 records%2")
                 .arg(set->recordCount())
                 .arg(set->active() ? QString() : QStringLiteral(" (closed)")));
}

void parseExpectField(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Field;
    st.target = in.word(QStringLiteral("the record set"));
    st.number = in.integer(QStringLiteral("a row number"), 1);
    st.field = in.word(QStringLiteral("the field name"));
    st.expected = in.expectedValue();
}

void runExpectField(Runner &, const Statement &st)
{
    ClientDataSet *set = recordSet(st.target);
    Field *field = set->findField(st.field);
    if (!field)
        fail(st.target, QStringLiteral("a field ") + st.field,
             QStringLiteral("%1 has no such field").arg(st.target));
    if (st.number > set->recordCount())
        fail(st.target, st.expected.describe(),
             QStringLiteral("%1 records, no row %2").arg(set->recordCount()).arg(st.number));
    QString found;
    if (!st.expected.matches(set->valueAt(st.number - 1, field->index()), &found))
        fail(st.target, st.expected.describe(), found);
}

void parseExpectSql(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Sql;
    st.expected = in.expectedValue();
    st.text = queryOf(in, "expect sql");
}

void runExpectSql(Runner &r, const Statement &st)
{
    // What the run was given is the live data (end to end: the server writes it as the run
    // goes); without one, the script's own host database.
    const QString source = r.host().databaseSource();
    const Variant value =
        valueOnDatabase(source.isEmpty() ? r.host().databasePath() : source, st.text);
    QString found;
    if (!st.expected.matches(value, &found))
        fail(QStringLiteral("sql"), st.expected.describe(), found);
}

} // namespace fis::scenario
