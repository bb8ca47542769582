#include "listingrows.h"

#include "sqlhelpers.h"

#include <QSqlDriver>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cmath>
#include <limits>
#include <memory>

namespace fis::service {

namespace {

// One row of the listing from any source of its columns (see listingQuery for their order).
template <class Rows>
void writeRow(Rows &q, bool entries, PacketWriter &w)
{
    const auto unchecked = QByteArrayView("U");
    w.beginRow();
    if (entries) {
        q.text(w, 20);
        q.text(w, 5);
        w.addText(q.string(7) + QStringLiteral(": ") + q.string(9));
        q.text(w, 11);
        q.text(w, 12);
        q.date(w, 3);
        q.number(w, 16);
        w.addText(unchecked);
        q.number(w, 18);
        q.date(w, 17);
        q.text(w, 0);
        q.text(w, 8);
        q.text(w, 9);
        q.number(w, 13);
        q.number(w, 14);
        q.text(w, 15);
    } else {
        q.text(w, 0);
        q.text(w, 1);
        q.date(w, 2);
        q.date(w, 3);
        for (int c = 4; c <= 12; ++c)
            q.text(w, c);
        q.number(w, 13);
        q.number(w, 14);
        q.text(w, 15);
        q.number(w, 16);
        w.addText(unchecked);
        q.date(w, 17);
        q.number(w, 18);
    }
    if (q.isNull(19))
        w.addNull();
    else
        w.addText(QByteArrayView("S"));
    w.endRow();
}

template <class Rows>
void writeRows(Rows &q, bool entries, PacketWriter &w)
{
    while (q.next()) {
        try {
            writeRow(q, entries, w);
        } catch (const ServiceError &) {
            throw;
        } catch (const std::exception &e) {
            // A value the packet cannot carry: the clerk is told which invoice holds it.
            throw ServiceError(QStringLiteral("Filial %1, lançamento %2: %3")
                                   .arg(q.string(0), q.string(8), QString::fromUtf8(e.what())));
        }
    }
}

void addDate(PacketWriter &w, const QDate &d)
{
    if (d.isValid())
        w.addDate(TDateTime::fromDate(d));
    else
        w.addNull();
}

// Rows through the Qt SQL driver.
class QueryRows
{
public:
    QueryRows(QSqlDatabase &db, const ListingQuery &query) : m_q(db, query.sql)
    {
        m_q.exec(query.binds);
    }
    bool next() { return m_q.next(); }
    bool isNull(int c) const { return m_q.value(c).isNull(); }
    QString string(int c) const { return m_q.text(c); }
    void text(PacketWriter &w, int c) const { w.addText(m_q.text(c)); }
    void number(PacketWriter &w, int c) const { w.addNumber(m_q.number(c)); }
    void date(PacketWriter &w, int c) const { addDate(w, sqlDate(m_q.value(c))); }

private:
    Sql m_q;
};

// Rows stepped through SQLite's interface. A value of a storage class the listing does not
// expect in its column goes the long way: made into the QVariant the Qt driver would make of
// it, then converted as before.
class SqliteRows
{
public:
    SqliteRows(sqlite3 *db, const ListingQuery &query) : m_db(db)
    {
        const QByteArray sql = query.sql.toUtf8();
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK)
            fail();
        m_stmt.reset(stmt);
        for (int i = 0; i < query.binds.size(); ++i) {
            const QVariant &v = query.binds.at(i);
            const QByteArray text = v.toString().toUtf8();
            const int rc = v.isNull() ? sqlite3_bind_null(stmt, i + 1)
                                      : sqlite3_bind_text(stmt, i + 1, text.constData(),
                                                          int(text.size()), SQLITE_TRANSIENT);
            if (rc != SQLITE_OK)
                fail();
        }
    }
    bool next()
    {
        const int rc = sqlite3_step(m_stmt.get());
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail();
        return false;
    }
    bool isNull(int c) const { return type(c) == SQLITE_NULL; }
    QString string(int c) const
    {
        const int t = type(c);
        if (t == SQLITE_TEXT) {
            const QByteArrayView u = utf8(c);
            if (u.isValidUtf8())
                return QString::fromUtf8(u);
        }
        return qtValue(c).toString();
    }
    void text(PacketWriter &w, int c) const
    {
        const int t = type(c);
        if (t == SQLITE_TEXT) {
            const QByteArrayView u = utf8(c);
            if (u.isValidUtf8())
                return w.addText(u);
        } else if (t == SQLITE_NULL) {
            return w.addNull();
        }
        w.addText(qtValue(c).toString());
    }
    void number(PacketWriter &w, int c) const
    {
        const int t = type(c);
        if (t == SQLITE_FLOAT)
            return w.addNumber(sqlite3_column_double(m_stmt.get(), c));
        if (t == SQLITE_INTEGER)
            return w.addNumber(double(sqlite3_column_int64(m_stmt.get(), c)));
        w.addNumber(qtValue(c).toDouble());
    }
    void date(PacketWriter &w, int c) const
    {
        // The ISO "yyyy-MM-dd" SQLite keeps, read from its bytes as sqlDate reads it.
        if (type(c) == SQLITE_TEXT) {
            const QByteArrayView u = utf8(c);
            const auto digits = [&u](int from, int count) {
                int n = 0;
                for (int i = from; i < from + count; ++i) {
                    const char ch = u[i];
                    if (ch < '0' || ch > '9')
                        return -1;
                    n = n * 10 + (ch - '0');
                }
                return n;
            };
            if (u.size() >= 10 && u[4] == '-' && u[7] == '-' &&
                (u.size() == 10 || u[10] == ' ' || u[10] == 'T')) {
                const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2);
                if (y >= 0 && m >= 0 && d >= 0)
                    return addDate(w, QDate(y, m, d));
            }
        }
        addDate(w, sqlDate(qtValue(c)));
    }

private:
    struct Finalize
    {
        void operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }
    };

    int type(int c) const { return sqlite3_column_type(m_stmt.get(), c); }
    QByteArrayView utf8(int c) const
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt.get(), c));
        return QByteArrayView(p, sqlite3_column_bytes(m_stmt.get(), c));
    }
    // The value as the Qt driver reads it.
    QVariant qtValue(int c) const
    {
        sqlite3_stmt *s = m_stmt.get();
        switch (type(c)) {
        case SQLITE_INTEGER:
            return QVariant(qint64(sqlite3_column_int64(s, c)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(s, c));
        case SQLITE_NULL:
            return QVariant(QMetaType::fromType<QString>());
        case SQLITE_BLOB:
            return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(s, c)),
                                       sqlite3_column_bytes(s, c)));
        default:
            return QVariant(QString(static_cast<const QChar *>(sqlite3_column_text16(s, c)),
                                    sqlite3_column_bytes16(s, c) / 2));
        }
    }
    [[noreturn]] void fail() const
    {
        throw ServiceError(QStringLiteral("Erro no banco de dados: %1")
                               .arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
    }

    sqlite3 *m_db;
    std::unique_ptr<sqlite3_stmt, Finalize> m_stmt;
};

