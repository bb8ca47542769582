#pragma once
// What the methods of the application server share: statements of the thread's cache and write
// transactions that throw ServiceError, SQL values to and from dates, the texts and packet
// fields of the answers, and the small rules several methods apply to their arguments.
#include "database.h"
#include "serviceerror.h"

#include "data/packet.h"
#include "data/variant.h"

#include <QDate>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace fis::service {

// ---- statements and transactions --------------------------------------------------------------

// A statement of the thread's cache (see StatementLease), bound by position.
class Sql
{
public:
    Sql(QSqlDatabase &db, const QString &sql) : m_lease(db, sql), m_q(m_lease.query())
    {
        if (!m_lease.prepared())
            fail();
    }
    Sql &exec(const QVariantList &binds = {})
    {
        if (!tryExec(binds))
            fail();
        return *this;
    }
    bool tryExec(const QVariantList &binds)
    {
        for (int i = 0; i < binds.size(); ++i)
            m_q.bindValue(i, binds.at(i));
        return m_q.exec();
    }
    bool next() { return m_q.next(); }
    void finish() { m_q.finish(); }
    QVariant value(int i) const { return m_q.value(i); }
    QString text(int i) const { return m_q.value(i).toString(); }
    double number(int i) const { return m_q.value(i).toDouble(); }
    QSqlError lastError() const { return m_q.lastError(); }
    [[noreturn]] void fail() const
    {
        throw ServiceError(
            QStringLiteral("Erro no banco de dados: %1").arg(m_q.lastError().text()));
    }

private:
    StatementLease m_lease;
    QSqlQuery &m_q;
};

// Rolls back unless committed.
class WriteTransaction
{
public:
    WriteTransaction(QSqlDatabase &db, DbKind kind) : m_db(db)
    {
        if (!beginWrite(m_db, kind))
            throw ServiceError(QStringLiteral("Não foi possível iniciar a transação: %1")
                                   .arg(m_db.lastError().text()));
    }
    ~WriteTransaction()
    {
        if (!m_done)
            fis::rollback(m_db);
    }
    void commit()
    {
        QString error;
        if (!fis::commit(m_db, &error))
            throw ServiceError(
                QStringLiteral("Não foi possível gravar a transação: %1").arg(error));
        m_done = true;
    }
    void rollback()
    {
        fis::rollback(m_db);
        m_done = true;
    }

private:
    QSqlDatabase &m_db;
    bool m_done = false;
};

// ---- SQL values -------------------------------------------------------------------------------

// A date read from either database (SQLite keeps ISO text); null for NULL or a bad date.
QDate sqlDate(const QVariant &v);
// A date as an answer value: the null variant for no date.
Variant dateValue(const QDate &d);
// A date as a bound parameter: a typed NULL for no date.
QVariant sqlParam(const QDate &d);

// ---- texts and packet fields of the answers ---------------------------------------------------

QString brDate(const QDate &d); // dd/MM/yyyy, empty for no date
QString money(double v);        // 1.234,56

PacketField str(const char *name, int size);
PacketField fixed(const char *name, int size);
PacketField flt(const char *name);
PacketField dt(const char *name);

// ---- rules on arguments -----------------------------------------------------------------------

// Revenue codes are kept as four digits; a typed "631" means "0631".
QString normalizedCode(const QString &code);
// The due dates a guide may have, typed (SetDtVenc) or sent with an emission: years 1900 to 9999.
bool dueDateAllowed(const QDate &d);
// A status letter of `allowed`, upper case; empty means `all`; anything else is refused.
QString statusLetter(const QString &raw, const char *allowed, const char *all);

} // namespace fis::service
