#include "database.h"

#include "sql/nvl.h"

#include <QAtomicInteger>
#include <QHash>
#include <QPointer>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QThread>
#include <QUrl>

#include <libpq-fe.h>
#include <poll.h>

#include <stdexcept>

namespace fis {

namespace {

bool exec(QSqlDatabase &db, const QString &sql, QString *error)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        *error = QStringLiteral("%1\n(%2)").arg(q.lastError().text(), sql.simplified().left(200));
        return false;
    }
    return true;
}

// The schema. %ID% is the database's auto-numbered key, never reused; %LOGID% the key of an
// append-only table (rows are never deleted, so SQLite's plain rowid alias never reuses one and
// spares every insert the update of its sequence table).
const char *const kSchema[] = {
    // Host tables the screens read directly.
    "CREATE TABLE IF NOT EXISTS EMPRESA ("
    " CDEMPRESA VARCHAR(2) NOT NULL PRIMARY KEY, NMRAZSOCEMPR VARCHAR(80) NOT NULL,"
    " VRPEMULEMPR DOUBLE PRECISION, VRPEMOREMPR DOUBLE PRECISION, CDCENTCUST VARCHAR(4),"
    " NRINSJUREMPR VARCHAR(20))",
    "CREATE TABLE IF NOT EXISTS FILIAL ("
    " CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY, NMFILIAL VARCHAR(30) NOT NULL,"
    " CDEMPRESA VARCHAR(2) REFERENCES EMPRESA(CDEMPRESA), NRINSJURFILI VARCHAR(20))",
    "CREATE TABLE IF NOT EXISTS INSCRESTAD ("
    " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA(CDEMPRESA),"
    " CDINSCESTA VARCHAR(16) NOT NULL, SGESTADO VARCHAR(2),"
    " PRIMARY KEY (CDEMPRESA, CDINSCESTA))",
    "CREATE TABLE IF NOT EXISTS INSCRMUNICIP ("
    " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA(CDEMPRESA),"
    " CDINSCMUNI VARCHAR(16) NOT NULL, PRIMARY KEY (CDEMPRESA, CDINSCMUNI))",
    "CREATE TABLE IF NOT EXISTS SERIENF ("
    " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA(CDEMPRESA),"
    " CDINSCESTA VARCHAR(16) NOT NULL DEFAULT '', CDINSCMUNI VARCHAR(16) NOT NULL DEFAULT '',"
    " CDSERIE VARCHAR(5) NOT NULL, DSSERIE VARCHAR(20),"
    " PRIMARY KEY (CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE))",
    "CREATE TABLE IF NOT EXISTS SERIEENTR ("
    " CDSERIEENTR VARCHAR(5) NOT NULL PRIMARY KEY, DSSERIEENTR VARCHAR(20))",
    "CREATE TABLE IF NOT EXISTS FORNECEDOR ("
    " CDFORNECED VARCHAR(21) NOT NULL PRIMARY KEY, NMRAZSOCFORN VARCHAR(40) NOT NULL,"
    " NRINSJURFORN VARCHAR(20), IDTPIJURFORN VARCHAR(1), NMFANTFORN VARCHAR(40))",
    // Business tables.
    "CREATE TABLE IF NOT EXISTS CLIENTE ("
    " CDCLIENTE VARCHAR(21) NOT NULL PRIMARY KEY, NMRAZSOCCLIE VARCHAR(50) NOT NULL,"
    " NRINSJURCLIE VARCHAR(20), IDTPIJURCLIE VARCHAR(1))",
    "CREATE TABLE IF NOT EXISTS IMPOSTONFE ("
    " CDIMPOSTONFE VARCHAR(2) NOT NULL PRIMARY KEY, SGIMPOSTONFE VARCHAR(10) NOT NULL,"
    " IDORGARRECADNFE VARCHAR(1))",
    "CREATE TABLE IF NOT EXISTS RECEPADRAO ("
    " CDIMPOSTO VARCHAR(2) NOT NULL REFERENCES IMPOSTONFE(CDIMPOSTONFE),"
    " CDRECEPADRAO VARCHAR(4) NOT NULL, CDVARIACAO VARCHAR(2) NOT NULL DEFAULT '00',"
    " DSRECEPADRAO VARCHAR(1000), PRIMARY KEY (CDIMPOSTO, CDRECEPADRAO, CDVARIACAO))",
    "CREATE TABLE IF NOT EXISTS BENEFIMPOSTO ("
    " CDIMPOSTO VARCHAR(2) NOT NULL REFERENCES IMPOSTONFE(CDIMPOSTONFE),"
    " CDFORNECED VARCHAR(21) NOT NULL REFERENCES FORNECEDOR(CDFORNECED),"
    " CDTPCTPAGAR VARCHAR(6) NOT NULL, CDCLASSFINA VARCHAR(6),"
    " PRIMARY KEY (CDIMPOSTO, CDFORNECED, CDTPCTPAGAR))",
    "CREATE TABLE IF NOT EXISTS PARAMFISCAL ("
    " NRPARAM INTEGER NOT NULL PRIMARY KEY CHECK (NRPARAM = 1),"
    " IDGERCONPAGGUIA VARCHAR(1) NOT NULL DEFAULT 'N')",
    "CREATE TABLE IF NOT EXISTS PARAMFILIAL ("
    " CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY REFERENCES FILIAL(CDFILIAL),"
    " NRTAMNUMNFUT INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS NOTAFISCAL ("
    " CDFILIAL VARCHAR(4) NOT NULL, NRLANCTONF VARCHAR(10) NOT NULL,"
    " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA(CDEMPRESA),"
    " IDENTRSAIDOP VARCHAR(1) NOT NULL CHECK (IDENTRSAIDOP IN ('E', 'S')),"
    " CDFILIRECE VARCHAR(4), CDFILIEMIT VARCHAR(4), DTEMISSAO DATE NOT NULL, DTENTRSAID DATE,"
    " CDCLIENTE VARCHAR(21), CDFORNECED VARCHAR(21), NRINSJURNF VARCHAR(20),"
    " NRNOTAFISC VARCHAR(20) NOT NULL, CDSERIE VARCHAR(5), CDINSCESTA VARCHAR(16),"
    " CDINSCMUNI VARCHAR(16), VRNOTAFISC DOUBLE PRECISION NOT NULL DEFAULT 0,"
    " CDIMPOSTO VARCHAR(2) NOT NULL, VRTOTIMPONF DOUBLE PRECISION NOT NULL DEFAULT 0,"
    " DTVENCGUIA DATE, CDRECEGUIA VARCHAR(5),"
    " VRMULTAGUIA DOUBLE PRECISION NOT NULL DEFAULT 0,"
    " VROUTRENTGUIA DOUBLE PRECISION NOT NULL DEFAULT 0,"
    " PRIMARY KEY (CDFILIAL, NRLANCTONF))",
    // Listing indexes: company, way and period, then the criteria most often given, so that
    // they are checked in the index before any row is read.
    "DROP INDEX IF EXISTS IX_NOTAFISCAL_EMISSAO",
    "DROP INDEX IF EXISTS IX_NOTAFISCAL_ENTRADA",
    "CREATE INDEX IF NOT EXISTS IX_NOTAFISCAL_LISTA_SAIDA"
    " ON NOTAFISCAL (CDEMPRESA, IDENTRSAIDOP, DTEMISSAO, CDFILIAL, NRINSJURNF, CDIMPOSTO)",
    "CREATE INDEX IF NOT EXISTS IX_NOTAFISCAL_LISTA_ENTRADA"
    " ON NOTAFISCAL (CDEMPRESA, IDENTRSAIDOP, DTENTRSAID, CDFILIAL, NRINSJURNF, CDIMPOSTO)",
    "CREATE TABLE IF NOT EXISTS CONTAPAGAR ("
    " NRCONTAPAGAR %ID%, CDEMPRESA VARCHAR(2) NOT NULL,"
    " CDFORNECED VARCHAR(21) NOT NULL, CDFORNNOTA VARCHAR(21), CDTPCTPAGAR VARCHAR(6) NOT NULL,"
    " CDCLASSFINA VARCHAR(6), CDIMPOSTO VARCHAR(2) NOT NULL, CDRECEGUIA VARCHAR(5),"
    " VRCONTAPAGAR DOUBLE PRECISION NOT NULL, DTVENCIMENTO DATE NOT NULL,"
    " DTINCLUSAO TIMESTAMP NOT NULL, NMOPERADOR VARCHAR(60))",
    "CREATE TABLE IF NOT EXISTS GUIAPREV ("
    " NRGUIA %ID%, CDFILIAL VARCHAR(4) NOT NULL, NRLANCTONF VARCHAR(10) NOT NULL,"
    " CDEMPRESA VARCHAR(2) NOT NULL, DTEMISSAOGUIA TIMESTAMP NOT NULL, NMOPERADOR VARCHAR(60),"
    " NRCONTAPAGAR BIGINT REFERENCES CONTAPAGAR(NRCONTAPAGAR),"
    " CONSTRAINT UQ_GUIAPREV_NOTA UNIQUE (CDFILIAL, NRLANCTONF),"
    " FOREIGN KEY (CDFILIAL, NRLANCTONF) REFERENCES NOTAFISCAL(CDFILIAL, NRLANCTONF))",
    "CREATE TABLE IF NOT EXISTS CONTAPREVISTA ("
    " NRCONTAPREV %ID%, CDFILIAL VARCHAR(4) NOT NULL, NRLANCTONF VARCHAR(10) NOT NULL,"
    " VRCONTAPREV DOUBLE PRECISION NOT NULL, DTVENCIMENTO DATE)",
    "CREATE INDEX IF NOT EXISTS IX_CONTAPREVISTA_NOTA ON CONTAPREVISTA (CDFILIAL, NRLANCTONF)",
    "CREATE TABLE IF NOT EXISTS CONTACONTABIL ("
    " CDCONTACONTABIL VARCHAR(20) NOT NULL PRIMARY KEY, DSCONTACONTABIL VARCHAR(60))",
    "CREATE TABLE IF NOT EXISTS CONTAIMPOSTO ("
    " CDEMPRESA VARCHAR(2) NOT NULL, CDIMPOSTO VARCHAR(2) NOT NULL,"
    " CDCONTADEB VARCHAR(20), CDCONTACRED VARCHAR(20), PRIMARY KEY (CDEMPRESA, CDIMPOSTO))",
    "CREATE TABLE IF NOT EXISTS LANCCONTABIL ("
    " NRLANCCONTABIL %ID%,"
    " NRCONTAPAGAR BIGINT NOT NULL REFERENCES CONTAPAGAR(NRCONTAPAGAR),"
    " CDCONTACONTABIL VARCHAR(20) NOT NULL REFERENCES CONTACONTABIL(CDCONTACONTABIL),"
    " IDDEBCRED VARCHAR(1) NOT NULL CHECK (IDDEBCRED IN ('D', 'C')),"
    " VRLANCAMENTO DOUBLE PRECISION NOT NULL, DSHISTORICO VARCHAR(200), DTLANCAMENTO DATE)",
    "CREATE INDEX IF NOT EXISTS IX_LANCCONTABIL_CONTA ON LANCCONTABIL (NRCONTAPAGAR)",
    "CREATE TABLE IF NOT EXISTS MAPAAPUR ("
    " NRSEQUMAPAPU BIGINT NOT NULL PRIMARY KEY, CDEMPRESA VARCHAR(2) NOT NULL,"
    " CDIMPOSTO VARCHAR(2) NOT NULL, CDINSCESTA VARCHAR(16) NOT NULL,"
    " NMMAPAAPUR VARCHAR(30), DTINIPERIODO DATE NOT NULL, DTFIMPERIODO DATE NOT NULL,"
    " VRTTCTBLCRE DOUBLE PRECISION NOT NULL DEFAULT 0,"
    " IDSTATUS VARCHAR(1) NOT NULL DEFAULT 'N', DTEMISSAOGUIA TIMESTAMP)",
    "CREATE INDEX IF NOT EXISTS IX_MAPAAPUR_EMPRESA"
    " ON MAPAAPUR (CDEMPRESA, CDIMPOSTO, CDINSCESTA, DTINIPERIODO)",
    "CREATE TABLE IF NOT EXISTS AUDITORIA ("
    " NRAUDITORIA %LOGID%, DTHORA TIMESTAMP NOT NULL, NMOPERADOR VARCHAR(60),"
    " DSOPERACAO VARCHAR(30) NOT NULL, DSCHAVE VARCHAR(200), DSDETALHE VARCHAR(2000))",
};

