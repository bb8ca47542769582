// fis-appserver as a separate process on loopback, called through TNetConnection, on SQLite
// and on a PostgreSQL 15 cluster that the test starts itself.
#include "fixture.h"
#include "server_process.h"
#include "support/sharedpgcluster.h"

#include "net/netconnection.h"
#include "net/rpcwire.h"

#include <httplib.h>

#include <QSqlError>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <latch>
#include <thread>

using namespace fis;
using namespace fis::test;

namespace {

const auto *const g_pgStop = ::testing::AddGlobalTestEnvironment(new SharedPgClusterStop);

enum class Backend { Sqlite, Postgres };

class AppServerTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        static int serial = 0;
        ++serial;
        if (GetParam() == Backend::Sqlite) {
            ASSERT_TRUE(dir.isValid());
            url = dir.filePath(QStringLiteral("server.db"));
        } else {
            QString why;
            PgCluster *pg = sharedPgCluster(&why);
            if (!pg)
                GTEST_SKIP() << "PostgreSQL de teste indisponível: " << why.toStdString();
            const QString name = QStringLiteral("fis_%1_%2").arg(::getpid()).arg(serial);
            ASSERT_TRUE(pg->createDatabase(name)) << pg->error().toStdString();
            url = pg->url(name);
        }
        DbConfig config;
        QString error;
        ASSERT_TRUE(DbConfig::parse(url, &config, &error));
        kind = config.kind;
        connection = QStringLiteral("process-test-%1").arg(serial);
        db = openConnection(config, connection, &error);
        ASSERT_TRUE(db.isOpen()) << error.toStdString();
        seedCatalogue(db, kind);
        sup = suppliers(db);
    }
    void TearDown() override
    {
        server.kill();
        db.close();
        db = QSqlDatabase();
        if (!connection.isEmpty())
            QSqlDatabase::removeDatabase(connection);
    }

    void startServer() { ASSERT_TRUE(server.start(url)) << server.error().toStdString(); }
    std::unique_ptr<TNetConnection> client() const
    {
        auto net = std::make_unique<TNetConnection>();
        net->setHost(QStringLiteral("127.0.0.1"));
        net->setPort(server.port());
        net->setServerName(QString::fromLatin1(kServerObject));
        return net;
    }
    void addEntries(int first, int count, double withheld, int supplier = 0)
    {
        InvoiceWriter w(db);
        for (int i = first; i < first + count; ++i)
            w.insert(entryInvoice(QString::number(i), sup[supplier], withheld));
    }
    int n(const QString &sql) { return count(db, sql); }

    QTemporaryDir dir;
    QString url, connection;
    DbKind kind = DbKind::Sqlite;
    QSqlDatabase db;
    QList<Supplier> sup;
    ServerProcess server;
};

Variant call(TNetConnection &net, const QString &method, QList<Variant> &vars)
{
    QList<Variant *> ptrs;
    for (Variant &v : vars)
        ptrs.append(&v);
    return net.call(method, ptrs);
}

Variant call(TNetConnection &net, const QString &method, QList<Variant> &&vars)
{
    return call(net, method, vars);
}

QString errorText(TNetConnection &net, const Variant &result)
{
    return net.lastCallFailed() ? net.lastError()
                                : QStringLiteral("<sem erro: %1>").arg(result.toString());
}

// The result row of an "EF" emission: "CDRESULT|DSRESULT", or the call's error.
QString emissionOutcome(TNetConnection &net, const Variant &r)
{
    if (net.lastCallFailed())
        return QStringLiteral("FALHA|") + net.lastError();
    const QVariantList parts = r.toList();
    if (parts.size() != 3)
        return QStringLiteral("<resposta inesperada>");
    const PacketReader result = packetOf(parts[0]);
    return cell(result, 0, "CDRESULT") + u'|' + cell(result, 0, "DSRESULT");
}

