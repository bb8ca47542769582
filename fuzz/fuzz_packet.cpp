// The data-packet reader on arbitrary bytes, in both directions: as the server reads a packet
// argument (PacketReader) and as a screen loads an answer into its record set (declared fields
// of every type, or none). It must refuse or accept without crashing, hanging or reserving
// memory by a claimed size; whatever it accepts must read, show and encode again to a packet
// that reads back the same. Rows read straight from the bytes must load exactly as through the
// stream reader (or be refused with the same words). Fed in two pieces, split where the last two
// bytes of the input say, the decoder of pieces must decode or refuse as the whole decode does,
// and what it decodes must load into declared fields as its bytes do.
#include "data/dataset.h"
#include "data/packet.h"
#include "data/packetdecoder.h"
#include "data/storage_p.h"

#include <cstdint>
#include <cstdlib>

using namespace fis;

namespace {

void readPacket(const QByteArray &bytes)
{
    try {
        const PacketReader reader(bytes);
        for (const QVariantList &row : reader.rows())
            for (const Variant &v : row)
                if (kindOf(v) == VariantKind::Date)
                    (void)v.value<TDateTime>().toDateTime();
        const DataPacket again = buildPacket(reader.fields(), reader.rows());
        const PacketReader second(again);
        if (second.fields() != reader.fields() || second.rows() != reader.rows())
            std::abort();
    } catch (const PacketError &e) {
        if (e.message().isEmpty())
            std::abort(); // every refusal says why
    }
}

// The set's content encoded again, or the refusal's text.
QByteArray loadOutcome(const QByteArray &bytes, bool direct)
{
    detail::setDirectRowReading(direct);
    ClientDataSet set(QStringLiteral("cdsFuzz"));
    set.addField(FieldDef::string("A", 4));
    set.addField(FieldDef::floating("C"));
    QByteArray outcome;
    try {
        set.setData(DataPacket{bytes});
        outcome = set.active() ? set.data().bytes : QByteArray("closed");
    } catch (const PacketError &e) {
        outcome = e.message().toUtf8();
    }
    detail::setDirectRowReading(true);
    return outcome;
}

void loadAnswer(const QByteArray &bytes, bool declared)
{
    ClientDataSet set(QStringLiteral("cdsFuzz"));
    if (declared) {
        set.addField(FieldDef::string("A", 4));
        set.addField(FieldDef::fixed("B", 1));
        set.addField(FieldDef::floating("C"));
        set.addField(FieldDef::dateTime("D"));
    }
    try {
        set.setData(DataPacket{bytes});
    } catch (const PacketError &e) {
        if (e.message().isEmpty() || set.active())
            std::abort(); // a refused packet leaves the set as it was (closed)
        return;
    }
    if (!set.active())
        return; // the null packet (no bytes) closes the set
    for (set.first(); !set.eof(); set.next())
        for (Field *f : set.fields())
            (void)f->displayText();
    const DataPacket once = set.data();
    ClientDataSet copy(QStringLiteral("cdsCopy"));
    copy.setData(once);
    if (copy.data() != once)
        std::abort();
}

// The fields and content encoded again, or nothing when refused.
QByteArray wholeDecode(const QByteArray &bytes)
{
    try {
        QList<PacketField> fields;
        const detail::Content c = detail::decodePacket(bytes, {}, &fields);
        return detail::encodeContent(detail::fieldDefsOf(fields), c, c.natural);
    } catch (const PacketError &) {
        return {};
    }
}

// A set with declared fields loaded from the packet: its content encoded again, or the refusal.
QByteArray declaredLoad(const DataPacket &packet)
{
    ClientDataSet set(QStringLiteral("cdsFuzz"));
    set.addField(FieldDef::string("A", 4));
    set.addField(FieldDef::fixed("B", 1));
    set.addField(FieldDef::floating("C"));
    set.addField(FieldDef::dateTime("D"));
    try {
        set.setData(packet);
        return set.data().bytes;
    } catch (const PacketError &) {
        return "refused";
    }
}

QByteArray piecesDecode(const QByteArray &bytes, qsizetype split)
{
    PacketDecoder decoder;
    try {
        decoder.feed(QByteArrayView(bytes).first(split));
        decoder.feed(QByteArrayView(bytes).sliced(split));
        const DataPacket p = decoder.finish();
        // Loaded from its columns into other fields as from its bytes.
        if (declaredLoad(p) != declaredLoad(DataPacket(p.encoded())))
            std::abort();
        return detail::encodeContent(detail::fieldDefsOf(p.decoded->fields), p.decoded->content,
                                     p.decoded->content.natural);
    } catch (const PacketError &e) {
        if (e.message().isEmpty())
            std::abort();
        return {};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    readPacket(bytes);
    loadAnswer(bytes, false);
    loadAnswer(bytes, true);
    if (loadOutcome(bytes, true) != loadOutcome(bytes, false))
        std::abort();
    if (size >= 2) {
        const QByteArray packet = bytes.first(qsizetype(size) - 2);
        const qsizetype split = ((data[size - 2] << 8) | data[size - 1]) % (packet.size() + 1);
        if (piecesDecode(packet, split) != wholeDecode(packet))
            std::abort();
    }
    return 0;
}
