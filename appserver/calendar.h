#pragma once
// Bank calendar of the social-security guide: national holidays, bank business days and the
// default due date of an invoice's guide.
#include <QDate>

namespace fis {

// Easter Sunday of the Gregorian year (anonymous Gregorian algorithm).
QDate easterSunday(int year);

// National holidays that close the banks: fixed dates, Carnival Monday and Tuesday, Good Friday
// and Corpus Christi. 20 November counts from 2024 on.
bool isNationalHoliday(const QDate &date);
bool isBankBusinessDay(const QDate &date);

// The date itself when it is a bank business day, otherwise the closest business day before it.
QDate previousBankBusinessDay(const QDate &date);

// Due date of the guide of a document issued on `emission`: day 20 of the following month,
// moved back to the previous bank business day. Invalid date in, invalid date out.
QDate defaultDueDate(const QDate &emission);

} // namespace fis
