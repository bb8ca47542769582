// The server framing as any client sees it: raw HTTP requests against a running RpcServer.
#include "nettest.h"

#include "data/packet.h"
#include "net/rpcwire.h"

#include <httplib.h>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <set>

using namespace fis;
using namespace fis::test;

namespace {

struct Raw
{
    int status = 0;
    RpcResponse response;
    bool decoded = false;
};

Raw post(httplib::Client &client, const QByteArray &body,
         const std::string &path = "/call/" + kObject.toStdString(),
         const char *type = kRpcContentType, httplib::Headers headers = {})
{
    Raw raw;
    auto res = client.Post(path, headers, body.constData(), size_t(body.size()), type);
    if (!res)
        return raw;
    raw.status = res->status;
    QString why;
    raw.decoded = decodeResponse(QByteArray::fromStdString(res->body), &raw.response, &why);
    return raw;
}

QByteArray request(const QString &method, QList<Variant> args = {}, const QString &op = {})
{
    return encodeRequest(RpcRequest{method, std::move(args), op});
}

} // namespace

TEST(RpcServer, RefusesEveryBadRequestWithAnErrorAndKeepsServing)
{
    RpcServerOptions options;
    options.maxBodyBytes = 4096;
    std::mutex logMutex;
    QList<RpcCallLog> log;
    options.onCall = [&](const RpcCallLog &entry) {
        std::lock_guard lock(logMutex);
        log.append(entry);
    };
    auto server = startTestServer(options);
    httplib::Client client("127.0.0.1", server->port());

    const QByteArray good = request(QStringLiteral("Echo"), {makeText(QStringLiteral("olá"))});
    const struct
    {
        const char *name;
        QByteArray body;
        std::string path;
        const char *type;
        int status;
        const char *needle; // part of the error text
    } cases[] = {
        {"garbage", QByteArray("\xff\x00garbage", 9), "", kRpcContentType, 400, "Pedido inválido"},
        {"truncated", good.left(good.size() - 3), "", kRpcContentType, 400, "Pedido inválido"},
        {"empty", QByteArray(), "", kRpcContentType, 400, "pedido vazio"},
        {"wrong content type", good, "", "text/plain", 415, "Tipo de conteúdo"},
        {"oversized", request(QStringLiteral("Echo"), {makeText(QString(5000, QLatin1Char('x')))}),
         "", kRpcContentType, 413, "grande demais"},
        {"unknown object", good, "/call/Outro.rdm", kRpcContentType, 404, "Objeto de servidor"},
        {"unknown path", good, "/other", kRpcContentType, 404, "caminho desconhecido"},
        {"unknown method", request(QStringLiteral("Nope")), "", kRpcContentType, 404,
         "Método desconhecido"},
        {"too few arguments", request(QStringLiteral("Echo")), "", kRpcContentType, 400,
         "espera 1 argumento(s), mas recebeu 0"},
        {"too many arguments", request(QStringLiteral("Triple"), {Variant()}), "", kRpcContentType,
         400, "espera 0"},
        {"wrong kind",
         request(QStringLiteral("Kinds"), {makeFloat(1), makeFloat(2), Variant(), Variant()}), "",
         kRpcContentType, 400, "Argumento 1 do método Kinds: esperado texto, recebido número"},
        {"handler throws", request(QStringLiteral("Boom"), {makeText(QStringLiteral("in"))}), "",
         kRpcContentType, 200, "Falha ao gravar a guia 123."},
        {"unsupported result", request(QStringLiteral("BadResult")), "", kRpcContentType, 200,
         "tipo não suportado"},
        // Values no method may receive, whatever it declares.
        {"not a number", request(QStringLiteral("Echo"), {makeFloat(std::nan(""))}), "",
         kRpcContentType, 400, "Argumento 1 do método Echo: número inválido"},
        {"infinite",
         request(QStringLiteral("Kinds"), {Variant(), makeFloat(-HUGE_VAL), Variant(), Variant()}),
         "", kRpcContentType, 400, "Argumento 2 do método Kinds: número inválido"},
        {"NUL in a text", request(QStringLiteral("Echo"), {makeText(QStringLiteral("00\u0000"))}),
         "", kRpcContentType, 400, "caractere de controle (U+0000)"},
        {"control in a list",
         request(QStringLiteral("Echo"),
                 {Variant(QVariantList{makeText(QStringLiteral("a")),
                                       makeText(QStringLiteral("\u001b[2J"))})}),
         "", kRpcContentType, 400, "item 2: caractere de controle (U+001B)"},
        {"control in a packet",
         request(QStringLiteral("Echo"),
                 {makePacket(buildPacket({{QStringLiteral("CDFILIAL"), FieldType::String, 4}},
                                         {{QStringLiteral("00\u00850")}}))}),
         "", kRpcContentType, 400, "linha 1, campo CDFILIAL: caractere de controle (U+0085)"},
        {"control in the operator", request(QStringLiteral("Who"), {}, QStringLiteral("ANA\u0000")),
         "", kRpcContentType, 400, "Operador do pedido inválido"},
    };
    for (const auto &c : cases) {
        const std::string path = c.path.empty() ? "/call/" + kObject.toStdString() : c.path;
        const Raw raw = post(client, c.body, path, c.type);
        EXPECT_EQ(raw.status, c.status) << c.name;
        ASSERT_TRUE(raw.decoded) << c.name;
        EXPECT_FALSE(raw.response.ok) << c.name;
        EXPECT_TRUE(raw.response.error.contains(QString::fromUtf8(c.needle)))
            << c.name << ": " << raw.response.error.toStdString();
        EXPECT_TRUE(raw.response.out.isEmpty()) << c.name;

        // After each refusal a good call still gets its answer.
        const Raw after = post(client, good);
        ASSERT_TRUE(after.decoded) << "after " << c.name;
        EXPECT_TRUE(after.response.ok) << "after " << c.name;
        EXPECT_EQ(after.response.result, makeText(QStringLiteral("olá")));
    }

    server->stop();
    std::lock_guard lock(logMutex);
    // One line per answered request: each refusal and each good call after it.
    EXPECT_EQ(log.size(), 2 * qsizetype(std::size(cases)));
    const auto boom = std::find_if(log.cbegin(), log.cend(), [](const RpcCallLog &e) {
        return e.method == QStringLiteral("Boom");
    });
    ASSERT_NE(boom, log.cend());
    EXPECT_EQ(boom->outcome, RpcOutcome::Failed);
    EXPECT_EQ(boom->object, kObject);
    const auto echo = std::find_if(log.cbegin(), log.cend(), [](const RpcCallLog &e) {
        return e.method == QStringLiteral("Echo") && e.outcome == RpcOutcome::Ok;
    });
    ASSERT_NE(echo, log.cend());
    EXPECT_GE(echo->threadIndex, 0);
    EXPECT_TRUE(echo->peer.startsWith(QStringLiteral("127.0.0.1:")));
    EXPECT_EQ(std::count_if(log.cbegin(), log.cend(),
                            [](const RpcCallLog &e) { return e.outcome == RpcOutcome::Rejected; }),
              qsizetype(std::size(cases)) - 2);
}

