// The test back-end: the recording HostUi and the fake application server.
#include "data/datalink.h"
#include "data/dataset.h"
#include "data/packet.h"
#include "net/netconnection.h"
#include "testkit/fakeappserver.h"
#include "testkit/recordinghostui.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace fis;

namespace {

// A small open set of companies to pick from.
struct Companies
{
    ClientDataSet set{QStringLiteral("cdsEmpresa")};
    DataLink link;
    Companies()
    {
        set.addField(FieldDef::string(QStringLiteral("CDEMPRESA"), 2));
        set.addField(FieldDef::string(QStringLiteral("NMRAZSOCEMPR"), 40));
        set.createDataSet();
        set.appendRecord({QStringLiteral("01"), QStringLiteral("Metalúrgica Exemplo")});
        set.appendRecord({QStringLiteral("02"), QStringLiteral("Comércio Modelo")});
        set.appendRecord({QStringLiteral("03"), QStringLiteral("Transportes Teste")});
        set.first();
        link.setDataSet(&set);
    }
};

} // namespace

TEST(RecordingHostUi, RecordsMessagesAndAnswersConfirmationsFromTheQueue)
{
    RecordingHostUi ui;
    ui.install();
    EXPECT_EQ(HostUi::instance(), &ui);
    EXPECT_TRUE(
        HostUi::instance()->message(MessageKind::Error, QStringLiteral("Empresa não cadastrada.")));
    ui.queueConfirmation(false);
    ui.queueConfirmation(true);
    EXPECT_FALSE(ui.message(MessageKind::Confirmation, QStringLiteral("Confirma?")));
    EXPECT_TRUE(ui.message(MessageKind::Confirmation, QStringLiteral("De novo?")));
    ASSERT_EQ(ui.messages().size(), 3);
    EXPECT_EQ(ui.messages()[0].kind, MessageKind::Error);
    EXPECT_EQ(ui.messages()[0].text, QStringLiteral("Empresa não cadastrada."));
    EXPECT_TRUE(ui.failures().isEmpty());

    // No answer left: a failure that says so, and "no" so the program goes on.
    QStringList reported;
    ui.onFailure = [&](const QString &f) { reported << f; };
    EXPECT_FALSE(ui.message(MessageKind::Confirmation, QStringLiteral("Sem resposta?")));
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported[0].contains(QStringLiteral("Sem resposta?")));
    EXPECT_EQ(ui.takeFailures(), reported);
    EXPECT_TRUE(ui.failures().isEmpty());

    ui.uninstall();
    EXPECT_NE(HostUi::instance(), &ui);
}

TEST(RecordingHostUi, PickListByRowByValueAndCancel)
{
    Companies c;
    RecordingHostUi ui;
    ui.queuePickRow(3);
    ui.queuePickValue(QStringLiteral("CDEMPRESA"), QStringLiteral("02"));
    ui.queuePickCancel();
    EXPECT_TRUE(ui.pick(&c.link, QStringLiteral("Empresa")));
    EXPECT_EQ(c.set.recNo(), 3);
    EXPECT_TRUE(ui.pick(&c.link, QStringLiteral("Empresa")));
    EXPECT_EQ(c.set.fieldByName(QStringLiteral("NMRAZSOCEMPR"))->asString(),
              QStringLiteral("Comércio Modelo"));
    EXPECT_FALSE(ui.pick(&c.link, QStringLiteral("Empresa")));
    EXPECT_EQ(c.set.recNo(), 2); // a cancelled pick leaves the current row
    EXPECT_EQ(ui.pendingAnswers(), 0);
    ASSERT_EQ(ui.requests().size(), 3);
    EXPECT_EQ(ui.requests()[0].title, QStringLiteral("Empresa"));
    EXPECT_TRUE(ui.failures().isEmpty());
}

