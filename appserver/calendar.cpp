#include "calendar.h"

namespace fis {

QDate easterSunday(int year)
{
    const int a = year % 19;
    const int b = year / 100;
    const int c = year % 100;
    const int d = b / 4;
    const int e = b % 4;
    const int f = (b + 8) / 25;
    const int g = (b - f + 1) / 3;
    const int h = (19 * a + b - d - g + 15) % 30;
    const int i = c / 4;
    const int k = c % 4;
    const int l = (32 + 2 * e + 2 * i - h - k) % 7;
    const int m = (a + 11 * h + 22 * l) / 451;
    const int month = (h + l - 7 * m + 114) / 31;
    const int day = ((h + l - 7 * m + 114) % 31) + 1;
    return QDate(year, month, day);
}

bool isNationalHoliday(const QDate &date)
{
    if (!date.isValid())
        return false;
    struct MonthDay
    {
        int month;
        int day;
    };
    static constexpr MonthDay fixed[] = {{1, 1},   {4, 21}, {5, 1},   {9, 7},
                                         {10, 12}, {11, 2}, {11, 15}, {12, 25}};
    for (const MonthDay &md : fixed) {
        if (date.month() == md.month && date.day() == md.day)
            return true;
    }
    if (date.month() == 11 && date.day() == 20 && date.year() >= 2024)
        return true;
    const QDate easter = easterSunday(date.year());
    const qint64 offset = easter.daysTo(date);
    // Carnival Monday and Tuesday, Good Friday, Corpus Christi.
    return offset == -48 || offset == -47 || offset == -2 || offset == 60;
}

bool isBankBusinessDay(const QDate &date)
{
    return date.isValid() && date.dayOfWeek() <= 5 && !isNationalHoliday(date);
}

QDate previousBankBusinessDay(const QDate &date)
{
    if (!date.isValid())
        return {};
    QDate d = date;
    while (!isBankBusinessDay(d))
        d = d.addDays(-1);
    return d;
}

QDate defaultDueDate(const QDate &emission)
{
    if (!emission.isValid())
        return {};
    const QDate nextMonth = emission.addMonths(1);
    return previousBankBusinessDay(QDate(nextMonth.year(), nextMonth.month(), 20));
}

} // namespace fis