TEST(RpcServer, TextsMayHoldTabsAndLineBreaksAndTheOperatorReachesTheHandler)
{
    RpcServer server;
    addTestMethods(server);
    RpcResponse response;
    QString why;
    const QString text = QStringLiteral("linha 1\r\n\tlinha 2 çã €");
    ASSERT_TRUE(decodeResponse(server.handle(kObject, request(QStringLiteral("Echo"), {text})).body,
                               &response, &why));
    EXPECT_TRUE(response.ok) << response.error.toStdString();
    EXPECT_EQ(response.result, makeText(text));
    ASSERT_TRUE(decodeResponse(
        server.handle(kObject, request(QStringLiteral("Who"), {}, QStringLiteral("MARIA"))).body,
        &response, &why));
    EXPECT_EQ(response.result, makeText(QStringLiteral("MARIA")));
}

TEST(RpcServer, NullArgumentsArriveAsTheDeclaredKind)
{
    RpcServer server;
    addTestMethods(server);
    const RpcAnswer answer = server.handle(
        kObject, request(QStringLiteral("Kinds"), {Variant(), Variant(), Variant(), Variant()}));
    RpcResponse response;
    QString why;
    ASSERT_TRUE(decodeResponse(answer.body, &response, &why)) << why.toStdString();
    ASSERT_TRUE(response.ok) << response.error.toStdString();
    const QVariantList got = response.result.toList();
    ASSERT_EQ(got.size(), 4);
    EXPECT_EQ(kindOf(got[0]), VariantKind::Text);
    EXPECT_EQ(kindOf(got[1]), VariantKind::Float);
    EXPECT_EQ(kindOf(got[2]), VariantKind::Date);
    EXPECT_EQ(kindOf(got[3]), VariantKind::Packet);
    EXPECT_TRUE(got[3].value<DataPacket>().isNull());
}

