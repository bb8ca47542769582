#include "data/dataset.h"
#include "data/packet.h"
#include "data/storage_p.h"

#include <QCborStreamWriter>
#include <gtest/gtest.h>

#include <limits>

using namespace fis;

namespace {

const QList<PacketField> kAllTypes{{"NAME", FieldType::String, 5},
                                   {"FLAG", FieldType::FixedString, 3},
                                   {"VALUE", FieldType::Float, 0},
                                   {"DUE", FieldType::DateTime, 0}};

DataPacket allTypesPacket()
{
    const Variant noon = makeDate(TDateTime(46000.5));
    return buildPacket(kAllTypes, {{"Ação!", "S", 1234.56, noon},
                                   {Variant(), Variant(), Variant(), makeDate(TDateTime())},
                                   {"abcdefgh", "XYZW", -0.25, Variant()}});
}

std::unique_ptr<ClientDataSet> declaredSet()
{
    auto set = std::make_unique<ClientDataSet>("cdsTypes");
    set->addField(FieldDef::string("NAME", 4));
    set->addField(FieldDef::fixed("FLAG", 3));
    set->addField(FieldDef::floating("VALUE"));
    set->addField(FieldDef::dateTime("DUE"));
    set->addField(FieldDef::string("MISSING", 10));
    return set;
}

} // namespace

TEST(Packets, RoundTripEveryTypeWithNullsAndCutTexts)
{
    // The writer cuts to the packet's sizes and pads fixed text.
    PacketReader reader(allTypesPacket());
    ASSERT_EQ(reader.fields(), kAllTypes);
    ASSERT_EQ(reader.rowCount(), 3);
    EXPECT_EQ(reader.row(0).at(0), Variant("Ação!"));
    EXPECT_EQ(reader.row(0).at(1), Variant("S  "));
    EXPECT_EQ(reader.row(0).at(3), makeDate(TDateTime(46000.5)));
    EXPECT_EQ(reader.row(2).at(0), Variant("abcde"));
    for (const Variant &v : reader.row(1))
        EXPECT_TRUE(v.isNull()); // the null date travels as null
    EXPECT_TRUE(reader.row(2).at(3).isNull());

    // Loaded into declared fields: bound by name, cut to the declared size, missing reads empty.
    auto set = declaredSet();
    set->setData(allTypesPacket());
    ASSERT_EQ(set->recordCount(), 3);
    EXPECT_EQ(set->fieldByName("NAME")->asString(), QStringLiteral("Ação"));
    EXPECT_EQ(set->fieldByName("MISSING")->asString(), QString());
    EXPECT_DOUBLE_EQ(set->fieldByName("VALUE")->asFloat(), 1234.56);
    EXPECT_EQ(set->fieldByName("DUE")->asDateTime(), TDateTime(46000.5));
    set->next();
    EXPECT_TRUE(set->fieldByName("VALUE")->isNull());
    EXPECT_EQ(set->fieldByName("DUE")->asDateTime().value, 0.0);

    // data() -> packet -> a generic set (no declared fields) takes the definitions over.
    ClientDataSet generic("cdsGeneric");
    generic.setData(set->data());
    ASSERT_EQ(generic.fieldCount(), 5);
    EXPECT_TRUE(generic.fieldsFromPacket());
    EXPECT_EQ(generic.fieldByName("NAME")->size(), 4);
    EXPECT_EQ(generic.fieldByName("FLAG")->dataType(), FieldType::FixedString);
    generic.last();
    EXPECT_EQ(generic.fieldByName("NAME")->asString(), QStringLiteral("abcd"));
    EXPECT_EQ(generic.fieldByName("FLAG")->asString(), QStringLiteral("XYZ"));
    EXPECT_DOUBLE_EQ(generic.fieldByName("VALUE")->asFloat(), -0.25);
    EXPECT_EQ(generic.data(), set->data());

    // A packet whose types differ from the declaration is converted where it makes sense.
    ClientDataSet typed("cdsTyped");
    typed.addField(FieldDef::string("VALUE", 10));
    typed.addField(FieldDef::string("DUE", 20));
    typed.setData(allTypesPacket());
    EXPECT_EQ(typed.fieldByName("VALUE")->asString(), QStringLiteral("1234,56"));
    EXPECT_EQ(typed.fieldByName("DUE")->asString(), QStringLiteral("09/12/2025 12:00:00"));
}

