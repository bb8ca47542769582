// The server's business rules called in-process on a SQLite database.
#include "fixture.h"

#include "calendar.h"

#include <QSqlError>
#include <QSqlQuery>

using namespace fis;
using namespace fis::test;

namespace {

class ServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        DbConfig config;
        config.path = dir.filePath(QStringLiteral("svc.db"));
        QString error;
        db = openConnection(config, QStringLiteral("service-test"), &error);
        ASSERT_TRUE(db.isOpen()) << error.toStdString();
        seedCatalogue(db, DbKind::Sqlite);
        service = std::make_unique<GuiaService>(db, DbKind::Sqlite);
        service->setClock([] { return QDateTime(kToday, QTime(10, 0)); });
        sup = suppliers(db);
        ASSERT_GE(sup.size(), 2);
    }
    void TearDown() override
    {
        service.reset();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("service-test"));
    }

    void add(const NewInvoice &n)
    {
        InvoiceWriter w(db);
        w.insert(n);
    }
    Variant call(const QString &method, QList<Variant> args) { return service->call(method, args); }
    QString callError(const QString &method, QList<Variant> args)
    {
        try {
            service->call(method, args);
        } catch (const ServiceError &e) {
            return e.message();
        }
        return QStringLiteral("<sem erro>");
    }
    int n(const char *sql) { return count(db, QString::fromLatin1(sql)); }

    QTemporaryDir dir;
    QSqlDatabase db;
    std::unique_ptr<GuiaService> service;
    QList<Supplier> sup;
};

TEST_F(ServiceTest, ListingAppliesEveryCriterionGivenAndStatus)
{
    add(entryInvoice(QStringLiteral("101"), sup[0], 110.0, QDate(2026, 5, 10)));
    add(entryInvoice(QStringLiteral("102"), sup[1], 55.0, QDate(2026, 5, 20)));
    add(entryInvoice(QStringLiteral("103"), sup[0], 33.0, QDate(2026, 4, 2)));
    NewInvoice exit = entryInvoice(QStringLiteral("104"), sup[0], 22.0);
    exit.operation = QStringLiteral("S");
    exit.supplier.clear();
    exit.customer = QStringLiteral("000000000000000005000");
    add(exit);

    GuiaCall c;
    c.start = QDate(2026, 5, 1);
    c.end = QDate(2026, 5, 31);
    c.status = QString(); // empty: no filter, written back as "T"
    QList<Variant> args = c.args();
    PacketReader r = packetOf(service->call(QStringLiteral("GetEmisGuiaPrev"), args));
    ASSERT_EQ(r.rowCount(), 2);
    EXPECT_EQ(args[9].toString(), QStringLiteral("T"));
    EXPECT_EQ(cell(r, 0, "NRLANCTONF"), QStringLiteral("101"));
    EXPECT_EQ(cell(r, 0, "NMRAZSOCFORN"), sup[0].name + QStringLiteral(": NF101"));
    EXPECT_DOUBLE_EQ(cellValue(r, 0, "SOMA").toDouble(), 1000.0);
    EXPECT_EQ(cell(r, 0, "IDCHECK"), QStringLiteral("U"));
    EXPECT_EQ(cell(r, 0, "IDSTATUSGUIA"), QString());
    // The default due date of a May invoice: 20/06/2026 is a Saturday -> Friday 19/06.
    EXPECT_EQ(cellValue(r, 0, "VENCIMENTO").value<TDateTime>().toDate(), QDate(2026, 6, 19));

    c.inscForne = sup[1].cnpj;
    EXPECT_EQ(packetOf(call(QStringLiteral("GetEmisGuiaPrev"), c.args())).rowCount(), 1);
    c.inscForne.clear();
    c.company = QStringLiteral("02");
    EXPECT_EQ(packetOf(call(QStringLiteral("GetEmisGuiaPrev"), c.args())).rowCount(), 0);

    // Exits view: the exit invoice only, with the customer's name and the cdsAprov columns.
    GuiaCall s;
    s.op = QStringLiteral("S");
    PacketReader exits = packetOf(call(QStringLiteral("GetEmisGuiaPrev"), s.args()));
    ASSERT_EQ(exits.rowCount(), 1);
    EXPECT_EQ(cell(exits, 0, "NRLANCTONF"), QStringLiteral("104"));
    EXPECT_FALSE(cell(exits, 0, "NMRAZSOCCLIE").isEmpty());
    EXPECT_GE(exits.fieldIndex(QStringLiteral("VRNOTAFISC")), 0);

    // Pending / emitted after one guide.
    GuiaCall sf;
    sf.op = QStringLiteral("SF");
    sf.filiais = QStringLiteral("_0001_");
    sf.lanctos = QStringLiteral("_104_");
    call(QStringLiteral("GetEmisGuiaPrev"), sf.args());
    s.status = QStringLiteral("P");
    EXPECT_EQ(packetOf(call(QStringLiteral("GetEmisGuiaPrev"), s.args())).rowCount(), 0);
    s.status = QStringLiteral("E");
    PacketReader emitted = packetOf(call(QStringLiteral("GetEmisGuiaPrev"), s.args()));
    ASSERT_EQ(emitted.rowCount(), 1);
    EXPECT_EQ(cell(emitted, 0, "IDSTATUSGUIA"), QStringLiteral("S"));

    s.status = QStringLiteral("X");
    EXPECT_TRUE(callError(QStringLiteral("GetEmisGuiaPrev"), s.args()).contains(u"Status"));
    s.op = QStringLiteral("Q");
    EXPECT_TRUE(callError(QStringLiteral("GetEmisGuiaPrev"), s.args()).contains(u"Operação"));
}

