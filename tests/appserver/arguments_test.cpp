// The server reads each call's wire list through the shared argument structs: every position
// lands in the member of its name, and only the by-reference members go back into the list.
// The lists here are written by hand in call order, as a client sends them.
#include "fixture.h"

#include "services/rdmEmisGuiaPrvDecl.h"

using namespace fis;
using namespace fis::test;

namespace {

namespace rdm = rdmEmisGuiaPrv;

TDateTime day(int y, int m, int d)
{
    return TDateTime::fromDate(QDate(y, m, d));
}

// Every argument of the listing different from every other.
GuiaCall distinctListing()
{
    GuiaCall c;
    c.op = QStringLiteral("op");
    c.company = QStringLiteral("company");
    c.inscEsta = QStringLiteral("inscEsta");
    c.inscMuni = QStringLiteral("inscMuni");
    c.serie = QStringLiteral("serie");
    c.numNF = QStringLiteral("numNF");
    c.filial = QStringLiteral("filial");
    c.imposto = QStringLiteral("imposto");
    c.inscForne = QStringLiteral("inscForne");
    c.status = QStringLiteral("status");
    c.start = QDate(2026, 1, 1);
    c.end = QDate(2026, 1, 2);
    c.proc = QDate(2026, 1, 3);
    c.filiais = QStringLiteral("filiais");
    c.lanctos = QStringLiteral("lanctos");
    c.param = QStringLiteral("param");
    c.nrLancto = QStringLiteral("nrLancto");
    c.cdFilial = QStringLiteral("cdFilial");
    c.total = 19.5;
    c.venc = QDate(2026, 1, 4);
    c.forneAux = DataPacket{QByteArray("forneAux")};
    c.filiProc = QStringLiteral("filiProc");
    c.integration = DataPacket{QByteArray("integration")};
    c.operador = QStringLiteral("operador");
    c.lanctoSel = QStringLiteral("lanctoSel");
    c.filialSel = QStringLiteral("filialSel");
    c.last = QStringLiteral("last");
    return c;
}

TEST(ArgumentsTest, ListingArgumentsAreReadByNameAndOnlyTheByReferenceOnesWrittenBack)
{
    const GuiaCall c = distinctListing();
    QList<Variant> wire = c.args();
    rdm::GetEmisGuiaPrevArgs a = rdm::fromWire<rdm::GetEmisGuiaPrevArgs>(wire);
    EXPECT_EQ(a.stOperacao, c.op);
    EXPECT_EQ(a.cdEmpresa, c.company);
    EXPECT_EQ(a.cdInscEsta, c.inscEsta);
    EXPECT_EQ(a.cdInscMuni, c.inscMuni);
    EXPECT_EQ(a.cdSerie, c.serie);
    EXPECT_EQ(a.nrNotaFiscal, c.numNF);
    EXPECT_EQ(a.cdFilial, c.filial);
    EXPECT_EQ(a.cdImposto, c.imposto);
    EXPECT_EQ(a.inscForne, c.inscForne);
    EXPECT_EQ(a.stStatus, c.status);
    EXPECT_EQ(a.dtEmiIni.toDate(), c.start);
    EXPECT_EQ(a.dtEmiFin.toDate(), c.end);
    EXPECT_EQ(a.dtProcessamento.toDate(), c.proc);
    EXPECT_EQ(a.stFilial, c.filiais);
    EXPECT_EQ(a.stLancamento, c.lanctos);
    EXPECT_EQ(a.idGerConPagGuia, c.param);
    EXPECT_EQ(a.nrLanctoNf, c.nrLancto);
    EXPECT_EQ(a.cdFilialAtual, c.cdFilial);
    EXPECT_DOUBLE_EQ(a.vrTotalGuia, c.total);
    EXPECT_EQ(a.dtVencimento.toDate(), c.venc);
    EXPECT_EQ(a.forneAux, c.forneAux);
    EXPECT_EQ(a.filiProc, c.filiProc);
    EXPECT_EQ(a.integracao, c.integration);
    EXPECT_EQ(a.nomeOperador, c.operador);
    EXPECT_EQ(a.stLanctoSel, c.lanctoSel);
    EXPECT_EQ(a.stFilialSel, c.filialSel);
    EXPECT_EQ(a.reservado, c.last);

    // Back to the wire unchanged, position by position.
    const QList<Variant> again = rdm::toWire(a);
    ASSERT_EQ(again.size(), wire.size());
    for (int i = 0; i < wire.size(); ++i)
        EXPECT_EQ(again[i], wire[i]) << "argument " << i + 1;

    // The server changes every member; only the by-reference positions take the new values.
    const QList<Variant> sent = wire;
    rdm::GetEmisGuiaPrevArgs changed;
    changed.stOperacao = QStringLiteral("1");
    changed.stStatus = QStringLiteral("10");
    changed.stFilial = QStringLiteral("14");
    changed.stLancamento = QStringLiteral("15");
    changed.nrLanctoNf = QStringLiteral("17");
    changed.vrTotalGuia = 19.0;
    changed.dtVencimento = day(2030, 1, 20);
    changed.stLanctoSel = QStringLiteral("25");
    changed.stFilialSel = QStringLiteral("26");
    changed.cdEmpresa = changed.nomeOperador = changed.reservado = QStringLiteral("not sent back");
    rdm::writeBack(changed, wire);
    const QMap<int, Variant> byRef{{0, makeText("1")},
                                   {9, makeText("10")},
                                   {13, makeText("14")},
                                   {14, makeText("15")},
                                   {16, makeText("17")},
                                   {18, makeFloat(19.0)},
                                   {19, makeDate(day(2030, 1, 20))},
                                   {24, makeText("25")},
                                   {25, makeText("26")}};
    for (int i = 0; i < wire.size(); ++i)
        EXPECT_EQ(wire[i], byRef.value(i, sent[i])) << "argument " << i + 1;
}

TEST(ArgumentsTest, OtherMethodsReadTheirArgumentsByName)
{
    const rdm::SetDtVencArgs due = rdm::fromWire<rdm::SetDtVencArgs>(
        {QStringLiteral("0001"), QStringLiteral("77"), QStringLiteral("20/05/2026"),
         QStringLiteral("2631"), 1.5, 2.25});
    EXPECT_EQ(due.cdFilial, QStringLiteral("0001"));
    EXPECT_EQ(due.nrLanctoNf, QStringLiteral("77"));
    EXPECT_EQ(due.vencimento, QStringLiteral("20/05/2026"));
    EXPECT_EQ(due.cdReceGuia, QStringLiteral("2631"));
    EXPECT_DOUBLE_EQ(due.vrOutrEntGuia, 1.5);
    EXPECT_DOUBLE_EQ(due.vrMultaGuia, 2.25);

    QList<Variant> maps{QStringLiteral("03"),      QStringLiteral("01"),      QStringLiteral("IE"),
                        makeDate(day(2026, 1, 1)), makeDate(day(2026, 2, 1)), QStringLiteral("N")};
    rdm::GetFunRuralArgs rural = rdm::fromWire<rdm::GetFunRuralArgs>(maps);
    EXPECT_EQ(rural.cdImposto, QStringLiteral("03"));
    EXPECT_EQ(rural.cdEmpresa, QStringLiteral("01"));
    EXPECT_EQ(rural.cdInscEsta, QStringLiteral("IE"));
    EXPECT_EQ(rural.dtEmiIni, day(2026, 1, 1));
    EXPECT_EQ(rural.dtEmiFin, day(2026, 2, 1));
    EXPECT_EQ(rural.stStatus, QStringLiteral("N"));
    rural.stStatus = QStringLiteral("T");
    rural.cdImposto = QStringLiteral("99");
    rdm::writeBack(rural, maps);
    EXPECT_EQ(maps[5].toString(), QStringLiteral("T"));
    EXPECT_EQ(maps[0].toString(), QStringLiteral("03"));

    const rdm::GetMapaArgs periods = rdm::fromWire<rdm::GetMapaArgs>(
        {makeDate(day(2026, 3, 1)), QStringLiteral("01"), QStringLiteral("03"),
         QStringLiteral("IE"), QStringLiteral("F")});
    EXPECT_EQ(periods.dtEmiIni, day(2026, 3, 1));
    EXPECT_EQ(periods.cdEmpresa, QStringLiteral("01"));
    EXPECT_EQ(periods.cdImposto, QStringLiteral("03"));
    EXPECT_EQ(periods.cdInscEsta, QStringLiteral("IE"));
    EXPECT_EQ(periods.idTipo, QStringLiteral("F"));

    const rdm::GetVdCodReceArgs code =
        rdm::fromWire<rdm::GetVdCodReceArgs>({QStringLiteral("01"), QStringLiteral("631")});
    EXPECT_EQ(code.cdImposto, QStringLiteral("01"));
    EXPECT_EQ(code.cdReceGuia, QStringLiteral("631"));
}

// Every declared method reaches a method of the service, with the declared arity.
TEST(ArgumentsTest, EveryDeclaredMethodIsServed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    DbConfig config;
    config.path = dir.filePath(QStringLiteral("arguments.db"));
    QString error;
    {
        QSqlDatabase db = openConnection(config, QStringLiteral("arguments-test"), &error);
        ASSERT_TRUE(db.isOpen()) << error.toStdString();
        seedCatalogue(db, DbKind::Sqlite);
        GuiaService service(db, DbKind::Sqlite);
        int served = 0;
        for (const rdm::MethodDecl &m : rdm::methods()) {
            QList<Variant> args(qsizetype(m.args.size()));
            QString outcome;
            try {
                service.call(QString::fromLatin1(m.name), args);
            } catch (const ServiceError &e) {
                outcome = e.message(); // empty arguments may be refused, by the method itself
            }
            EXPECT_FALSE(outcome.contains(u"desconhecido"))
                << m.name << ": " << qPrintable(outcome);
            EXPECT_FALSE(outcome.contains(u"argumento(s)"))
                << m.name << ": " << qPrintable(outcome);
            ++served;
        }
        EXPECT_EQ(served, 12);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("arguments-test"));
}

} // namespace