TEST(Packets, CorruptOrTruncatedPacketsLeaveTheSetIntact)
{
    auto set = declaredSet();
    set->setData(allTypesPacket());
    set->setRecNo(2);
    int opens = 0;
    set->beforeOpen = [&](ClientDataSet &) { ++opens; };

    const QByteArray good = allTypesPacket().bytes;
    QList<QByteArray> bad;
    for (qsizetype n = 1; n < good.size(); n += 3)
        bad << good.left(n);               // truncated anywhere
    bad << good + QByteArray(1, '\0');     // trailing garbage
    bad << QByteArray("\xa1\x61x\x01", 4); // a map, not a packet
    bad << QByteArray("\x84\x63"
                      "abc",
                      5); // wrong header
    QByteArray wrongType = good;
    wrongType.replace("float", "flo@t");
    bad << wrongType;
    {
        // A row with too few values.
        QByteArray b;
        QCborStreamWriter w(&b);
        w.startArray(4);
        w.append(QLatin1StringView("fis-packet"));
        w.append(1);
        w.startArray(1);
        w.startArray(3);
        w.append(QLatin1StringView("A"));
        w.append(QLatin1StringView("float"));
        w.append(0);
        w.endArray();
        w.endArray();
        w.startArray(1);
        w.startArray(0);
        w.endArray();
        w.endArray();
        w.endArray();
        bad << b;
    }

    for (quint64 size : {quint64(1) << 63, ~quint64(0)}) {
        // A field size beyond any integer the reader keeps, positive or negative.
        QByteArray b;
        QCborStreamWriter w(&b);
        w.startArray(4);
        w.append(QLatin1StringView("fis-packet"));
        w.append(1);
        w.startArray(1);
        w.startArray(3);
        w.append(QLatin1StringView("A"));
        w.append(QLatin1StringView("string"));
        w.append(QCborNegativeInteger(size));
        w.endArray();
        w.endArray();
        w.startArray(0);
        w.endArray();
        w.endArray();
        bad << b;
        bad << QByteArray(b).replace(char(0x3b), char(0x1b)); // the same magnitude, unsigned
    }

    for (const QByteArray &bytes : bad) {
        EXPECT_THROW(set->setData(DataPacket{bytes}), PacketError) << bytes.toHex().toStdString();
        EXPECT_THROW(PacketReader{bytes}, PacketError);
    }
    EXPECT_EQ(opens, 0);
    EXPECT_EQ(set->recordCount(), 3);
    EXPECT_EQ(set->recNo(), 2);
    set->first();
    EXPECT_EQ(set->fieldByName("NAME")->asString(), QStringLiteral("Ação"));

    // Values that do not fit their column are refused too.
    EXPECT_THROW(buildPacket(kAllTypes, {{"a", "b", "not a number", Variant()}}), PacketError);
    EXPECT_THROW(buildPacket(kAllTypes, {{"a", "b"}}), PacketError);
    // Nor does a number no reader would take back.
    for (const double odd :
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_THROW(buildPacket(kAllTypes, {{"a", "b", odd, Variant()}}), PacketError);
        PacketWriter cells(kAllTypes);
        cells.beginRow();
        cells.addText(QStringLiteral("a"));
        cells.addNull();
        EXPECT_THROW(cells.addNumber(odd), PacketError);
    }
    PacketWriter w;
    w.addField("A", FieldType::String);
    EXPECT_THROW(w.addField("a", FieldType::Float), PacketError);
}

