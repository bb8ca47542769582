#include "variant.h"

#include <QCborStreamReader>
#include <QCborStreamWriter>

#include <cmath>
#include <stdexcept>

namespace fis {

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

// Reads a complete (possibly chunked) text or byte string.
template <typename Chunk, typename Result, typename ReadFn>
bool readWhole(QCborStreamReader &reader, Result *out, ReadFn readFn)
{
    Result all;
    auto r = (reader.*readFn)();
    while (r.status == QCborStreamReader::Ok) {
        all += r.data;
        r = (reader.*readFn)();
    }
    if (r.status == QCborStreamReader::Error)
        return false;
    *out = all;
    return true;
}

// A CBOR integer as a double. QCborStreamReader::toInteger() overflows for magnitudes beyond
// qint64 (undefined behaviour, and a wrong sign for large unsigned values): read both halves.
double integerValue(const QCborStreamReader &reader)
{
    if (reader.isUnsignedInteger())
        return double(reader.toUnsignedInteger());
    return -1.0 - double(quint64(reader.toNegativeInteger()));
}

} // namespace

TDateTime TDateTime::datePart() const
{
    return TDateTime(std::floor(value));
}

TDateTime TDateTime::fromDate(const QDate &date)
{
    if (!date.isValid())
        return TDateTime();
    return TDateTime(double(kEpoch.daysTo(date)));
}

TDateTime TDateTime::fromDateTime(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return TDateTime();
    const double days = double(kEpoch.daysTo(dateTime.date()));
    const double fraction = dateTime.time().msecsSinceStartOfDay() / kMsPerDay;
    return TDateTime(days + fraction);
}

QDate TDateTime::toDate() const
{
    if (isNull() || !inRange())
        return QDate();
    return kEpoch.addDays(qint64(std::floor(value)));
}

QDateTime TDateTime::toDateTime() const
{
    if (isNull() || !inRange())
        return QDateTime();
    const double whole = std::floor(value);
    const int ms = int(std::llround((value - whole) * kMsPerDay));
    return QDateTime(kEpoch.addDays(qint64(whole)), QTime(0, 0)).addMSecs(ms);
}

VariantKind kindOf(const Variant &v)
{
    if (!v.isValid() || v.isNull())
        return v.metaType() == QMetaType::fromType<DataPacket>() ? VariantKind::Packet
                                                                 : VariantKind::Null;
    const QMetaType t = v.metaType();
    if (t == QMetaType::fromType<QString>())
        return VariantKind::Text;
    if (t == QMetaType::fromType<double>())
        return VariantKind::Float;
    if (t == QMetaType::fromType<TDateTime>())
        return VariantKind::Date;
    if (t == QMetaType::fromType<DataPacket>())
        return VariantKind::Packet;
    if (t == QMetaType::fromType<QVariantList>())
        return VariantKind::Array;
    return VariantKind::Invalid;
}

QString kindName(VariantKind kind)
{
    switch (kind) {
    case VariantKind::Null:
        return QStringLiteral("nulo");
    case VariantKind::Text:
        return QStringLiteral("texto");
    case VariantKind::Float:
        return QStringLiteral("número");
    case VariantKind::Date:
        return QStringLiteral("data");
    case VariantKind::Packet:
        return QStringLiteral("pacote de dados");
    case VariantKind::Array:
        return QStringLiteral("lista");
    case VariantKind::Invalid:
        break;
    }
    return QStringLiteral("tipo desconhecido");
}

Variant normalized(const Variant &v)
{
    if (!v.isValid())
        return Variant();
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Bool:
        return Variant(v.toDouble());
    case QMetaType::QDate:
        return makeDate(TDateTime::fromDate(v.toDate()));
    case QMetaType::QDateTime:
        return makeDate(TDateTime::fromDateTime(v.toDateTime()));
    case QMetaType::QByteArray:
        return Variant(QString::fromUtf8(v.toByteArray()));
    case QMetaType::QVariantList: {
        QVariantList out;
        const QVariantList in = v.toList();
        out.reserve(in.size());
        for (const Variant &item : in)
            out.append(normalized(item));
        return Variant(out);
    }
    default:
        if (v.isNull() && v.metaType() != QMetaType::fromType<DataPacket>())
            return Variant();
        return v;
    }
}

