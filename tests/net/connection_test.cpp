// TNetConnection against the real server framing and against servers that misbehave.
#include "net/netconnection.h"
#include "net/rpcwire.h"
#include "nettest.h"

#include <httplib.h>

#include <thread>

using namespace fis;
using namespace fis::test;

namespace {

void configure(TNetConnection &net, int port)
{
    net.setHost(QStringLiteral("127.0.0.1"));
    net.setPort(port);
    net.setServerName(kObject);
}

} // namespace

TEST(NetConnection, WritesBackOnlyTheByReferenceArguments)
{
    auto server = startTestServer();
    TNetConnection net;
    configure(net, server->port());

    // The 27 arguments as a screen sends them: each one a variable of the caller.
    QList<Variant> vars;
    for (int i = 1; i <= 27; ++i) {
        if (i == 19)
            vars.append(makeFloat(10.0));
        else if ((i >= 11 && i <= 13) || i == 20)
            vars.append(makeDate(TDateTime(46000)));
        else if (i == 21 || i == 23)
            vars.append(makePacket(DataPacket()));
        else
            vars.append(makeText(QStringLiteral("a%1").arg(i)));
    }
    const QList<Variant> before = vars;
    QList<Variant *> args;
    for (Variant &v : vars)
        args.append(&v);

    const Variant result = net.call(QStringLiteral("GetEmisGuiaPrev"), args);
    ASSERT_FALSE(net.lastCallFailed()) << net.lastError().toStdString();
    EXPECT_EQ(result, makePacket(listingPacket()));
    for (int i = 1; i <= 27; ++i) {
        const Variant &v = vars[i - 1];
        if (!kListingRefs.contains(i))
            EXPECT_EQ(v, before[i - 1]) << "by-value argument " << i << " changed";
        else if (i == 19)
            EXPECT_EQ(v, makeFloat(110.0));
        else
            EXPECT_EQ(v, makeText(before[i - 1].toString() + QStringLiteral("*"))) << i;
    }

    // A failing call writes nothing back.
    Variant status = makeText(QStringLiteral("P"));
    const Variant failed = net.call(QStringLiteral("Boom"), {&status});
    EXPECT_TRUE(net.lastCallFailed());
    EXPECT_EQ(failed, makeText(QStringLiteral("Falha ao gravar a guia 123.")));
    EXPECT_EQ(status, makeText(QStringLiteral("P")));
}

TEST(NetConnection, ResultFormsAndErrorsAreToldApart)
{
    auto server = startTestServer();
    TNetConnection net;
    configure(net, server->port());

    const Variant triple = net.call(QStringLiteral("Triple"));
    EXPECT_FALSE(net.lastCallFailed());
    ASSERT_EQ(kindOf(triple), VariantKind::Array);
    EXPECT_EQ(triple.toList().size(), 3);

    // A text the method answers is a result, not a failure of the call.
    EXPECT_EQ(net.call(QStringLiteral("Message")), makeText(QStringLiteral("Guia já emitida.")));
    EXPECT_FALSE(net.lastCallFailed());
    EXPECT_TRUE(net.lastError().isEmpty());

    Variant one = makeFloat(1);
    const struct
    {
        const char *method;
        QList<Variant *> args;
        const char *needle;
    } failures[] = {
        {"Nope", {}, "Método desconhecido: Fis02900.rdmEmisGuiaPrv.Nope."},
        {"Echo", {}, "espera 1 argumento(s), mas recebeu 0"},
        {"Kinds", {&one, &one, &one, &one}, "Argumento 1 do método Kinds"},
        {"Echo", {nullptr}, "argumento 1 não foi informado"},
    };
    for (const auto &f : failures) {
        const Variant r = net.call(QString::fromUtf8(f.method), f.args);
        EXPECT_TRUE(net.lastCallFailed()) << f.method;
        EXPECT_EQ(kindOf(r), VariantKind::Text);
        EXPECT_TRUE(r.toString().contains(QString::fromUtf8(f.needle)))
            << r.toString().toStdString();
        EXPECT_EQ(net.lastError(), r.toString());
    }
    Variant odd = QVariant::fromValue(QSize(1, 2));
    EXPECT_TRUE(
        net.call(QStringLiteral("Echo"), {&odd}).toString().contains(QStringLiteral("QSize")));

    // And the connection still works.
    Variant hello = makeText(QStringLiteral("oi"));
    EXPECT_EQ(net.call(QStringLiteral("Echo"), {&hello}), hello);
    EXPECT_FALSE(net.lastCallFailed());
}

TEST(NetConnection, ThrowExceptionDecidesBetweenTextAndException)
{
    auto server = startTestServer();
    TNetConnection net;
    configure(net, server->port());
    EXPECT_FALSE(net.throwException());

    Variant in = makeText(QStringLiteral("x"));
    EXPECT_EQ(net.call(QStringLiteral("Boom"), {&in}).toString(),
              QStringLiteral("Falha ao gravar a guia 123."));

    net.setThrowException(true);
    try {
        net.call(QStringLiteral("Boom"), {&in});
        FAIL() << "no exception";
    } catch (const ERemoteError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Falha ao gravar a guia 123."));
        EXPECT_FALSE(e.isTransport());
    }
    // A text result is still a result.
    EXPECT_NO_THROW(net.call(QStringLiteral("Message")));

    net.setPort(deadPort());
    try {
        net.call(QStringLiteral("Message"));
        FAIL() << "no exception";
    } catch (const ERemoteError &e) {
        EXPECT_TRUE(e.isTransport());
        EXPECT_TRUE(e.message().contains(QStringLiteral("conexão recusada")));
    }
}

