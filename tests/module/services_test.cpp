// The typed calls of the server object against a real server framing on loopback.
#include "net/netconnection.h"
#include "net/rpcserver.h"
#include "services/rdmEmisGuiaPrv.h"

#include <QMutex>
#include <gtest/gtest.h>

#include <map>

namespace {

namespace rdm = fis::rdmEmisGuiaPrv;
using fis::TDateTime;
using fis::Variant;

// A server object that records each call and writes back the outputs the test scripted.
struct Recorder
{
    QMutex mutex;
    QString method;
    QList<Variant> args;
    std::map<int, Variant> writeBack; // 0-based position -> value written by the "server"
    Variant result = fis::makeText(QString());
};

class ServicesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const rdm::MethodDecl &m : rdm::methods()) {
            QList<fis::RpcParam> params;
            for (const rdm::ArgDecl &a : m.args)
                params.append({a.kind, a.byRef});
            server.addMethod(QString::fromLatin1(rdm::kServerName), QString::fromLatin1(m.name),
                             params, [this](QList<Variant> &args, const fis::RpcContext &ctx) {
                                 QMutexLocker lock(&rec.mutex);
                                 rec.method = ctx.method;
                                 rec.args = args;
                                 for (const auto &[pos, value] : rec.writeBack)
                                     args[pos] = value;
                                 return rec.result;
                             });
        }
        ASSERT_TRUE(server.start()) << qPrintable(server.errorString());
        net.setServerName(QString::fromLatin1(rdm::kServerName));
        net.setHost(QStringLiteral("127.0.0.1"));
        net.setPort(server.port());
    }

    Recorder rec;
    fis::RpcServer server;
    TNetConnection net;
};

rdm::GetEmisGuiaPrevArgs sampleArgs()
{
    rdm::GetEmisGuiaPrevArgs a;
    a.stOperacao = "EF";
    a.cdEmpresa = "01";
    a.cdInscEsta = "IE";
    a.cdInscMuni = "IM";
    a.cdSerie = "SER";
    a.nrNotaFiscal = "123";
    a.cdFilial = "0001";
    a.cdImposto = "05";
    a.inscForne = "11222333000181";
    a.stStatus = "P";
    a.dtEmiIni = TDateTime(45000);
    a.dtEmiFin = TDateTime(45030);
    a.dtProcessamento = TDateTime(45031);
    a.stFilial = "_0001_";
    a.stLancamento = "_77_";
    a.idGerConPagGuia = "S";
    a.nrLanctoNf = "INSC";
    a.cdFilialAtual = "0002";
    a.vrTotalGuia = 10.5;
    a.dtVencimento = TDateTime(45050);
    a.forneAux = fis::DataPacket{QByteArray("aux")};
    a.filiProc = "0009";
    a.integracao = fis::DataPacket{};
    a.nomeOperador = "ANA";
    a.stLanctoSel = "L1";
    a.stFilialSel = "F1";
    return a;
}

TEST_F(ServicesTest, GetEmisGuiaPrevSendsItsTwentySevenArgumentsInOrder)
{
    rdm::GetEmisGuiaPrevArgs a = sampleArgs();
    rdm::GetEmisGuiaPrev(net, a);
    ASSERT_FALSE(net.lastCallFailed()) << qPrintable(net.lastError());
    EXPECT_EQ(rec.method, QStringLiteral("GetEmisGuiaPrev"));
    ASSERT_EQ(rec.args.size(), 27);
    const QStringList texts{"EF", "01", "IE", "IM", "SER", "123", "0001", "05", "11222333000181",
                            "P"};
    for (int i = 0; i < texts.size(); ++i)
        EXPECT_EQ(rec.args[i].toString(), texts[i]) << "argument " << i + 1;
    EXPECT_EQ(rec.args[10].value<TDateTime>(), TDateTime(45000));
    EXPECT_EQ(rec.args[11].value<TDateTime>(), TDateTime(45030));
    EXPECT_EQ(rec.args[12].value<TDateTime>(), TDateTime(45031));
    EXPECT_EQ(rec.args[13].toString(), "_0001_");
    EXPECT_EQ(rec.args[14].toString(), "_77_");
    EXPECT_EQ(rec.args[15].toString(), "S");
    EXPECT_EQ(rec.args[16].toString(), "INSC");
    EXPECT_EQ(rec.args[17].toString(), "0002");
    EXPECT_DOUBLE_EQ(rec.args[18].toDouble(), 10.5);
    EXPECT_EQ(rec.args[19].value<TDateTime>(), TDateTime(45050));
    EXPECT_EQ(rec.args[20].value<fis::DataPacket>().bytes, QByteArray("aux"));
    EXPECT_EQ(rec.args[21].toString(), "0009");
    EXPECT_TRUE(rec.args[22].value<fis::DataPacket>().isNull());
    EXPECT_EQ(rec.args[23].toString(), "ANA");
    EXPECT_EQ(rec.args[24].toString(), "L1") << "argument 25 is stLanctoSel";
    EXPECT_EQ(rec.args[25].toString(), "F1") << "argument 26 is stFilialSel";
    EXPECT_EQ(rec.args[26].toString(), "");
}

