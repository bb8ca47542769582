#include "data/dataset.h"
#include "data/packet.h"
#include "data/packetdecoder.h"
#include "data/storage_p.h"

#include <gtest/gtest.h>

#include <functional>

using namespace fis;

namespace {

const QList<PacketField> kFields{{"NAME", FieldType::String, 5},
                                 {"FLAG", FieldType::FixedString, 3},
                                 {"VALUE", FieldType::Float, 0},
                                 {"DUE", FieldType::DateTime, 0}};

const QList<QVariantList> kRows{{"Ação!", "S", 1234.56, makeDate(TDateTime(46000.5))},
                                {Variant(), Variant(), Variant(), Variant()},
                                {"abcdefgh", "XYZW", -0.25, Variant()}};

// The packet as the server sends a listing: rows of indefinite length, in pieces.
QByteArray streamed(const QList<QVariantList> &rows)
{
    QByteArray out;
    PacketWriter w(
        kFields, [&](QByteArrayView piece) { out += piece.toByteArray(); }, 16);
    for (const QVariantList &row : rows)
        w.addRow(row);
    w.finish();
    return out;
}

// What a decode makes of a packet: its fields and content encoded again, or "refused".
std::string outcome(const QList<PacketField> &fields, const detail::Content &content)
{
    return detail::encodeContent(detail::fieldDefsOf(fields), content, content.natural)
        .toHex()
        .toStdString();
}

std::string wholeOutcome(const QByteArray &bytes)
{
    try {
        QList<PacketField> fields;
        const detail::Content content = detail::decodePacket(bytes, {}, &fields);
        return outcome(fields, content);
    } catch (const PacketError &) {
        return "refused";
    }
}

// The same fed in pieces cut at the given offsets.
std::string piecesOutcome(const QByteArray &bytes, const std::vector<qsizetype> &cuts)
{
    PacketDecoder decoder;
    try {
        qsizetype from = 0;
        for (qsizetype cut : cuts) {
            decoder.feed(QByteArrayView(bytes).sliced(from, cut - from));
            from = cut;
        }
        decoder.feed(QByteArrayView(bytes).sliced(from));
        const DataPacket p = decoder.finish();
        EXPECT_FALSE(p.decoded == nullptr);
        return outcome(p.decoded->fields, p.decoded->content);
    } catch (const PacketError &e) {
        EXPECT_FALSE(e.message().isEmpty());
        return "refused";
    }
}

// Every cut into two pieces, and byte by byte.
void expectSameAsWhole(const QByteArray &bytes, const char *what)
{
    const std::string whole = wholeOutcome(bytes);
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut)
        ASSERT_EQ(piecesOutcome(bytes, {cut}), whole) << what << ", cut at " << cut;
    std::vector<qsizetype> each;
    for (qsizetype i = 1; i < bytes.size(); ++i)
        each.push_back(i);
    ASSERT_EQ(piecesOutcome(bytes, each), whole) << what << ", byte by byte";
}

} // namespace

TEST(PacketDecoder, InAnyPiecesItDecodesAndRefusesAsTheWholeDecode)
{
    const QByteArray definite = buildPacket(kFields, kRows).bytes;
    const QByteArray indefinite = streamed(kRows);
    ASSERT_EQ(wholeOutcome(indefinite), wholeOutcome(definite));
    ASSERT_NE(wholeOutcome(definite), "refused");
    expectSameAsWhole(definite, "definite rows");
    expectSameAsWhole(indefinite, "indefinite rows");
    expectSameAsWhole(buildPacket(kFields, {}).bytes, "no rows");
    expectSameAsWhole(streamed({}), "no rows, indefinite");
    // Other encodings: indefinite rows and row, a chunked text, an extra field attribute, an
    // integer for a float and a bare number for a date, a date tag in four bytes.
    const QByteArray other = QByteArray::fromHex("84"
                                                 "6a6669732d7061636b6574"
                                                 "01"
                                                 "83"
                                                 "83614166737472696e6700"
                                                 "84614265666c6f617400f5"
                                                 "836143686461746574696d6500"
                                                 "9f"
                                                 "83"
                                                 "7f6361c3a764c3a7c3a36161ff"
                                                 "182a"
                                                 "19b3b0"
                                                 "9f"
                                                 "6178"
                                                 "f6"
                                                 "da00009c41fb40e6760000000000"
                                                 "ff"
                                                 "ff");
    ASSERT_NE(wholeOutcome(other), "refused");
    expectSameAsWhole(other, "other encodings");
    // Not a packet this decoder reads row by row (an outer array of indefinite length).
    QByteArray outer = definite;
    outer[0] = char(0x9f);
    expectSameAsWhole(outer + char(0xff), "outer array of indefinite length");
    expectSameAsWhole(QByteArray(), "nothing");

    // Every byte corrupted, in both forms; and cut short anywhere, or with bytes after the end.
    for (const QByteArray &good : {definite, indefinite}) {
        int refused = 0;
        for (qsizetype i = 0; i < good.size(); ++i) {
            for (const char flip : {char(0xFF), char(0x01), char(0x20), char(0x80)}) {
                QByteArray bytes = good;
                bytes[i] = char(bytes[i] ^ flip);
                const std::string whole = wholeOutcome(bytes);
                refused += whole == "refused";
                for (qsizetype cut = 0; cut <= bytes.size(); cut += 7)
                    ASSERT_EQ(piecesOutcome(bytes, {cut}), whole) << "byte " << i << " cut " << cut;
            }
            ASSERT_EQ(piecesOutcome(good.left(i), {i / 2}), "refused") << "cut short at " << i;
        }
        EXPECT_GT(refused, good.size());
        ASSERT_EQ(piecesOutcome(good + char(0), {good.size()}), "refused");
    }
}