TEST(Packets, LoadReplacesContentAndRunsOpenEventsInOrder)
{
    auto set = declaredSet();
    QStringList events;
    set->beforeClose = [&](ClientDataSet &) { events << "beforeClose"; };
    set->beforeOpen = [&](ClientDataSet &s) {
        events << QStringLiteral("beforeOpen:%1").arg(s.recordCount());
    };
    set->afterOpen = [&](ClientDataSet &s) {
        events << QStringLiteral("afterOpen:%1").arg(s.recordCount());
    };
    set->setData(allTypesPacket());
    set->setData(buildPacket(kAllTypes, {{"z", "z", 1.0, Variant()}}));
    EXPECT_EQ(events, (QStringList{"beforeOpen:0", "afterOpen:3", "beforeClose", "beforeOpen:3",
                                   "afterOpen:1"}));
    EXPECT_EQ(set->fieldByName("NAME")->asString(), QStringLiteral("z"));
    set->setData(DataPacket{}); // a null packet closes
    EXPECT_FALSE(set->active());
}

// What a set makes of the bytes: its content encoded again, or the refusal's text.
std::string loadOutcome(const QByteArray &bytes, bool direct)
{
    detail::setDirectRowReading(direct);
    auto set = declaredSet();
    std::string outcome;
    try {
        set->setData(DataPacket{bytes});
        outcome = set->data().bytes.toHex().toStdString();
    } catch (const PacketError &e) {
        outcome = e.message().toStdString();
    }
    detail::setDirectRowReading(true);
    return outcome;
}

TEST(Packets, EveryCorruptedByteIsRefusedCleanlyOrLoadsConsistently)
{
    const QByteArray good = allTypesPacket().bytes;
    auto set = declaredSet();
    int refused = 0;
    for (qsizetype i = 0; i < good.size(); ++i) {
        for (const char flip : {char(0xFF), char(0x01), char(0x20), char(0x80)}) {
            set->setData(DataPacket{good});
            QByteArray bytes = good;
            bytes[i] = char(bytes[i] ^ flip);
            // Rows read straight from the bytes load (or are refused) exactly as through the
            // stream reader.
            EXPECT_EQ(loadOutcome(bytes, true), loadOutcome(bytes, false)) << "byte " << i;
            try {
                set->setData(DataPacket{bytes});
                // Loaded: whatever it holds must read and encode without trouble.
                for (set->first(); !set->eof(); set->next())
                    for (Field *f : set->fields())
                        (void)f->displayText();
                EXPECT_NO_THROW(PacketReader{set->data()});
            } catch (const PacketError &) {
                ++refused;
                EXPECT_EQ(set->recordCount(), 3);
                EXPECT_EQ(set->fieldByName("NAME")->asString(), QStringLiteral("Ação"));
            }
        }
    }
    EXPECT_GT(refused, good.size()); // most corruptions are structural
}

TEST(Packets, AcceptsOtherValidEncodingsOfTheSameContent)
{
    // Indefinite-length rows, a chunked text, an extra field attribute, an integer for a float
    // and a bare number for a date.
    const QByteArray hex = "84"
                           "6a6669732d7061636b6574" // "fis-packet"
                           "01"
                           "83"
                           "83614166737472696e6700"     // ["A", "string", 0]
                           "84614265666c6f617400f5"     // ["B", "float", 0, true]
                           "836143686461746574696d6500" // ["C", "datetime", 0]
                           "9f"                         // rows, indefinite length
                           "83"
                           "7f6361c3a764c3a7c3a36161ff" // "aç" "çã" "a"
                           "182a"                       // 42
                           "19b3b0"                     // 46000
                           "ff";
    ClientDataSet set("cdsAny");
    set.setData(DataPacket{QByteArray::fromHex(hex)});
    ASSERT_EQ(set.recordCount(), 1);
    EXPECT_EQ(set.fieldByName("A")->asString(), QString::fromUtf8("aççãa"));
    EXPECT_DOUBLE_EQ(set.fieldByName("B")->asFloat(), 42.0);
    EXPECT_EQ(set.fieldByName("C")->asDateTime(), TDateTime(46000));
}