// Columns added to tables of the first schema: added to databases made before them too.
struct AddedColumn
{
    const char *table;
    const char *column;
    const char *type;
};
const AddedColumn kAddedColumns[] = {
    // Addresses and phones of the contributors printed on the guides.
    {"EMPRESA", "DSENDERECO", "VARCHAR(60)"},
    {"EMPRESA", "NMCIDADE", "VARCHAR(30)"},
    {"EMPRESA", "SGESTADO", "VARCHAR(2)"},
    {"EMPRESA", "NRCEP", "VARCHAR(8)"},
    {"EMPRESA", "NRTELEFONE", "VARCHAR(15)"},
    {"FILIAL", "DSENDERECO", "VARCHAR(60)"},
    {"FILIAL", "NMCIDADE", "VARCHAR(30)"},
    {"FILIAL", "SGESTADO", "VARCHAR(2)"},
    {"FILIAL", "NRCEP", "VARCHAR(8)"},
    {"FILIAL", "NRTELEFONE", "VARCHAR(15)"},
    {"FORNECEDOR", "DSENDERECO", "VARCHAR(60)"},
    {"FORNECEDOR", "NMCIDADE", "VARCHAR(30)"},
    {"FORNECEDOR", "SGESTADO", "VARCHAR(2)"},
    {"FORNECEDOR", "NRCEP", "VARCHAR(8)"},
    {"FORNECEDOR", "NRTELEFONE", "VARCHAR(15)"},
    // Due date of a rural-contribution map's guide.
    {"MAPAAPUR", "DTVENCGUIA", "DATE"},
};