TEST(RecordingHostUi, PickAnswersThatDoNotFitAreFailures)
{
    Companies c;
    RecordingHostUi ui;
    ui.queuePickRow(4);
    ui.queuePickValue(QStringLiteral("CDEMPRESA"), QStringLiteral("99"));
    ui.queuePickValue(QStringLiteral("CDFILIAL"), QStringLiteral("0001"));
    c.set.setRecNo(2);
    EXPECT_FALSE(ui.pick(&c.link, QStringLiteral("Empresa")));
    EXPECT_FALSE(ui.pick(&c.link, QStringLiteral("Empresa")));
    EXPECT_FALSE(ui.pick(&c.link, QStringLiteral("Empresa")));
    EXPECT_FALSE(ui.pick(&c.link, QStringLiteral("Empresa"))); // nothing queued
    const QStringList f = ui.failures();
    ASSERT_EQ(f.size(), 4);
    EXPECT_TRUE(f[0].contains(QStringLiteral("has 3 rows")));
    EXPECT_TRUE(f[1].contains(QStringLiteral("no row with CDEMPRESA = 99")));
    EXPECT_TRUE(f[2].contains(QStringLiteral("no field CDFILIAL")));
    EXPECT_TRUE(f[3].contains(QStringLiteral("no answer queued")));
    EXPECT_EQ(c.set.recNo(), 2); // none of them moved the row

    // A closed set cannot be picked from.
    c.set.close();
    ui.queuePickRow(1);
    EXPECT_FALSE(ui.pick(&c.link, QStringLiteral("Empresa")));
    EXPECT_EQ(ui.failures().size(), 5);
}

TEST(RecordingHostUi, FindAndIntegrationWindows)
{
    Companies c;
    RecordingHostUi ui;
    ui.queueFindValue(QStringLiteral("NMRAZSOCEMPR"), QStringLiteral("transp"));
    ui.queueFindCancel();
    EXPECT_TRUE(ui.find(&c.set)); // any case, the start of the value
    EXPECT_EQ(c.set.recNo(), 3);
    EXPECT_FALSE(ui.find(&c.set));
    EXPECT_EQ(c.set.recNo(), 3);

    const DataPacket in =
        buildPacket({{"CONTA", FieldType::String, 10}}, {{QStringLiteral("1.1")}});
    const DataPacket edited =
        buildPacket({{"CONTA", FieldType::String, 10}}, {{QStringLiteral("2.2")}});
    ui.queueIntegrationSame();
    ui.queueIntegration(edited);
    ui.queueIntegrationCancel();
    EXPECT_EQ(ui.integration(in), in);
    EXPECT_EQ(ui.integration(in), edited);
    EXPECT_TRUE(ui.integration(in).isNull());
    EXPECT_TRUE(ui.integration(in).isNull()); // unanswered
    EXPECT_EQ(ui.failures().size(), 1);
}

TEST(RecordingHostUi, IntegrationCellsCorrectedAndThePacketShownKept)
{
    const DataPacket in = buildPacket(
        {{"IDDEBCRED", FieldType::String, 1}, {"CONTA", FieldType::String, 10}},
        {{QStringLiteral("D"), QVariant()}, {QStringLiteral("C"), QStringLiteral("2.1")}});
    RecordingHostUi ui;
    ui.queueIntegrationEdits({{1, QStringLiteral("CONTA"), QStringLiteral("3.1")}});
    ClientDataSet out;
    out.setData(ui.integration(in));
    EXPECT_EQ(out.valueAt(0, 1).toString(), QStringLiteral("3.1"));
    EXPECT_EQ(out.valueAt(1, 1).toString(), QStringLiteral("2.1")); // the other row as it was
    ASSERT_EQ(ui.requests().size(), 1);
    EXPECT_EQ(ui.requests().first().packet, in); // what the window was shown, not the answer
    EXPECT_TRUE(ui.failures().isEmpty());

    // A cell the packet does not have: a failure, and the window answers "cancelled".
    ui.queueIntegrationEdits({{3, QStringLiteral("CONTA"), QStringLiteral("3.1")}});
    ui.queueIntegrationEdits({{1, QStringLiteral("NAOEXISTE"), QStringLiteral("3.1")}});
    EXPECT_TRUE(ui.integration(in).isNull());
    EXPECT_TRUE(ui.integration(in).isNull());
    ASSERT_EQ(ui.failures().size(), 2);
    EXPECT_TRUE(ui.failures().first().contains(u"no cell 3 CONTA (2 rows)"));
}