TEST(Packets, WriterNormalisesQtTypesAndCutsMultibyteTextsWhole)
{
    const DataPacket p =
        buildPacket({{"N", FieldType::Float, 0},
                     {"D", FieldType::DateTime, 0},
                     {"T", FieldType::String, 3},
                     {"F", FieldType::FixedString, 4}},
                    {{7, QDate(2026, 12, 7), "ççççç", "ã  "},
                     {true, QDateTime(QDate(1899, 12, 30), QTime(0, 0)), "", " "}});
    PacketReader r(p);
    EXPECT_EQ(r.row(0).at(0), Variant(7.0));
    EXPECT_EQ(r.row(0).at(1), makeDate(TDateTime::fromDate(QDate(2026, 12, 7))));
    EXPECT_EQ(r.row(0).at(2), Variant(QString::fromUtf8("ççç")));
    EXPECT_EQ(r.row(0).at(3), Variant(QString::fromUtf8("ã   ")));
    EXPECT_EQ(r.row(1).at(0), Variant(1.0));
    EXPECT_TRUE(r.row(1).at(1).isNull()); // the day 0 is no date
    EXPECT_TRUE(r.row(1).at(2).isNull());
    EXPECT_TRUE(r.row(1).at(3).isNull()); // blanks only: an empty fixed text

    // A set declared narrower than the packet cuts on character boundaries too.
    ClientDataSet set("cdsNarrow");
    set.addField(FieldDef::string("T", 2));
    set.setData(p);
    EXPECT_EQ(set.fieldByName("T")->asString(), QString::fromUtf8("çç"));
    EXPECT_EQ(PacketReader(set.data()).row(0).at(0), Variant(QString::fromUtf8("çç")));
}

TEST(Packets, ClaimsBeyondThePacketAreRefusedBeforeAnythingIsReserved)
{
    // A text cell whose head claims far more bytes than follow it: the longest claim CBOR can
    // make, one past 4 GiB, and one just past the packet's end.
    for (const quint64 claim : {quint64(0x7FFFFFFFFFFFFFFF), quint64(1) << 32, quint64(40)}) {
        QByteArray b;
        {
            QCborStreamWriter w(&b);
            w.startArray(4);
            w.append(QLatin1StringView("fis-packet"));
            w.append(1);
            w.startArray(1);
            w.startArray(3);
            w.append(QLatin1StringView("CDFILIAL"));
            w.append(QLatin1StringView("string"));
            w.append(4);
            w.endArray();
            w.endArray();
            w.startArray(1);
            w.startArray(1);
        }
        b += char(0x7b); // text string, 8-byte length
        for (int s = 56; s >= 0; s -= 8)
            b += char((claim >> s) & 0xFF);
        b += QByteArray(16, 'x');
        SCOPED_TRACE(claim);
        try {
            PacketReader{b};
            ADD_FAILURE() << "accepted";
        } catch (const PacketError &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("além do fim do pacote")))
                << e.message().toStdString();
        }
        ClientDataSet set("cdsClaim");
        EXPECT_THROW(set.setData(DataPacket{b}), PacketError);
    }
}

TEST(Packets, DatesOutsideTheYears1To9999AreRefused)
{
    const QList<PacketField> fields{{"D", FieldType::DateTime, 0}, {"T", FieldType::String, 20}};
    for (const double days : {5e11, -1e15, 2958466.0, -693594.0}) {
        // A date cell, a bare number for a date, and a date into a text column.
        for (int column = 0; column < 2; ++column) {
            QByteArray b;
            QCborStreamWriter w(&b);
            w.startArray(4);
            w.append(QLatin1StringView("fis-packet"));
            w.append(1);
            w.startArray(2);
            for (const PacketField &f : fields) {
                w.startArray(3);
                w.append(f.name);
                w.append(QLatin1StringView(fieldTypeName(f.type).toLatin1()));
                w.append(f.size);
                w.endArray();
            }
            w.endArray();
            w.startArray(1);
            w.startArray(2);
            for (int c = 0; c < 2; ++c) {
                if (c == column) {
                    w.append(QCborTag(kCborTagDateTime));
                    w.append(days);
                } else {
                    w.append(nullptr);
                }
            }
            w.endArray();
            w.endArray();
            w.endArray();
            SCOPED_TRACE(days);
            EXPECT_THROW(PacketReader{b}, PacketError) << column;
            if (column == 0) {
                b.replace(QByteArray("\xd9\x9c\x41", 3), QByteArray()); // the bare number
                EXPECT_THROW(PacketReader{b}, PacketError);
            }
        }
    }
    // The edges of the range are dates.
    const DataPacket edges =
        buildPacket(fields, {{makeDate(TDateTime(TDateTime::kFirstDay)), Variant()},
                             {makeDate(TDateTime(TDateTime::kEndDay - 1)), Variant()}});
    const PacketReader r(edges);
    EXPECT_EQ(r.row(0).at(0).value<TDateTime>().toDate(), QDate(1, 1, 1));
    EXPECT_EQ(r.row(1).at(0).value<TDateTime>().toDate(), QDate(9999, 12, 31));
}

