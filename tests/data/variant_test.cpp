#include "data/variant.h"

#include <QCborStreamWriter>
#include <QPoint>
#include <gtest/gtest.h>

using namespace fis;

TEST(Variant, RoundTripsEveryKind)
{
    const QVariantList nested{makeText(QStringLiteral("ação")), Variant(), makeFloat(-1.5)};
    const QList<Variant> values{
        Variant(),
        makeText(QString()),
        makeText(QStringLiteral("Razão Social")),
        makeFloat(1234.56),
        makeDate(TDateTime(45000.75)),
        makeDate(TDateTime()),
        makePacket(DataPacket{QByteArray("\x80", 1)}),
        makePacket(DataPacket{}),
        Variant(nested),
    };
    for (const Variant &v : values) {
        Variant back;
        QString error;
        ASSERT_TRUE(decodeVariant(encodeVariant(v), &back, &error)) << error.toStdString();
        EXPECT_EQ(kindOf(back), kindOf(v)) << v.typeName();
        EXPECT_EQ(back, v) << v.typeName();
    }
}

TEST(Variant, DatesCountDaysFrom1899)
{
    EXPECT_EQ(TDateTime::fromDate(QDate(1899, 12, 30)).value, 0.0);
    EXPECT_EQ(TDateTime::fromDate(QDate(2026, 12, 7)).toDate(), QDate(2026, 12, 7));
    const TDateTime noon = TDateTime::fromDateTime(QDateTime(QDate(2000, 1, 1), QTime(12, 0)));
    EXPECT_DOUBLE_EQ(noon.value - noon.datePart().value, 0.5);
    EXPECT_FALSE(TDateTime().toDate().isValid());
    EXPECT_TRUE(TDateTime::fromDate(QDate()).isNull());

    // Only the years 1 to 9999 are dates; a huge day count is no date, never a wild year.
    EXPECT_EQ(TDateTime(-693593).toDate(), QDate(1, 1, 1));
    EXPECT_EQ(TDateTime(2958465.5).toDateTime(), QDateTime(QDate(9999, 12, 31), QTime(12, 0)));
    for (const double days : {2958466.0, -693594.0, 5e11, 1e300, -1e300}) {
        EXPECT_FALSE(TDateTime(days).toDate().isValid()) << days;
        EXPECT_FALSE(TDateTime(days).toDateTime().isValid()) << days;
        QByteArray bytes;
        QCborStreamWriter w(&bytes);
        w.append(QCborTag(kCborTagDateTime));
        w.append(days);
        Variant out;
        QString error;
        EXPECT_FALSE(decodeVariant(bytes, &out, &error)) << days;
        EXPECT_TRUE(error.contains(QStringLiteral("fora do intervalo"))) << error.toStdString();
    }
}

TEST(Variant, NormalisesOtherQtTypes)
{
    EXPECT_EQ(kindOf(normalized(Variant(3))), VariantKind::Float);
    EXPECT_EQ(kindOf(normalized(Variant(QDate(2020, 2, 29)))), VariantKind::Date);
    EXPECT_EQ(kindOf(Variant(QPoint(1, 2))), VariantKind::Invalid);
    EXPECT_THROW(encodeVariant(Variant(QPoint(1, 2))), std::invalid_argument);
}

TEST(Variant, RejectsMalformedInput)
{
    Variant out = makeText(QStringLiteral("kept"));
    QString error;
    const QByteArray good = encodeVariant(Variant(QVariantList{makeText(QStringLiteral("abc"))}));
    // Truncations of a valid encoding, an unknown tag, trailing garbage, absurd nesting.
    for (int cut = 1; cut < good.size(); ++cut)
        EXPECT_FALSE(decodeVariant(good.left(cut), &out, &error)) << cut;
    QByteArray tagged;
    {
        QCborStreamWriter w(&tagged);
        w.append(QCborTag(9999));
        w.append(1.0);
    }
    EXPECT_FALSE(decodeVariant(tagged, &out, &error));
    EXPECT_FALSE(decodeVariant(good + char(0x01), &out, &error));
    EXPECT_FALSE(decodeVariant(QByteArray(200, char(0x81)), &out, &error));
    EXPECT_EQ(out.toString(), QStringLiteral("kept"));
    EXPECT_FALSE(error.isEmpty());
}
