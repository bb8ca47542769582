// The listing's packet, written from the database's rows straight into its bytes, is byte for
// byte the packet of the Qt SQL rows put through PacketWriter::addRow (the way it was built
// before), for every combination of criteria and awkward values: NULLs, empty texts, accents,
// texts longer than their fields, dates kept as text, numbers with many decimals.
#include "fixture.h"
#include "listingquery.h"
#include "listingrows.h"
#include "sqlhelpers.h"
#include "support/sharedpgcluster.h"

#include <QSqlError>

#include <unistd.h>

using namespace fis;
using namespace fis::test;
using namespace fis::service;

namespace {

// The rows as the listing read them before: QVariants of the Qt driver, one addRow per row.
DataPacket referencePacket(QSqlDatabase &db, const ListingQuery &query)
{
    Sql q(db, query.sql);
    q.exec(query.binds);
    PacketWriter w(listingFields(query.entries));
    const QString unchecked = QStringLiteral("U");
    const QString emitted = QStringLiteral("S");
    while (q.next()) {
        const QString status = q.value(19).isNull() ? QString() : emitted;
        const Variant due = dateValue(sqlDate(q.value(17)));
        if (query.entries) {
            w.addRow({q.text(20), q.text(5), q.text(7) + QStringLiteral(": ") + q.text(9),
                      q.text(11), q.text(12), dateValue(sqlDate(q.value(3))), q.number(16),
                      unchecked, q.number(18), due, q.text(0), q.text(8), q.text(9), q.number(13),
                      q.number(14), q.text(15), status});
        } else {
            w.addRow({q.text(0),
                      q.text(1),
                      dateValue(sqlDate(q.value(2))),
                      dateValue(sqlDate(q.value(3))),
                      q.text(4),
                      q.text(5),
                      q.text(6),
                      q.text(7),
                      q.text(8),
                      q.text(9),
                      q.text(10),
                      q.text(11),
                      q.text(12),
                      q.number(13),
                      q.number(14),
                      q.text(15),
                      q.number(16),
                      unchecked,
                      due,
                      q.number(18),
                      status});
        }
    }
    return w.finish();
}

const auto *const g_pgStop = ::testing::AddGlobalTestEnvironment(new SharedPgClusterStop);

class ListingBytesTest : public ::testing::TestWithParam<DbKind>
{
protected:
    void SetUp() override
    {
        DbConfig config;
        config.kind = GetParam();
        if (config.kind == DbKind::Sqlite) {
            ASSERT_TRUE(dir.isValid());
            config.path = dir.filePath(QStringLiteral("bytes.db"));
        } else {
            QString why;
            PgCluster *pg = sharedPgCluster(&why);
            if (!pg)
                GTEST_SKIP() << "PostgreSQL de teste indisponível: " << why.toStdString();
            const QString name = QStringLiteral("fis_bytes_%1").arg(::getpid());
            ASSERT_TRUE(pg->createDatabase(name)) << pg->error().toStdString();
            QString error;
            ASSERT_TRUE(DbConfig::parse(pg->url(name), &config, &error)) << error.toStdString();
        }
        QString error;
        db = openConnection(config, QStringLiteral("bytes-test"), &error);
        ASSERT_TRUE(db.isOpen()) << error.toStdString();
        seedCatalogue(db, config.kind);
    }
    void TearDown() override
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("bytes-test"));
    }
    void sql(const QString &statement)
    {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(statement)) << q.lastError().text().toStdString() << "\n"
                                       << statement.toStdString();
    }

    QTemporaryDir dir;
    QSqlDatabase db;
};