GuiaCall emission(int first, int count)
{
    GuiaCall ef;
    ef.op = QStringLiteral("EF");
    QStringList branches, entries;
    for (int i = first; i < first + count; ++i) {
        branches << QStringLiteral("0001");
        entries << QString::number(i);
    }
    ef.filiais = QStringLiteral("_") + branches.join(u'_') + u'_';
    ef.lanctos = QStringLiteral("_") + entries.join(u'_') + u'_';
    return ef;
}

// A one-field packet whose only text cell claims 2^63-1 bytes: 66 bytes in all.
QByteArray packetClaimingTheWorld()
{
    QByteArray b = QByteArray::fromHex("84"                     // array(4)
                                       "6a6669732d7061636b6574" // "fis-packet"
                                       "01"                     // version 1
                                       "81"                     // one field:
                                       "8368434446494c49414c"   //   "CDFILIAL"
                                       "66737472696e6704"       //   "string", 4
                                       "81"                     // one row
                                       "81"                     // of one value:
                                       "7b7fffffffffffffff");   //   text of 2^63-1 bytes
    return b + QByteArray(66 - b.size(), 'x');
}

TEST_P(AppServerTest, TableOfCallsAndErrorsLeavesTheServerAnswering)
{
    addEntries(100, 3, 20.0);
    QSqlQuery(db).exec(QStringLiteral("INSERT INTO CONTAPREVISTA (CDFILIAL, NRLANCTONF, "
                                      "VRCONTAPREV) VALUES ('0001', '100', 20)"));
    startServer();
    auto net = client();
    const auto alive = [&] {
        const Variant r = call(*net, QStringLiteral("GetParamFiscal"), {});
        return !net->lastCallFailed() && packetOf(r).rowCount() == 1;
    };
    const Variant none = makeDate(TDateTime());
    const Variant may1 = makeDate(TDateTime::fromDate(QDate(2026, 5, 1)));
    const DataPacket selection =
        buildPacket({{QStringLiteral("CDFILIAL"), FieldType::String, 4},
                     {QStringLiteral("NRLANCTONF"), FieldType::String, 10}},
                    {{QStringLiteral("0001"), QStringLiteral("100")}});

    struct Row
    {
        const char *method;
        QList<Variant> args;
        int rows;             // packet rows expected; -1: array; -2: error
        const char *expected; // part of the error text, or of item 1 of an array
    };
    const QList<Row> table = {
        {"GetParamFiscal", {}, 1, nullptr},
        {"GetImpostoNfe", {QString()}, 4, nullptr},
        {"GetImpostoNfe", {QStringLiteral("02")}, 1, nullptr},
        {"GetCodRecePad", {QStringLiteral("01")}, 2, nullptr},
        {"GetVdCodRece", {QStringLiteral("01"), QStringLiteral("2631")}, 1, nullptr},
        {"GetParamFilial", {QStringLiteral("0001")}, 1, nullptr},
        {"GetMapa",
         {may1, QStringLiteral("01"), QStringLiteral("03"), QString(), QStringLiteral("F")},
         2,
         nullptr},
        {"GetVdBeneficiario", {QStringLiteral("01")}, 1, nullptr},
        {"GetFunRural",
         {QStringLiteral("03"), QStringLiteral("01"), QString(), none, none, QStringLiteral("N")},
         4,
         nullptr},
        {"GetEmisGuiaPrev", GuiaCall().args(), 3, nullptr},
        {"SetDtVenc",
         {QStringLiteral("0001"), QStringLiteral("101"), QStringLiteral("18/06/2026"),
          QStringLiteral("2631"), 1.0, 2.0},
         1,
         nullptr},
        {"GetVdContaPagar", {makePacket(selection)}, -1, "OK"},
        {"GeraFunRural", {QStringLiteral("_")}, 0, nullptr},
        // Errors, each followed by a call that must still work.
        {"NaoExiste", {}, -2, "NaoExiste"},
        {"SetDtVenc",
         {QStringLiteral("0001"), QStringLiteral("101"), QString(), QString(), 1.0},
         -2,
         "6"},
        {"SetDtVenc", {1.0, QStringLiteral("101"), QString(), QString(), 1.0, 2.0}, -2, "1"},
        {"SetDtVenc",
         {QStringLiteral("0001"), QStringLiteral("101"), QStringLiteral("32/13/2026"), QString(),
          0.0, 0.0},
         -2,
         "vencimento"},
        {"GetEmisGuiaPrev",
         [] {
             GuiaCall c;
             c.op = QStringLiteral("SF");
             c.filiais = QStringLiteral("_0001_");
             c.lanctos = QStringLiteral("_10x_");
             return c.args();
         }(),
         -2, "chave"},
        {"GetEmisGuiaPrev",
         [] {
             GuiaCall c;
             c.op = QStringLiteral("SF");
             c.filiais = QStringLiteral("_0001_");
             c.lanctos = QStringLiteral("_1);DROP TABLE GUIAPREV;--_");
             return c.args();
         }(),
         -2, "chave"},
        {"GetMapa",
         {may1, QStringLiteral("01"), QStringLiteral("03"), QString(), QStringLiteral("Z")},
         -2,
         "Tipo"},
        {"GeraFunRural", {QStringLiteral("_424242_")}, -2, "424242"},
    };
    for (const Row &row : table) {
        SCOPED_TRACE(row.method);
        QList<Variant> args = row.args;
        const Variant r = call(*net, QString::fromLatin1(row.method), args);
        if (row.rows >= 0) {
            ASSERT_FALSE(net->lastCallFailed()) << net->lastError().toStdString();
            EXPECT_EQ(packetOf(r).rowCount(), row.rows);
        } else if (row.rows == -1) {
            ASSERT_FALSE(net->lastCallFailed()) << net->lastError().toStdString();
            EXPECT_EQ(r.toList().value(1).toString(), QString::fromLatin1(row.expected));
        } else {
            EXPECT_TRUE(
                errorText(*net, r).contains(QString::fromUtf8(row.expected), Qt::CaseInsensitive))
                << errorText(*net, r).toStdString();
            EXPECT_TRUE(alive());
        }
    }
    // The check of the payables removes no forecast payable.
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM CONTAPREVISTA")), 1);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM GUIAPREV")), 0);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL")), 3);

    // Raw requests the connection would never send.
    httplib::Client raw("127.0.0.1", server.port());
    const std::string path = std::string(kRpcPathPrefix) + kServerObject;
    const auto rejected = [&](const std::string &body) {
        auto res = raw.Post(path, body, kRpcContentType);
        if (!res)
            return false;
        if (res->status != 200)
            return true;
        RpcResponse answer;
        QString error;
        return decodeResponse(QByteArray::fromStdString(res->body), &answer, &error) && !answer.ok;
    };
    EXPECT_TRUE(rejected("not cbor at all"));
    EXPECT_TRUE(rejected(std::string("\xa2\x66method", 8))); // truncated map
    EXPECT_TRUE(
        rejected(encodeRequest({QStringLiteral("GetParamFiscal"), {}, {}}).left(5).toStdString()));
    EXPECT_TRUE(rejected(std::string(17 * 1024 * 1024, 'x')));
    EXPECT_TRUE(alive());

    // Clean stop on SIGTERM, with one log line per call.
    const QString log = server.log();
    EXPECT_TRUE(log.contains(QStringLiteral("GetVdCodRece"))) << log.toStdString();
    EXPECT_EQ(server.terminate(), 0);
}