namespace {

// GetFunRural-like: six arguments, the last by reference.
QList<RpcParam> funRuralParams()
{
    return {RpcParam::in(ArgKind::Text), RpcParam::in(ArgKind::Text), RpcParam::in(ArgKind::Text),
            RpcParam::in(ArgKind::Date), RpcParam::in(ArgKind::Date), RpcParam::ref(ArgKind::Text)};
}

struct Client
{
    TNetConnection net;
    explicit Client(const FakeAppServer &server)
    {
        net.setHost(server.host());
        net.setPort(server.port());
        net.setServerName(server.object());
    }
    Variant funRural(QString &status)
    {
        Variant a = makeText(QStringLiteral("01")), b = makeText(QStringLiteral("02")),
                c = makeText(QStringLiteral("ISENTO")),
                d = makeDate(TDateTime::fromDate(QDate(2026, 3, 1))),
                e = makeDate(TDateTime::fromDate(QDate(2026, 3, 15))), f = makeText(status);
        const Variant result = net.call(QStringLiteral("GetFunRural"), {&a, &b, &c, &d, &e, &f});
        status = f.toString();
        return result;
    }
};

} // namespace

TEST(FakeAppServer, RecordsCallsAndAnswersQueuedThenDefault)
{
    FakeAppServer server;
    server.declare(QStringLiteral("GetFunRural"), funRuralParams());
    ASSERT_TRUE(server.start()) << server.errorString().toStdString();
    ASSERT_GT(server.port(), 0);

    const DataPacket maps =
        buildPacket({{"NRSEQUMAPAPU", FieldType::String, 10}}, {{QStringLiteral("7")}});
    FakeAppServer::Answer first = FakeAppServer::Answer::value(makePacket(maps));
    first.outputs.insert(6, makeText(QStringLiteral("S")));
    server.queueAnswer(QStringLiteral("GetFunRural"), first);
    server.setDefaultAnswer(QStringLiteral("GetFunRural"),
                            FakeAppServer::Answer::value(makeText(QStringLiteral("padrão"))));

    Client client(server);
    QString status = QStringLiteral("N");
    const Variant r1 = client.funRural(status);
    EXPECT_EQ(r1.value<DataPacket>(), maps);
    EXPECT_EQ(status, QStringLiteral("S")); // written back by reference
    status = QStringLiteral("T");
    EXPECT_EQ(client.funRural(status).toString(), QStringLiteral("padrão"));
    EXPECT_EQ(status, QStringLiteral("T")); // the default answer writes nothing back
    EXPECT_EQ(client.funRural(status).toString(), QStringLiteral("padrão"));

    const auto calls = server.calls();
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[0].method, QStringLiteral("GetFunRural"));
    ASSERT_EQ(calls[0].args.size(), 6);
    EXPECT_EQ(calls[0].args[5].toString(), QStringLiteral("N")); // as sent, before the answer
    EXPECT_EQ(calls[0].args[3].value<TDateTime>().toDate(), QDate(2026, 3, 1));
    EXPECT_EQ(calls[1].args[5].toString(), QStringLiteral("T"));
    EXPECT_TRUE(server.failures().isEmpty());
    server.clearCalls();
    EXPECT_EQ(server.callCount(), 0);
}