// A value no packet can carry (an infinite amount written by another program) makes the listing
// fail naming the invoice and the field, instead of an answer every client refuses as damaged.
TEST_F(ServiceTest, ListingRefusesAnAmountNoPacketCanCarry)
{
    add(entryInvoice(QStringLiteral("101"), sup[0], 110.0, QDate(2026, 5, 10)));
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("UPDATE NOTAFISCAL SET VRNOTAFISC = 1e999")))
        << q.lastError().text().toStdString();
    GuiaCall c;
    c.start = QDate(2026, 5, 1);
    c.end = QDate(2026, 5, 31);
    const QString error = callError(QStringLiteral("GetEmisGuiaPrev"), c.args());
    EXPECT_TRUE(error.contains(u"lançamento 101") && error.contains(u"número inválido"))
        << error.toStdString();
}

TEST_F(ServiceTest, SetDtVencStoresValuesAuditsAndRefusesBadInput)
{
    add(entryInvoice(QStringLiteral("201"), sup[0], 110.0));
    const auto row = [&] {
        return scalar(db, QStringLiteral("SELECT DTVENCGUIA || '|' || NVL(CDRECEGUIA, '-') || "
                                         "'|' || VROUTRENTGUIA || '|' || VRMULTAGUIA FROM "
                                         "NOTAFISCAL WHERE NRLANCTONF = '201'"));
    };
    PacketReader r =
        packetOf(call(QStringLiteral("SetDtVenc"),
                      {QStringLiteral("0001"), QStringLiteral("201"), QStringLiteral("15/07/2026"),
                       QStringLiteral("2658"), 1.5, 2.25}));
    EXPECT_EQ(cell(r, 0, "CDRECEGUIA"), QStringLiteral("2658"));
    EXPECT_EQ(row(), QStringLiteral("2026-07-15|2658|1.5|2.25"));
    EXPECT_EQ(n("SELECT COUNT(*) FROM AUDITORIA WHERE DSOPERACAO = 'ALTERACAO_VENCIMENTO' AND "
                "DSCHAVE = '0001/201'"),
              1);

    // Empty date and empty code: stored as none.
    call(QStringLiteral("SetDtVenc"),
         {QStringLiteral("0001"), QStringLiteral("201"), QString(), QString(), 0.0, 0.0});
    EXPECT_EQ(scalar(db, QStringLiteral("SELECT NVL(DTVENCGUIA, 'nulo') FROM NOTAFISCAL WHERE "
                                        "NRLANCTONF = '201'")),
              QStringLiteral("nulo"));

    const QString before = scalar(db, QStringLiteral("SELECT COUNT(*) FROM AUDITORIA"));
    const auto refused = [&](QList<Variant> args, const char *expected) {
        const QString err = callError(QStringLiteral("SetDtVenc"), args);
        EXPECT_TRUE(err.contains(QString::fromUtf8(expected))) << err.toStdString();
    };
    refused({QStringLiteral("0001"), QStringLiteral("201"), QStringLiteral("31/02/2026"), QString(),
             0.0, 0.0},
            "Data de vencimento inválida");
    refused({QStringLiteral("0001"), QStringLiteral("201"), QStringLiteral("2026-07-15"), QString(),
             0.0, 0.0},
            "Data de vencimento inválida");
    refused({QStringLiteral("0001"), QStringLiteral("201"), QString(), QStringLiteral("2607"), 0.0,
             0.0},
            "não está parametrizado");
    refused({QStringLiteral("0001"), QStringLiteral("999"), QString(), QString(), 0.0, 0.0},
            "não encontrada");
    refused({QStringLiteral("0001"), QStringLiteral("201"), QString(), QString(), -1.0, 0.0},
            "Valor inválido");
    refused({QStringLiteral("0001"), QStringLiteral("201"), QString(), QString(),
             std::numeric_limits<double>::quiet_NaN(), 0.0},
            "argumento 5: número inválido");
    refused({QStringLiteral("0001"), QStringLiteral("201")}, "espera 6");
    refused({1.0, QStringLiteral("201"), QString(), QString(), 0.0, 0.0}, "argumento 1");
    EXPECT_EQ(scalar(db, QStringLiteral("SELECT COUNT(*) FROM AUDITORIA")), before);

    // Once the guide exists the values are frozen; re-sending them unchanged is accepted.
    call(QStringLiteral("SetDtVenc"),
         {QStringLiteral("0001"), QStringLiteral("201"), QStringLiteral("20/07/2026"),
          QStringLiteral("2631"), 0.0, 0.0});
    GuiaCall ef;
    ef.op = QStringLiteral("EF");
    ef.param = QStringLiteral("N");
    ef.filiais = QStringLiteral("_0001_");
    ef.lanctos = QStringLiteral("_201_");
    call(QStringLiteral("GetEmisGuiaPrev"), ef.args());
    call(QStringLiteral("SetDtVenc"),
         {QStringLiteral("0001"), QStringLiteral("201"), QStringLiteral("20/07/2026"),
          QStringLiteral("2631"), 0.0, 0.0});
    refused({QStringLiteral("0001"), QStringLiteral("201"), QStringLiteral("21/07/2026"),
             QStringLiteral("2631"), 0.0, 0.0},
            "já foi emitida");
}