TEST(RpcServer, TokenIsRequiredWhenSet)
{
    RpcServerOptions options;
    options.token = "s3gredo";
    auto server = startTestServer(options);
    httplib::Client client("127.0.0.1", server->port());
    const QByteArray body = request(QStringLiteral("Triple"));
    const std::string path = "/call/" + kObject.toStdString();

    for (const char *header : {"", "Bearer errado", "Bearer s3gredo2", "s3gredo"}) {
        httplib::Headers headers;
        if (*header)
            headers.emplace(kRpcAuthHeader, header);
        const Raw raw = post(client, body, path, kRpcContentType, headers);
        EXPECT_EQ(raw.status, 401) << header;
        ASSERT_TRUE(raw.decoded);
        EXPECT_TRUE(raw.response.error.contains(QStringLiteral("Acesso negado")));
    }
    const Raw raw = post(client, body, path, kRpcContentType, {{kRpcAuthHeader, "Bearer s3gredo"}});
    EXPECT_EQ(raw.status, 200);
    EXPECT_TRUE(raw.response.ok);
}

TEST(RpcServer, WorkersKnowTheirThreadAndStopCleanly)
{
    constexpr int kThreads = 4;
    std::mutex mutex;
    std::condition_variable arrived;
    int inside = 0;
    std::multiset<int> started, stopped;
    RpcServerOptions options;
    options.threads = kThreads;
    options.onThreadStart = [&](int i) {
        std::lock_guard lock(mutex);
        started.insert(i);
    };
    options.onThreadStop = [&](int i) {
        std::lock_guard lock(mutex);
        stopped.insert(i);
    };
    RpcServer server(options);
    addTestMethods(server);
    // Answers only once every worker is inside it: the calls run at once, one per worker.
    server.addMethod(kObject, QStringLiteral("Meet"), {},
                     [&](QList<Variant> &, const RpcContext &context) {
                         std::unique_lock lock(mutex);
                         ++inside;
                         arrived.notify_all();
                         const bool all = arrived.wait_for(lock, std::chrono::seconds(10),
                                                           [&] { return inside >= kThreads; });
                         return makeFloat(all ? context.threadIndex : -1);
                     });
    ASSERT_TRUE(server.start());
    const int port = server.port();

    std::vector<std::unique_ptr<httplib::Client>> clients;
    std::vector<int> indexes(kThreads, -1);
    std::vector<std::thread> callers;
    for (int c = 0; c < kThreads; ++c) {
        clients.push_back(std::make_unique<httplib::Client>("127.0.0.1", port));
        clients.back()->set_keep_alive(true);
    }
    for (int c = 0; c < kThreads; ++c) {
        callers.emplace_back([&, c] {
            const Raw raw = post(*clients[size_t(c)], request(QStringLiteral("Meet")));
            if (raw.decoded && raw.response.ok)
                indexes[size_t(c)] = int(raw.response.result.toDouble());
        });
    }
    for (std::thread &t : callers)
        t.join();
    EXPECT_EQ(std::set<int>(indexes.begin(), indexes.end()), (std::set<int>{0, 1, 2, 3}));

    // The clients keep their connections open: stop() must not wait for them to time out.
    server.stop();
    EXPECT_FALSE(server.isRunning());
    server.stop(); // harmless twice
    std::lock_guard lock(mutex);
    EXPECT_EQ(started, (std::multiset<int>{0, 1, 2, 3}));
    EXPECT_EQ(stopped, started);
    EXPECT_FALSE(post(*clients.front(), request(QStringLiteral("Where"))).decoded);
}

TEST(RpcServer, RefusesToStartOnABusyPortAndToChangeMethodsWhileRunning)
{
    auto first = startTestServer();
    RpcServerOptions options;
    options.port = first->port();
    RpcServer second(options);
    EXPECT_FALSE(second.start());
    EXPECT_TRUE(second.errorString().contains(QString::number(first->port())));
    EXPECT_THROW(first->addMethod(kObject, QStringLiteral("Late"), {}, {}), std::logic_error);
}