TEST(Packets, TextsThatAreNotUtf8AreRefused)
{
    // A fixed field of one character holding a NUL and a stray continuation byte: read as two
    // characters, more than the field holds, and not what the writer would give back.
    const QByteArray good = buildPacket({{"B", FieldType::FixedString, 1}}, {{"x"}}).bytes;
    for (const QByteArray &bad : {QByteArray("\x00\x83", 2), QByteArray("\xc3", 1),
                                  QByteArray("\xed\xa0\x80", 3)}) { // a lone surrogate
        QByteArray b = good;
        b.replace(QByteArray("\x61x", 2), char(0x60 + bad.size()) + bad);
        ASSERT_NE(b, good);
        try {
            PacketReader{b};
            ADD_FAILURE() << "accepted " << bad.toHex().toStdString();
        } catch (const PacketError &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("UTF-8"))) << e.message().toStdString();
        }
    }
}

TEST(Packets, InPiecesAndAsASourceTheyReadAsTheWholePacket)
{
    const QList<QVariantList> rows{{"Ação!", "S", 1234.56, makeDate(TDateTime(46000.5))},
                                   {Variant(), Variant(), Variant(), Variant()},
                                   {"abcdefgh", "XYZW", -0.25, Variant()}};
    const QByteArray whole = buildPacket(kAllTypes, rows).bytes;

    // Pieces of whole rows once 8 bytes wait; the rows of indefinite length.
    QByteArray pieces;
    int count = 0;
    PacketWriter w(
        kAllTypes,
        [&](QByteArrayView piece) {
            pieces += piece.toByteArray();
            ++count;
        },
        8);
    w.addRow(rows[0]);
    EXPECT_THROW(w.addRow({"x", "y", "not a number", Variant()}), PacketError); // dropped whole
    w.beginRow();
    for (const Variant &v : rows[1])
        w.addValue(v);
    w.endRow();
    w.addRow(rows[2]);
    EXPECT_TRUE(w.finish().isNull());
    EXPECT_EQ(count, 3); // head and first row; second (5 bytes) and third; end of the rows
    const PacketReader fromPieces(pieces), fromWhole(whole);
    EXPECT_EQ(fromPieces.fields(), fromWhole.fields());
    EXPECT_EQ(fromPieces.rows(), fromWhole.rows());
    EXPECT_EQ(uchar(pieces.at(pieces.size() - 1)), 0xffu);
    EXPECT_EQ(pieces.size(), whole.size() + 1); // 9f ... ff instead of 83

    // A source runs each time its bytes are asked for, to the whole packet's bytes.
    int runs = 0;
    DataPacket lazy;
    lazy.source = std::make_shared<PacketSource>(kAllTypes, [&](PacketWriter &writer) {
        ++runs;
        for (const QVariantList &row : rows)
            writer.addRow(row);
    });
    EXPECT_FALSE(lazy.isNull());
    EXPECT_EQ(lazy.encoded(), whole);
    EXPECT_TRUE(lazy == DataPacket(whole));
    EXPECT_EQ(runs, 2);
    auto set = declaredSet();
    set->setData(lazy);
    EXPECT_EQ(set->recordCount(), 3);
    EXPECT_TRUE(DataPacket().isNull());
}