// Rows of PostgreSQL through libpq, one result per row (single-row mode), read as the Qt driver
// reads them: texts as UTF-8, DOUBLE PRECISION parsed without the locale, DATE as ISO text.
class PgRows
{
public:
    // Sends the statement; false (nothing sent) when the connection is busy with another one.
    bool start(PGconn *conn, const ListingQuery &query)
    {
        QByteArray sql;
        int n = 0;
        for (const QChar ch : query.sql) {
            if (ch == u'?')
                sql += '$' + QByteArray::number(++n);
            else
                sql += QString(ch).toUtf8();
        }
        QList<QByteArray> texts;
        std::vector<const char *> values;
        for (const QVariant &v : query.binds)
            texts.append(v.isNull() ? QByteArray() : v.toString().toUtf8());
        for (qsizetype i = 0; i < texts.size(); ++i)
            values.push_back(query.binds.at(i).isNull() ? nullptr : texts.at(i).constData());
        if (n != int(values.size()) || PQisBusy(conn) ||
            !PQsendQueryParams(conn, sql.constData(), n, nullptr, values.data(), nullptr, nullptr,
                               0))
            return false;
        m_conn = conn;
        PQsetSingleRowMode(conn);
        return true;
    }
    ~PgRows() { drain(); }

    // false when the columns are not of the types this reading expects (the statement is then
    // drained; the caller reads it the portable way).
    bool typesExpected()
    {
        if (!fetch())
            return true; // no rows: nothing to read in any way
        for (int c = 0; c < PQnfields(m_row); ++c) {
            const Oid t = PQftype(m_row, c);
            const bool number = c == 13 || c == 14 || c == 16 || c == 18;
            const bool date = c == 2 || c == 3 || c == 17;
            const bool text = t == kText || t == kVarchar || t == kBpchar || t == kUnknown;
            if (c == 19 || (number && t == kFloat8) || (date && (t == kDate || text)) ||
                (!number && !date && text))
                continue;
            return false;
        }
        m_pending = true;
        return true;
    }
    bool next()
    {
        if (m_pending) {
            m_pending = false;
            return true;
        }
        return fetch();
    }
    bool isNull(int c) const { return PQgetisnull(m_row, 0, c); }
    QString string(int c) const { return isNull(c) ? QString() : QString::fromUtf8(utf8(c)); }
    void text(PacketWriter &w, int c) const
    {
        if (isNull(c))
            w.addNull();
        else
            w.addText(utf8(c));
    }
    void number(PacketWriter &w, int c) const
    {
        if (isNull(c))
            return w.addNumber(0);
        const QByteArrayView v = utf8(c);
        bool ok = false;
        double d = QByteArray::fromRawData(v.data(), v.size()).toDouble(&ok);
        if (!ok) {
            if (v.compare("NaN", Qt::CaseInsensitive) == 0)
                d = std::numeric_limits<double>::quiet_NaN();
            else if (v.compare("Infinity", Qt::CaseInsensitive) == 0)
                d = std::numeric_limits<double>::infinity();
            else if (v.compare("-Infinity", Qt::CaseInsensitive) == 0)
                d = -std::numeric_limits<double>::infinity();
            else
                d = 0;
        }
        w.addNumber(d);
    }
    void date(PacketWriter &w, int c) const
    {
        if (isNull(c))
            return w.addNull();
        addDate(w, QDate::fromString(QString::fromLatin1(utf8(c)), Qt::ISODate));
    }

private:
    static constexpr Oid kText = 25, kVarchar = 1043, kBpchar = 1042, kUnknown = 705, kFloat8 = 701,
                         kDate = 1082;