TEST(PacketDecoder, ASetLoadsADecodedPacketAsItsBytesAndCopiesItOnlyWhenChanged)
{
    const QByteArray bytes = buildPacket(kFields, kRows).bytes;
    const auto decoded = [&] {
        PacketDecoder decoder;
        decoder.feed(streamed(kRows));
        return decoder.finish();
    };
    // Adopted fields; declared alike (a wider text); declared otherwise (a narrower text, a
    // fixed text of another size, a field missing, a float read as text; a date as a fixed text,
    // a fixed text as a text, a float as a date, an extra packet field; a text that is no
    // number): each loads, or is refused, as the bytes.
    const std::vector<std::function<void(ClientDataSet &)>> shapes{
        [](ClientDataSet &) {},
        [](ClientDataSet &s) {
            s.addField(FieldDef::string("name", 9));
            s.addField(FieldDef::fixed("FLAG", 3));
            s.addField(FieldDef::floating("VALUE"));
            s.addField(FieldDef::dateTime("DUE"));
        },
        [](ClientDataSet &s) {
            s.addField(FieldDef::string("NAME", 2));
            s.addField(FieldDef::fixed("FLAG", 4));
            s.addField(FieldDef::string("VALUE", 20));
            s.addField(FieldDef::dateTime("OTHER"));
        },
        [](ClientDataSet &s) {
            s.addField(FieldDef::fixed("DUE", 12));
            s.addField(FieldDef::string("FLAG", 2));
            s.addField(FieldDef::dateTime("VALUE"));
            s.addField(FieldDef::fixed("NAME", 3));
        },
        [](ClientDataSet &s) {
            s.addField(FieldDef::floating("FLAG"));
            s.addField(FieldDef::floating("DUE"));
        }};
    for (size_t i = 0; i < shapes.size(); ++i) {
        ClientDataSet fromBytes("cdsBytes"), fromDecoded("cdsDecoded");
        shapes[i](fromBytes);
        shapes[i](fromDecoded);
        const DataPacket packet = decoded();
        try {
            fromBytes.setData(DataPacket(bytes));
        } catch (const PacketError &) {
            // Refused alike, and the set stays as it was (closed).
            EXPECT_THROW(fromDecoded.setData(packet), PacketError) << "shape " << i;
            EXPECT_FALSE(fromDecoded.active());
            continue;
        }
        fromDecoded.setData(packet);
        EXPECT_EQ(packet.decoded.use_count(), i < 2 ? 2 : 1) << "shared only in its own fields";
        ASSERT_EQ(fromDecoded.data().bytes, fromBytes.data().bytes) << "shape " << i;
        ASSERT_EQ(fromDecoded.fields().size(), fromBytes.fields().size());
        for (qsizetype f = 0; f < fromBytes.fields().size(); ++f)
            EXPECT_EQ(fromDecoded.fields()[f]->displayText(), fromBytes.fields()[f]->displayText());

        // Changes (an edit, an append, a delete) go to the set's own copy, never to the packet.
        const QByteArray before = packet.encoded();
        fromDecoded.edit();
        fromDecoded.fields()[0]->setAsString(QStringLiteral("Z"));
        fromDecoded.post();
        EXPECT_EQ(packet.decoded.use_count(), 1);
        fromDecoded.appendRecord({Variant("N")});
        fromDecoded.last();
        fromDecoded.deleteRecord();
        fromDecoded.first();
        EXPECT_EQ(fromDecoded.fields()[0]->asString().trimmed(), QStringLiteral("Z"));
        EXPECT_EQ(packet.encoded(), before) << "shape " << i;
        ClientDataSet again("cdsAgain");
        shapes[i](again);
        again.setData(packet);
        EXPECT_EQ(again.data().bytes, fromBytes.data().bytes);
    }
}
