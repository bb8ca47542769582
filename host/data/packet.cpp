#include "data/packet.h"
#include "data/storage_p.h"

#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QHash>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace fis {

namespace {

const char kMagic[] = "fis-packet";
constexpr int kMaxFieldSize = 1 << 20;

// The bytes of a packet being written. QByteArray::append takes its general insertion path for
// every item, a cost that shows on a listing of millions of values: these are written through a
// pointer into room reserved in steps.
class Bytes
{
public:
    qsizetype size() const { return m_used; }
    char *data() { return m_data.data(); }
    char *grow(qsizetype n)
    {
        if (m_used + n > m_data.size())
            m_data.resize(std::max(m_data.size() * 2, m_used + n + 4096));
        char *at = m_data.data() + m_used;
        m_used += n;
        return at;
    }
    void append(char c) { *grow(1) = c; }
    void append(const char *p, qsizetype n)
    {
        if (n > 0)
            std::memcpy(grow(n), p, size_t(n));
    }
    void truncate(qsizetype n) { m_used = std::min(n, m_used); }
    QByteArray take()
    {
        m_data.truncate(m_used);
        m_used = 0;
        return std::move(m_data);
    }

private:
    QByteArray m_data; // its size is the room reserved; m_used bytes of it are written
    qsizetype m_used = 0;
};

// Head of a CBOR data item (major type + argument), shortest form.
template <class Out>
void appendCborHead(Out &out, quint8 major, quint64 value)
{
    const quint8 m = quint8(major << 5);
    if (value < 24) {
        out.append(char(m | value));
    } else if (value <= 0xFF) {
        out.append(char(m | 24));
        out.append(char(value));
    } else if (value <= 0xFFFF) {
        out.append(char(m | 25));
        for (int s = 8; s >= 0; s -= 8)
            out.append(char((value >> s) & 0xFF));
    } else if (value <= 0xFFFFFFFFull) {
        out.append(char(m | 26));
        for (int s = 24; s >= 0; s -= 8)
            out.append(char((value >> s) & 0xFF));
    } else {
        out.append(char(m | 27));
        for (int s = 56; s >= 0; s -= 8)
            out.append(char((value >> s) & 0xFF));
    }
}

bool typeFromName(const QString &name, FieldType *out)
{
    for (FieldType t :
         {FieldType::String, FieldType::FixedString, FieldType::Float, FieldType::DateTime}) {
        if (fieldTypeName(t) == name) {
            *out = t;
            return true;
        }
    }
    return false;
}

void writeFieldDefs(QCborStreamWriter &w, const QList<PacketField> &fields)
{
    w.append(QLatin1StringView(kMagic));
    w.append(qint64(kPacketVersion));
    w.startArray(quint64(fields.size()));
    for (const PacketField &f : fields) {
        w.startArray(3);
        w.append(f.name);
        w.append(QLatin1StringView(fieldTypeName(f.type).toLatin1()));
        w.append(qint64(f.size));
        w.endArray();
    }
    w.endArray();
}

void appendText(Bytes &out, QByteArrayView utf8)
{
    appendCborHead(out, 3, quint64(utf8.size()));
    out.append(utf8.data(), utf8.size());
}

void appendDouble(Bytes &out, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    char be[9];
    be[0] = char(0xFB);
    for (int i = 0; i < 8; ++i)
        be[1 + i] = char((bits >> (56 - 8 * i)) & 0xFF);
    out.append(be, sizeof be);
}

void appendNull(Bytes &out)
{
    out.append(char(0xF6));
}

void appendDate(Bytes &out, double days)
{
    appendCborHead(out, 6, kCborTagDateTime);
    appendDouble(out, days);
}

// The head of a packet: array(4), magic, version and the field definitions.
void appendPacketHead(Bytes &out, const QList<PacketField> &fields)
{
    appendCborHead(out, 4, 4);
    appendText(out, QByteArrayView(kMagic, qsizetype(sizeof kMagic - 1)));
    appendCborHead(out, 0, kPacketVersion);
    appendCborHead(out, 4, quint64(fields.size()));
    for (const PacketField &f : fields) {
        appendCborHead(out, 4, 3);
        appendText(out, f.name.toUtf8());
        appendText(out, fieldTypeName(f.type).toLatin1());
        appendCborHead(out, 0, quint64(f.size));
    }
}

// A value already converted for its field (see detail::convertForField).
void appendCell(Bytes &out, FieldType type, const Variant &v)
{
    if (!v.isValid() || v.isNull()) {
        appendNull(out);
        return;
    }
    switch (type) {
    case FieldType::String:
    case FieldType::FixedString:
        appendText(out, v.toString().toUtf8());
        return;
    case FieldType::Float:
        appendDouble(out, v.toDouble());
        return;
    case FieldType::DateTime:
        appendDate(out, v.value<TDateTime>().value);
        return;
    }
}

// --- Decoding --------------------------------------------------------------------------------

} // namespace