bool addMissingColumns(QSqlDatabase &db, DbKind kind, QString *error)
{
    for (const AddedColumn &added : kAddedColumns) {
        const QString table = QString::fromLatin1(added.table);
        const QString column = QString::fromLatin1(added.column);
        // SQLite has no "IF NOT EXISTS" for a column: it is looked for first.
        if (kind == DbKind::Sqlite && db.record(table).contains(column))
            continue;
        const QString sql =
            QStringLiteral("ALTER TABLE %1 ADD COLUMN %2%3 %4")
                .arg(table, kind == DbKind::Postgres ? QStringLiteral("IF NOT EXISTS ") : QString(),
                     column, QString::fromLatin1(added.type));
        if (!exec(db, sql, error))
            return false;
    }
    return true;
}

QAtomicInteger<quint64> g_connectionSerial = 0;

} // namespace

bool DbConfig::parse(const QString &url, DbConfig *out, QString *error)
{
    DbConfig c;
    if (url.startsWith(QLatin1String("postgresql://")) ||
        url.startsWith(QLatin1String("postgres://"))) {
        const QUrl u(url, QUrl::StrictMode);
        if (!u.isValid() || u.host().isEmpty() || u.path().size() < 2) {
            *error = QStringLiteral("Endereço PostgreSQL inválido: %1 (esperado "
                                    "postgresql://usuario@host:porta/banco).")
                         .arg(url);
            return false;
        }
        c.kind = DbKind::Postgres;
        c.host = u.host();
        c.port = u.port(5432);
        c.user = u.userName();
        c.password = u.password();
        c.name = u.path().mid(1);
    } else {
        if (url.isEmpty()) {
            *error = QStringLiteral("Banco de dados não informado.");
            return false;
        }
        c.kind = DbKind::Sqlite;
        c.path = url.startsWith(QLatin1String("sqlite://")) ? url.mid(9) : url;
    }
    *out = c;
    return true;
}