TEST_P(AppServerTest, ByReferenceArgumentsComeBack)
{
    addEntries(200, 2, 20.0);
    startServer();
    auto net = client();
    GuiaCall listing;
    listing.status = QString();
    QList<Variant> args = listing.args();
    ASSERT_EQ(packetOf(call(*net, QStringLiteral("GetEmisGuiaPrev"), args)).rowCount(), 2);
    EXPECT_EQ(args[9].toString(), QStringLiteral("T"));

    GuiaCall ef;
    ef.op = QStringLiteral("EF");
    ef.filiais = QStringLiteral("_0001_0001_");
    ef.lanctos = QStringLiteral("_200_201_");
    args = ef.args();
    const QVariantList answer = call(*net, QStringLiteral("GetEmisGuiaPrev"), args).toList();
    ASSERT_EQ(answer.size(), 3) << net->lastError().toStdString();
    EXPECT_EQ(cell(packetOf(answer[0]), 0, "CDRESULT"), QStringLiteral("OK"));
    EXPECT_EQ(args[13].toString(), QStringLiteral("_"));
    EXPECT_EQ(args[14].toString(), QStringLiteral("_"));
    EXPECT_DOUBLE_EQ(args[18].toDouble(), 40.0);
    EXPECT_EQ(args[19].value<TDateTime>().toDate(), QDate(2026, 6, 19));

    QList<Variant> status{QStringLiteral("03"),  QStringLiteral("01"),  QString(),
                          makeDate(TDateTime()), makeDate(TDateTime()), QString()};
    call(*net, QStringLiteral("GetFunRural"), status);
    EXPECT_EQ(status[5].toString(), QStringLiteral("T"));
}