namespace detail {

bool readRowDirect(const uchar *&p, const uchar *end, Content &content,
                   const std::vector<int> &bind)
{
    const size_t nFields = bind.size();
    // The argument of a head of major type `major` at p (definite only); false when absent.
    const auto head = [&](int major, quint64 *arg) {
        if (p >= end || (*p >> 5) != major)
            return false;
        const int info = *p & 0x1f;
        if (info < 24) {
            *arg = quint64(info);
            ++p;
            return true;
        }
        if (info > 27)
            return false;
        const int n = 1 << (info - 24);
        if (end - p < 1 + n)
            return false;
        quint64 v = 0;
        for (int i = 1; i <= n; ++i)
            v = (v << 8) | p[i];
        p += 1 + n;
        *arg = v;
        return true;
    };
    // A double or float at p; false for anything else.
    const auto number = [&](double *out) {
        if (p < end && *p == 0xfb && end - p >= 9) {
            quint64 bits = 0;
            for (int i = 1; i <= 8; ++i)
                bits = (bits << 8) | p[i];
            std::memcpy(out, &bits, 8);
            p += 9;
            return true;
        }
        if (p < end && *p == 0xfa && end - p >= 5) {
            quint32 bits = 0;
            for (int i = 1; i <= 4; ++i)
                bits = (bits << 8) | p[i];
            float f = 0;
            std::memcpy(&f, &bits, 4);
            *out = double(f);
            p += 5;
            return true;
        }
        return false;
    };
    quint64 n = 0;
    if (!head(4, &n) || n != nFields)
        return false;
    for (size_t f = 0; f < nFields; ++f) {
        const int t = bind[f];
        detail::Column *c = t < 0 ? nullptr : &content.cols[size_t(t)];
        if (p >= end)
            return false;
        if (*p == 0xf6 || *p == 0xf7) { // null, undefined
            ++p;
            if (c)
                c->appendNull();
            continue;
        }
        if ((*p >> 5) == 3) {
            quint64 len = 0;
            if (!head(3, &len) || len > quint64(end - p) || len > UINT32_MAX)
                return false;
            const auto *text = reinterpret_cast<const char *>(p);
            p += len;
            if (!QByteArrayView(text, qsizetype(len)).isValidUtf8())
                return false;
            if (!c)
                continue;
            if (!c->isText())
                return false;
            if (c->text.size() + qsizetype(len) > qsizetype(UINT32_MAX) ||
                !c->appendCutText(QByteArrayView(text, qsizetype(len))))
                return false;
            continue;
        }
        bool date = false;
        if (end - p >= 3 && p[0] == 0xd9 && p[1] == 0x9c && p[2] == 0x41) { // 40001
            p += 3;
            date = true;
        }
        double d = 0;
        if (!number(&d))
            return false;
        if (!c)
            continue;
        if (c->isText() || !std::isfinite(d))
            return false;
        if (((date && c->type != FieldType::Float) || c->type == FieldType::DateTime) &&
            !TDateTime(d).inRange())
            return false;
        c->appendNumber(d);
    }
    return true;
}

} // namespace detail

namespace {

std::atomic<bool> directRowReading{true};

// Which declared column each packet column fills (-1: none), matched by name whatever the case,
// and which declared columns are filled.
struct Binding
{
    std::vector<int> bind;
    std::vector<bool> bound;
};

Binding bindByName(const QList<PacketField> &fields, const QList<FieldDef> &declared)
{
    Binding b{std::vector<int>(size_t(fields.size()), -1),
              std::vector<bool>(size_t(declared.size()), false)};
    for (qsizetype p = 0; p < fields.size(); ++p) {
        for (qsizetype t = 0; t < declared.size(); ++t) {
            if (!b.bound[size_t(t)] &&
                declared[t].name.compare(fields[p].name, Qt::CaseInsensitive) == 0) {
                b.bind[size_t(p)] = int(t);
                b.bound[size_t(t)] = true;
                break;
            }
        }
    }
    return b;
}

class Decoder
{
public:
    Decoder(const QByteArray &bytes, qint32 rowBase) : m_bytes(bytes), r(bytes), m_rowBase(rowBase)
    {}

