#include "net/rpcwire.h"

#include <QCborStreamWriter>

#include <gtest/gtest.h>

using namespace fis;

namespace {

RpcRequest sampleRequest()
{
    RpcRequest r;
    r.method = QStringLiteral("GetEmisGuiaPrev");
    r.args = {makeText(QStringLiteral("S")),
              makeFloat(1234.56),
              makeDate(TDateTime(46000.5)),
              makePacket(DataPacket{QByteArray("\x01\x02\x03", 3)}),
              makePacket(DataPacket()),
              Variant(),
              Variant(QVariantList{makeText(QStringLiteral("ç")), makeFloat(-1)})};
    return r;
}

QByteArray cbor(const std::function<void(QCborStreamWriter &)> &write)
{
    QByteArray bytes;
    QCborStreamWriter w(&bytes);
    write(w);
    return bytes;
}

} // namespace

TEST(RpcWire, RequestAndResponseSurviveTheRoundTrip)
{
    const RpcRequest in = sampleRequest();
    RpcRequest out;
    QString error;
    ASSERT_TRUE(decodeRequest(encodeRequest(in), &out, &error)) << error.toStdString();
    EXPECT_EQ(out.method, in.method);
    ASSERT_EQ(out.args.size(), in.args.size());
    for (qsizetype i = 0; i < in.args.size(); ++i)
        EXPECT_EQ(out.args[i], in.args[i]) << "argument " << i;
    EXPECT_EQ(kindOf(out.args[4]), VariantKind::Packet); // the null packet stays a packet

    RpcResponse ok;
    ok.result = Variant(QVariantList{makePacket(DataPacket{"a"}), makeText(QStringLiteral("x"))});
    ok.out = {{0, makeText(QStringLiteral("_0001_"))}, {18, makeFloat(10.5)}};
    RpcResponse back;
    ASSERT_TRUE(decodeResponse(encodeResponse(ok), &back, &error)) << error.toStdString();
    EXPECT_TRUE(back.ok);
    EXPECT_EQ(back.result, ok.result);
    EXPECT_EQ(back.out, ok.out);

    // A text result and a failure are two different answers.
    RpcResponse text;
    text.result = makeText(QStringLiteral("Nenhuma guia emitida."));
    ASSERT_TRUE(decodeResponse(encodeResponse(text), &back, &error));
    EXPECT_TRUE(back.ok);
    ASSERT_TRUE(decodeResponse(encodeResponse(RpcResponse::failure(QStringLiteral("erro"))), &back,
                               &error));
    EXPECT_FALSE(back.ok);
    EXPECT_EQ(back.error, QStringLiteral("erro"));
}

// A packet answer is written around the packet's bytes and read back without copying them; its
// bytes are those of the item-by-item encoding, and a damaged one is refused all the same.
TEST(RpcWire, PacketAnswerKeepsItsBytesBothWays)
{
    for (const qsizetype size : {qsizetype(1), qsizetype(23), qsizetype(300), qsizetype(70000)}) {
        RpcResponse ok;
        ok.result = makePacket(DataPacket{QByteArray(size, '\x7f')});
        ok.out = {{9, makeText(QStringLiteral("T"))}, {2, makePacket(DataPacket{"p"})}};
        const QByteArray expected = cbor([&](QCborStreamWriter &w) {
            w.startMap(3);
            w.append(QLatin1String("ok"));
            w.append(true);
            w.append(QLatin1String("result"));
            writeVariant(w, ok.result);
            w.append(QLatin1String("out"));
            w.startMap(2);
            w.append(quint64(2));
            writeVariant(w, ok.out[2]);
            w.append(quint64(9));
            writeVariant(w, ok.out[9]);
            w.endMap();
            w.endMap();
        });
        QByteArray bytes = encodeResponse(ok);
        ASSERT_EQ(bytes, expected) << "size " << size;

        const char *const buffer = bytes.constData();
        RpcResponse back;
        QString error;
        ASSERT_TRUE(decodeResponse(std::move(bytes), &back, &error)) << error.toStdString();
        EXPECT_EQ(back.result, ok.result);
        EXPECT_EQ(back.out, ok.out);
        const char *const packet = back.result.value<DataPacket>().bytes.constData();
        EXPECT_TRUE(packet > buffer && packet < buffer + expected.size()) << "size " << size;

        for (const qsizetype cut : {expected.size() - size / 2 - 8, expected.size() - 1}) {
            RpcResponse untouched;
            EXPECT_FALSE(decodeResponse(expected.left(cut), &untouched, &error)) << cut;
            EXPECT_FALSE(decodeResponse(QByteArray(expected.left(cut)), &untouched, &error));
            EXPECT_FALSE(untouched.result.isValid());
        }
    }
}