TEST_P(AppServerTest, TwoClientsEmittingTheSameInvoicesGetOneGuideEach)
{
    constexpr int kRounds = 6, kInvoices = 30;
    addEntries(1000, kRounds * kInvoices, 20.0);
    startServer();
    for (int round = 0; round < kRounds; ++round) {
        GuiaCall ef;
        ef.op = QStringLiteral("EF");
        QStringList branches, entries;
        for (int i = 0; i < kInvoices; ++i) {
            branches << QStringLiteral("0001");
            entries << QString::number(1000 + round * kInvoices + i);
        }
        ef.filiais = QStringLiteral("_") + branches.join(u'_') + u'_';
        ef.lanctos = QStringLiteral("_") + entries.join(u'_') + u'_';
        // Half of the rounds go without the payable (a plain guide per invoice).
        if (round % 2)
            ef.param = QStringLiteral("N");
        std::latch go(2);
        QString outcome[2];
        std::thread clients[2];
        for (int c = 0; c < 2; ++c) {
            clients[c] = std::thread([&, c] {
                auto net = client();
                QList<Variant> args = ef.args();
                go.arrive_and_wait();
                const Variant r = call(*net, QStringLiteral("GetEmisGuiaPrev"), args);
                if (net->lastCallFailed())
                    outcome[c] = QStringLiteral("ERR|") + net->lastError();
                else if (r.toList().size() == 3)
                    outcome[c] = cell(packetOf(r.toList()[0]), 0, "CDRESULT") + u'|' +
                                 cell(packetOf(r.toList()[0]), 0, "DSRESULT");
                else
                    outcome[c] = QStringLiteral("OK|packet");
            });
        }
        for (std::thread &t : clients)
            t.join();
        SCOPED_TRACE(round);
        const int ok = int(outcome[0].startsWith(u"OK")) + int(outcome[1].startsWith(u"OK"));
        EXPECT_EQ(ok, 1) << outcome[0].toStdString() << " / " << outcome[1].toStdString();
        const QString &loser = outcome[0].startsWith(u"OK") ? outcome[1] : outcome[0];
        EXPECT_TRUE(loser.startsWith(u"ERR|") && loser.contains(u"já foi emitida"))
            << loser.toStdString();
    }
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM GUIAPREV")), kRounds * kInvoices);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM CONTAPAGAR")), kRounds / 2);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM LANCCONTABIL")), kRounds);
}