    [[noreturn]] void fail(const QString &why) const
    {
        QString where;
        if (m_row >= 0)
            where = QStringLiteral(" (linha %1, campo %2)")
                        .arg(qint64(m_row) + 1 + m_rowBase)
                        .arg(m_fieldName);
        throw PacketError(QStringLiteral("Pacote de dados inválido: %1%2.").arg(why, where));
    }
    void check()
    {
        if (r.lastError() != QCborError::NoError)
            fail(r.lastError().toString().isEmpty()
                     ? QStringLiteral("conteúdo truncado ou corrompido")
                     : QStringLiteral("conteúdo truncado ou corrompido (%1)")
                           .arg(r.lastError().toString()));
    }
    QString readText(const QString &what)
    {
        check();
        if (!r.isString())
            fail(QStringLiteral("esperado texto em %1").arg(what));
        QString all;
        auto s = r.readString();
        while (s.status == QCborStreamReader::Ok) {
            all += s.data;
            s = r.readString();
        }
        if (s.status == QCborStreamReader::Error)
            fail(QStringLiteral("texto corrompido em %1").arg(what));
        return all;
    }
    qint64 readInt(const QString &what)
    {
        check();
        if (!r.isInteger())
            fail(QStringLiteral("esperado inteiro em %1").arg(what));
        // toInteger() is undefined beyond the qint64 range; such a number is out of place here.
        qint64 v = 0;
        if (r.isUnsignedInteger()) {
            const quint64 u = r.toUnsignedInteger();
            if (u > quint64(std::numeric_limits<qint64>::max()))
                fail(QStringLiteral("inteiro fora do intervalo em %1").arg(what));
            v = qint64(u);
        } else {
            const quint64 n = quint64(r.toNegativeInteger()); // the value is -1 - n
            if (n > quint64(std::numeric_limits<qint64>::max()))
                fail(QStringLiteral("inteiro fora do intervalo em %1").arg(what));
            v = -1 - qint64(n);
        }
        r.next();
        check();
        return v;
    }
    // Enters an array; returns its length or -1 when indefinite.
    qint64 enterArray(const QString &what)
    {
        check();
        if (!r.isArray())
            fail(QStringLiteral("esperada lista em %1").arg(what));
        const qint64 n = r.isLengthKnown() ? qint64(r.length()) : -1;
        if (!r.enterContainer())
            fail(QStringLiteral("lista corrompida em %1").arg(what));
        return n;
    }
    void leave()
    {
        check();
        if (!r.leaveContainer())
            fail(QStringLiteral("conteúdo truncado ou corrompido"));
    }
    void skipValue()
    {
        if (!r.next(kMaxVariantDepth))
            fail(QStringLiteral("conteúdo truncado ou corrompido"));
    }

    QList<PacketField> readHeader()
    {
        enterArray(QStringLiteral("pacote"));
        if (readText(QStringLiteral("cabeçalho")) != QLatin1String(kMagic))
            fail(QStringLiteral("cabeçalho desconhecido"));
        const qint64 version = readInt(QStringLiteral("versão"));
        if (version != kPacketVersion)
            fail(QStringLiteral("versão %1 não suportada").arg(version));
        QList<PacketField> fields;
        QHash<QString, int> seen;
        const qint64 n = enterArray(QStringLiteral("campos"));
        while (r.hasNext()) {
            check();
            const QString what = QStringLiteral("campo %1").arg(fields.size() + 1);
            enterArray(what);
            PacketField f;
            f.name = readText(what);
            if (f.name.isEmpty())
                fail(QStringLiteral("campo %1 sem nome").arg(fields.size() + 1));
            const QString typeName = readText(what);
            if (!typeFromName(typeName, &f.type))
                fail(QStringLiteral("tipo '%1' desconhecido no campo %2").arg(typeName, f.name));
            const qint64 size = readInt(what);
            if (size < 0 || size > kMaxFieldSize)
                fail(QStringLiteral("tamanho %1 inválido no campo %2").arg(size).arg(f.name));
            f.size = int(size);
            while (r.hasNext())
                skipValue(); // later versions may add attributes
            leave();
            if (seen.contains(f.name.toUpper()))
                fail(QStringLiteral("campo %1 repetido").arg(f.name));
            seen.insert(f.name.toUpper(), int(fields.size()));
            fields.append(f);
        }
        leave();
        if (n >= 0 && n != fields.size())
            fail(QStringLiteral("lista de campos inconsistente"));
        return fields;
    }