    QByteArrayView utf8(int c) const
    {
        return QByteArrayView(PQgetvalue(m_row, 0, c), PQgetlength(m_row, 0, c));
    }
    bool fetch()
    {
        clear();
        PGresult *r = PQgetResult(m_conn);
        if (!r)
            return false;
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_SINGLE_TUPLE) {
            m_row = r;
            return true;
        }
        if (status == PGRES_TUPLES_OK) {
            PQclear(r);
            drain();
            return false;
        }
        const QString why = QString::fromUtf8(PQresultErrorMessage(r)).trimmed();
        PQclear(r);
        drain();
        throw ServiceError(QStringLiteral("Erro no banco de dados: %1").arg(why));
    }
    void clear()
    {
        if (m_row)
            PQclear(m_row);
        m_row = nullptr;
    }
    // Reads whatever the statement still has, so that the connection is free for the next one.
    void drain()
    {
        clear();
        if (!m_conn)
            return;
        while (PGresult *r = PQgetResult(m_conn))
            PQclear(r);
        m_conn = nullptr;
    }

    PGconn *m_conn = nullptr;
    PGresult *m_row = nullptr;
    bool m_pending = false; // the first row, fetched to see the column types, not yet read
};

template <class Handle>
Handle *nativeHandle(QSqlDatabase &db, const char *typeName)
{
    const QSqlDriver *driver = db.driver();
    if (!driver || !db.isOpen())
        return nullptr;
    const QVariant h = driver->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), typeName) != 0)
        return nullptr;
    return *static_cast<Handle *const *>(h.constData());
}

sqlite3 *sqliteHandle(QSqlDatabase &db)
{
    return nativeHandle<sqlite3>(db, "sqlite3*");
}

void writeListingRows(QSqlDatabase &db, const ListingQuery &query, PacketWriter &writer)
{
    if (sqlite3 *handle = sqliteHandle(db)) {
        SqliteRows rows(handle, query);
        return writeRows(rows, query.entries, writer);
    }
    if (PGconn *conn = nativeHandle<PGconn>(db, "pg_conn*")) {
        PgRows rows;
        if (rows.start(conn, query) && rows.typesExpected())
            return writeRows(rows, query.entries, writer);
    }
    QueryRows rows(db, query);
    writeRows(rows, query.entries, writer);
}

} // namespace

DataPacket writeListingPortable(QSqlDatabase &db, const ListingQuery &query)
{
    PacketWriter writer(listingFields(query.entries));
    QueryRows rows(db, query);
    writeRows(rows, query.entries, writer);
    return writer.finish();
}

DataPacket writeListing(QSqlDatabase &db, const ListingQuery &query)
{
    PacketWriter writer(listingFields(query.entries));
    writeListingRows(db, query, writer);
    return writer.finish();
}

DataPacket listingSource(QSqlDatabase db, ListingQuery query)
{
    DataPacket packet;
    const bool entries = query.entries;
    packet.source = std::make_shared<const PacketSource>(
        listingFields(entries),
        [db = std::move(db), query = std::move(query)](PacketWriter &writer) mutable {
            writeListingRows(db, query, writer);
        });
    return packet;
}

} // namespace fis::service