TEST_P(AppServerTest, KillDuringEmissionsLeavesNoGuideWithoutItsPayable)
{
    constexpr int kInvoices = 400;
    addEntries(5000, kInvoices, 12.0);
    startServer();
    std::atomic<int> done = 0;
    std::atomic<bool> stop = false;
    std::thread worker([&] {
        auto net = client();
        net->setTimeout(5000);
        for (int i = 0; i < kInvoices && !stop; ++i) {
            GuiaCall ef;
            ef.op = QStringLiteral("EF");
            ef.filiais = QStringLiteral("_0001_");
            ef.lanctos = QStringLiteral("_%1_").arg(5000 + i);
            QList<Variant> args = ef.args();
            call(*net, QStringLiteral("GetEmisGuiaPrev"), args);
            if (net->lastCallFailed())
                break;
            ++done;
        }
    });
    while (done < 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(pid_t(server.pid()), SIGKILL);
    stop = true;
    worker.join();
    server.kill();

    const int guides = n(QStringLiteral("SELECT COUNT(*) FROM GUIAPREV"));
    const int payables = n(QStringLiteral("SELECT COUNT(*) FROM CONTAPAGAR"));
    EXPECT_GE(guides, 20);
    EXPECT_EQ(guides, payables);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM GUIAPREV WHERE NRCONTAPAGAR IS NULL")), 0);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM CONTAPAGAR P WHERE NOT EXISTS (SELECT 1 "
                               "FROM GUIAPREV G WHERE G.NRCONTAPAGAR = P.NRCONTAPAGAR)")),
              0);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM LANCCONTABIL")), 2 * payables);

    // The server comes back on the same database.
    startServer();
    auto net = client();
    call(*net, QStringLiteral("GetParamFiscal"), {});
    EXPECT_FALSE(net->lastCallFailed()) << net->lastError().toStdString();
}

TEST_P(AppServerTest, HostilePacketsAreRefusedAndLeaveEveryWorkerFree)
{
    addEntries(300, 1, 20.0);
    ASSERT_TRUE(server.start(url, {QStringLiteral("--threads"), QStringLiteral("2")}))
        << server.error().toStdString();
    const DataPacket hostile{packetClaimingTheWorld()};
    ASSERT_EQ(hostile.bytes.size(), 66);
    auto net = client();
    net->setTimeout(5000);
    // More hostile calls than there are workers: each is refused at once.
    for (int i = 0; i < 3; ++i) {
        const Variant r = call(*net, QStringLiteral("GetVdContaPagar"), {makePacket(hostile)});
        EXPECT_TRUE(errorText(*net, r).contains(QStringLiteral("Pacote das notas selecionadas "
                                                               "inválido")))
            << errorText(*net, r).toStdString();
    }
    GuiaCall ef = emission(300, 1);
    ef.integration = hostile;
    QList<Variant> args = ef.args();
    const QString outcome =
        emissionOutcome(*net, call(*net, QStringLiteral("GetEmisGuiaPrev"), args));
    EXPECT_TRUE(outcome.startsWith(QStringLiteral("ERR|Pacote de integração contábil inválido")))
        << outcome.toStdString();
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM GUIAPREV")), 0);

    call(*net, QStringLiteral("GetParamFiscal"), {});
    EXPECT_FALSE(net->lastCallFailed()) << net->lastError().toStdString();
    httplib::Client probe("127.0.0.1", server.port());
    const auto health = probe.Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    EXPECT_EQ(health->body, "ok\n");
    EXPECT_EQ(server.terminate(), 0);
}

TEST_P(AppServerTest, ArgumentsNoFieldMayHoldAreRefusedBeforeAnySql)
{
    addEntries(320, 2, 20.0);
    startServer();
    auto net = client();

    // A NaN total would pass any comparison with the invoices' total.
    GuiaCall ef = emission(320, 2);
    ef.total = std::nan("");
    QList<Variant> args = ef.args();
    Variant r = call(*net, QStringLiteral("GetEmisGuiaPrev"), args);
    EXPECT_TRUE(errorText(*net, r).contains(QStringLiteral("Argumento 19")) &&
                errorText(*net, r).contains(QStringLiteral("número inválido")))
        << errorText(*net, r).toStdString();

    // A NUL or another control character inside a text, anywhere.
    for (const QString &entry : {QStringLiteral("320\u0000"), QStringLiteral("32\u00070")}) {
        r = call(
            *net, QStringLiteral("SetDtVenc"),
            {QStringLiteral("0001"), entry, QStringLiteral("18/06/2026"), QString(), 1.0, 0.0});
        EXPECT_TRUE(errorText(*net, r).contains(QStringLiteral("caractere de controle")))
            << errorText(*net, r).toStdString();
    }
    GuiaCall listing;
    listing.serie = QStringLiteral("1\u0000' OR '1'='1");
    args = listing.args();
    r = call(*net, QStringLiteral("GetEmisGuiaPrev"), args);
    EXPECT_TRUE(errorText(*net, r).contains(QStringLiteral("Argumento 5")))
        << errorText(*net, r).toStdString();

    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM GUIAPREV")), 0);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM AUDITORIA")), 0);
}

