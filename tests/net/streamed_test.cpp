// A packet answer sent while its rows are read: what plain HTTP clients and TNetConnection get
// of it, rows that fail part way, clients that stop reading, pipelined requests around it and
// an HTTP/1.0 request for it.
#include "data/packet.h"
#include "net/netconnection.h"
#include "net/rpcwire.h"
#include "nettest.h"
#include "rawclient.h"

#include <mutex>
#include <vector>

using namespace fis;
using namespace fis::test;

namespace {

// `count` rows of every kind of value, about 130 bytes each; row `failAt` throws instead.
DataPacket rowsPacket(int count, int failAt)
{
    const QList<PacketField> fields = {{QStringLiteral("NAME"), FieldType::String, 40},
                                       {QStringLiteral("VALUE"), FieldType::Float, 0},
                                       {QStringLiteral("DAY"), FieldType::DateTime, 0},
                                       {QStringLiteral("NOTE"), FieldType::String, 200}};
    DataPacket packet;
    packet.source = std::make_shared<const PacketSource>(fields, [=](PacketWriter &w) {
        for (int i = 0; i < count; ++i) {
            if (i == failAt)
                throw std::runtime_error(
                    QStringLiteral("Falha ao ler a linha %1.").arg(i).toStdString());
            w.beginRow();
            w.addText(QStringLiteral("Razão %1").arg(i));
            w.addNumber(i * 1.25);
            if (i % 3 == 0)
                w.addNull();
            else
                w.addDate(TDateTime(45000 + i % 400));
            w.addText(i % 5 == 0 ? QString() : QString(100, u'x') + QString::number(i));
            w.endRow();
        }
    });
    return packet;
}

std::unique_ptr<RpcServer> startServer(RpcServerOptions options = {})
{
    auto server = std::make_unique<RpcServer>(std::move(options));
    addTestMethods(*server);
    server->addMethod(
        kObject, QStringLiteral("Rows"),
        {RpcParam::in(ArgKind::Float), RpcParam::in(ArgKind::Float), RpcParam::ref(ArgKind::Text)},
        [](QList<Variant> &args, const RpcContext &) {
            args[2] = makeText(QStringLiteral("lido"));
            return makePacket(rowsPacket(int(args[0].toDouble()), int(args[1].toDouble())));
        });
    EXPECT_TRUE(server->start()) << server->errorString().toStdString();
    return server;
}

QByteArray rowsRequest(int count, int failAt = -1)
{
    return encodeRequest(RpcRequest{
        QStringLiteral("Rows"), {makeFloat(count), makeFloat(failAt), makeText(QString())}, {}});
}

QByteArray echoCall(const QString &text)
{
    return callWithBody(encodeRequest(RpcRequest{QStringLiteral("Echo"), {makeText(text)}, {}}));
}

RpcResponse decoded(const RawAnswer &a)
{
    RpcResponse r;
    QString why;
    EXPECT_TRUE(decodeResponse(a.body, &r, &why)) << why.toStdString();
    return r;
}

// A streamed packet is the whole one but for its rows' head: `9f` … `ff` instead of a count.
void expectSameButRowsHead(const QByteArray &streamed, const QByteArray &whole)
{
    qsizetype at = 0;
    while (at < whole.size() && at < streamed.size() && whole[at] == streamed[at])
        ++at;
    ASSERT_LT(at, streamed.size());
    EXPECT_EQ(quint8(streamed[at]), 0x9f);
    EXPECT_EQ(quint8(streamed.back()), 0xff);
    const quint8 head = quint8(whole[at]);
    ASSERT_TRUE(head >= 0x80 && head <= 0x9a) << int(head);
    const qsizetype headSize = head < 0x98 ? 1 : head == 0x98 ? 2 : head == 0x99 ? 3 : 5;
    EXPECT_TRUE(streamed.mid(at + 1).chopped(1) == whole.mid(at + headSize));
}

void configure(TNetConnection &net, int port)
{
    net.setHost(QStringLiteral("127.0.0.1"));
    net.setPort(port);
    net.setServerName(kObject);
}

struct CallLog
{
    std::mutex mutex;
    std::vector<RpcCallLog> entries;