TEST_F(ServiceTest, ExitEmissionRecordsGuidesOnceAndRejectsBadKeyLists)
{
    for (const char *e : {"301", "302"}) {
        NewInvoice x = entryInvoice(QString::fromLatin1(e), sup[0], 50.0);
        x.operation = QStringLiteral("S");
        add(x);
    }
    GuiaCall sf;
    sf.op = QStringLiteral("SF");
    sf.filiais = QStringLiteral("_0001_0001_");
    sf.lanctos = QStringLiteral("_301_302_");
    QList<Variant> args = sf.args();
    PacketReader r = packetOf(service->call(QStringLiteral("GetEmisGuiaPrev"), args));
    EXPECT_EQ(r.rowCount(), 2);
    EXPECT_EQ(cell(r, 0, "IDSTATUSGUIA"), QStringLiteral("S"));
    EXPECT_EQ(args[13].toString(), QStringLiteral("_"));
    EXPECT_EQ(args[14].toString(), QStringLiteral("_"));
    EXPECT_EQ(n("SELECT COUNT(*) FROM GUIAPREV WHERE NMOPERADOR = 'Maria Souza'"), 2);

    // Emitting again: refused, nothing added.
    EXPECT_TRUE(
        callError(QStringLiteral("GetEmisGuiaPrev"), sf.args()).contains(u"já foi emitida"));
    EXPECT_EQ(n("SELECT COUNT(*) FROM GUIAPREV"), 2);

    for (const char *bad :
         {"_0001_30a_", "0001_", "_0001", "_ 1_", "_0001__", "_-1_", "_0001_' OR 1=1 --_"}) {
        sf.filiais = QStringLiteral("_0001_");
        sf.lanctos = QString::fromLatin1(bad);
        EXPECT_TRUE(callError(QStringLiteral("GetEmisGuiaPrev"), sf.args()).contains(u"chaves"))
            << bad;
    }
    sf.filiais = QStringLiteral("_0001_0001_");
    sf.lanctos = QStringLiteral("_301_");
    EXPECT_TRUE(callError(QStringLiteral("GetEmisGuiaPrev"), sf.args()).contains(u"mesmo número"));
    // An entry invoice cannot go through the exits emission.
    add(entryInvoice(QStringLiteral("303"), sup[0], 50.0));
    sf.filiais = QStringLiteral("_0001_");
    sf.lanctos = QStringLiteral("_303_");
    EXPECT_TRUE(callError(QStringLiteral("GetEmisGuiaPrev"), sf.args()).contains(u"entrada"));
    EXPECT_EQ(n("SELECT COUNT(*) FROM GUIAPREV"), 2);
}

