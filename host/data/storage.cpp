#include "data/storage_p.h"

#include <sys/mman.h>

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace fis::detail {

// ---------------------------------------------------------------------------------------------
// Column arrays

namespace {
// From this size on an array is mapped, as the C library maps large blocks by default: the room
// a column leaves when it grows (a listing decoded as it arrives grows every column) is then given
// back at once instead of staying in the heap. At 1 MiB the peak of a 100,000-row listing was
// 2.2x its packet, at 128 KiB 1.6x.
constexpr size_t kMappedBytes = 128 * 1024;
} // namespace

void *allocateColumnBytes(size_t bytes)
{
    if (bytes >= kMappedBytes) {
        void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        return p;
    }
    void *p = std::malloc(std::max<size_t>(bytes, 1));
    if (!p)
        throw std::bad_alloc();
    return p;
}

void freeColumnBytes(void *p, size_t bytes)
{
    if (!p)
        return;
    if (bytes >= kMappedBytes)
        munmap(p, bytes);
    else
        std::free(p);
}

// ---------------------------------------------------------------------------------------------
// Arena

// Moves `used` bytes of an array of `cap` bytes into one of `newCap` (a mapped one is remapped).
char *resizeColumnBytes(char *data, qsizetype used, qsizetype cap, qsizetype newCap)
{
    if (data && size_t(cap) >= kMappedBytes && size_t(newCap) >= kMappedBytes) {
        void *moved = mremap(data, size_t(cap), size_t(newCap), MREMAP_MAYMOVE);
        if (moved == MAP_FAILED)
            throw std::bad_alloc();
        return static_cast<char *>(moved);
    }
    char *fresh = static_cast<char *>(allocateColumnBytes(size_t(newCap)));
    if (used > 0)
        std::memcpy(fresh, data, size_t(used));
    freeColumnBytes(data, size_t(cap));
    return fresh;
}

char *Arena::reserveMore(qsizetype n)
{
    // Bounded so that neither the sum nor the doubling below can overflow.
    constexpr qsizetype kMax = std::numeric_limits<qsizetype>::max() / 4;
    if (n < 0 || n > kMax - m_size)
        throw std::bad_alloc();
    if (m_size + n > m_cap) {
        qsizetype cap = std::max<qsizetype>(m_cap * 2, 256);
        while (cap < m_size + n)
            cap *= 2;
        m_data = resizeColumnBytes(m_data, m_size, m_cap, cap);
        m_cap = cap;
    }
    return m_data + m_size;
}

void Arena::append(const char *bytes, qsizetype n)
{
    if (n <= 0)
        return;
    char *at = reserveMore(n);
    std::memcpy(at, bytes, size_t(n));
    m_size += n;
}

void Arena::shrinkToFit()
{
    if (m_cap == m_size)
        return;
    if (m_size == 0) {
        freeColumnBytes(m_data, size_t(m_cap));
        m_data = nullptr;
        m_cap = 0;
        return;
    }
    m_data = resizeColumnBytes(m_data, m_size, m_cap, m_size);
    m_cap = m_size;
}

// ---------------------------------------------------------------------------------------------
// Column

void Column::reserve(qsizetype rows)
{
    if (isText()) {
        start.reserve(size_t(rows));
        len.reserve(size_t(rows));
    } else {
        num.reserve(size_t(rows));
        if (type == FieldType::Float)
            nullBits.reserve(size_t(rows / 64 + 1));
    }
}

void Column::appendNull()
{
    if (isText()) {
        start.push_back(quint32(text.size()));
        len.push_back(0);
        return;
    }
    const qint32 row = qint32(num.size());
    num.push_back(0.0);
    if (type == FieldType::Float) {
        if ((row & 63) == 0)
            nullBits.push_back(0);
        setNullFlag(row, true);
    }
}

void Column::appendNumber(double d)
{
    const qint32 row = qint32(num.size());
    num.push_back(d);
    if (type == FieldType::Float && (row & 63) == 0)
        nullBits.push_back(0);
}

bool Column::appendCutText(QByteArrayView utf8)
{
    qsizetype n = utf8Cut(utf8.data(), utf8.size(), size);
    if (type == FieldType::FixedString)
        while (n > 0 && utf8[n - 1] == ' ')
            --n;
    const qsizetype begin = text.size();
    if (begin + n > qsizetype(UINT32_MAX))
        return false;
    text.append(utf8.data(), n);
    start.push_back(quint32(begin));
    len.push_back(quint32(n));
    return true;
}

QString Column::string(qint32 row) const
{
    if (isNull(row))
        return QString();
    QString s = QString::fromUtf8(utf8(row));
    if (type == FieldType::FixedString && s.size() < size)
        s = s.leftJustified(size, QLatin1Char(' '));
    return s;
}

Variant Column::value(qint32 row) const
{
    if (isNull(row))
        return Variant();
    switch (type) {
    case FieldType::String:
    case FieldType::FixedString:
        return Variant(string(row));
    case FieldType::Float:
        return Variant(num[size_t(row)]);
    case FieldType::DateTime:
        return makeDate(TDateTime(num[size_t(row)]));
    }
    return Variant();
}

void Column::setUtf8(qint32 row, const char *bytes, qsizetype n)
{
    if (n <= 0) {
        len[size_t(row)] = 0;
        return;
    }
    if (text.size() + n > qsizetype(UINT32_MAX))
        throw DataSetError(QStringLiteral("Texto excede a capacidade do conjunto de dados."));
    start[size_t(row)] = quint32(text.size());
    text.append(bytes, n);
    len[size_t(row)] = quint32(n);
}

void Column::set(qint32 row, const Variant &value)
{
    switch (type) {
    case FieldType::String:
    case FieldType::FixedString: {
        if (!value.isValid() || value.isNull()) {
            len[size_t(row)] = 0;
            return;
        }
        QString text = value.toString();
        if (type == FieldType::FixedString) // kept without its padding, padded when read
            while (text.endsWith(QLatin1Char(' ')))
                text.chop(1);
        const QByteArray bytes = text.toUtf8();
        setUtf8(row, bytes.constData(), bytes.size());
        return;
    }
    case FieldType::Float:
        if (!value.isValid() || value.isNull()) {
            num[size_t(row)] = 0.0;
            setNullFlag(row, true);
        } else {
            num[size_t(row)] = value.toDouble();
            setNullFlag(row, false);
        }
        return;
    case FieldType::DateTime:
        num[size_t(row)] =
            (!value.isValid() || value.isNull()) ? 0.0 : value.value<TDateTime>().value;
        return;
    }
}

qint32 Content::appendRow()
{
    for (Column &c : cols)
        c.appendNull();
    alive.push_back(0);
    return rows++;
}

Content emptyContent(const QList<FieldDef> &defs)
{
    Content c;
    c.cols.reserve(size_t(defs.size()));
    for (const FieldDef &def : defs)
        c.cols.emplace_back(def.type, def.effectiveSize());
    return c;
}

QList<FieldDef> fieldDefsOf(const QList<PacketField> &fields)
{
    QList<FieldDef> defs;
    defs.reserve(fields.size());
    for (const PacketField &f : fields) {
        FieldDef def;
        def.name = f.name;
        def.type = f.type;
        def.size = f.size;
        defs.append(def);
    }
    return defs;
}

Content copyContent(const Content &content)
{
    Content copy;
    copy.cols.reserve(content.cols.size());
    for (const Column &c : content.cols) {
        Column &d = copy.cols.emplace_back(c.type, c.size);
        d.text.append(c.text.data(), c.text.size());
        d.start = c.start;
        d.len = c.len;
        d.num = c.num;
        d.nullBits = c.nullBits;
    }
    copy.rows = content.rows;
    copy.alive = content.alive;
    copy.natural = content.natural;
    return copy;
}

// ---------------------------------------------------------------------------------------------
// Conversions

qsizetype utf8Cut(const char *bytes, qsizetype n, int maxChars)
{
    if (n <= maxChars)
        return n; // never more characters than bytes
    int chars = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) {
            if (chars == maxChars)
                return i;
            ++chars;
        }
    }
    return n;
}