    std::function<void(const RpcCallLog &)> hook()
    {
        return [this](const RpcCallLog &e) {
            std::lock_guard lock(mutex);
            entries.push_back(e);
        };
    }
    std::vector<RpcCallLog> of(const QString &method)
    {
        std::lock_guard lock(mutex);
        std::vector<RpcCallLog> out;
        for (const RpcCallLog &e : entries)
            if (e.method == method)
                out.push_back(e);
        return out;
    }
};

} // namespace

TEST(StreamedAnswer, PlainClientsAndTheConnectionGetTheWholePacket)
{
    CallLog log;
    RpcServerOptions options;
    options.onCall = log.hook();
    auto server = startServer(options);
    const QByteArray whole = rowsPacket(20000, -1).encoded();
    const PacketReader expected(whole);

    RawClient raw(server->port());
    ASSERT_TRUE(raw.send(callWithBody(rowsRequest(20000))));
    const RawAnswer a = raw.answer(20000);
    ASSERT_EQ(a.status, 200);
    EXPECT_TRUE(a.head.contains("Transfer-Encoding: chunked"));
    EXPECT_FALSE(a.head.toLower().contains("content-length"));
    EXPECT_GT(a.chunks, 3); // sent in pieces, not whole
    const RpcResponse r = decoded(a);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.out.value(2), makeText(QStringLiteral("lido")));
    const QByteArray streamed = r.result.value<DataPacket>().encoded();
    EXPECT_EQ(PacketReader(streamed).rows(), expected.rows());
    expectSameButRowsHead(streamed, whole);

    TNetConnection net;
    configure(net, server->port());
    Variant count = makeFloat(20000), failAt = makeFloat(-1), status = makeText(QString());
    const Variant result = net.call(QStringLiteral("Rows"), {&count, &failAt, &status});
    ASSERT_FALSE(net.lastCallFailed()) << net.lastError().toStdString();
    EXPECT_EQ(status, makeText(QStringLiteral("lido")));
    const PacketReader got(result.value<DataPacket>());
    EXPECT_EQ(got.fields(), expected.fields());
    EXPECT_EQ(got.rows(), expected.rows());

    // Without the network the answer is whole, the packet's bytes as written whole.
    const RpcAnswer direct = server->handle(kObject, rowsRequest(20000));
    RpcResponse d;
    QString why;
    ASSERT_TRUE(decodeResponse(direct.body, &d, &why)) << why.toStdString();
    EXPECT_TRUE(d.result.value<DataPacket>().encoded() == whole);

    // Each call logged once, once its answer has ended.
    const auto entries = log.of(QStringLiteral("Rows"));
    ASSERT_EQ(entries.size(), 3u);
    for (const RpcCallLog &e : entries)
        EXPECT_EQ(e.outcome, RpcOutcome::Ok) << e.error.toStdString();
}