TEST_P(AppServerTest, TheEmissionDueDateFollowsTheDueDateRule)
{
    addEntries(340, 1, 20.0);
    startServer();
    auto net = client();
    for (const QDate &due : {QDate(1, 1, 1), QDate(1899, 12, 31)}) {
        GuiaCall ef = emission(340, 1);
        ef.venc = due;
        QList<Variant> args = ef.args();
        const QString outcome =
            emissionOutcome(*net, call(*net, QStringLiteral("GetEmisGuiaPrev"), args));
        EXPECT_TRUE(outcome.startsWith(QStringLiteral("ERR|Data de vencimento inválida")))
            << outcome.toStdString();
    }
    // Past the year 9999 it is no date at all.
    GuiaCall ef = emission(340, 1);
    QList<Variant> args = ef.args();
    args[19] = makeDate(TDateTime(TDateTime::kEndDay + 400));
    const Variant r = call(*net, QStringLiteral("GetEmisGuiaPrev"), args);
    EXPECT_TRUE(errorText(*net, r).contains(QStringLiteral("fora do intervalo")))
        << errorText(*net, r).toStdString();
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM GUIAPREV")), 0);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM CONTAPAGAR")), 0);

    ef.venc = QDate(2026, 7, 20);
    args = ef.args();
    const QString outcome =
        emissionOutcome(*net, call(*net, QStringLiteral("GetEmisGuiaPrev"), args));
    EXPECT_TRUE(outcome.startsWith(u"OK|")) << outcome.toStdString();
    EXPECT_EQ(scalar(db, QStringLiteral("SELECT DTVENCIMENTO FROM CONTAPAGAR")).left(10),
              QStringLiteral("2026-07-20"));
}

TEST_P(AppServerTest, DueDateChangesRacingAnEmissionNeverChangeEmittedInvoices)
{
    constexpr int kRounds = 8, kInvoices = 300;
    addEntries(20000, kRounds * kInvoices, 20.0);
    startServer();
    int accepted = 0, refused = 0;
    for (int round = 0; round < kRounds; ++round) {
        const int first = 20000 + round * kInvoices;
        std::latch go(2);
        QString emitted, changed;
        std::thread emitter([&] {
            auto net = client();
            QList<Variant> args = emission(first, kInvoices).args();
            go.arrive_and_wait();
            emitted = emissionOutcome(*net, call(*net, QStringLiteral("GetEmisGuiaPrev"), args));
        });
        std::thread changer([&] {
            auto net = client();
            call(*net, QStringLiteral("GetParamFiscal"), {}); // connected before the start
            go.arrive_and_wait();
            // While the emission holds the first invoice (it locks in key order).
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + 15 * round));
            const Variant r =
                call(*net, QStringLiteral("SetDtVenc"),
                     {QStringLiteral("0001"), QString::number(first), QStringLiteral("19/06/2026"),
                      QStringLiteral("2631"), 7.5, 0.0});
            changed = net->lastCallFailed() ? net->lastError() : QStringLiteral("OK");
        });
        emitter.join();
        changer.join();
        SCOPED_TRACE(round);
        ASSERT_TRUE(emitted.startsWith(u"OK|")) << emitted.toStdString();
        if (changed == QLatin1String("OK"))
            ++accepted;
        else if (changed.contains(QStringLiteral("já foi emitida")))
            ++refused;
        else
            ADD_FAILURE() << changed.toStdString();
    }
    // Whoever won, every payable still equals the invoices of its guides.
    EXPECT_EQ(n(QStringLiteral(
                  "SELECT COUNT(*) FROM CONTAPAGAR P WHERE ABS(P.VRCONTAPAGAR - (SELECT "
                  "SUM(N.VRTOTIMPONF + COALESCE(N.VRMULTAGUIA, 0) + COALESCE(N.VROUTRENTGUIA, 0)) "
                  "FROM GUIAPREV G JOIN NOTAFISCAL N ON N.CDFILIAL = G.CDFILIAL AND "
                  "N.NRLANCTONF = G.NRLANCTONF WHERE G.NRCONTAPAGAR = P.NRCONTAPAGAR)) > 0.005")),
              0);
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM CONTAPAGAR")), kRounds);
    std::printf("SetDtVenc against an emission: %d accepted before it, %d refused after it\n",
                accepted, refused);
}

