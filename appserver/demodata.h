#pragma once
// Demonstration data: companies, branches, registrations, series, suppliers and customers with
// valid CNPJs (companies, branches and suppliers with address and phone), taxes with their
// revenue codes and payees, invoices with 11% retention over the last months, forecast payables
// and rural contribution maps with their guides' due dates. The same seed gives the same data
// (dates run back from the month of `today`).
#include "database.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

namespace fis {

struct DemoOptions
{
    int invoices = 200;
    quint32 seed = 2900;
    QDate today = QDate::currentDate();
    int months = 6;
};

// Fills an empty database in one transaction. Returns false and sets *error on failure (nothing
// is left half-written); does nothing and returns true when the database already has companies.
bool generateDemoData(QSqlDatabase &db, DbKind kind, const DemoOptions &options, QString *error);

// Inserts one invoice; a missing due date becomes the default one (day 20 of the following
// month, moved back to the previous bank business day). Used by the generator and by imports.
struct NewInvoice
{
    QString branch, entry, company, operation, nota, serie, customer, supplier, registration;
    QString inscEsta, inscMuni, tax, code;
    QDate emission, entryDate, due;
    double value = 0, withheld = 0;
};

// Writes invoices through one prepared statement (bulk loads run it inside one transaction).
// Throws std::runtime_error with the database's text when a row is refused.
class InvoiceWriter
{
public:
    explicit InvoiceWriter(QSqlDatabase &db);
    void insert(const NewInvoice &invoice);

private:
    QSqlQuery m_query;
};

} // namespace fis
