#include "framework/hostdatabase.h"

#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <stdexcept>

namespace fis {

namespace {

const char *const kNvlProperty = "fisNvlInstalled";

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toStdString());
}

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
// handle that lacks it).
bool sqliteHasNvl(sqlite3 *raw)
{
    sqlite3_stmt *statement = nullptr;
    const int rc = sqlite3_prepare_v2(raw, "SELECT NVL(NULL, 1)", -1, &statement, nullptr);
    sqlite3_finalize(statement);
    return rc == SQLITE_OK;
}

void installSqliteNvl(const QSqlDatabase &db)
{
    sqlite3 *raw = sqliteHandle(db);
    if (raw && sqliteHasNvl(raw))
        return;
    if (!raw)
        fail(QStringLiteral("Não foi possível registrar a função NVL: conexão SQLite sem handle."));
    const int rc = sqlite3_create_function(raw, "NVL", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                           nullptr, &sqliteNvl, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(QStringLiteral("Não foi possível registrar a função NVL: %1")
                 .arg(QString::fromUtf8(sqlite3_errstr(rc))));
}

void installPostgresNvl(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    const bool created = query.exec(QStringLiteral(
        "CREATE OR REPLACE FUNCTION NVL(anycompatible, anycompatible) RETURNS anycompatible "
        "AS 'SELECT COALESCE($1, $2)' LANGUAGE SQL IMMUTABLE"));
    if (created)
        return;
    // Without the right to create functions the database may still have it.
    const QString reason = query.lastError().text();
    QSqlQuery check(db);
    if (check.exec(QStringLiteral("SELECT 1 FROM pg_proc WHERE lower(proname) = 'nvl'")) &&
        check.next())
        return;
    fail(QStringLiteral("Não foi possível criar a função NVL no banco de dados: %1").arg(reason));
}

QSqlDatabase openPostgres(const QUrl &url, const QString &connectionName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    db.setHostName(url.host());
    db.setPort(url.port(5432));
    db.setUserName(url.userName(QUrl::FullyDecoded));
    db.setPassword(url.password(QUrl::FullyDecoded));
    QString name = url.path(QUrl::FullyDecoded);
    if (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    db.setDatabaseName(name);
    QStringList options;
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto &item : items)
        options << item.first + QLatin1Char('=') + item.second;
    db.setConnectOptions(options.join(QLatin1Char(';')));
    return db;
}

} // namespace

QSqlDatabase HostDatabase::open(const QString &location, const QString &connectionName)
{
    close(connectionName);
    const QString where = location.trimmed();
    if (where.isEmpty())
        fail(QStringLiteral("O banco de dados não foi informado nas configurações."));

    const QUrl url(where);
    const QString scheme = url.scheme().toLower();
    QSqlDatabase db;
    if (scheme == QLatin1String("postgresql") || scheme == QLatin1String("postgres")) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            fail(QStringLiteral("O driver do PostgreSQL não está instalado."));
        db = openPostgres(url, connectionName);
    } else {
        QString path = where;
        if (scheme == QLatin1String("sqlite") || scheme == QLatin1String("file"))
            path = url.toLocalFile().isEmpty() ? url.path() : url.toLocalFile();
        if (path != QLatin1String(":memory:") && !QFileInfo(path).isFile())
            fail(QStringLiteral("Banco de dados não encontrado: %1").arg(path));
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(path);
    }

    if (!db.open()) {
        const QString reason = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        fail(QStringLiteral("Não foi possível abrir o banco de dados %1: %2")
                 .arg(url.scheme().isEmpty() ? where : url.toDisplayString(QUrl::RemovePassword),
                      reason));
    }
    try {
        installNvl(db);
    } catch (...) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        throw;
    }
    return db;
}

void HostDatabase::close(const QString &connectionName)
{
    if (!QSqlDatabase::contains(connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

bool HostDatabase::isOpen(const QString &connectionName)
{
    return QSqlDatabase::contains(connectionName) &&
           QSqlDatabase::database(connectionName, false).isOpen();
}

QSqlDatabase HostDatabase::database(const QString &connectionName)
{
    if (!isOpen(connectionName))
        fail(QStringLiteral("O banco de dados não está conectado."));
    return QSqlDatabase::database(connectionName, false);
}

DatabaseKind HostDatabase::kind(const QSqlDatabase &db)
{
    switch (db.driver() ? db.driver()->dbmsType() : QSqlDriver::UnknownDbms) {
    case QSqlDriver::SQLite:
        return DatabaseKind::SQLite;
    case QSqlDriver::PostgreSQL:
        return DatabaseKind::PostgreSQL;
    case QSqlDriver::Oracle:
        return DatabaseKind::Oracle;
    case QSqlDriver::MSSqlServer:
        return DatabaseKind::SqlServer;
    case QSqlDriver::Interbase:
        return DatabaseKind::InterBase;
    default:
        return DatabaseKind::Unknown;
    }
}

void HostDatabase::installNvl(const QSqlDatabase &db)
{
    QSqlDriver *driver = db.driver();
    if (!driver || !db.isOpen())
        fail(QStringLiteral("O banco de dados não está conectado."));
    switch (kind(db)) {
    case DatabaseKind::SQLite:
        installSqliteNvl(db);
        break;
    case DatabaseKind::PostgreSQL:
        // The function lives in the database: once per connection is enough.
        if (!driver->property(kNvlProperty).toBool()) {
            installPostgresNvl(db);
            driver->setProperty(kNvlProperty, true);
        }
        break;
    default:
        break; // the other databases have their own NVL / ISNULL / NVLSTR
    }
}

} // namespace fis