TEST_P(AppServerTest, TheAuditRecordsTheOperatorEveryCallCarries)
{
    addEntries(360, 3, 20.0);
    startServer();
    const auto setDue = [&](TNetConnection &net, const QString &entry, double other) {
        call(net, QStringLiteral("SetDtVenc"),
             {QStringLiteral("0001"), entry, QStringLiteral("18/06/2026"), QStringLiteral("2631"),
              other, 0.0});
        EXPECT_FALSE(net.lastCallFailed()) << net.lastError().toStdString();
    };
    const auto lastOperator = [&] {
        return scalar(db, QStringLiteral("SELECT NMOPERADOR FROM AUDITORIA ORDER BY NRAUDITORIA "
                                         "DESC LIMIT 1"));
    };
    auto ana = client();
    ana->setOperatorName(QStringLiteral("ANA"));
    auto beto = client();
    beto->setOperatorName(QStringLiteral("BETO"));

    // A listing names another operator in its arguments: what counts is the connection's.
    QList<Variant> args = GuiaCall().args();
    call(*ana, QStringLiteral("GetEmisGuiaPrev"), args);
    setDue(*ana, QStringLiteral("360"), 1.0);
    EXPECT_EQ(lastOperator(), QStringLiteral("ANA"));
    setDue(*beto, QStringLiteral("361"), 1.0);
    EXPECT_EQ(lastOperator(), QStringLiteral("BETO"));

    // A client that sends none is known by its address.
    auto anonymous = client();
    setDue(*anonymous, QStringLiteral("362"), 1.0);
    EXPECT_TRUE(lastOperator().startsWith(QStringLiteral("127.0.0.1:")))
        << lastOperator().toStdString();

    // The emission records the connection's operator too, on the guides and in the audit.
    args = emission(360, 3).args();
    const QString outcome =
        emissionOutcome(*beto, call(*beto, QStringLiteral("GetEmisGuiaPrev"), args));
    ASSERT_TRUE(outcome.startsWith(u"OK|")) << outcome.toStdString();
    EXPECT_EQ(lastOperator(), QStringLiteral("BETO"));
    EXPECT_EQ(n(QStringLiteral("SELECT COUNT(*) FROM GUIAPREV WHERE NMOPERADOR = 'BETO'")), 3);
}

// The token rule does not depend on the database: SQLite only.
// The database server restarted under a running application server: every worker's
// connection was ended while idle. The calls after the restart must find the database again,
// not fail once per worker on the dead connection.
class DatabaseRestartTest : public AppServerTest
{
};