    detail::Content readContent(const QList<FieldDef> &declared, QList<PacketField> *packetFields)
    {
        const QList<PacketField> fields = readHeader();
        if (packetFields)
            *packetFields = fields;

        const QList<FieldDef> target = declared.isEmpty() ? detail::fieldDefsOf(fields) : declared;
        detail::Content content = detail::emptyContent(target);

        const Binding binding = bindByName(fields, target);
        const std::vector<int> &bind = binding.bind;
        const std::vector<bool> &bound = binding.bound;

        const qint64 announced = enterArray(QStringLiteral("linhas"));
        const auto reserveRows = [&] {
            if (announced <= 0)
                return;
            // A row takes at least one byte per value plus its head: never reserve more rows
            // than the input can hold, whatever a corrupt count announces.
            const qint64 fit = m_bytes.size() / (1 + fields.size());
            const qsizetype rows = qsizetype(std::min<qint64>(announced, fit));
            for (qsizetype t = 0; t < target.size(); ++t)
                if (bound[size_t(t)])
                    content.cols[size_t(t)].reserve(rows);
        };
        reserveRows();
        if (const qint32 rows = readRowsDirect(content, bind, announced); rows >= 0)
            return finishContent(std::move(content), target, bound, rows);
        content = detail::emptyContent(target);
        reserveRows();
        const qsizetype nFields = fields.size();
        qint32 row = 0;
        while (r.hasNext()) {
            m_row = row;
            m_fieldName.clear();
            check();
            if (!r.isArray())
                fail(QStringLiteral("linha não é uma lista"));
            if (r.isLengthKnown() && qsizetype(r.length()) != nFields)
                fail(QStringLiteral("linha com %1 valores para %2 campos")
                         .arg(r.length())
                         .arg(nFields));
            if (!r.enterContainer())
                fail(QStringLiteral("linha corrompida"));
            for (qsizetype p = 0; p < nFields; ++p) {
                if (!r.hasNext()) {
                    m_fieldName = fields[p].name;
                    check();
                    fail(QStringLiteral("linha com valores a menos"));
                }
                const int t = bind[size_t(p)];
                if (t < 0) {
                    m_fieldName = fields[p].name;
                    skipScalar();
                } else {
                    readCell(content.cols[size_t(t)], target[t]);
                }
            }
            if (r.hasNext())
                fail(QStringLiteral("linha com valores a mais"));
            leave();
            if (row == std::numeric_limits<qint32>::max())
                fail(QStringLiteral("linhas demais"));
            ++row;
        }
        m_row = -1;
        leave();
        if (announced >= 0 && announced != row)
            fail(QStringLiteral("contagem de linhas inconsistente"));
        leave();
        check();
        if (r.currentOffset() != m_bytes.size())
            fail(QStringLiteral("dados a mais após o fim do pacote"));
        return finishContent(std::move(content), target, bound, row);
    }

private:
    static detail::Content finishContent(detail::Content content, const QList<FieldDef> &target,
                                         const std::vector<bool> &bound, qint32 row)
    {
        content.rows = row;
        for (qsizetype t = 0; t < target.size(); ++t) {
            detail::Column &c = content.cols[size_t(t)];
            if (!bound[size_t(t)]) {
                c.reserve(row);
                for (qint32 i = 0; i < row; ++i)
                    c.appendNull();
            }
            c.text.shrinkToFit();
        }
        content.alive.assign(size_t(row), 1);
        content.natural.resize(size_t(row));
        for (qint32 i = 0; i < row; ++i)
            content.natural[size_t(i)] = i;
        return content;
    }

    // The rows of a packet as this system writes them (definite rows, definite texts, nulls,
    // doubles and floats, dates tagged), read straight from the bytes: the stream reader costs
    // several times more per value. Answers the number of rows, or -1 as soon as anything is
    // not plainly valid in that form; the caller then reads the rows again with the stream
    // reader, which accepts every form and words every error. So whatever this accepts loads
    // exactly as the stream reader would load it.
    qint32 readRowsDirect(detail::Content &content, const std::vector<int> &bind,
                          qint64 announced) const
    {
        // The packet must be the array of four whose last item the rows are: then the rows end
        // where the bytes end.
        if (!directRowReading.load(std::memory_order_relaxed) || uchar(m_bytes.at(0)) != 0x84 ||
            announced < 0 || announced > std::numeric_limits<qint32>::max())
            return -1;
        const auto *p = reinterpret_cast<const uchar *>(m_bytes.constData()) + r.currentOffset();
        const auto *end = reinterpret_cast<const uchar *>(m_bytes.constData()) + m_bytes.size();
        for (qint64 row = 0; row < announced; ++row)
            if (!detail::readRowDirect(p, end, content, bind))
                return -1;
        return p == end ? qint32(announced) : -1;
    }

    // A value of a packet column that the set does not keep: checked, not stored.
    void skipScalar()
    {
        check();
        if (r.isArray() || r.isMap())
            fail(QStringLiteral("valor composto não suportado"));
        if (r.isTag()) {
            if (r.toTag() != QCborTag(kCborTagDateTime))
                fail(QStringLiteral("marca CBOR desconhecida"));
            r.next();
            check();
            if (r.isArray() || r.isMap() || r.isTag())
                fail(QStringLiteral("data corrompida"));
        }
        skipValue();
    }

    bool readNumber(double *out)
    {
        switch (r.type()) {
        case QCborStreamReader::Double:
            *out = r.toDouble();
            break;
        case QCborStreamReader::Float:
            *out = double(r.toFloat());
            break;
        case QCborStreamReader::Float16:
            *out = double(r.toFloat16());
            break;
        case QCborStreamReader::UnsignedInteger:
            *out = double(r.toUnsignedInteger());
            break;
        case QCborStreamReader::NegativeInteger:
            *out = -double(quint64(r.toNegativeInteger()));
            break;
        default:
            return false;
        }
        r.next();
        return true;
    }

    void storeNumber(detail::Column &c, const FieldDef &def, double d, bool isDate)
    {
        if (!std::isfinite(d))
            fail(QStringLiteral("número inválido"));
        if ((isDate || c.type == FieldType::DateTime) && !TDateTime(d).inRange())
            fail(QStringLiteral("data fora do intervalo (anos 1 a 9999)"));
        if (c.isText()) {
            const QString s = isDate ? detail::dateToText(TDateTime(d)) : detail::floatToText(d);
            storeConverted(c, def, Variant(s));
            return;
        }
        c.appendNumber(d);
    }