TEST(StreamedAnswer, RowsFailingOrAClientNotReadingFailOnlyThatCall)
{
    CallLog log;
    RpcServerOptions options;
    options.onCall = log.hook();
    options.threads = 1; // a worker held by a stalled client would hold every call
    options.readTimeoutSeconds = 1;
    auto server = startServer(options);

    // Part way: the answer's end says the call failed; the connection goes on.
    RawClient raw(server->port());
    ASSERT_TRUE(raw.send(callWithBody(rowsRequest(20000, 15000))));
    const RawAnswer broken = raw.answer(20000);
    ASSERT_EQ(broken.status, 200);
    EXPECT_GT(broken.chunks, 1);
    const RpcResponse r = decoded(broken);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, QStringLiteral("Falha ao ler a linha 15000."));
    ASSERT_TRUE(raw.send(echoCall(QStringLiteral("depois"))));
    const RawAnswer next = raw.answer(5000);
    EXPECT_EQ(decoded(next).result, makeText(QStringLiteral("depois")));

    // Before its first piece: an ordinary failure answer.
    ASSERT_TRUE(raw.send(callWithBody(rowsRequest(100, 0))));
    const RawAnswer early = raw.answer(5000);
    EXPECT_TRUE(early.head.contains("Content-Length"));
    EXPECT_EQ(decoded(early).error, QStringLiteral("Falha ao ler a linha 0."));

    TNetConnection net;
    configure(net, server->port());
    Variant count = makeFloat(20000), failAt = makeFloat(12345), status = makeText(QString());
    const Variant failed = net.call(QStringLiteral("Rows"), {&count, &failAt, &status});
    EXPECT_TRUE(net.lastCallFailed());
    EXPECT_EQ(failed, makeText(QStringLiteral("Falha ao ler a linha 12345.")));
    EXPECT_EQ(status, makeText(QString()));
    Variant text = makeText(QStringLiteral("ainda"));
    EXPECT_EQ(net.call(QStringLiteral("Echo"), {&text}), text);

    // A client that asks for far more than the sockets hold and stops reading is dropped, and
    // the only worker serves the next client.
    RawClient stalled(server->port());
    ASSERT_TRUE(stalled.send(callWithBody(rowsRequest(400000))));
    RawClient other(server->port());
    ASSERT_TRUE(other.send(echoCall(QStringLiteral("outro"))));
    EXPECT_EQ(decoded(other.answer(15000)).result, makeText(QStringLiteral("outro")));

    const auto entries = log.of(QStringLiteral("Rows"));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].error, QStringLiteral("Falha ao ler a linha 15000."));
    EXPECT_EQ(entries[1].error, QStringLiteral("Falha ao ler a linha 0."));
    EXPECT_EQ(entries[2].error, QStringLiteral("Falha ao ler a linha 12345."));
    EXPECT_EQ(entries[3].error, QStringLiteral("A conexão com o cliente caiu durante a resposta."));
    for (const RpcCallLog &e : entries)
        EXPECT_EQ(e.outcome, RpcOutcome::Failed);
}

TEST(StreamedAnswer, PipelinedBetweenSmallAnswersAndToHttp10)
{
    auto server = startServer();
    RawClient pipelined(server->port());
    ASSERT_TRUE(pipelined.send(echoCall(QStringLiteral("antes")) +
                               callWithBody(rowsRequest(20000)) +
                               echoCall(QStringLiteral("depois"))));
    EXPECT_EQ(decoded(pipelined.answer(5000)).result, makeText(QStringLiteral("antes")));
    const RawAnswer rows = pipelined.answer(20000);
    EXPECT_GT(rows.chunks, 1);
    EXPECT_EQ(PacketReader(decoded(rows).result.value<DataPacket>()).rowCount(), 20000);
    EXPECT_EQ(decoded(pipelined.answer(5000)).result, makeText(QStringLiteral("depois")));

    // HTTP/1.0 knows no chunks: the body ends where the connection does.
    RawClient old(server->port());
    const QByteArray body = rowsRequest(20000);
    ASSERT_TRUE(old.send("POST /call/Fis02900.rdmEmisGuiaPrv HTTP/1.0\r\n"
                         "Content-Type: application/cbor\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\n\r\n" + body));
    const QByteArray all = old.untilClosed(20000);
    const qsizetype headEnd = all.indexOf("\r\n\r\n");
    ASSERT_GT(headEnd, 0);
    const QByteArray head = all.left(headEnd).toLower();
    EXPECT_FALSE(head.contains("chunked") || head.contains("content-length")) << head.constData();
    RawAnswer whole;
    whole.body = all.mid(headEnd + 4);
    EXPECT_EQ(PacketReader(decoded(whole).result.value<DataPacket>()).rowCount(), 20000);
}