TEST(NetConnection, TransportFailuresComeBackAsText)
{
    TNetConnection net;
    const int dead = deadPort();
    configure(net, dead);
    EXPECT_EQ(net.call(QStringLiteral("GetParamFiscal")).toString(),
              QStringLiteral("Falha de comunicação com o servidor de aplicação 127.0.0.1:%1: "
                             "conexão recusada.")
                  .arg(dead));
    EXPECT_TRUE(net.lastCallFailed());

    net.setHost(QStringLiteral("nao-existe.invalid"));
    EXPECT_TRUE(net.call(QStringLiteral("GetParamFiscal"))
                    .toString()
                    .contains(QStringLiteral("endereço do servidor não encontrado")));

    TNetConnection unset;
    EXPECT_TRUE(unset.call(QStringLiteral("GetParamFiscal"))
                    .toString()
                    .contains(QStringLiteral("não configurados")));

    auto server = startTestServer();
    configure(net, server->port());
    net.setTimeout(300);
    Variant ms = makeFloat(1500);
    EXPECT_TRUE(net.call(QStringLiteral("Slow"), {&ms})
                    .toString()
                    .contains(QStringLiteral("tempo de resposta esgotado")));
    EXPECT_TRUE(net.lastCallFailed());
}

TEST(NetConnection, AnswersThatAreNotOursBecomeErrorsAndChangeNothing)
{
    const struct
    {
        const char *name;
        httplib::Server::Handler handler;
        const char *needle;
    } servers[] = {
        {"junk",
         [](const httplib::Request &, httplib::Response &res) {
             res.set_content("<html>hello</html>", "text/html");
         },
         "resposta inválida"},
        {"empty packet",
         [](const httplib::Request &, httplib::Response &res) {
             res.set_content("", kRpcContentType);
         },
         "resposta vazia"},
        {"http error",
         [](const httplib::Request &, httplib::Response &res) {
             res.status = 502;
             res.set_content("Bad Gateway", "text/plain");
         },
         "resposta HTTP 502"},
        {"truncated",
         [](const httplib::Request &, httplib::Response &res) {
             RpcResponse ok;
             ok.result = makePacket(DataPacket{QByteArray(64, 'x')});
             const std::string whole = encodeResponse(ok).toStdString();
             res.set_content_provider(whole.size(), kRpcContentType,
                                      [whole](size_t, size_t, httplib::DataSink &sink) {
                                          sink.write(whole.data(), whole.size() / 2);
                                          return false; // connection dropped half way
                                      });
         },
         "encerrada sem resposta completa"},
        {"output beyond the arguments",
         [](const httplib::Request &, httplib::Response &res) {
             RpcResponse ok;
             ok.out = {{0, makeText(QStringLiteral("new"))}, {5, makeText(QStringLiteral("?"))}};
             res.set_content(encodeResponse(ok).toStdString(), kRpcContentType);
         },
         "posição 6 de uma chamada com 1 argumentos"},
    };
    for (const auto &s : servers) {
        FakeServer fake(s.handler);
        TNetConnection net;
        configure(net, fake.port());
        Variant mine = makeText(QStringLiteral("mine"));
        const Variant r = net.call(QStringLiteral("GetParamFiscal"), {&mine});
        EXPECT_TRUE(net.lastCallFailed()) << s.name;
        EXPECT_TRUE(r.toString().startsWith(
            QStringLiteral("Falha de comunicação com o servidor de aplicação 127.0.0.1:")))
            << s.name << ": " << r.toString().toStdString();
        EXPECT_TRUE(r.toString().contains(QString::fromUtf8(s.needle)))
            << s.name << ": " << r.toString().toStdString();
        EXPECT_EQ(mine, makeText(QStringLiteral("mine"))) << s.name;
    }
}

TEST(NetConnection, BeforeConnectRunsOnFirstCallAndAfterEachDisconnect)
{
    auto server = startTestServer();
    TNetConnection net;
    net.setServerName(kObject);
    int runs = 0;
    net.setBeforeConnect([&](TNetConnection *sender) {
        ++runs;
        sender->setHost(QStringLiteral("127.0.0.1"));
        sender->setPort(server->port());
    });
    EXPECT_FALSE(net.connected());
    net.call(QStringLiteral("Triple"));
    net.call(QStringLiteral("Triple"));
    EXPECT_FALSE(net.lastCallFailed()) << net.lastError().toStdString();
    EXPECT_TRUE(net.connected());
    EXPECT_EQ(runs, 1);

    net.disconnect();
    EXPECT_FALSE(net.connected());
    net.setConnected(true);
    EXPECT_EQ(runs, 2);
    net.call(QStringLiteral("Triple"));
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(net.lastCallFailed());
}

TEST(NetConnection, SurvivesTheServerClosingAnIdleConnection)
{
    RpcServerOptions options;
    options.keepAliveSeconds = 1;
    options.token = "t0k";
    auto server = startTestServer(options);
    TNetConnection net;
    configure(net, server->port());
    net.setAuthToken(QStringLiteral("t0k"));
    net.call(QStringLiteral("Triple"));
    ASSERT_FALSE(net.lastCallFailed()) << net.lastError().toStdString();

    std::this_thread::sleep_for(std::chrono::milliseconds(1600)); // the server drops the socket
    net.call(QStringLiteral("Triple"));
    EXPECT_FALSE(net.lastCallFailed()) << net.lastError().toStdString();

    net.setAuthToken(QString());
    EXPECT_TRUE(
        net.call(QStringLiteral("Triple")).toString().contains(QStringLiteral("Acesso negado")));
}