TEST_F(ServiceTest, EntryEmissionCreatesPayablePostingsAndDropsForecasts)
{
    add(entryInvoice(QStringLiteral("401"), sup[0], 6.0));
    add(entryInvoice(QStringLiteral("402"), sup[0], 4.0));
    QSqlQuery(db).exec(QStringLiteral("INSERT INTO CONTAPREVISTA (CDFILIAL, NRLANCTONF, "
                                      "VRCONTAPREV) VALUES ('0001', '401', 6)"));
    call(QStringLiteral("SetDtVenc"),
         {QStringLiteral("0001"), QStringLiteral("402"), QStringLiteral("19/06/2026"),
          QStringLiteral("2631"), 0.0, 0.5});
    GuiaCall ef;
    ef.op = QStringLiteral("EF");
    ef.filiais = QStringLiteral("_0001_0001_");
    ef.lanctos = QStringLiteral("_401_402_");
    ef.total = 10.5;
    ef.venc = QDate(2026, 6, 19);
    QList<Variant> args = ef.args();
    const QVariantList answer = service->call(QStringLiteral("GetEmisGuiaPrev"), args).toList();
    ASSERT_EQ(answer.size(), 3);
    PacketReader result = packetOf(answer[0]);
    ASSERT_EQ(result.rowCount(), 1);
    EXPECT_EQ(cell(result, 0, "CDRESULT"), QStringLiteral("OK"))
        << cell(result, 0, "DSRESULT").toStdString();
    EXPECT_TRUE(answer[1].value<DataPacket>().isNull());
    PacketReader view = packetOf(answer[2]);
    EXPECT_EQ(cell(view, 0, "IDSTATUSGUIA"), QStringLiteral("S"));
    EXPECT_DOUBLE_EQ(args[18].toDouble(), 10.5);
    EXPECT_EQ(args[19].value<TDateTime>().toDate(), QDate(2026, 6, 19));

    EXPECT_EQ(scalar(db, QStringLiteral("SELECT VRCONTAPAGAR || '|' || DTVENCIMENTO || '|' || "
                                        "CDRECEGUIA || '|' || CDFORNNOTA FROM CONTAPAGAR")),
              QStringLiteral("10.5|2026-06-19|2631|") + sup[0].code);
    EXPECT_EQ(n("SELECT COUNT(*) FROM GUIAPREV WHERE NRCONTAPAGAR IS NOT NULL"), 2);
    EXPECT_EQ(n("SELECT COUNT(*) FROM LANCCONTABIL WHERE VRLANCAMENTO = 10.5"), 2);
    // The forecast payable it replaces is gone, and the audit trail says what it was.
    EXPECT_EQ(n("SELECT COUNT(*) FROM CONTAPREVISTA"), 0);
    EXPECT_EQ(n("SELECT COUNT(*) FROM AUDITORIA WHERE DSOPERACAO = 'EXCLUSAO_CONTA_PREVISTA' "
                "AND DSCHAVE = '0001/401'"),
              1);

    // The payable now exists: the check before emitting says so and deletes nothing.
    const DataPacket selection =
        buildPacket({{QStringLiteral("CDFILIAL"), FieldType::String, 4},
                     {QStringLiteral("NRLANCTONF"), FieldType::String, 10}},
                    {{QStringLiteral("0001"), QStringLiteral("401")}});
    const QVariantList check =
        call(QStringLiteral("GetVdContaPagar"), {makePacket(selection)}).toList();
    ASSERT_EQ(check.size(), 2);
    EXPECT_TRUE(check[0].toString().contains(u"NF401"));
}