TEST(FakeAppServer, ErrorsAndCallsWithoutAnswerFailClearly)
{
    FakeAppServer server;
    server.declare(QStringLiteral("GetFunRural"), funRuralParams());
    server.declare(QStringLiteral("GetParamFiscal"), {});
    ASSERT_TRUE(server.start());
    Client client(server);

    server.queueAnswer(QStringLiteral("GetFunRural"),
                       FakeAppServer::Answer::error(QStringLiteral("Mapa bloqueado.")));
    QString status = QStringLiteral("N");
    EXPECT_TRUE(client.funRural(status).toString().contains(QStringLiteral("Mapa bloqueado.")));
    EXPECT_TRUE(client.net.lastCallFailed());
    EXPECT_EQ(status, QStringLiteral("N"));

    // Nothing given for the method: the call fails with a text that names it, and the server
    // reports the failure.
    const Variant r = client.net.call(QStringLiteral("GetParamFiscal"));
    EXPECT_TRUE(client.net.lastCallFailed());
    EXPECT_TRUE(r.toString().contains(QStringLiteral("GetParamFiscal")));
    QStringList f = server.takeFailures();
    ASSERT_EQ(f.size(), 1);
    EXPECT_TRUE(f[0].contains(QStringLiteral("GetParamFiscal")));

    // An output for an argument that is not by reference is refused, not silently dropped.
    FakeAppServer::Answer bad = FakeAppServer::Answer::value(makeText(QStringLiteral("x")));
    bad.outputs.insert(2, makeText(QStringLiteral("nunca")));
    server.queueAnswer(QStringLiteral("GetFunRural"), bad);
    client.funRural(status);
    f = server.takeFailures();
    ASSERT_EQ(f.size(), 1);
    EXPECT_TRUE(f[0].contains(QStringLiteral("argument 2 is not passed by reference")));
}

TEST(FakeAppServer, ForwardsUnansweredCallsToAnUpstreamServer)
{
    FakeAppServer real;
    real.declare(QStringLiteral("GetFunRural"), funRuralParams());
    FakeAppServer::Answer answer =
        FakeAppServer::Answer::value(makeText(QStringLiteral("do servidor")));
    answer.outputs.insert(6, makeText(QStringLiteral("S")));
    real.setDefaultAnswer(QStringLiteral("GetFunRural"), answer);
    ASSERT_TRUE(real.start());

    FakeAppServer recorder;
    recorder.declare(QStringLiteral("GetFunRural"), funRuralParams());
    recorder.setUpstream(real.host(), real.port());
    ASSERT_TRUE(recorder.start());

    Client client(recorder);
    QString status = QStringLiteral("N");
    EXPECT_EQ(client.funRural(status).toString(), QStringLiteral("do servidor"));
    EXPECT_EQ(status, QStringLiteral("S")); // by-reference output comes through the recorder
    EXPECT_EQ(recorder.callCount(), 1);
    EXPECT_EQ(real.callCount(), 1);
    EXPECT_TRUE(recorder.failures().isEmpty());

    // A scripted answer of the recorder wins over the upstream server.
    recorder.queueAnswer(QStringLiteral("GetFunRural"),
                         FakeAppServer::Answer::value(makeText(QStringLiteral("local"))));
    EXPECT_EQ(client.funRural(status).toString(), QStringLiteral("local"));
    EXPECT_EQ(real.callCount(), 1);
}

TEST(RecordingHostUi, NestedRecordersPutThePreviousOneBack)
{
    HostUi *before = HostUi::instance();
    {
        RecordingHostUi outer;
        outer.install();
        {
            RecordingHostUi inner;
            inner.install();
            HostUi::instance()->message(MessageKind::Warning, QStringLiteral("interno"));
            EXPECT_EQ(inner.messages().size(), 1);
        } // the inner one uninstalls itself
        EXPECT_EQ(HostUi::instance(), &outer);
        HostUi::instance()->message(MessageKind::Warning, QStringLiteral("externo"));
        EXPECT_EQ(outer.messages().size(), 1);
        EXPECT_EQ(outer.messages()[0].text, QStringLiteral("externo"));
    }
    EXPECT_EQ(HostUi::instance(), before);
}

TEST(FakeAppServer, RecordsConcurrentCallsWithoutLosingAny)
{
    FakeAppServer server;
    server.declare(QStringLiteral("GetFunRural"), funRuralParams());
    server.setDefaultAnswer(QStringLiteral("GetFunRural"),
                            FakeAppServer::Answer::value(makeText("ok")));
    ASSERT_TRUE(server.start());
    constexpr int kThreads = 4;
    constexpr int kCalls = 25;
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            Client client(server);
            for (int i = 0; i < kCalls; ++i) {
                QString status = QStringLiteral("N");
                if (client.funRural(status).toString() == QLatin1String("ok"))
                    ++good;
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(good.load(), kThreads * kCalls);
    EXPECT_EQ(server.callCount(), kThreads * kCalls);
}
