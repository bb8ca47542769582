#pragma once
// How the reports show the values of their queries: numbers in the Brazilian form, dates, the
// identifiers of the guide (CNPJ, CEI, NIT), and the columns of a listing or of a guide's annex.
#include <QDate>
#include <QString>
#include <QVariant>

namespace fis {

struct ReportColumn
{
    QString field;  // column of the query's result
    QString title;  // heading; the field name when empty
    QString format; // numbers: "#,##0.00" style; dates: Qt date format; "identifier"; empty = plain
    Qt::Alignment alignment = Qt::AlignLeft;
};

// A number with a "#,##0.00"-style format in the Brazilian form: decimals as many as the format
// has after its ".", thousands grouped with "." only when the format has a ",".
QString formatNumber(double value, const QString &format);
// A CNPJ (14 digits: 12.345.678/0001-95), CEI (12 digits: 12.345.67890/12) or NIT (11 digits:
// 123.45678.90-1) with its punctuation; any other text as it is.
QString formatIdentifier(const QString &text);
// A date of the database: a date value, or the text of one ("2026-03-15", with or without a
// time). Invalid when the value is no date.
QDate reportDate(const QVariant &value);
// A number of the database (text numbers included); 0 when null or no number.
double reportNumber(const QVariant &value);

// A value as a listing shows it: numbers with the format, dates with the format (dd/MM/yyyy
// without one), identifiers with "identifier", anything else as text.
QString displayValue(const QVariant &value, const QString &format);

} // namespace fis