    void storeConverted(detail::Column &c, const FieldDef &def, const Variant &v)
    {
        Variant converted;
        try {
            converted = detail::convertForField(v, c.type, c.size, def.name);
        } catch (const DataSetError &e) {
            fail(e.message());
        }
        const qint32 row = c.rowCount();
        c.appendNull();
        c.set(row, converted);
    }

    // A reader error shows as an Invalid type, which lands in the default branch below.
    void readCell(detail::Column &c, const FieldDef &def)
    {
        switch (r.type()) {
        case QCborStreamReader::String:
            if (c.isText()) {
                readTextInto(c, def);
            } else {
                m_fieldName = def.name;
                storeConverted(c, def, Variant(readText(QStringLiteral("valor"))));
            }
            return;
        case QCborStreamReader::SimpleType:
            if (!r.isNull() && !r.isUndefined()) {
                m_fieldName = def.name;
                fail(QStringLiteral("valor de tipo não suportado"));
            }
            r.next();
            c.appendNull();
            return;
        case QCborStreamReader::Tag: {
            m_fieldName = def.name;
            if (r.toTag() != QCborTag(kCborTagDateTime))
                fail(QStringLiteral("marca CBOR desconhecida"));
            r.next();
            check();
            double d = 0;
            if (!readNumber(&d))
                fail(QStringLiteral("data corrompida"));
            storeNumber(c, def, d, c.type != FieldType::Float);
            return;
        }
        default: {
            double d = 0;
            if (!readNumber(&d)) {
                m_fieldName = def.name;
                check();
                fail(QStringLiteral("valor de tipo não suportado"));
            }
            storeNumber(c, def, d, false);
            return;
        }
        }
    }

    void readTextInto(detail::Column &c, const FieldDef &def)
    {
        const qsizetype begin = c.text.size();
        for (;;) {
            qsizetype chunk = r.currentStringChunkSize();
            if (chunk < 0)
                chunk = 0;
            // The claimed size is only a claim: never reserve more than the packet still holds.
            if (chunk > m_bytes.size() - r.currentOffset()) {
                m_fieldName = def.name;
                c.text.truncate(begin);
                fail(QStringLiteral("texto de %1 bytes além do fim do pacote").arg(chunk));
            }
            char *at = c.text.reserveMore(chunk);
            const auto res = r.readStringChunk(at, chunk);
            if (res.status == QCborStreamReader::EndOfString)
                break;
            if (res.status == QCborStreamReader::Error) {
                m_fieldName = def.name;
                c.text.truncate(begin);
                check();
                fail(QStringLiteral("texto corrompido"));
            }
            // Every chunk of a text is UTF-8 on its own; the reader does not check it here.
            if (!QByteArrayView(at, res.data).isValidUtf8()) {
                m_fieldName = def.name;
                c.text.truncate(begin);
                fail(QStringLiteral("texto com UTF-8 inválido"));
            }
            c.text.commit(res.data);
        }
        qsizetype n = c.text.size() - begin;
        if (n > qsizetype(UINT32_MAX) || c.text.size() > qsizetype(UINT32_MAX))
            fail(QStringLiteral("texto grande demais"));
        n = detail::utf8Cut(c.text.data() + begin, n, c.size);
        if (c.type == FieldType::FixedString) // kept without its padding, padded when read
            while (n > 0 && c.text.data()[begin + n - 1] == ' ')
                --n;
        c.text.truncate(begin + n);
        c.start.push_back(quint32(begin));
        c.len.push_back(quint32(n));
    }

    const QByteArray &m_bytes;
    QCborStreamReader r;
    qint32 m_row = -1;
    qint32 m_rowBase = 0; // rows before these bytes, for the row numbers of errors
    QString m_fieldName;
};

} // namespace

PacketError::PacketError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{}

namespace detail {

void setDirectRowReading(bool on)
{
    directRowReading.store(on, std::memory_order_relaxed);
}

namespace {

// One value of a decoded packet, loaded into a declared field as the whole decode loads the
// packet's bytes: the value as they hold it (a fixed text padded), cut and converted alike.
class DecodedLoader
{
public:
    DecodedLoader(Column &dst, const FieldDef &def) : m_dst(dst), m_def(def) {}

    void append(const Column &src, qint32 row)
    {
        if (src.isNull(row)) {
            m_dst.appendNull();
            return;
        }
        switch (src.type) {
        case FieldType::String:
        case FieldType::FixedString:
            if (!m_dst.isText()) {
                store(Variant(src.string(row)));
            } else if (src.type == FieldType::String) {
                appendText(src.utf8(row));
            } else {
                appendText(src.string(row).toUtf8());
            }
            return;
        case FieldType::Float:
            number(src.num[size_t(row)], false);
            return;
        case FieldType::DateTime:
            number(src.num[size_t(row)], m_dst.type != FieldType::Float);
            return;
        }
    }

private:
    void appendText(QByteArrayView utf8)
    {
        if (!m_dst.appendCutText(utf8))
            throw PacketError(QStringLiteral("texto grande demais"));
    }
    void number(double d, bool isDate)
    {
        if ((isDate || m_dst.type == FieldType::DateTime) && !TDateTime(d).inRange())
            throw PacketError(QStringLiteral("data fora do intervalo (anos 1 a 9999)"));
        if (m_dst.isText()) {
            store(Variant(isDate ? dateToText(TDateTime(d)) : floatToText(d)));
            return;
        }
        m_dst.appendNumber(d);
    }
    void store(const Variant &v)
    {
        Variant converted;
        try {
            converted = convertForField(v, m_dst.type, m_dst.size, m_def.name);
        } catch (const DataSetError &e) {
            throw PacketError(e.message());
        }
        const qint32 at = m_dst.rowCount();
        m_dst.appendNull();
        m_dst.set(at, converted);
    }

