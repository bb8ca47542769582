#include "framework/reportformat.h"

#include "data/variant.h"

#include <QDateTime>
#include <QLocale>

namespace fis {

namespace {

const QLocale &brazil()
{
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

bool isNumber(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

bool isDateFormat(const QString &format)
{
    return format.contains(QLatin1String("yy")) || format.contains(QLatin1String("MM")) ||
           format.contains(QLatin1String("dd"));
}

bool isNumberFormat(const QString &format)
{
    return !format.isEmpty() && format.front() != QLatin1Char('@') && !isDateFormat(format) &&
           format.contains(QLatin1Char('0'));
}

QString mask(const QString &digits, const char *pattern)
{
    QString out;
    qsizetype d = 0;
    for (const char *p = pattern; *p; ++p)
        out += *p == '#' ? digits.at(d++) : QChar::fromLatin1(*p);
    return out;
}

} // namespace

QString formatNumber(double value, const QString &format)
{
    if (format.isEmpty())
        return brazil().toString(value, 'g', 15);
    const qsizetype dot = format.indexOf(QLatin1Char('.'));
    const int decimals = dot < 0 ? 0 : int(format.size() - dot - 1);
    QString text = brazil().toString(value, 'f', decimals);
    if (!format.contains(QLatin1Char(',')))
        text.remove(brazil().groupSeparator());
    return text;
}

QString formatIdentifier(const QString &text)
{
    const QString trimmed = text.trimmed();
    for (const QChar c : trimmed) {
        if (!c.isDigit())
            return trimmed;
    }
    switch (trimmed.size()) {
    case 14:
        return mask(trimmed, "##.###.###/####-##");
    case 12:
        return mask(trimmed, "##.###.#####/##");
    case 11:
        return mask(trimmed, "###.#####.##-#");
    default:
        return trimmed;
    }
}

QDate reportDate(const QVariant &value)
{
    if (value.isNull())
        return {};
    if (value.metaType() == QMetaType::fromType<TDateTime>())
        return value.value<TDateTime>().toDate();
    switch (value.metaType().id()) {
    case QMetaType::QDate:
        return value.toDate();
    case QMetaType::QDateTime:
        return value.toDateTime().date();
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        return QDate::fromString(text.left(10), Qt::ISODate);
    }
    default:
        return {};
    }
}

double reportNumber(const QVariant &value)
{
    if (value.isNull())
        return 0;
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok ? number : 0;
}

QString displayValue(const QVariant &value, const QString &format)
{
    if (value.isNull())
        return {};
    if (format == QLatin1String("identifier"))
        return formatIdentifier(value.toString());
    if (isNumber(value)) {
        const int id = value.metaType().id();
        if (format.isEmpty() && id != QMetaType::Double && id != QMetaType::Float)
            return value.toString();
        return formatNumber(value.toDouble(), format);
    }
    if (isNumberFormat(format) && value.metaType().id() == QMetaType::QString) {
        bool ok = false;
        const double number = value.toString().toDouble(&ok);
        if (ok)
            return formatNumber(number, format);
    }
    const int id = value.metaType().id();
    const bool dateValue = id == QMetaType::QDate || id == QMetaType::QDateTime ||
                           value.metaType() == QMetaType::fromType<TDateTime>();
    if (dateValue || isDateFormat(format)) {
        const QDate date = reportDate(value);
        if (date.isValid())
            return date.toString(format.isEmpty() ? QStringLiteral("dd/MM/yyyy") : format);
        if (dateValue)
            return {}; // a null date
    }
    return value.toString();
}

} // namespace fis