TEST_F(ServiceTest, NoGuideWithoutARegisteredRevenueCode)
{
    // Exits: none, or one the tax does not know; the call's error names the invoice.
    NewInvoice none = entryInvoice(QStringLiteral("801"), sup[0], 50.0);
    none.operation = QStringLiteral("S");
    none.code.clear();
    add(none);
    NewInvoice unknown = entryInvoice(QStringLiteral("802"), sup[0], 50.0);
    unknown.operation = QStringLiteral("S");
    unknown.code = QStringLiteral("9999");
    add(unknown);
    GuiaCall sf;
    sf.op = QStringLiteral("SF");
    sf.filiais = QStringLiteral("_0001_");
    sf.lanctos = QStringLiteral("_801_");
    EXPECT_TRUE(callError(QStringLiteral("GetEmisGuiaPrev"), sf.args())
                    .contains(u"A nota fiscal NF801 (filial 0001, lançamento 801) não tem código "
                              u"da receita cadastrado para o imposto 01: a guia não pode ser "
                              u"emitida."));
    sf.lanctos = QStringLiteral("_802_");
    EXPECT_TRUE(callError(QStringLiteral("GetEmisGuiaPrev"), sf.args()).contains(u"(código 9999)"));

    // Entries with payables: an "ERR" row, and nothing written.
    add(entryInvoice(QStringLiteral("803"), sup[0], 30.0));
    NewInvoice entry = entryInvoice(QStringLiteral("804"), sup[0], 30.0);
    entry.code.clear();
    add(entry);
    GuiaCall ef;
    ef.op = QStringLiteral("EF");
    ef.filiais = QStringLiteral("_0001_0001_");
    ef.lanctos = QStringLiteral("_803_804_");
    const QVariantList a = call(QStringLiteral("GetEmisGuiaPrev"), ef.args()).toList();
    ASSERT_EQ(a.size(), 3);
    PacketReader r = packetOf(a[0]);
    EXPECT_EQ(cell(r, 0, "CDRESULT"), QStringLiteral("ERR"));
    EXPECT_TRUE(cell(r, 0, "DSRESULT").contains(u"NF804")) << cell(r, 0, "DSRESULT").toStdString();
    EXPECT_EQ(n("SELECT COUNT(*) FROM GUIAPREV"), 0);
    EXPECT_EQ(n("SELECT COUNT(*) FROM CONTAPAGAR"), 0);
}

