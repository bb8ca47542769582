#include "framework/hostdatabase.h"

#include "sql/nvl.h"

#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>

#include <stdexcept>

namespace fis {

namespace {

const char *const kNvlProperty = "fisNvlInstalled";

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toStdString());
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
    // In PostgreSQL the function lives in the database: once per connection is enough.
    const bool postgres = kind(db) == DatabaseKind::PostgreSQL;
    if (postgres && driver->property(kNvlProperty).toBool())
        return;
    QString error;
    if (!fis::installNvl(db, &error))
        fail(error);
    if (postgres)
        driver->setProperty(kNvlProperty, true);
}

} // namespace fis