namespace {

const QLocale &brLocale()
{
    static const QLocale locale = [] {
        QLocale l(QLocale::Portuguese, QLocale::Brazil);
        l.setNumberOptions(QLocale::OmitGroupSeparator);
        return l;
    }();
    return locale;
}

const QLocale &brLocaleGrouped()
{
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

QString cutText(const QString &text, FieldType type, int size)
{
    QString s = text.size() > size ? text.left(size) : text;
    if (type == FieldType::FixedString && !s.isEmpty() && s.size() < size)
        s = s.leftJustified(size, QLatin1Char(' '));
    return s;
}

} // namespace

QString floatToText(double value)
{
    return brLocale().toString(value, 'g', QLocale::FloatingPointShortest);
}

QString dateToText(TDateTime value)
{
    if (value.isNull() || !value.inRange())
        return QString();
    // Worked out on the calendar alone: a time of day read in the local zone would meet its
    // daylight-saving gaps (a midnight that does not exist there shows as 01:00) and costs a
    // zone look-up per value.
    constexpr qint64 kMsPerDay = 86400000;
    const double whole = std::floor(value.value);
    qint64 ms = std::llround((value.value - whole) * double(kMsPerDay));
    QDate date = QDate(1899, 12, 30).addDays(qint64(whole));
    if (ms >= kMsPerDay) {
        date = date.addDays(1);
        ms -= kMsPerDay;
    }
    const QString day = date.toString(u"dd/MM/yyyy");
    if (ms == 0)
        return day;
    return day + QLatin1Char(' ') + QTime::fromMSecsSinceStartOfDay(int(ms)).toString(u"hh:mm:ss");
}

bool textToFloat(const QString &text, double *out)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    double d = brLocaleGrouped().toDouble(t, &ok);
    if (!ok)
        d = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(d))
        return false;
    *out = d;
    return true;
}

