#pragma once
// NVL(a, b) — a when it is not null, else b — on every database the system queries: registered
// on a SQLite connection through its sqlite3* handle, created in PostgreSQL as a SQL function
// over anycompatible. The host's queries and the application server both rely on it.
#include <QSqlDatabase>
#include <QString>

namespace fis {

// Makes NVL available on the open connection db (idempotent; a reopened SQLite connection gets it
// again). Other drivers are left alone. false, with a Portuguese reason in *error, on failure.
bool installNvl(const QSqlDatabase &db, QString *error);

} // namespace fis