TEST(RpcWire, EveryTruncationOfARequestIsRefusedWithAReason)
{
    const QByteArray whole = encodeRequest(sampleRequest());
    for (qsizetype n = 0; n < whole.size(); ++n) {
        RpcRequest out;
        out.method = QStringLiteral("untouched");
        QString error;
        EXPECT_FALSE(decodeRequest(whole.left(n), &out, &error)) << "prefix " << n;
        EXPECT_FALSE(error.isEmpty()) << "prefix " << n;
        EXPECT_EQ(out.method, QStringLiteral("untouched"));
    }
}

TEST(RpcWire, MalformedRequestsAreRefused)
{
    const QByteArray valid = encodeRequest(sampleRequest());
    const struct
    {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"junk", QByteArray("GET / HTTP/1.1\r\n\r\n")},
        {"not a map", cbor([](auto &w) { w.append(QStringLiteral("GetParamFiscal")); })},
        {"no method", cbor([](auto &w) {
             w.startMap(1);
             w.append(QStringLiteral("args"));
             w.startArray(0);
             w.endArray();
             w.endMap();
         })},
        {"empty method", encodeRequest(RpcRequest{})},
        {"method not text", cbor([](auto &w) {
             w.startMap(2);
             w.append(QStringLiteral("method"));
             w.append(42);
             w.append(QStringLiteral("args"));
             w.startArray(0);
             w.endArray();
             w.endMap();
         })},
        {"args not a list", cbor([](auto &w) {
             w.startMap(2);
             w.append(QStringLiteral("method"));
             w.append(QStringLiteral("X"));
             w.append(QStringLiteral("args"));
             w.append(QStringLiteral("a"));
             w.endMap();
         })},
        {"repeated key", cbor([](auto &w) {
             w.startMap(3);
             w.append(QStringLiteral("method"));
             w.append(QStringLiteral("X"));
             w.append(QStringLiteral("method"));
             w.append(QStringLiteral("Y"));
             w.append(QStringLiteral("args"));
             w.startArray(0);
             w.endArray();
             w.endMap();
         })},
        {"argument of unknown kind", cbor([](auto &w) {
             w.startMap(2);
             w.append(QStringLiteral("method"));
             w.append(QStringLiteral("X"));
             w.append(QStringLiteral("args"));
             w.startArray(1);
             w.append(true);
             w.endArray();
             w.endMap();
         })},
        {"operator not text", cbor([](auto &w) {
             w.startMap(3);
             w.append(QStringLiteral("method"));
             w.append(QStringLiteral("X"));
             w.append(QStringLiteral("operator"));
             w.append(7);
             w.append(QStringLiteral("args"));
             w.startArray(0);
             w.endArray();
             w.endMap();
         })},
        {"unknown key nested too deep", cbor([](auto &w) {
             w.startMap(3);
             w.append(QStringLiteral("trace"));
             for (int i = 0; i < 40; ++i)
                 w.startArray(1);
             w.append(0);
             for (int i = 0; i < 40; ++i)
                 w.endArray();
             w.append(QStringLiteral("method"));
             w.append(QStringLiteral("X"));
             w.append(QStringLiteral("args"));
             w.startArray(0);
             w.endArray();
             w.endMap();
         })},
        {"huge announced argument list",
         QByteArray::fromHex("a2666d6574686f64615864617267739b0000010000000000")},
        {"trailing bytes", valid + QByteArray(1, '\0')},
    };
    for (const auto &c : cases) {
        RpcRequest out;
        QString error;
        EXPECT_FALSE(decodeRequest(c.bytes, &out, &error)) << c.name;
        EXPECT_FALSE(error.isEmpty()) << c.name;
    }

    // Unknown keys are skipped, even when they hold containers.
    const QByteArray extended = cbor([](auto &w) {
        w.startMap(3);
        w.append(QStringLiteral("trace"));
        w.startMap(1);
        w.append(1);
        w.startArray(1);
        w.append(2);
        w.endArray();
        w.endMap();
        w.append(QStringLiteral("method"));
        w.append(QStringLiteral("X"));
        w.append(QStringLiteral("args"));
        w.startArray(0);
        w.endArray();
        w.endMap();
    });
    RpcRequest out;
    QString error;
    EXPECT_TRUE(decodeRequest(extended, &out, &error)) << error.toStdString();

    // The operator travels beside the method and its arguments, and only when there is one.
    RpcRequest withOperator = sampleRequest();
    withOperator.operatorName = QStringLiteral("MARIA SOUZA");
    ASSERT_TRUE(decodeRequest(encodeRequest(withOperator), &out, &error)) << error.toStdString();
    EXPECT_EQ(out.operatorName, QStringLiteral("MARIA SOUZA"));
    EXPECT_EQ(out.args, withOperator.args);
    EXPECT_FALSE(encodeRequest(sampleRequest()).contains("operator"));
}

