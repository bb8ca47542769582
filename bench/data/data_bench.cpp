// Figures for record sets and packets: a 100,000 rows x 20 fields packet is encoded, walked bare
// with QCborStreamReader, loaded into a record set, and the resident memory of the loaded set is
// compared with the packet's size. Run by hand: build-*/bin/fis_data_bench [rows]
#include "data/dataset.h"
#include "data/packet.h"

#include <QCborStreamReader>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace fis;

namespace {

constexpr int kStrings = 10, kFloats = 6, kDates = 4;

QList<PacketField> benchFields()
{
    QList<PacketField> f;
    static const int sizes[kStrings] = {4, 4, 10, 20, 21, 50, 77, 5, 1, 20};
    for (int i = 0; i < kStrings; ++i)
        f.append({QStringLiteral("TEXT%1").arg(i),
                  i == 8 ? FieldType::FixedString : FieldType::String, sizes[i]});
    for (int i = 0; i < kFloats; ++i)
        f.append({QStringLiteral("VALUE%1").arg(i), FieldType::Float, 0});
    for (int i = 0; i < kDates; ++i)
        f.append({QStringLiteral("DATE%1").arg(i), FieldType::DateTime, 0});
    return f;
}

QVariantList benchRow(int r)
{
    QVariantList row;
    row.reserve(20);
    row << QString::asprintf("%04d", r % 37) << QString::asprintf("%04d", r % 11)
        << QString::number(1000000 + r)
        << QStringLiteral("%1.%2.%3/0001-%4")
               .arg(r % 99, 2, 10, QLatin1Char('0'))
               .arg(r % 999, 3, 10, QLatin1Char('0'))
               .arg(r % 977, 3, 10, QLatin1Char('0'))
               .arg(r % 97, 2, 10, QLatin1Char('0'))
        << QStringLiteral("FORN%1").arg(r % 5000)
        << QStringLiteral("Razão Social do Cliente %1 Ltda").arg(r)
        << QStringLiteral("Fornecedor de Insumos Agrícolas Número %1 S.A.").arg(r % 3000)
        << QStringLiteral("1234") << (r % 3 ? QStringLiteral("C") : QStringLiteral("U"))
        << (r % 7 ? QString() : QStringLiteral("S"));
    for (int i = 0; i < kFloats; ++i)
        row << (i == 5 && r % 4 == 0 ? Variant() : Variant(r * 1.25 + i * 100.01));
    for (int i = 0; i < kDates; ++i)
        row << (i == 3 && r % 5 == 0 ? Variant() : makeDate(TDateTime(45000 + (r + i) % 700)));
    return row;
}

double bestOf(int runs, const std::function<void()> &f)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

// The cheapest complete walk of the packet: every value read, strings copied into one buffer.
void walkValue(QCborStreamReader &r, std::vector<char> &buffer, qint64 &sink)
{
    switch (r.type()) {
    case QCborStreamReader::Array:
    case QCborStreamReader::Map:
        r.enterContainer();
        while (r.hasNext())
            walkValue(r, buffer, sink);
        r.leaveContainer();
        return;
    case QCborStreamReader::String:
    case QCborStreamReader::ByteArray:
        for (;;) {
            const qsizetype n = std::max<qsizetype>(r.currentStringChunkSize(), 0);
            if (qsizetype(buffer.size()) < n)
                buffer.resize(size_t(n));
            const auto res = r.readStringChunk(buffer.data(), n);
            if (res.status != QCborStreamReader::Ok)
                break;
            sink += res.data;
        }
        return;
    case QCborStreamReader::Double:
        sink += qint64(r.toDouble());
        r.next();
        return;
    case QCborStreamReader::UnsignedInteger:
        sink += qint64(r.toUnsignedInteger());
        r.next();
        return;
    case QCborStreamReader::Tag:
        sink += qint64(r.toTag());
        r.next();
        walkValue(r, buffer, sink);
        return;
    default:
        r.next();
        return;
    }
}

qint64 bareWalk(const QByteArray &bytes)
{
    QCborStreamReader r(bytes);
    std::vector<char> buffer(4096);
    qint64 sink = 0;
    walkValue(r, buffer, sink);
    return sink;
}

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

std::unique_ptr<ClientDataSet> declaredSet()
{
    auto set = std::make_unique<ClientDataSet>(QStringLiteral("cdsBench"));
    for (const PacketField &f : benchFields()) {
        FieldDef def;
        def.name = f.name;
        def.type = f.type;
        def.size = f.size;
        if (f.type == FieldType::Float)
            def.displayFormat = QStringLiteral("#,##0.00");
        set->addField(def);
    }
    return set;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    const QList<PacketField> fields = benchFields();
    std::vector<QVariantList> source;
    source.reserve(size_t(rows));
    for (int r = 0; r < rows; ++r)
        source.push_back(benchRow(r));

    DataPacket packet;
    const double encodeWriter = bestOf(3, [&] {
        PacketWriter w(fields);
        for (const QVariantList &row : source)
            w.addRow(row);
        packet = w.finish();
    });
    source.clear();
    source.shrink_to_fit();
    const double packetMiB = packet.bytes.size() / 1048576.0;

    // Bare walk and load alternate, best of each: a busy machine slows both alike.
    qint64 sink = 0;
    auto set = declaredSet();
    double bare = 1e300, load = 1e300;
    for (int i = 0; i < 7; ++i) {
        bare = std::min(bare, bestOf(1, [&] { sink += bareWalk(packet.bytes); }));
        load = std::min(load, bestOf(1, [&] { set->setData(packet); }));
    }

    DataPacket again;
    const double encodeSet = bestOf(3, [&] { again = set->data(); });
    const bool same = again == packet;

    // Resident memory added by one loaded set (the packet stays alive throughout).
    set.reset();
    again = DataPacket();
    malloc_trim(0);
    const long before = residentKiB();
    auto loaded = declaredSet();
    loaded->setData(packet);
    malloc_trim(0);
    const long after = residentKiB();
    const double addedMiB = (after - before) / 1024.0;

    std::printf("record sets and packets, %d rows x %lld fields\n", rows,
                static_cast<long long>(fields.size()));
    std::printf("  packet size                    %10.1f MiB\n", packetMiB);
    std::printf("  encode (PacketWriter, Variants) %9.1f ms\n", encodeWriter);
    std::printf("  encode (ClientDataSet::data)   %10.1f ms%s\n", encodeSet,
                same ? "" : "  (bytes differ from the writer's!)");
    std::printf("  bare CBOR walk                 %10.1f ms\n", bare);
    std::printf("  load into a record set         %10.1f ms\n", load);
    std::printf("  ratio load / bare walk         %10.2f   (target <= 1.5)\n", load / bare);
    std::printf("  resident memory of the set     %10.1f MiB\n", addedMiB);
    std::printf("  ratio memory / packet bytes    %10.2f   (target <= 3)\n", addedMiB / packetMiB);
    std::printf("  grid first paint               (see the widgets benchmark)\n");
    std::printf("  (checksum %lld, rows %d)\n", static_cast<long long>(sink),
                loaded->recordCount());
    return 0;
}