void writeVariant(QCborStreamWriter &writer, const Variant &v)
{
    switch (kindOf(v)) {
    case VariantKind::Null:
        writer.append(nullptr);
        return;
    case VariantKind::Text:
        writer.append(v.toString());
        return;
    case VariantKind::Float:
        writer.append(v.toDouble());
        return;
    case VariantKind::Date:
        writer.append(QCborTag(kCborTagDateTime));
        writer.append(v.value<TDateTime>().value);
        return;
    case VariantKind::Packet:
        writer.append(QCborTag(kCborTagPacket));
        writer.append(v.value<DataPacket>().encoded());
        return;
    case VariantKind::Array: {
        const QVariantList list = v.toList();
        writer.startArray(quint64(list.size()));
        for (const Variant &item : list)
            writeVariant(writer, item);
        writer.endArray();
        return;
    }
    case VariantKind::Invalid:
        break;
    }
    throw std::invalid_argument(std::string("variant of unsupported type ") + v.typeName());
}

bool readVariant(QCborStreamReader &reader, Variant *out, QString *error, int depth)
{
    if (depth > kMaxVariantDepth)
        return fail(error, QStringLiteral("valor aninhado demais"));
    if (reader.lastError() != QCborError::NoError || !reader.isValid())
        return fail(error, QStringLiteral("dados incompletos ou corrompidos"));

    switch (reader.type()) {
    case QCborStreamReader::SimpleType:
        if (!reader.isNull() && !reader.isUndefined())
            return fail(error, QStringLiteral("valor simples não suportado"));
        reader.next();
        *out = Variant();
        return true;
    case QCborStreamReader::String: {
        QString s;
        if (!readWhole<QString>(reader, &s, &QCborStreamReader::readString))
            return fail(error, QStringLiteral("texto corrompido"));
        *out = Variant(s);
        return true;
    }
    case QCborStreamReader::Float16:
    case QCborStreamReader::Float:
    case QCborStreamReader::Double:
    case QCborStreamReader::UnsignedInteger:
    case QCborStreamReader::NegativeInteger: {
        double d = 0;
        if (reader.isDouble())
            d = reader.toDouble();
        else if (reader.isFloat())
            d = double(reader.toFloat());
        else if (reader.isFloat16())
            d = double(float(reader.toFloat16()));
        else
            d = integerValue(reader);
        reader.next();
        *out = Variant(d);
        return true;
    }
    case QCborStreamReader::Tag: {
        const quint64 tag = quint64(reader.toTag());
        reader.next();
        if (tag == kCborTagDateTime) {
            if (!reader.isDouble() && !reader.isFloat() && !reader.isInteger())
                return fail(error, QStringLiteral("data sem valor numérico"));
            const double d = reader.isDouble()  ? reader.toDouble()
                             : reader.isFloat() ? double(reader.toFloat())
                                                : integerValue(reader);
            reader.next();
            if (!TDateTime(d).inRange())
                return fail(error, QStringLiteral("data fora do intervalo (anos 1 a 9999)"));
            *out = makeDate(TDateTime(d));
            return true;
        }
        if (tag == kCborTagPacket) {
            if (!reader.isByteArray())
                return fail(error, QStringLiteral("pacote de dados sem conteúdo binário"));
            QByteArray bytes;
            if (!readWhole<QByteArray>(reader, &bytes, &QCborStreamReader::readByteArray))
                return fail(error, QStringLiteral("pacote de dados corrompido"));
            *out = makePacket(DataPacket{bytes});
            return true;
        }
        return fail(error, QStringLiteral("marca CBOR desconhecida (%1)").arg(tag));
    }
    case QCborStreamReader::Array: {
        if (!reader.enterContainer())
            return fail(error, QStringLiteral("lista corrompida"));
        QVariantList list;
        while (reader.lastError() == QCborError::NoError && reader.hasNext()) {
            Variant item;
            if (!readVariant(reader, &item, error, depth + 1))
                return false;
            list.append(item);
        }
        if (reader.lastError() != QCborError::NoError || !reader.leaveContainer())
            return fail(error, QStringLiteral("lista incompleta"));
        *out = Variant(list);
        return true;
    }
    default:
        break;
    }
    return fail(error, QStringLiteral("tipo de valor não suportado"));
}

QByteArray encodeVariant(const Variant &v)
{
    QByteArray bytes;
    QCborStreamWriter writer(&bytes);
    writeVariant(writer, v);
    return bytes;
}

bool decodeVariant(const QByteArray &bytes, Variant *out, QString *error)
{
    QCborStreamReader reader(bytes);
    Variant v;
    if (!readVariant(reader, &v, error))
        return false;
    if (reader.lastError() != QCborError::NoError)
        return fail(error,
                    QStringLiteral("dados corrompidos: %1").arg(reader.lastError().toString()));
    if (reader.currentOffset() != bytes.size())
        return fail(error, QStringLiteral("dados a mais após o valor"));
    *out = v;
    return true;
}

} // namespace fis
