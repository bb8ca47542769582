#include "sqlhelpers.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>

namespace fis::service {

QDate sqlDate(const QVariant &v)
{
    if (v.isNull())
        return {};
    if (v.metaType() == QMetaType::fromType<QDate>())
        return v.toDate();
    if (v.metaType() == QMetaType::fromType<QDateTime>())
        return v.toDateTime().date();
    // SQLite keeps dates as ISO text: read "yyyy-MM-dd" directly, it is on every listed row.
    if (v.metaType() == QMetaType::fromType<QString>()) {
        const QString &t = *static_cast<const QString *>(v.constData());
        const auto digits = [&t](int from, int count) {
            int n = 0;
            for (int i = from; i < from + count; ++i) {
                const char16_t c = t.at(i).unicode();
                if (c < u'0' || c > u'9')
                    return -1;
                n = n * 10 + (c - u'0');
            }
            return n;
        };
        if (t.size() >= 10 && t.at(4) == u'-' && t.at(7) == u'-' &&
            (t.size() == 10 || t.at(10) == u' ' || t.at(10) == u'T')) {
            const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2);
            if (y >= 0 && m >= 0 && d >= 0)
                return QDate(y, m, d); // invalid (null) for an impossible day, as before
        }
    }
    return QDate::fromString(v.toString().left(10), Qt::ISODate);
}

Variant dateValue(const QDate &d)
{
    return d.isValid() ? makeDate(TDateTime::fromDate(d)) : Variant();
}

QVariant sqlParam(const QDate &d)
{
    return d.isValid() ? QVariant(d) : QVariant(QMetaType::fromType<QDate>());
}

QString brDate(const QDate &d)
{
    return d.isValid() ? d.toString(u"dd/MM/yyyy") : QString();
}

QString money(double v)
{
    static const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    return brazil.toString(v, 'f', 2);
}

PacketField str(const char *name, int size)
{
    return {QString::fromLatin1(name), FieldType::String, size};
}
PacketField fixed(const char *name, int size)
{
    return {QString::fromLatin1(name), FieldType::FixedString, size};
}
PacketField flt(const char *name)
{
    return {QString::fromLatin1(name), FieldType::Float, 0};
}
PacketField dt(const char *name)
{
    return {QString::fromLatin1(name), FieldType::DateTime, 0};
}

bool dueDateAllowed(const QDate &d)
{
    return d.isValid() && d.year() >= 1900 && d.year() <= 9999;
}

QString normalizedCode(const QString &code)
{
    QString c = code.trimmed();
    bool digits = !c.isEmpty();
    for (QChar ch : c)
        digits = digits && ch.isDigit();
    if (digits && c.size() < 4)
        c = c.rightJustified(4, u'0');
    return c;
}

QString statusLetter(const QString &raw, const char *allowed, const char *all)
{
    const QString s = raw.trimmed().toUpper();
    if (s.isEmpty())
        return QString::fromLatin1(all);
    if (s.size() != 1 || !QByteArray(allowed).contains(char(s.at(0).unicode())))
        throw ServiceError(QStringLiteral("Status do GPS inválido: \"%1\".").arg(raw));
    return s;
}

} // namespace fis::service