TEST_F(ServiceTest, EntryEmissionRefusalsLeaveNothingBehind)
{
    add(entryInvoice(QStringLiteral("501"), sup[0], 9.99));
    add(entryInvoice(QStringLiteral("502"), sup[0], 30.0));
    GuiaCall ef;
    ef.op = QStringLiteral("EF");
    ef.filiais = QStringLiteral("_0001_");
    const auto firstRow = [&](const GuiaCall &c) {
        const QVariantList a = call(QStringLiteral("GetEmisGuiaPrev"), c.args()).toList();
        EXPECT_EQ(a.size(), 3);
        EXPECT_EQ(packetOf(a[2]).rowCount(), 2); // the view always comes back
        PacketReader r = packetOf(a[0]);
        return cell(r, 0, "CDRESULT") + u'|' + cell(r, 0, "DSRESULT");
    };
    ef.lanctos = QStringLiteral("_501_");
    EXPECT_TRUE(firstRow(ef).startsWith(
        u"ERR|O valor total das notas fiscais selecionadas deve ser maior"));
    ef.lanctos = QStringLiteral("_502_");
    ef.total = 25.0; // the client's running total disagrees with the invoices
    EXPECT_TRUE(firstRow(ef).contains(u"não confere"));
    ef.total = 0;
    ef.filiais = QStringLiteral("_0001_0001_");
    ef.lanctos = QStringLiteral("_502_777_");
    EXPECT_TRUE(firstRow(ef).contains(u"não encontrada"));
    // Different revenue codes of one supplier.
    call(QStringLiteral("SetDtVenc"),
         {QStringLiteral("0001"), QStringLiteral("501"), QStringLiteral("19/06/2026"),
          QStringLiteral("2658"), 0.0, 0.0});
    ef.lanctos = QStringLiteral("_501_502_");
    EXPECT_TRUE(firstRow(ef).contains(u"códigos da receita diferentes"));
    EXPECT_EQ(n("SELECT COUNT(*) FROM GUIAPREV"), 0);
    EXPECT_EQ(n("SELECT COUNT(*) FROM CONTAPAGAR"), 0);
    EXPECT_EQ(n("SELECT COUNT(*) FROM LANCCONTABIL"), 0);
}

TEST_F(ServiceTest, MissingAccountGoesThroughIntegrationPacketAndSecondCall)
{
    // Company 03 has no accounts for its taxes.
    NewInvoice inv = entryInvoice(QStringLiteral("601"), sup[0], 100.0);
    inv.company = QStringLiteral("03");
    inv.branch = QStringLiteral("0006");
    add(inv);
    GuiaCall ef;
    ef.op = QStringLiteral("EF");
    ef.company = QStringLiteral("03");
    ef.filiais = QStringLiteral("_0006_");
    ef.lanctos = QStringLiteral("_601_");
    QList<Variant> args = ef.args();
    QVariantList a = service->call(QStringLiteral("GetEmisGuiaPrev"), args).toList();
    ASSERT_EQ(a.size(), 3);
    PacketReader result = packetOf(a[0]);
    EXPECT_EQ(cell(result, 0, "CDRESULT"), QStringLiteral("MSG"));
    EXPECT_EQ(cell(result, 0, "DSRESULT"), QStringLiteral("ERRO_CONTABILIZACAO"));
    EXPECT_EQ(args[13].toString(), QStringLiteral("_0006_")); // kept for the second call
    PacketReader integration = packetOf(a[1]);
    ASSERT_EQ(integration.rowCount(), 2);
    EXPECT_EQ(cell(integration, 0, "IDDEBCRED"), QStringLiteral("D"));
    EXPECT_EQ(cell(integration, 0, "CDCONTACONTABIL"), QString());
    EXPECT_DOUBLE_EQ(cellValue(integration, 0, "VRLANCAMENTO").toDouble(), 100.0);
    EXPECT_EQ(n("SELECT COUNT(*) FROM GUIAPREV"), 0);

    // Corrected with an account that does not exist: still refused.
    QList<QVariantList> rows = integration.rows();
    const int acc = integration.fieldIndex(QStringLiteral("CDCONTACONTABIL"));
    rows[0][acc] = QStringLiteral("9.9.9");
    rows[1][acc] = QStringLiteral("2.1.1.05");
    ef.integration = buildPacket(integration.fields(), rows);
    a = call(QStringLiteral("GetEmisGuiaPrev"), ef.args()).toList();
    EXPECT_EQ(cell(packetOf(a[0]), 0, "DSRESULT"), QStringLiteral("ERRO_CONTABILIZACAO"));
    EXPECT_TRUE(cell(packetOf(a[1]), 0, "DSERRO").contains(u"9.9.9"));

    rows[0][acc] = QStringLiteral("3.1.2.01");
    ef.integration = buildPacket(integration.fields(), rows);
    a = call(QStringLiteral("GetEmisGuiaPrev"), ef.args()).toList();
    EXPECT_EQ(cell(packetOf(a[0]), 0, "CDRESULT"), QStringLiteral("OK"));
    EXPECT_EQ(scalar(db, QStringLiteral("SELECT CDCONTACONTABIL FROM LANCCONTABIL WHERE "
                                        "IDDEBCRED = 'D'")),
              QStringLiteral("3.1.2.01"));
    EXPECT_EQ(n("SELECT COUNT(*) FROM GUIAPREV WHERE NRCONTAPAGAR IS NOT NULL"), 1);

    ef.integration = DataPacket{QByteArray("\xff\x00garbage", 9)};
    ef.lanctos = QStringLiteral("_601_");
    a = call(QStringLiteral("GetEmisGuiaPrev"), ef.args()).toList();
    EXPECT_EQ(cell(packetOf(a[0]), 0, "CDRESULT"), QStringLiteral("ERR"));
}