TEST(RpcWire, MalformedResponsesAreRefused)
{
    const struct
    {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"html", QByteArray("<html>502 Bad Gateway</html>")},
        {"no ok flag", cbor([](auto &w) {
             w.startMap(1);
             w.append(QStringLiteral("result"));
             w.append(QStringLiteral("x"));
             w.endMap();
         })},
        {"failure without text", cbor([](auto &w) {
             w.startMap(1);
             w.append(QStringLiteral("ok"));
             w.append(false);
             w.endMap();
         })},
        {"success with error text", cbor([](auto &w) {
             w.startMap(2);
             w.append(QStringLiteral("ok"));
             w.append(true);
             w.append(QStringLiteral("error"));
             w.append(QStringLiteral("x"));
             w.endMap();
         })},
        {"output position not a number", cbor([](auto &w) {
             w.startMap(2);
             w.append(QStringLiteral("ok"));
             w.append(true);
             w.append(QStringLiteral("out"));
             w.startMap(1);
             w.append(QStringLiteral("1"));
             w.append(QStringLiteral("x"));
             w.endMap();
             w.endMap();
         })},
        {"output position repeated", cbor([](auto &w) {
             w.startMap(2);
             w.append(QStringLiteral("ok"));
             w.append(true);
             w.append(QStringLiteral("out"));
             w.startMap(2);
             w.append(1);
             w.append(QStringLiteral("x"));
             w.append(1);
             w.append(QStringLiteral("y"));
             w.endMap();
             w.endMap();
         })},
    };
    for (const auto &c : cases) {
        RpcResponse out;
        QString error;
        EXPECT_FALSE(decodeResponse(c.bytes, &out, &error)) << c.name;
        EXPECT_FALSE(error.isEmpty()) << c.name;
    }
    RpcResponse full;
    full.result = makePacket(DataPacket{"abc"});
    full.out = {{3, makeText(QStringLiteral("T"))}};
    const QByteArray whole = encodeResponse(full);
    for (qsizetype n = 0; n < whole.size(); ++n) {
        RpcResponse out;
        QString error;
        EXPECT_FALSE(decodeResponse(whole.left(n), &out, &error)) << "prefix " << n;
    }
}

TEST(RpcWire, IntegersBeyondSixtyFourBitsKeepTheirSignAndSize)
{
    // args: [uint64 max, -1 - 2^63] (integers are accepted as numbers from other encoders)
    const QByteArray bytes = QByteArray::fromHex(
        "a2666d6574686f646158646172677382 1bffffffffffffffff 3b8000000000000000");
    RpcRequest out;
    QString error;
    ASSERT_TRUE(decodeRequest(bytes, &out, &error)) << error.toStdString();
    ASSERT_EQ(out.args.size(), 2);
    EXPECT_DOUBLE_EQ(out.args[0].toDouble(), 18446744073709551615.0);
    EXPECT_DOUBLE_EQ(out.args[1].toDouble(), -9223372036854775809.0);
}