bool textToDate(const QString &text, TDateTime *out)
{
    const QString t = text.trimmed();
    static const char *const dateTimeFormats[] = {"dd/MM/yyyy hh:mm:ss", "dd/MM/yyyy hh:mm",
                                                  "d/M/yyyy h:m:s",      "d/M/yyyy h:m",
                                                  "yyyy-MM-ddThh:mm:ss", "yyyy-MM-dd hh:mm:ss"};
    static const char *const dateFormats[] = {"dd/MM/yyyy", "d/M/yyyy", "yyyy-MM-dd"};
    // A masked edit leaves blanks where a digit was not typed ("5 /3 /2025").
    QString compact = t;
    compact.remove(QLatin1Char(' '));
    for (const char *f : dateFormats) {
        const QDate d = QDate::fromString(compact, QLatin1String(f));
        if (d.isValid()) {
            *out = TDateTime::fromDate(d);
            return !out->isNull();
        }
    }
    for (const char *f : dateTimeFormats) {
        const QDateTime dt = QDateTime::fromString(t, QLatin1String(f));
        if (dt.isValid()) {
            *out = TDateTime::fromDateTime(dt);
            return !out->isNull();
        }
    }
    return false;
}

Variant convertForField(const Variant &raw, FieldType type, int size, const QString &fieldName)
{
    const Variant v = normalized(raw);
    const VariantKind kind = kindOf(v);
    if (kind == VariantKind::Null)
        return Variant();
    auto mismatch = [&](const QString &why) {
        return DataSetError(
            QStringLiteral("Valor inválido para o campo '%1': %2.").arg(fieldName, why));
    };
    switch (type) {
    case FieldType::String:
    case FieldType::FixedString: {
        QString s;
        if (kind == VariantKind::Text)
            s = v.toString();
        else if (kind == VariantKind::Float)
            s = floatToText(v.toDouble());
        else if (kind == VariantKind::Date)
            s = dateToText(v.value<TDateTime>());
        else
            throw mismatch(QStringLiteral("esperado texto, recebido %1").arg(kindName(kind)));
        if (s.isEmpty())
            return Variant();
        return Variant(cutText(s, type, size));
    }
    case FieldType::Float: {
        if (kind == VariantKind::Float) {
            // A packet cannot carry them: every reader refuses them.
            if (!std::isfinite(v.toDouble()))
                throw mismatch(QStringLiteral("número inválido (%1)").arg(v.toDouble()));
            return v;
        }
        if (kind == VariantKind::Date)
            return Variant(v.value<TDateTime>().value);
        if (kind == VariantKind::Text) {
            if (v.toString().trimmed().isEmpty())
                return Variant();
            double d = 0;
            if (textToFloat(v.toString(), &d))
                return Variant(d);
            throw mismatch(QStringLiteral("'%1' não é um número válido").arg(v.toString()));
        }
        throw mismatch(QStringLiteral("esperado número, recebido %1").arg(kindName(kind)));
    }
    case FieldType::DateTime: {
        TDateTime d;
        if (kind == VariantKind::Date)
            d = v.value<TDateTime>();
        else if (kind == VariantKind::Float)
            d = TDateTime(v.toDouble());
        else if (kind == VariantKind::Text) {
            if (v.toString().trimmed().isEmpty())
                return Variant();
            if (!textToDate(v.toString(), &d))
                throw mismatch(QStringLiteral("'%1' não é uma data válida").arg(v.toString()));
        } else
            throw mismatch(QStringLiteral("esperada data, recebido %1").arg(kindName(kind)));
        if (!d.inRange())
            throw mismatch(QStringLiteral("data fora do intervalo"));
        return d.isNull() ? Variant() : makeDate(d);
    }
    }
    return Variant();
}

} // namespace fis::detail