TEST_F(ServiceTest, ForecastPayablesAreOnlyCheckedBeforeTheEmission)
{
    add(entryInvoice(QStringLiteral("701"), sup[0], 20.0));
    QSqlQuery(db).exec(QStringLiteral("INSERT INTO CONTAPREVISTA (CDFILIAL, NRLANCTONF, "
                                      "VRCONTAPREV) VALUES ('0001', '701', 20)"));
    const DataPacket selection =
        buildPacket({{QStringLiteral("NRINSJURNF"), FieldType::String, 20},
                     {QStringLiteral("CDFILIAL"), FieldType::String, 4},
                     {QStringLiteral("NRLANCTONF"), FieldType::String, 10}},
                    {{sup[0].cnpj, QStringLiteral("0001"), QStringLiteral("701")}});
    const QVariantList a =
        call(QStringLiteral("GetVdContaPagar"), {makePacket(selection)}).toList();
    ASSERT_EQ(a.size(), 2);
    EXPECT_EQ(a[0].toString(), QString());
    EXPECT_EQ(a[1].toString(), QStringLiteral("OK"));
    // A check removes nothing: a print cancelled after it loses no forecast payable.
    EXPECT_EQ(n("SELECT COUNT(*) FROM CONTAPREVISTA"), 1);
    EXPECT_EQ(n("SELECT COUNT(*) FROM AUDITORIA WHERE DSOPERACAO = 'EXCLUSAO_CONTA_PREVISTA'"), 0);

    // What the emission could not replace is named in item 1.
    const auto check = [&](const QString &entry) {
        const DataPacket one = buildPacket({{QStringLiteral("CDFILIAL"), FieldType::String, 4},
                                            {QStringLiteral("NRLANCTONF"), FieldType::String, 10}},
                                           {{QStringLiteral("0001"), entry}});
        return call(QStringLiteral("GetVdContaPagar"), {makePacket(one)})
            .toList()
            .value(1)
            .toString();
    };
    EXPECT_TRUE(check(QStringLiteral("999")).contains(u"não encontrada"));
    NewInvoice exit = entryInvoice(QStringLiteral("702"), sup[0], 20.0);
    exit.operation = QStringLiteral("S");
    add(exit);
    EXPECT_TRUE(check(QStringLiteral("702")).contains(u"não é de entrada"));

    const QVariantList none = call(QStringLiteral("GetVdContaPagar"), {Variant()}).toList();
    EXPECT_EQ(none, (QVariantList{QString(), QStringLiteral("OK")}));
    EXPECT_TRUE(
        callError(QStringLiteral("GetVdContaPagar"), {makePacket(DataPacket{QByteArray("junk")})})
            .contains(u"inválido"));
}

