// TNetConnection reading a packet result as it arrives: the answer sent in pieces while it is
// read, and the whole form, against a bare server that cuts the body where it likes.
#include "data/packet.h"
#include "net/netconnection.h"
#include "net/rpcwire.h"
#include "nettest.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>

using namespace fis;

namespace {

// A server answering every call with `body`, sent in HTTP chunks of the given sizes in turn;
// when `cutAt` >= 0 the connection drops after that many bytes.
class ChunkServer : public test::FakeServer
{
public:
    ChunkServer(QByteArray body, std::vector<size_t> sizes, qsizetype cutAt = -1)
        : FakeServer([=](const httplib::Request &, httplib::Response &res) {
              res.set_chunked_content_provider(
                  kRpcContentType, [=](size_t offset, httplib::DataSink &sink) {
                      const size_t end = cutAt >= 0 ? size_t(cutAt) : size_t(body.size());
                      for (size_t at = offset, i = 0; at < end; ++i) {
                          const size_t n = std::min(sizes[i % sizes.size()], end - at);
                          sink.write(body.constData() + at, n);
                          at += n;
                      }
                      if (cutAt >= 0)
                          return false;
                      sink.done();
                      return true;
                  });
          })
    {}
};

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

// The answer sent while it is read: the packet in CBOR pieces of `piece` bytes, then `rest`
// (the pairs after the packet, up to the end of the map).
QByteArray streamedAnswer(const QByteArray &packet, qsizetype piece, const QByteArray &rest)
{
    QByteArray out = hex("bf66726573756c74d99c425f");
    for (qsizetype at = 0; at < packet.size(); at += piece) {
        const QByteArray p = packet.mid(at, piece);
        out += char(0x59);
        out += char(p.size() >> 8);
        out += char(p.size() & 0xff);
        out += p;
    }
    return out + char(0xff) + rest;
}

const QByteArray kOkWithOut = hex("626f6bf5636f7574a1006362c3a9ff"); // ok, out {0: "bé"}
const QByteArray kFailed = hex("626f6bf4656572726f7267") + "Falhou!" + char(0xff);

struct Outcome
{
    Variant result;
    Variant arg = makeText(QStringLiteral("mine"));
    QString error;
    bool transport = false;
};

Outcome callAgainst(const ChunkServer &server)
{
    TNetConnection net;
    net.setHost(QStringLiteral("127.0.0.1"));
    net.setPort(server.port());
    net.setServerName(QStringLiteral("Fis02900.rdmEmisGuiaPrv"));
    net.setThrowException(true);
    Outcome o;
    try {
        o.result = net.call(QStringLiteral("GetEmisGuiaPrev"), {&o.arg});
    } catch (const ERemoteError &e) {
        o.error = e.message();
        o.transport = e.isTransport();
    }
    return o;
}

} // namespace

TEST(NetAnswer, APacketResultIsDecodedAsItArrivesAndRefusedWhenTheAnswerIsNot)
{
    // A listing of a few thousand rows, as the server hands it out.
    const QList<PacketField> fields{{"GUIA", FieldType::String, 12},
                                    {"VALOR", FieldType::Float, 0},
                                    {"VENC", FieldType::DateTime, 0}};
    QByteArray packet;
    PacketWriter writer(
        fields, [&](QByteArrayView p) { packet += p.toByteArray(); }, 1000);
    for (int i = 0; i < 3000; ++i)
        writer.addRow({QStringLiteral("G%1").arg(i), i * 0.5,
                       i % 7 ? makeDate(TDateTime(46000 + i)) : Variant()});
    writer.finish();

    const auto expectListing = [&](const Outcome &o, const char *what) {
        ASSERT_TRUE(o.error.isEmpty()) << what << ": " << o.error.toStdString();
        const DataPacket got = o.result.value<DataPacket>();
        EXPECT_TRUE(got.decoded != nullptr) << what;
        EXPECT_TRUE(got.bytes.isEmpty()) << what;
        const PacketReader read(got), want(packet);
        EXPECT_EQ(read.fields(), want.fields()) << what;
        EXPECT_EQ(read.rows(), want.rows()) << what;
        EXPECT_EQ(o.arg, makeText(QString::fromUtf8("bé"))) << what;
    };
    // In odd HTTP chunks that never line up with the CBOR pieces, or in one.
    for (const std::vector<size_t> &sizes :
         {std::vector<size_t>{1, 7, 4093}, std::vector<size_t>{13}, std::vector<size_t>{1 << 20}}) {
        ChunkServer server(streamedAnswer(packet, 777, kOkWithOut), sizes);
        expectListing(callAgainst(server), "streamed");
    }
    {
        // Today's whole form of a packet answer.
        RpcResponse whole;
        whole.result =
            makePacket(DataPacket(buildPacket(fields, PacketReader(packet).rows()).bytes));
        whole.out = {{0, makeText(QString::fromUtf8("bé"))}};
        ChunkServer server(encodeResponse(whole), {5, 301});
        expectListing(callAgainst(server), "whole");
    }

    // Failures: nothing is written back, the server's words when it said why.
    const auto expectRefused = [](const Outcome &o, const char *what, const char *words,
                                  bool transport) {
        EXPECT_TRUE(o.error.contains(QString::fromUtf8(words)))
            << what << ": " << o.error.toStdString();
        EXPECT_EQ(o.transport, transport) << what;
        EXPECT_EQ(o.arg, makeText(QStringLiteral("mine"))) << what;
    };
    {
        // The rows failed after some pieces were out.
        ChunkServer server(streamedAnswer(packet.left(2500), 700, kFailed), {3, 1000});
        expectRefused(callAgainst(server), "failed part way", "Falhou!", false);
    }
    {
        const QByteArray body = streamedAnswer(packet, 777, kOkWithOut);
        for (qsizetype cut : {qsizetype(5), body.size() / 2, body.size() - 1}) {
            ChunkServer server(body, {1000}, cut);
            expectRefused(callAgainst(server), "cut short", "sem resposta completa", true);
        }
        // A body that ends before its map does (a valid HTTP end).
        ChunkServer server(body.left(body.size() - 1), {1000});
        expectRefused(callAgainst(server), "map not ended", "resposta inválida", true);
    }
    {
        // A packet that does not decode, a piece that is not a byte string, "ok" missing.
        QByteArray corrupt = packet;
        corrupt[packet.size() / 2] = char(0xff);
        ChunkServer bad(streamedAnswer(corrupt, 777, kOkWithOut), {999});
        expectRefused(callAgainst(bad), "corrupt packet", "Pacote de dados inválido", true);
        QByteArray body = streamedAnswer(packet, 777, kOkWithOut);
        body[12] = char(0x79); // a text piece
        ChunkServer text(body, {999});
        expectRefused(callAgainst(text), "text piece", "pacote de dados corrompido", true);
        ChunkServer noOk(streamedAnswer(packet, 777, hex("ff")), {999});
        expectRefused(callAgainst(noOk), "no ok", "sem indicador", true);
    }
}