    Column &m_dst;
    FieldDef m_def;
};

} // namespace

Content loadDecoded(const DecodedPacket &packet, const QList<FieldDef> &declared)
{
    const QList<PacketField> &fields = packet.fields;
    const Content &from = packet.content;
    Content content = emptyContent(declared);
    const Binding binding = bindByName(fields, declared);
    const std::vector<int> &bind = binding.bind;
    const std::vector<bool> &bound = binding.bound;
    const qint32 rows = qint32(from.natural.size());
    for (size_t t = 0; t < bound.size(); ++t)
        content.cols[t].reserve(rows);
    // The bound packet columns, each with its loader.
    std::vector<std::pair<size_t, DecodedLoader>> loaders;
    for (size_t p = 0; p < bind.size(); ++p)
        if (const int t = bind[p]; t >= 0)
            loaders.emplace_back(p, DecodedLoader(content.cols[size_t(t)], declared[t]));
    for (qint32 i = 0; i < rows; ++i) {
        const qint32 row = from.natural[size_t(i)];
        for (auto &[p, loader] : loaders) {
            try {
                loader.append(from.cols[p], row);
            } catch (const PacketError &e) {
                throw PacketError(
                    QStringLiteral("Pacote de dados inválido: %1 (linha %2, campo %3).")
                        .arg(e.message())
                        .arg(i + 1)
                        .arg(declared[bind[p]].name));
            }
        }
    }
    for (size_t t = 0; t < bound.size(); ++t) {
        Column &c = content.cols[t];
        if (!bound[t])
            for (qint32 i = 0; i < rows; ++i)
                c.appendNull();
        c.text.shrinkToFit();
    }
    content.rows = rows;
    content.alive.assign(size_t(rows), 1);
    content.natural.resize(size_t(rows));
    for (qint32 i = 0; i < rows; ++i)
        content.natural[size_t(i)] = i;
    return content;
}

Content decodePacket(const QByteArray &bytes, const QList<FieldDef> &declared,
                     QList<PacketField> *packetFields, qint32 rowBase)
{
    if (bytes.isEmpty())
        throw PacketError(QStringLiteral("Pacote de dados vazio."));
    Decoder decoder(bytes, rowBase);
    return decoder.readContent(declared, packetFields);
}

QByteArray encodeContent(const QList<FieldDef> &defs, const Content &content,
                         const std::vector<qint32> &rows)
{
    QByteArray out;
    out.reserve(qsizetype(rows.size()) * defs.size() * 8 + 256);
    {
        QList<PacketField> fields;
        for (const FieldDef &d : defs)
            fields.append(PacketField{d.name, d.type, d.effectiveSize()});
        QCborStreamWriter w(&out);
        w.startArray(4);
        writeFieldDefs(w, fields);
        w.startArray(quint64(rows.size()));
        for (qint32 row : rows) {
            w.startArray(quint64(defs.size()));
            for (size_t c = 0; c < content.cols.size(); ++c) {
                const Column &col = content.cols[c];
                if (col.isNull(row)) {
                    w.append(nullptr);
                } else if (col.type == FieldType::String) {
                    const QByteArrayView s = col.utf8(row);
                    w.appendTextString(s.data(), s.size());
                } else if (col.type == FieldType::FixedString) {
                    w.append(col.string(row));
                } else if (col.type == FieldType::Float) {
                    w.append(col.num[size_t(row)]);
                } else {
                    w.append(QCborTag(kCborTagDateTime));
                    w.append(col.num[size_t(row)]);
                }
            }
            w.endArray();
        }
        w.endArray();
        w.endArray();
    }
    return out;
}

} // namespace detail

// --- PacketWriter ----------------------------------------------------------------------------

// The packet is written in one buffer: its head, a gap of nine bytes for the head of the rows
// array (its length is known at the end), then the rows. finish() puts the head next to the
// rows and drops what is left of the gap, so the bytes are never copied as a whole.
constexpr qsizetype kRowsHeadGap = 9;

struct PacketWriter::Private
{
    QList<PacketField> fields;
    Bytes out;
    qsizetype rowsAt = -1; // where the rows begin, once the head is written
    int rowCount = 0;
    qsizetype rowStart = 0; // of the row being written
    int column = -1;        // next field of the row being written; -1 outside a row
    Sink sink;              // pieces mode: where the bytes go
    qsizetype pieceBytes = 0;

