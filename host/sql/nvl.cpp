#include "sql/nvl.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

namespace fis {

namespace {

void sqliteNvl(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    if (argc != 2) {
        sqlite3_result_error(context, "NVL espera dois argumentos", -1);
        return;
    }
    sqlite3_result_value(context, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

sqlite3 *sqliteHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3 *const *>(handle.constData());
    return nullptr;
}

// True when the connection already knows NVL (it may have been opened again since, with a new
// handle that lacks it, possibly at the same address).
bool sqliteHasNvl(sqlite3 *raw)
{
    sqlite3_stmt *statement = nullptr;
    const int rc = sqlite3_prepare_v2(raw, "SELECT NVL(NULL, 1)", -1, &statement, nullptr);
    sqlite3_finalize(statement);
    return rc == SQLITE_OK;
}

bool installSqliteNvl(const QSqlDatabase &db, QString *error)
{
    sqlite3 *raw = sqliteHandle(db);
    if (!raw) {
        *error = QStringLiteral("Não foi possível registrar a função NVL: conexão SQLite sem "
                                "manipulador nativo.");
        return false;
    }
    if (sqliteHasNvl(raw))
        return true;
    const int rc = sqlite3_create_function(raw, "NVL", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                           nullptr, &sqliteNvl, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        *error = QStringLiteral("Não foi possível registrar a função NVL: %1")
                     .arg(QString::fromUtf8(sqlite3_errstr(rc)));
        return false;
    }
    return true;
}

bool installPostgresNvl(const QSqlDatabase &db, QString *error)
{
    QSqlQuery query(db);
    if (query.exec(QStringLiteral(
            "CREATE OR REPLACE FUNCTION NVL(anycompatible, anycompatible) RETURNS anycompatible "
            "AS 'SELECT COALESCE($1, $2)' LANGUAGE SQL IMMUTABLE")))
        return true;
    // Without the right to create functions the database may still have it.
    const QString reason = query.lastError().text();
    QSqlQuery check(db);
    if (check.exec(QStringLiteral("SELECT 1 FROM pg_proc WHERE lower(proname) = 'nvl'")) &&
        check.next())
        return true;
    *error =
        QStringLiteral("Não foi possível criar a função NVL no banco de dados: %1").arg(reason);
    return false;
}

} // namespace

bool installNvl(const QSqlDatabase &db, QString *error)
{
    QString ignored;
    QString *why = error ? error : &ignored;
    const QString driver = db.driverName();
    if (driver == QLatin1String("QSQLITE"))
        return installSqliteNvl(db, why);
    if (driver == QLatin1String("QPSQL"))
        return installPostgresNvl(db, why);
    return true;
}

} // namespace fis