TEST_P(DatabaseRestartTest, CallsAfterARestartOfTheDatabaseAreAnswered)
{
    ASSERT_TRUE(server.start(url, {QStringLiteral("--threads"), QStringLiteral("2")}))
        << server.error().toStdString();
    addEntries(1, 1, 50.0);
    // Four clients at once, so that both workers hold a connection.
    const auto burst = [&] {
        std::vector<std::thread> clients;
        std::vector<QString> errors(4);
        for (int c = 0; c < 4; ++c) {
            clients.emplace_back([&, c] {
                auto net = client();
                for (int i = 0; i < 10 && errors[size_t(c)].isEmpty(); ++i) {
                    const Variant r = call(*net, QStringLiteral("SetDtVenc"),
                                           {QStringLiteral("0001"), QStringLiteral("1"),
                                            QStringLiteral("19/06/2026"), QStringLiteral("2631"),
                                            double(i), 0.0});
                    if (net->lastCallFailed())
                        errors[size_t(c)] = errorText(*net, r);
                }
            });
        }
        for (auto &t : clients)
            t.join();
        return errors;
    };
    for (const QString &e : burst())
        ASSERT_TRUE(e.isEmpty()) << e.toStdString();
    QString why;
    ASSERT_TRUE(sharedPgCluster(&why)->restart()) << sharedPgCluster(&why)->error().toStdString();
    for (const QString &e : burst())
        EXPECT_TRUE(e.isEmpty()) << e.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Banco, DatabaseRestartTest, ::testing::Values(Backend::Postgres),
                         [](const auto &) { return std::string("PostgreSQL"); });

class TokenTest : public AppServerTest
{
};

TEST_P(TokenTest, IsRequiredAwayFromLoopback)
{
    // Loopback is what the address resolves to, not how it is spelt.
    for (const char *address : {"0.0.0.0:0", "127.0.0.1.invalid:0"}) {
        ServerProcess open;
        EXPECT_FALSE(open.start(url, {QStringLiteral("--listen"), QLatin1String(address)}));
        EXPECT_TRUE(open.error().contains(QStringLiteral("--token"))) << open.error().toStdString();
    }
    ServerProcess local;
    EXPECT_TRUE(local.start(url, {QStringLiteral("--listen"), QStringLiteral("localhost:0")}))
        << local.error().toStdString();
    local.kill();

    ASSERT_TRUE(server.start(url, {QStringLiteral("--token"), QStringLiteral("s3gr3d0")}));
    auto net = client();
    call(*net, QStringLiteral("GetParamFiscal"), {});
    EXPECT_TRUE(net->lastCallFailed());
    net->setAuthToken(QStringLiteral("s3gr3d0"));
    call(*net, QStringLiteral("GetParamFiscal"), {});
    EXPECT_FALSE(net->lastCallFailed()) << net->lastError().toStdString();
    server.kill();

    // The same token from a file (first line) or from the environment, out of the process list.
    QFile file(dir.filePath(QStringLiteral("token")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("d0-arquivo\n");
    file.close();
    ASSERT_TRUE(server.start(url, {QStringLiteral("--token-file"), file.fileName()}));
    net = client();
    call(*net, QStringLiteral("GetParamFiscal"), {});
    EXPECT_TRUE(net->lastCallFailed());
    net->setAuthToken(QStringLiteral("d0-arquivo"));
    call(*net, QStringLiteral("GetParamFiscal"), {});
    EXPECT_FALSE(net->lastCallFailed()) << net->lastError().toStdString();
    server.kill();

    qputenv("FIS_APPSERVER_TOKEN", "d0-ambiente");
    const bool started = server.start(url);
    qunsetenv("FIS_APPSERVER_TOKEN");
    ASSERT_TRUE(started);
    net = client();
    call(*net, QStringLiteral("GetParamFiscal"), {});
    EXPECT_TRUE(net->lastCallFailed());
    net->setAuthToken(QStringLiteral("d0-ambiente"));
    call(*net, QStringLiteral("GetParamFiscal"), {});
    EXPECT_FALSE(net->lastCallFailed()) << net->lastError().toStdString();

    ServerProcess missing;
    EXPECT_FALSE(
        missing.start(url, {QStringLiteral("--token-file"), dir.filePath(QStringLiteral("nada"))}));
    EXPECT_TRUE(missing.error().contains(QStringLiteral("--token-file")))
        << missing.error().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Banco, TokenTest, ::testing::Values(Backend::Sqlite),
                         [](const ::testing::TestParamInfo<Backend> &) { return "SQLite"; });

INSTANTIATE_TEST_SUITE_P(Bancos, AppServerTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const ::testing::TestParamInfo<Backend> &info) {
                             return info.param == Backend::Sqlite ? "SQLite" : "PostgreSQL";
                         });

} // namespace
