#pragma once
// A database with the demonstration catalogue (companies, branches, suppliers, taxes, accounts,
// maps) and no invoices; tests add the invoices they need.
#include "database.h"
#include "demodata.h"
#include "guiaservice.h"

#include "data/packet.h"

#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

// Readable QStrings in assertion messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace fis::test {

inline const QDate kToday(2026, 6, 15);

inline QString scalar(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next())
        return QStringLiteral("<erro: %1>").arg(sql);
    return q.value(0).toString();
}

inline int count(QSqlDatabase &db, const QString &sql)
{
    return scalar(db, sql).toInt();
}

struct Supplier
{
    QString code, cnpj, name;
};

inline QList<Supplier> suppliers(QSqlDatabase &db)
{
    QSqlQuery q(db);
    q.exec(QStringLiteral("SELECT CDFORNECED, NRINSJURFORN, NMRAZSOCFORN FROM FORNECEDOR WHERE "
                          "NMFANTFORN <> 'INSS' ORDER BY CDFORNECED"));
    QList<Supplier> out;
    while (q.next())
        out.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
    return out;
}

// Seeds the catalogue (no invoices) into an open, schema-less database.
inline void seedCatalogue(QSqlDatabase &db, DbKind kind)
{
    QString error;
    ASSERT_TRUE(applySchema(db, kind, &error)) << error.toStdString();
    ASSERT_TRUE(applySchema(db, kind, &error)) << "second run: " << error.toStdString();
    DemoOptions o;
    o.invoices = 0;
    o.today = kToday;
    ASSERT_TRUE(generateDemoData(db, kind, o, &error)) << error.toStdString();
}

// An entry invoice of company 01, branch 0001, tax 01 with revenue code 2631.
inline NewInvoice entryInvoice(const QString &entry, const Supplier &s, double withheld,
                               const QDate &emission = QDate(2026, 5, 10))
{
    NewInvoice n;
    n.branch = QStringLiteral("0001");
    n.entry = entry;
    n.company = QStringLiteral("01");
    n.operation = QStringLiteral("E");
    n.nota = QStringLiteral("NF") + entry;
    n.serie = QStringLiteral("1");
    n.supplier = s.code;
    n.registration = s.cnpj;
    n.tax = QStringLiteral("01");
    n.code = QStringLiteral("2631");
    n.emission = emission;
    n.entryDate = emission;
    n.value = withheld * 100.0 / 11.0;
    n.withheld = withheld;
    return n;
}

// The 27 arguments of GetEmisGuiaPrev, named.
struct GuiaCall
{
    QString op = QStringLiteral("E"), company = QStringLiteral("01"), inscEsta, inscMuni, serie,
            numNF, filial, imposto = QStringLiteral("01"), inscForne, status = QStringLiteral("T");
    QDate start, end, proc = kToday;
    QString filiais = QStringLiteral("_"), lanctos = QStringLiteral("_"),
            param = QStringLiteral("S"), nrLancto, cdFilial;
    double total = 0;
    QDate venc;
    DataPacket forneAux;
    QString filiProc = QStringLiteral("0001");
    DataPacket integration;
    QString operador = QStringLiteral("Maria Souza"), lanctoSel, filialSel, last;

    QList<Variant> args() const
    {
        const auto date = [](const QDate &d) {
            return makeDate(d.isValid() ? TDateTime::fromDate(d) : TDateTime());
        };
        return {op,
                company,
                inscEsta,
                inscMuni,
                serie,
                numNF,
                filial,
                imposto,
                inscForne,
                status,
                date(start),
                date(end),
                date(proc),
                filiais,
                lanctos,
                param,
                nrLancto,
                cdFilial,
                total,
                date(venc),
                makePacket(forneAux),
                filiProc,
                makePacket(integration),
                operador,
                lanctoSel,
                filialSel,
                last};
    }
};

inline PacketReader packetOf(const Variant &v)
{
    if (v.metaType() != QMetaType::fromType<DataPacket>())
        throw std::runtime_error("not a packet: " + v.toString().toStdString());
    return PacketReader(v.value<DataPacket>());
}

inline QString cell(const PacketReader &r, int row, const char *field)
{
    const int i = r.fieldIndex(QString::fromLatin1(field));
    if (i < 0)
        return QStringLiteral("<sem campo %1>").arg(QLatin1String(field));
    return r.row(row).at(i).toString();
}

inline Variant cellValue(const PacketReader &r, int row, const char *field)
{
    return r.row(row).at(r.fieldIndex(QString::fromLatin1(field)));
}

} // namespace fis::test
