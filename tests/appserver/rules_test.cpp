// Bank calendar, CNPJ check digits and key lists.
#include "calendar.h"
#include "identifiers.h"

#include <gtest/gtest.h>

using namespace fis;

TEST(BankCalendar, MovableHolidaysFollowEaster)
{
    EXPECT_EQ(easterSunday(2024), QDate(2024, 3, 31));
    EXPECT_EQ(easterSunday(2025), QDate(2025, 4, 20));
    EXPECT_EQ(easterSunday(2026), QDate(2026, 4, 5));
    EXPECT_EQ(easterSunday(2038), QDate(2038, 4, 25));
    for (const QDate &d : {QDate(2026, 2, 16), QDate(2026, 2, 17), QDate(2026, 4, 3),
                           QDate(2026, 6, 4), QDate(2026, 4, 21), QDate(2026, 11, 20),
                           QDate(2026, 11, 15), QDate(2026, 1, 1), QDate(2026, 12, 25)})
        EXPECT_TRUE(isNationalHoliday(d)) << d.toString().toStdString();
    // Ash Wednesday, Holy Saturday and 20 Nov before it became national are working days.
    EXPECT_FALSE(isNationalHoliday(QDate(2026, 2, 18)));
    EXPECT_FALSE(isNationalHoliday(QDate(2026, 4, 4)));
    EXPECT_FALSE(isNationalHoliday(QDate(2023, 11, 20)));
    EXPECT_FALSE(isNationalHoliday(QDate()));
}

TEST(BankCalendar, DueDateIsDay20MovedBackToABusinessDay)
{
    struct Case
    {
        QDate emission, due;
        const char *why;
    };
    const Case cases[] = {
        {QDate(2026, 1, 5), QDate(2026, 2, 20), "plain Friday"},
        {QDate(2026, 1, 31), QDate(2026, 2, 20), "end of month emission"},
        {QDate(2026, 5, 10), QDate(2026, 6, 19), "Saturday"},
        {QDate(2026, 8, 1), QDate(2026, 9, 18), "Sunday"},
        {QDate(2023, 1, 10), QDate(2023, 2, 17), "Carnival Monday"},
        {QDate(2007, 1, 10), QDate(2007, 2, 16), "Carnival Tuesday and Monday"},
        {QDate(2025, 3, 3), QDate(2025, 4, 17), "Sunday, then Good Friday"},
        {QDate(2019, 5, 2), QDate(2019, 6, 19), "Corpus Christi"},
        {QDate(2026, 10, 15), QDate(2026, 11, 19), "20 November, national since 2024"},
        {QDate(2023, 10, 15), QDate(2023, 11, 20), "20 November 2023 still a working day"},
        {QDate(2026, 12, 2), QDate(2027, 1, 20), "year change"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(defaultDueDate(c.emission), c.due) << c.why;
    EXPECT_FALSE(defaultDueDate(QDate()).isValid());
}

TEST(Identifiers, CnpjCheckDigits)
{
    EXPECT_EQ(cnpjWithCheckDigits(QStringLiteral("112223330001")),
              QStringLiteral("11222333000181"));
    EXPECT_TRUE(isValidCnpj(QStringLiteral("11222333000181")));
    EXPECT_FALSE(isValidCnpj(QStringLiteral("11222333000182")));
    EXPECT_FALSE(isValidCnpj(QStringLiteral("1122233300018")));
    EXPECT_FALSE(isValidCnpj(QStringLiteral("1122233300018a")));
    EXPECT_EQ(cnpjWithCheckDigits(QStringLiteral("11222333000")), QString());
}

TEST(Identifiers, KeyListsAreParsedStrictly)
{
    QStringList keys;
    QString error;
    EXPECT_TRUE(parseKeyList(QStringLiteral("_0001_0002_"), &keys, &error));
    EXPECT_EQ(keys, (QStringList{QStringLiteral("0001"), QStringLiteral("0002")}));
    EXPECT_TRUE(parseKeyList(QStringLiteral("_"), &keys, &error));
    EXPECT_TRUE(keys.isEmpty());
    EXPECT_TRUE(parseKeyList(QString(), &keys, &error));
    for (const char *bad : {" ", "__", "_12", "12_", "_1__2_", "_1_x_", "_１_", "_1 _", "_+1_"}) {
        error.clear();
        EXPECT_FALSE(parseKeyList(QString::fromUtf8(bad), &keys, &error)) << bad;
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(keys.isEmpty());
    }
    EXPECT_EQ(joinKeyList({QStringLiteral("12"), QStringLiteral("15")}), QStringLiteral("_12_15_"));
}
