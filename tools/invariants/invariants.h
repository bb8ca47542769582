#pragma once
// The invariants of the emitted guides, checked on any database of the application server
// (SQLite or PostgreSQL), e.g. after a load run with faults:
//   - one guide per invoice;
//   - a guide that names a payable finds it; every payable has guides, and exactly one debit
//     and one credit posting of its value; no posting without its payable; when the fiscal
//     parameters say entries get payables, no entry guide without one;
//   - each payable is its invoices' tax + fine + other entities, rounded to cents;
//   - no forecast payable is left for an invoice that has a guide;
//   - the audit rows of the emissions count exactly the guides there are, and every invoice an
//     audit key names has its guide;
//   - every invoice the clients were told was emitted has its guide.
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace fis {

// An invoice by its key: branch and entry number.
using InvoiceKey = QPair<QString, QString>;

struct InvariantReport
{
    QStringList violations; // one line each, in Portuguese like the rest of the server
    qint64 guides = 0, payables = 0, postings = 0, auditRows = 0;
    qint64 told = 0; // invoices the clients were told were emitted
    bool ok() const { return violations.isEmpty(); }
};

// Checks the database; `told` are the invoices clients were told were emitted. A query that
// fails is itself a violation (the report never passes for a check that did not run).
InvariantReport checkInvariants(QSqlDatabase &db, const QList<InvoiceKey> &told = {});

// Reads a list of told invoices: one "branch;entry" per line (blank lines ignored).
// False with *error when the file cannot be read or a line is not of that form.
bool readToldFile(const QString &path, QList<InvoiceKey> *out, QString *error);

} // namespace fis