    void startRows()
    {
        if (rowsAt >= 0)
            return;
        appendPacketHead(out, fields);
        if (sink) {
            out.append(char(0x9f)); // rows of indefinite length, ended by finish()
        } else {
            std::memset(out.grow(kRowsHeadGap), 0, kRowsHeadGap);
        }
        rowsAt = out.size();
    }
    // After a whole row: hands out what is waiting once it is a piece.
    void rowDone()
    {
        ++rowCount;
        if (sink && out.size() >= pieceBytes)
            flush();
    }
    void flush()
    {
        sink(QByteArrayView(out.data(), out.size()));
        out.truncate(0);
    }
    // The field of the next cell; throws when the row is already full or not begun.
    const PacketField &nextField()
    {
        if (column < 0)
            throw PacketError(QStringLiteral("Valor fora de uma linha."));
        if (column >= fields.size())
            dropRow(QStringLiteral("Linha com valores demais para %1 campos.").arg(fields.size()));
        return fields[column];
    }
    [[noreturn]] void dropRow(const QString &why)
    {
        out.truncate(rowStart);
        column = -1;
        throw PacketError(why);
    }
};

PacketWriter::PacketWriter() : d(std::make_unique<Private>()) {}

PacketWriter::PacketWriter(const QList<PacketField> &fields) : PacketWriter()
{
    for (const PacketField &f : fields)
        addField(f.name, f.type, f.size);
}

PacketWriter::PacketWriter(const QList<PacketField> &fields, Sink sink, qsizetype pieceBytes)
    : PacketWriter(fields)
{
    d->sink = std::move(sink);
    d->pieceBytes = std::max<qsizetype>(pieceBytes, 1);
}

PacketWriter::~PacketWriter() = default;

void PacketWriter::addField(const QString &name, FieldType type, int size)
{
    if (d->rowsAt >= 0)
        throw PacketError(QStringLiteral("Campo '%1' declarado depois das linhas.").arg(name));
    if (name.isEmpty())
        throw PacketError(QStringLiteral("Campo sem nome."));
    if (size < 0 || size > kMaxFieldSize)
        throw PacketError(QStringLiteral("Tamanho %1 inválido no campo '%2'.").arg(size).arg(name));
    for (const PacketField &f : d->fields)
        if (f.name.compare(name, Qt::CaseInsensitive) == 0)
            throw PacketError(QStringLiteral("Campo '%1' repetido.").arg(name));
    d->fields.append(PacketField{name, type, size});
}

const QList<PacketField> &PacketWriter::fields() const
{
    return d->fields;
}

namespace {

// The common cases (a QString within its size, a double) skip the general conversion.
bool fitsAsIs(const Variant &v, const PacketField &f)
{
    const QMetaType t = v.metaType();
    if (f.type == FieldType::String && t == QMetaType::fromType<QString>()) {
        const qsizetype n = static_cast<const QString *>(v.constData())->size();
        return n > 0 && n <= (f.size > 0 ? f.size : kDefaultStringSize);
    }
    if (f.type == FieldType::Float && t == QMetaType::fromType<double>())
        return std::isfinite(*static_cast<const double *>(v.constData()));
    if (f.type == FieldType::DateTime && t == QMetaType::fromType<TDateTime>())
        return static_cast<const TDateTime *>(v.constData())->inRange();
    return false;
}

Variant converted(const Variant &v, const PacketField &f)
{
    if (fitsAsIs(v, f))
        return v;
    try {
        return detail::convertForField(v, f.type, f.size > 0 ? f.size : kDefaultStringSize, f.name);
    } catch (const DataSetError &e) {
        throw PacketError(e.message());
    }
}

// UTF-16 code units of valid UTF-8: the length a QString of it would have.
qsizetype utf16Length(QByteArrayView utf8)
{
    qsizetype n = 0;
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if ((b & 0xC0) != 0x80)
            n += b >= 0xF0 ? 2 : 1;
    }
    return n;
}

} // namespace

void PacketWriter::addRow(const QVariantList &values)
{
    if (values.size() != d->fields.size())
        throw PacketError(QStringLiteral("Linha com %1 valores para %2 campos.")
                              .arg(values.size())
                              .arg(d->fields.size()));
    // Convert everything first so a bad value leaves the writer as it was.
    QVariantList cells = values;
    for (qsizetype i = 0; i < values.size(); ++i)
        cells[i] = converted(values[i], d->fields[i]);
    d->startRows();
    appendCborHead(d->out, 4, quint64(cells.size()));
    for (qsizetype i = 0; i < cells.size(); ++i)
        appendCell(d->out, d->fields[i].type, cells[i]);
    d->rowDone();
}

int PacketWriter::rowCount() const
{
    return d->rowCount;
}

void PacketWriter::beginRow()
{
    if (d->column >= 0)
        d->dropRow(QStringLiteral("Linha começada antes do fim da anterior."));
    d->startRows();
    d->rowStart = d->out.size();
    d->column = 0;
    appendCborHead(d->out, 4, quint64(d->fields.size()));
}