QString DbConfig::describe() const
{
    if (kind == DbKind::Sqlite)
        return QStringLiteral("SQLite %1").arg(path);
    return QStringLiteral("PostgreSQL %1@%2:%3/%4").arg(user, host).arg(port).arg(name);
}

QSqlDatabase openConnection(const DbConfig &config, const QString &connectionName, QString *error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(
        config.kind == DbKind::Sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"),
        connectionName);
    if (config.kind == DbKind::Sqlite) {
        db.setDatabaseName(config.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        db.setHostName(config.host);
        db.setPort(config.port);
        db.setUserName(config.user);
        db.setPassword(config.password);
        db.setDatabaseName(config.name);
    }
    if (!db.open()) {
        *error = QStringLiteral("Não foi possível abrir o banco %1: %2")
                     .arg(config.describe(), db.lastError().text());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        return QSqlDatabase();
    }
    if (config.kind == DbKind::Postgres &&
        !exec(db, QStringLiteral("SET client_min_messages = warning"), error)) {
        db.close();
        return QSqlDatabase();
    }
    if (config.kind == DbKind::Sqlite) {
        if (!exec(db, QStringLiteral("PRAGMA journal_mode=WAL"), error) ||
            !exec(db, QStringLiteral("PRAGMA synchronous=NORMAL"), error) ||
            !exec(db, QStringLiteral("PRAGMA foreign_keys=ON"), error) ||
            // Listings read scattered rows of big tables: map the file, keep a larger cache.
            !exec(db, QStringLiteral("PRAGMA mmap_size=1073741824"), error) ||
            !exec(db, QStringLiteral("PRAGMA cache_size=-65536"), error) ||
            !installNvl(db, error)) {
            db.close();
            return QSqlDatabase();
        }
    }
    return db;
}

bool applySchema(QSqlDatabase &db, DbKind kind, QString *error)
{
    const QString id = kind == DbKind::Sqlite
                           ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                           : QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
    const QString logId = kind == DbKind::Sqlite ? QStringLiteral("INTEGER PRIMARY KEY") : id;
    if (kind == DbKind::Postgres) {
        // Serialise concurrent first starts on the same database.
        if (!exec(db, QStringLiteral("SELECT pg_advisory_lock(2900)"), error))
            return false;
        if (!installNvl(db, error)) {
            exec(db, QStringLiteral("SELECT pg_advisory_unlock(2900)"), error);
            return false;
        }
    }
    bool ok = true;
    for (const char *statement : kSchema) {
        QString sql = QString::fromLatin1(statement);
        sql.replace(QLatin1String("%ID%"), id);
        sql.replace(QLatin1String("%LOGID%"), logId);
        if (!exec(db, sql, error)) {
            ok = false;
            break;
        }
    }
    if (ok)
        ok = addMissingColumns(db, kind, error);
    if (ok) {
        ok = exec(db,
                  QStringLiteral("INSERT INTO PARAMFISCAL (NRPARAM, IDGERCONPAGGUIA) SELECT 1, 'S' "
                                 "WHERE NOT EXISTS (SELECT 1 FROM PARAMFISCAL)"),
                  error);
    }
    if (kind == DbKind::Postgres) {
        QString ignored;
        exec(db, QStringLiteral("SELECT pg_advisory_unlock(2900)"), &ignored);
    }
    return ok;
}

namespace {
thread_local QString t_connectionName;

// The statements of one connection. The driver pointer and its native handle tell a reopened
// connection of the same name apart: its old statements went with the old handle.
struct ConnectionStatements
{
    QPointer<QSqlDriver> driver;
    void *handle = nullptr;
    QHash<QString, std::shared_ptr<StatementLease::Slot>> statements;
};

// Listings build their SQL from the criteria given, so the cache is bounded.
constexpr int kMaxCachedStatements = 256;

void *nativeHandle(QSqlDriver *driver)
{
    const QVariant h = driver->handle();
    return h.isValid() ? *static_cast<void *const *>(h.constData()) : nullptr;
}

QHash<QString, ConnectionStatements> &statementCache()
{
    thread_local QHash<QString, ConnectionStatements> cache;
    return cache;
}

} // namespace

namespace {

// A connection closed and opened again may get its native handle back at the same address, so
// comparing handles is not enough: SQLite's driver finalises every statement when it closes.
bool statementAlive(const QSqlQuery &query)
{
    const QSqlResult *result = query.result();
    const QVariant handle = result ? result->handle() : QVariant();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3_stmt*") == 0)
        return *static_cast<void *const *>(handle.constData()) != nullptr;
    return true;
}

} // namespace

struct StatementLease::Slot
{
    explicit Slot(QSqlDatabase &db) : query(db) { query.setForwardOnly(true); }
    QSqlQuery query;
    bool leased = false;
};

StatementLease::StatementLease(QSqlDatabase &db, const QString &sql)
{
    QSqlDriver *driver = db.driver();
    if (!driver || !db.isOpen()) {
        m_slot = std::make_shared<Slot>(db);
        m_prepared = m_slot->query.prepare(sql);
        return;
    }
    ConnectionStatements &conn = statementCache()[db.connectionName()];
    void *handle = nativeHandle(driver);
    if (conn.driver != driver || conn.handle != handle ||
        conn.statements.size() >= kMaxCachedStatements) {
        conn.statements.clear();
        conn.driver = driver;
        conn.handle = handle;
    }
    std::shared_ptr<Slot> &cached = conn.statements[sql];
    if (cached && !cached->leased && !statementAlive(cached->query))
        cached.reset(); // the connection was closed since: its statements were finalised
    if (cached && !cached->leased) {
        m_slot = cached;
        m_slot->leased = true;
        m_prepared = true;
        return;
    }
    const bool cache = !cached;
    m_slot = std::make_shared<Slot>(db);
    m_prepared = m_slot->query.prepare(sql);
    if (cache && m_prepared) {
        cached = m_slot;
        m_slot->leased = true;
    } else if (cache) {
        conn.statements.remove(sql);
    }
}

StatementLease::~StatementLease()
{
    m_slot->query.finish();
    m_slot->leased = false;
}

QSqlQuery &StatementLease::query()
{
    return m_slot->query;
}

void clearStatementCache()
{
    statementCache().clear();
}

namespace {

// Whether the server has ended an idle PostgreSQL connection (a restart, an administrator's
// kill): the driver only finds out when a statement fails. Between calls nothing is pending on
// the connection, so anything to read (the server's farewell, the closed socket) means it is gone.
bool postgresConnectionLost(QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // The driver hands out the libpq connection (PGconn, i.e. "pg_conn*").
    if (!handle.isValid() || qstrcmp(handle.typeName(), "pg_conn*") != 0)
        return false;
    PGconn *conn = *static_cast<PGconn *const *>(handle.constData());
    if (!conn || PQstatus(conn) != CONNECTION_OK)
        return true;
    pollfd socket{PQsocket(conn), POLLIN, 0};
    return ::poll(&socket, 1, 0) != 0;
}

} // namespace

QSqlDatabase threadConnection(const DbConfig &config)
{
    QString &name = t_connectionName;
    if (!name.isEmpty()) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen() && !postgresConnectionLost(db))
            return db;
        db = QSqlDatabase();
        closeThreadConnection(); // a lost one is opened again below
    }
    name = QStringLiteral("fis-appserver-%1").arg(++g_connectionSerial);
    QString error;
    QSqlDatabase db = openConnection(config, name, &error);
    if (!db.isOpen()) {
        name.clear();
        throw std::runtime_error(error.toStdString());
    }
    return db;
}

void closeThreadConnection()
{
    clearStatementCache();
    if (t_connectionName.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(t_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(t_connectionName);
    t_connectionName.clear();
}

namespace {

// Runs a transaction command. PostgreSQL cannot prepare them; SQLite keeps them prepared.
bool transactionCommand(QSqlDatabase &db, const QString &sql, QString *error)
{
    if (db.driver() && db.driver()->dbmsType() == QSqlDriver::SQLite) {
        StatementLease q(db, sql);
        if (q.prepared() && q.query().exec())
            return true;
        if (error)
            *error = q.query().lastError().text();
        return false;
    }
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

} // namespace

bool beginWrite(QSqlDatabase &db, DbKind kind)
{
    return transactionCommand(
        db, kind == DbKind::Sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"),
        nullptr);
}

bool commit(QSqlDatabase &db, QString *error)
{
    return transactionCommand(db, QStringLiteral("COMMIT"), error);
}

void rollback(QSqlDatabase &db)
{
    transactionCommand(db, QStringLiteral("ROLLBACK"), nullptr);
}

} // namespace fis