TEST_P(ListingBytesTest, DirectRowsGiveTheBytesOfTheVariantRows)
{
    const bool sqlite = GetParam() == DbKind::Sqlite;
    const QList<Supplier> sup = suppliers(db);
    ASSERT_GE(sup.size(), 2);
    InvoiceWriter writer(db);
    const double values[] = {1234.5678901234567, 0.1 + 0.2, 1e-7, 98765432.123456789, 0.0, -3.25};
    for (int i = 0; i < 12; ++i) {
        NewInvoice n = entryInvoice(QString::number(200 + i), sup[i % 2], values[i % 6],
                                    QDate(2026, 4 + i % 3, 1 + i * 2));
        n.company = i % 5 == 4 ? QStringLiteral("02") : QStringLiteral("01");
        if (i % 3 == 0) {
            n.operation = QStringLiteral("S");
            n.supplier.clear();
            n.customer = QStringLiteral("000000000000000005000");
            n.serie = QString::number(1 + i % 2);
        }
        n.value = values[(i + 3) % 6] * 7.0;
        writer.insert(n);
    }
    // Awkward values: accents, empty texts, NULLs, no due date, many decimals, a guide emitted.
    sql(QStringLiteral("UPDATE FORNECEDOR SET NMRAZSOCFORN = 'Açúcar & Álcool São João Ltda' "
                       "WHERE CDFORNECED = '%1'")
            .arg(sup[0].code));
    sql(QStringLiteral("UPDATE CLIENTE SET NMRAZSOCCLIE = 'Ótica Ümläut — 東京 ção 🙂' "
                       "WHERE CDCLIENTE = '000000000000000005000'"));
    sql(QStringLiteral("UPDATE NOTAFISCAL SET CDRECEGUIA = '', CDFILIRECE = NULL, "
                       "DTVENCGUIA = NULL WHERE NRLANCTONF IN ('200', '201')"));
    sql(QStringLiteral("UPDATE NOTAFISCAL SET DTENTRSAID = NULL, NRINSJURNF = '' "
                       "WHERE NRLANCTONF IN ('203', '204')"));
    sql(QStringLiteral("UPDATE NOTAFISCAL SET VRMULTAGUIA = 0.000000123456789, "
                       "VROUTRENTGUIA = 12345678.987654321 WHERE NRLANCTONF = '205'"));
    sql(QStringLiteral("INSERT INTO GUIAPREV (CDFILIAL, NRLANCTONF, CDEMPRESA, DTEMISSAOGUIA) "
                       "VALUES ('0001', '206', '01', '2026-06-01 10:00:00')"));
    sql(QStringLiteral("INSERT INTO GUIAPREV (CDFILIAL, NRLANCTONF, CDEMPRESA, DTEMISSAOGUIA) "
                       "VALUES ('0001', '207', '01', '2026-06-01 10:00:00')"));
    if (sqlite) {
        // What only SQLite lets a column hold: texts longer than the field, dates with a time or
        // not dates at all, numbers kept as text, integers or bytes, a customer's name beyond 50.
        sql(QStringLiteral("UPDATE FORNECEDOR SET NMRAZSOCFORN = '%1' WHERE CDFORNECED = '%2'")
                .arg(QStringLiteral("Fornecedor de nome muito comprido ").repeated(3),
                     sup[1].code));
        sql(QStringLiteral("UPDATE NOTAFISCAL SET DTVENCGUIA = '2026-07-20T10:30:00', "
                           "CDSERIE = 'SÉRIE-LONGA' WHERE NRLANCTONF = '203'"));
        sql(QStringLiteral("UPDATE NOTAFISCAL SET DTVENCGUIA = 'amanhã', VRMULTAGUIA = '12,5', "
                           "VROUTRENTGUIA = 7 WHERE NRLANCTONF = '208'"));
        sql(QStringLiteral(
            "UPDATE NOTAFISCAL SET DTVENCGUIA = '2026-02-30', VRMULTAGUIA = CAST('3.5' AS BLOB), "
            "CDRECEGUIA = CAST('26' AS BLOB), VROUTRENTGUIA = 2.5e300 "
            "WHERE NRLANCTONF = '209'"));
        sql(QStringLiteral("UPDATE CLIENTE SET NMRAZSOCCLIE = '%1' "
                           "WHERE CDCLIENTE = '000000000000000005000'")
                .arg(QStringLiteral("Ação 🙂 ").repeated(8)));
    }

    int compared = 0, rows = 0;
    for (const char *op : {"S", "E"}) {
        for (const char *status : {"T", "P", "E"}) {
            for (int period = 0; period < 3; ++period) {
                for (int criterion = 0; criterion < 9; ++criterion) {
                    ListingCriteria c;
                    c.op = QLatin1String(op);
                    c.status = QLatin1String(status);
                    if (period == 1) {
                        c.start = QDate(2026, 5, 1);
                        c.end = QDate(2026, 5, 31);
                    } else if (period == 2) {
                        c.start = QDate(2026, 4, 15);
                    }
                    switch (criterion) {
                    case 1:
                        c.company = QStringLiteral("01");
                        break;
                    case 2:
                        c.company = QStringLiteral(" 02 ");
                        break;
                    case 3:
                        c.inscForne = sup[1].cnpj;
                        break;
                    case 4:
                        c.filial = QStringLiteral("0001");
                        break;
                    case 5:
                        c.serie = QStringLiteral("2");
                        break;
                    case 6:
                        c.numNF = QStringLiteral("NF201");
                        break;
                    case 7:
                        c.imposto = QStringLiteral("01");
                        c.company = QStringLiteral("01");
                        break;
                    case 8:
                        c.filial = QStringLiteral("9999"); // nothing
                        break;
                    default:
                        break;
                    }
                    const ListingQuery query = listingQuery(c);
                    const QByteArray expected = referencePacket(db, query).bytes;
                    const QByteArray direct = writeListing(db, query).bytes;
                    const QByteArray portable = writeListingPortable(db, query).bytes;
                    const std::string where = QStringLiteral("op %1 status %2 period %3 crit %4")
                                                  .arg(QLatin1String(op), QLatin1String(status))
                                                  .arg(period)
                                                  .arg(criterion)
                                                  .toStdString();
                    ASSERT_EQ(direct.toHex().toStdString(), expected.toHex().toStdString())
                        << where;
                    ASSERT_EQ(portable, expected) << where;
                    rows += PacketReader(direct).rowCount();
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 162);
    EXPECT_GT(rows, 200); // the combinations did list rows, not only empty packets
}

INSTANTIATE_TEST_SUITE_P(Databases, ListingBytesTest,
                         ::testing::Values(DbKind::Sqlite, DbKind::Postgres), [](const auto &info) {
                             return info.param == DbKind::Sqlite ? "SQLite" : "PostgreSQL";
                         });

} // namespace