TEST_F(ServiceTest, RuralMapsListAndEmit)
{
    QList<Variant> args{QStringLiteral("03"),  QStringLiteral("01"),  QString(),
                        makeDate(TDateTime()), makeDate(TDateTime()), QStringLiteral("N")};
    PacketReader pending = packetOf(service->call(QStringLiteral("GetFunRural"), args));
    ASSERT_EQ(pending.rowCount(), 4); // two registrations x the last two months
    const QString first = cell(pending, 0, "NRSEQUMAPAPU");
    const QString second = cell(pending, 1, "NRSEQUMAPAPU");

    QList<Variant> list{QStringLiteral("_%1_%2_").arg(first, second)};
    PacketReader emitted = packetOf(service->call(QStringLiteral("GeraFunRural"), list));
    ASSERT_EQ(emitted.rowCount(), 2);
    EXPECT_EQ(cell(emitted, 0, "IDSTATUS"), QStringLiteral("S"));
    args[5] = QStringLiteral("N");
    EXPECT_EQ(packetOf(call(QStringLiteral("GetFunRural"), args)).rowCount(), 2);

    // An unknown map refuses the whole list.
    const QString third = cell(pending, 2, "NRSEQUMAPAPU");
    EXPECT_TRUE(
        callError(QStringLiteral("GeraFunRural"), {QStringLiteral("_%1_999999_").arg(third)})
            .contains(u"999999"));
    EXPECT_EQ(packetOf(call(QStringLiteral("GetFunRural"), args)).rowCount(), 2);
    EXPECT_TRUE(
        callError(QStringLiteral("GeraFunRural"), {QStringLiteral("_1;2_")}).contains(u"chave"));
    EXPECT_EQ(packetOf(call(QStringLiteral("GeraFunRural"), {QStringLiteral("_")})).rowCount(), 0);
}

TEST_F(ServiceTest, Lookups)
{
    EXPECT_EQ(cell(packetOf(call(QStringLiteral("GetParamFiscal"), {})), 0, "IDGERCONPAGGUIA"),
              QStringLiteral("S"));
    EXPECT_EQ(packetOf(call(QStringLiteral("GetImpostoNfe"), {QString()})).rowCount(), 4);
    PacketReader iss = packetOf(call(QStringLiteral("GetImpostoNfe"), {QStringLiteral("02")}));
    ASSERT_EQ(iss.rowCount(), 1);
    EXPECT_EQ(cell(iss, 0, "IDORGARRECADNFE"), QStringLiteral("M"));
    EXPECT_EQ(packetOf(call(QStringLiteral("GetCodRecePad"), {QStringLiteral("01")})).rowCount(),
              2);
    EXPECT_EQ(cell(packetOf(call(QStringLiteral("GetVdCodRece"),
                                 {QStringLiteral("01"), QStringLiteral("2631")})),
                   0, "CDRECEPADRAO"),
              QStringLiteral("2631"));
    // Registered for another tax only: an empty code.
    EXPECT_EQ(cell(packetOf(call(QStringLiteral("GetVdCodRece"),
                                 {QStringLiteral("01"), QStringLiteral("2607")})),
                   0, "CDRECEPADRAO"),
              QString());
    EXPECT_DOUBLE_EQ(
        cellValue(packetOf(call(QStringLiteral("GetParamFilial"), {QStringLiteral("0002")})), 0,
                  "NRTAMNUMNFUT")
            .toDouble(),
        9.0);
    EXPECT_EQ(packetOf(call(QStringLiteral("GetParamFilial"), {QStringLiteral("9999")})).rowCount(),
              0);
    PacketReader payees =
        packetOf(call(QStringLiteral("GetVdBeneficiario"), {QStringLiteral("01")}));
    ASSERT_EQ(payees.rowCount(), 1);
    EXPECT_EQ(cell(payees, 0, "CDTPCTPAGAR"), QStringLiteral("GPS"));

    const Variant start = makeDate(TDateTime::fromDate(QDate(2026, 5, 1)));
    const QList<Variant> mapa{start, QStringLiteral("01"), QStringLiteral("03"), QString(),
                              QStringLiteral("I")};
    EXPECT_EQ(packetOf(call(QStringLiteral("GetMapa"), mapa)).rowCount(), 6);
    QList<Variant> end = mapa;
    end[4] = QStringLiteral("F");
    EXPECT_EQ(packetOf(call(QStringLiteral("GetMapa"), end)).rowCount(), 2);
    end[4] = QStringLiteral("X");
    EXPECT_TRUE(callError(QStringLiteral("GetMapa"), end).contains(u"Tipo"));
    EXPECT_TRUE(callError(QStringLiteral("GetNada"), {}).contains(u"desconhecido"));
}

} // namespace
