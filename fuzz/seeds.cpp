// Writes the seed corpus of the fuzz targets: a few well-formed requests, answers and packets.
#include "data/packet.h"
#include "net/rpcwire.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace fis;

namespace {

bool save(const QString &dir, int n, const QByteArray &bytes)
{
    QFile f(QStringLiteral("%1/seed%2").arg(dir).arg(n));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fis_fuzz_seeds <corpus dir>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString requests = root + QStringLiteral("/request");
    const QString responses = root + QStringLiteral("/response");
    const QString packets = root + QStringLiteral("/packet");
    if (!QDir().mkpath(requests) || !QDir().mkpath(responses) || !QDir().mkpath(packets))
        return 1;

    const QList<PacketField> fields = {{QStringLiteral("A"), FieldType::String, 4},
                                       {QStringLiteral("B"), FieldType::FixedString, 1},
                                       {QStringLiteral("C"), FieldType::Float, 0},
                                       {QStringLiteral("D"), FieldType::DateTime, 0}};
    const DataPacket rows = buildPacket(
        fields,
        {{QStringLiteral("0001"), QStringLiteral("S"), 1234.56, makeDate(TDateTime(46000.5))},
         {Variant(), Variant(), Variant(), Variant()},
         {QStringLiteral("çã"), QStringLiteral("U"), -0.25, makeDate(TDateTime(2))}});
    const QList<Variant> values = {
        makeText(QStringLiteral("S")),
        makeText(QStringLiteral("_0001_0002_")),
        makeFloat(1234.56),
        makeDate(TDateTime(46000.25)),
        makePacket(DataPacket{QByteArray("\xa1\x61x\x80", 4)}),
        makePacket(DataPacket()),
        Variant(),
        Variant(QVariantList{makeText(QStringLiteral("ç")), makeFloat(-1),
                             Variant(QVariantList{Variant()})}),
    };
    bool ok = true;
    int n = 0;
    ok &= save(requests, n++, encodeRequest({QStringLiteral("GetParamFiscal"), {}, {}}));
    ok &= save(requests, n++, encodeRequest({QStringLiteral("GetEmisGuiaPrev"), values, {}}));
    ok &=
        save(requests, n++,
             encodeRequest(
                 {QStringLiteral("GetVdContaPagar"), {makePacket(rows)}, QStringLiteral("MARIA")}));
    for (const Variant &v : values)
        ok &= save(requests, n++, encodeRequest({QStringLiteral("SetDtVenc"), {v, v}, {}}));

    n = 0;
    ok &= save(responses, n++, encodeResponse(RpcResponse::failure(QStringLiteral("erro"))));
    for (const Variant &v : values) {
        RpcResponse r;
        r.result = v;
        r.out = {{0, v}, {25, makeText(QStringLiteral("0001"))}};
        ok &= save(responses, n++, encodeResponse(r));
    }

    // Packets: every field type with nulls, an empty one, and other valid encodings (rows of
    // indefinite length, a chunked text, an extra field attribute, an integer for a float, a bare
    // number for a date).
    n = 0;
    ok &= save(packets, n++, rows.bytes);
    ok &= save(packets, n++, buildPacket(fields, {}).bytes);
    ok &= save(packets, n++,
               QByteArray::fromHex("846a6669732d7061636b65740183836141667374726"
                                   "96e670084614265666c6f617400f5836143686461746574696d65009f"
                                   "837f6361c3a764c3a7c3a36161ff182a19b3b0ff"));
    // As a listing is sent in pieces (rows of indefinite length), with two bytes for where the
    // decoder of pieces is to split it.
    QByteArray pieces;
    PacketWriter writer(
        fields, [&](QByteArrayView p) { pieces += p.toByteArray(); }, 16);
    const PacketReader reader(rows);
    for (const QVariantList &row : reader.rows())
        writer.addRow(row);
    writer.finish();
    ok &= save(packets, n++, pieces + QByteArray::fromHex("0031"));
    ok &= save(packets, n++, rows.bytes + QByteArray::fromHex("0105"));
    return ok ? 0 : 1;
}
