// Writes the seed corpus of the fuzz targets: a few well-formed requests and answers.
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
    if (!QDir().mkpath(requests) || !QDir().mkpath(responses))
        return 1;

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
    ok &= save(requests, n++, encodeRequest({QStringLiteral("GetParamFiscal"), {}}));
    ok &= save(requests, n++, encodeRequest({QStringLiteral("GetEmisGuiaPrev"), values}));
    for (const Variant &v : values)
        ok &= save(requests, n++, encodeRequest({QStringLiteral("SetDtVenc"), {v, v}}));

    n = 0;
    ok &= save(responses, n++, encodeResponse(RpcResponse::failure(QStringLiteral("erro"))));
    for (const Variant &v : values) {
        RpcResponse r;
        r.result = v;
        r.out = {{0, v}, {25, makeText(QStringLiteral("0001"))}};
        ok &= save(responses, n++, encodeResponse(r));
    }
    return ok ? 0 : 1;
}