TEST_F(ServicesTest, ByReferenceOutputsComeBackIntoTheCallersVariables)
{
    rec.writeBack = {{9, fis::makeText("T")},
                     {13, fis::makeText("_0001_0002_")},
                     {14, fis::makeText("_5_6_")},
                     {18, fis::makeFloat(99.9)},
                     {19, fis::makeDate(TDateTime(45100))},
                     {24, fis::makeText("L2")},
                     {25, fis::makeText("F2")}};
    rdm::GetEmisGuiaPrevArgs a = sampleArgs();
    rdm::GetEmisGuiaPrev(net, a);
    ASSERT_FALSE(net.lastCallFailed()) << qPrintable(net.lastError());
    EXPECT_EQ(a.stStatus, "T");
    EXPECT_EQ(a.stFilial, "_0001_0002_");
    EXPECT_EQ(a.stLancamento, "_5_6_");
    EXPECT_DOUBLE_EQ(a.vrTotalGuia, 99.9);
    EXPECT_EQ(a.dtVencimento, TDateTime(45100));
    EXPECT_EQ(a.stLanctoSel, "L2");
    EXPECT_EQ(a.stFilialSel, "F2");
    EXPECT_EQ(a.cdEmpresa, "01");

    rec.writeBack = {{5, fis::makeText("S")}};
    QString status = "N";
    rdm::GetFunRural(net, "05", "01", "IE", TDateTime(1), TDateTime(2), status);
    EXPECT_EQ(rec.args.size(), 6);
    EXPECT_EQ(status, "S");

    rec.writeBack = {{0, fis::makeText("_12_15_")}};
    QString mapas = "_";
    rdm::GeraFunRural(net, mapas);
    EXPECT_EQ(mapas, "_12_15_");
}

TEST_F(ServicesTest, OutputOfTheWrongKindIsRefusedAndNothingIsWrittenBack)
{
    rec.writeBack = {{9, fis::makeText("T")}, {13, fis::makeFloat(1)}};
    rdm::GetEmisGuiaPrevArgs a = sampleArgs();
    const Variant result = rdm::GetEmisGuiaPrev(net, a);
    ASSERT_EQ(fis::kindOf(result), fis::VariantKind::Text);
    EXPECT_TRUE(result.toString().contains("stFilial")) << qPrintable(result.toString());
    EXPECT_EQ(a.stStatus, "P");
    EXPECT_EQ(a.stFilial, "_0001_");
}

TEST_F(ServicesTest, FailedCallAnswersAnErrorTextAndLeavesTheVariables)
{
    server.stop();
    QString tax = "05";
    const Variant result = rdm::GetVdBeneficiario(net, tax);
    EXPECT_TRUE(net.lastCallFailed());
    EXPECT_EQ(fis::kindOf(result), fis::VariantKind::Text);
    EXPECT_FALSE(result.toString().isEmpty());
    EXPECT_EQ(tax, "05");
}

TEST_F(ServicesTest, EveryMethodIsDeclaredWithItsArityAndReachesTheServer)
{
    const std::map<QString, int> arity{
        {"GetParamFiscal", 0}, {"GetEmisGuiaPrev", 27}, {"GetFunRural", 6},
        {"GeraFunRural", 1},   {"GetVdContaPagar", 1},  {"GetVdBeneficiario", 1},
        {"SetDtVenc", 6},      {"GetCodRecePad", 1},    {"GetVdCodRece", 2},
        {"GetImpostoNfe", 1},  {"GetParamFilial", 1},   {"GetMapa", 5}};
    ASSERT_EQ(rdm::methods().size(), arity.size());
    for (const auto &[name, n] : arity) {
        const rdm::MethodDecl *m = rdm::findMethod(name);
        ASSERT_NE(m, nullptr) << qPrintable(name);
        EXPECT_EQ(int(m->args.size()), n) << qPrintable(name);
    }
    EXPECT_EQ(rdm::findMethod("Nada"), nullptr);

    rdm::SetDtVenc(net, "0001", "77", "20/05/2026", "2631", 1.5, 2.25);
    EXPECT_EQ(rec.method, "SetDtVenc");
    ASSERT_EQ(rec.args.size(), 6);
    EXPECT_EQ(rec.args[2].toString(), "20/05/2026");
    EXPECT_DOUBLE_EQ(rec.args[4].toDouble(), 1.5);
    EXPECT_DOUBLE_EQ(rec.args[5].toDouble(), 2.25);

    rdm::GetMapa(net, TDateTime(45000), "01", "05", "IE", "F");
    EXPECT_EQ(rec.method, "GetMapa");
    ASSERT_EQ(rec.args.size(), 5);
    EXPECT_EQ(rec.args[0].value<TDateTime>(), TDateTime(45000));
    EXPECT_EQ(rec.args[4].toString(), "F");

    rdm::GetParamFiscal(net);
    EXPECT_EQ(rec.method, "GetParamFiscal");
    rdm::GetVdContaPagar(net, fis::DataPacket{QByteArray("x")});
    EXPECT_EQ(rec.method, "GetVdContaPagar");
    rdm::GetCodRecePad(net, "05");
    EXPECT_EQ(rec.method, "GetCodRecePad");
    rdm::GetVdCodRece(net, "05", "2631");
    EXPECT_EQ(rec.args.value(1).toString(), "2631");
    rdm::GetImpostoNfe(net, "");
    EXPECT_EQ(rec.method, "GetImpostoNfe");
    rdm::GetParamFilial(net, "0001");
    EXPECT_EQ(rec.method, "GetParamFilial");
    EXPECT_FALSE(net.lastCallFailed()) << qPrintable(net.lastError());
}

} // namespace