void PacketWriter::addNull()
{
    d->nextField();
    appendNull(d->out);
    ++d->column;
}

void PacketWriter::addText(QByteArrayView utf8)
{
    const PacketField &f = d->nextField();
    const qsizetype size = f.size > 0 ? f.size : kDefaultStringSize;
    if (!utf8.isValidUtf8())
        d->dropRow(QStringLiteral("Texto com UTF-8 inválido no campo '%1'.").arg(f.name));
    // A text within its field goes as it is (at most one UTF-16 unit per byte); anything else
    // (padding, cutting, another field type) takes the general conversion.
    if (f.type == FieldType::String && !utf8.isEmpty() &&
        (utf8.size() <= size || utf16Length(utf8) <= size)) {
        appendText(d->out, utf8);
        ++d->column;
        return;
    }
    addValue(Variant(QString::fromUtf8(utf8)));
}

void PacketWriter::addText(const QString &text)
{
    const PacketField &f = d->nextField();
    if (f.type == FieldType::String && !text.isEmpty() &&
        text.size() <= (f.size > 0 ? f.size : kDefaultStringSize)) {
        appendText(d->out, text.toUtf8());
        ++d->column;
        return;
    }
    addValue(Variant(text));
}

void PacketWriter::addNumber(double value)
{
    const PacketField &f = d->nextField();
    if (f.type == FieldType::Float && std::isfinite(value)) {
        appendDouble(d->out, value);
        ++d->column;
        return;
    }
    addValue(Variant(value));
}

void PacketWriter::addDate(TDateTime value)
{
    const PacketField &f = d->nextField();
    if (f.type == FieldType::DateTime && value.inRange()) {
        appendDate(d->out, value.value);
        ++d->column;
        return;
    }
    addValue(makeDate(value));
}

void PacketWriter::addValue(const Variant &value)
{
    const PacketField &f = d->nextField();
    Variant cell;
    try {
        cell = converted(value, f);
    } catch (const PacketError &e) {
        d->dropRow(e.message());
    }
    appendCell(d->out, f.type, cell);
    ++d->column;
}

void PacketWriter::endRow()
{
    if (d->column < 0)
        throw PacketError(QStringLiteral("Fim de linha sem linha começada."));
    if (d->column != d->fields.size())
        d->dropRow(QStringLiteral("Linha com %1 valores para %2 campos.")
                       .arg(d->column)
                       .arg(d->fields.size()));
    d->column = -1;
    d->rowDone();
}

DataPacket PacketWriter::finish()
{
    if (d->column >= 0)
        d->dropRow(QStringLiteral("Pacote terminado no meio de uma linha."));
    d->startRows();
    if (d->sink) {
        d->out.append(char(0xff));
        d->flush();
        Sink sink = std::move(d->sink);
        const qsizetype pieceBytes = d->pieceBytes;
        d = std::make_unique<Private>();
        d->sink = std::move(sink);
        d->pieceBytes = pieceBytes;
        return DataPacket();
    }
    QByteArray head;
    appendCborHead(head, 4, quint64(d->rowCount));
    // Move the packet's head up against the rows' head, then drop the rest of the gap in front.
    QByteArray out = d->out.take();
    const qsizetype headLen = d->rowsAt - kRowsHeadGap;
    const qsizetype shift = kRowsHeadGap - head.size();
    char *bytes = out.data();
    std::memmove(bytes + shift, bytes, size_t(headLen));
    std::memcpy(bytes + shift + headLen, head.constData(), size_t(head.size()));
    out.remove(0, shift);
    d = std::make_unique<Private>();
    return DataPacket{out};
}

// --- DataPacket ------------------------------------------------------------------------------

QByteArray DataPacket::encoded() const
{
    if (!bytes.isEmpty())
        return bytes;
    if (source) {
        PacketWriter w(source->fields());
        source->writeRows(w);
        return w.finish().bytes;
    }
    if (decoded)
        return detail::encodeContent(detail::fieldDefsOf(decoded->fields), decoded->content,
                                     decoded->content.natural);
    return {};
}

// --- PacketReader ----------------------------------------------------------------------------

PacketReader::PacketReader(const DataPacket &packet) : PacketReader(packet.encoded()) {}

PacketReader::PacketReader(const QByteArray &bytes)
{
    QList<PacketField> fields;
    const detail::Content content = detail::decodePacket(bytes, {}, &fields);
    m_fields = fields;
    m_rows.reserve(content.rows);
    for (qint32 row = 0; row < content.rows; ++row) {
        QVariantList values;
        values.reserve(qsizetype(content.cols.size()));
        for (const detail::Column &c : content.cols)
            values.append(c.value(row));
        m_rows.append(values);
    }
}

int PacketReader::fieldIndex(const QString &name) const
{
    for (qsizetype i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

DataPacket buildPacket(const QList<PacketField> &fields, const QList<QVariantList> &rows)
{
    PacketWriter w(fields);
    for (const QVariantList &row : rows)
        w.addRow(row);
    return w.finish();
}

} // namespace fis
