#include "data/packetdecoder.h"
#include "data/storage_p.h"

#include <algorithm>
#include <limits>

namespace fis {

namespace {

enum class Scan { Whole, Short, Bad };

// The head of the item at p: major type, argument, and whether its length is indefinite.
Scan scanHead(const uchar *&p, const uchar *end, int *major, quint64 *arg, bool *indefinite)
{
    if (p >= end)
        return Scan::Short;
    *major = *p >> 5;
    const int info = *p & 0x1f;
    *indefinite = false;
    *arg = 0;
    if (info < 24) {
        *arg = quint64(info);
        ++p;
        return Scan::Whole;
    }
    if (info == 31) {
        *indefinite = true;
        ++p;
        return Scan::Whole;
    }
    if (info > 27)
        return Scan::Bad;
    const int n = 1 << (info - 24);
    if (end - p < 1 + n)
        return Scan::Short;
    for (int i = 1; i <= n; ++i)
        *arg = (*arg << 8) | p[i];
    p += 1 + n;
    return Scan::Whole;
}

// Skips `n` bytes of content: Short when they are not all there.
Scan skipBytes(const uchar *&p, const uchar *end, quint64 n)
{
    if (n > quint64(end - p))
        return Scan::Short;
    p += n;
    return Scan::Whole;
}

// A string of the given major type at p, definite or in definite chunks of the same type.
Scan scanString(const uchar *&p, const uchar *end, int major, quint64 arg, bool indefinite)
{
    if (!indefinite)
        return skipBytes(p, end, arg);
    for (;;) {
        if (p >= end)
            return Scan::Short;
        if (*p == 0xff) {
            ++p;
            return Scan::Whole;
        }
        int m = 0;
        bool inner = false;
        if (const Scan s = scanHead(p, end, &m, &arg, &inner); s != Scan::Whole)
            return s;
        if (m != major || inner)
            return Scan::Bad;
        if (const Scan s = skipBytes(p, end, arg); s != Scan::Whole)
            return s;
    }
}

// Any item (the packet's head, a row): Bad when it is not well formed. What it may hold is for
// the decode to judge.
Scan scanItem(const uchar *&p, const uchar *end, int depth)
{
    if (depth > kMaxVariantDepth)
        return Scan::Bad;
    int major = 0;
    quint64 arg = 0;
    bool indefinite = false;
    if (const Scan s = scanHead(p, end, &major, &arg, &indefinite); s != Scan::Whole)
        return s;
    switch (major) {
    case 0:
    case 1:
        return indefinite ? Scan::Bad : Scan::Whole;
    case 2:
    case 3:
        return scanString(p, end, major, arg, indefinite);
    case 4:
    case 5: {
        const quint64 per = major == 5 ? 2 : 1;
        for (quint64 i = 0; indefinite || i < arg; ++i) {
            if (indefinite) {
                if (p >= end)
                    return Scan::Short;
                if (*p == 0xff) {
                    ++p;
                    return Scan::Whole;
                }
            }
            for (quint64 k = 0; k < per; ++k)
                if (const Scan s = scanItem(p, end, depth + 1); s != Scan::Whole)
                    return s;
        }
        return Scan::Whole;
    }
    case 6:
        return indefinite ? Scan::Bad : scanItem(p, end, depth + 1);
    default:
        return indefinite ? Scan::Bad : Scan::Whole; // a break out of place
    }
}

// Appends row `row` of `from` to `to` (same fields).
void appendRowOf(detail::Content &to, const detail::Content &from, qint32 row)
{
    for (size_t c = 0; c < to.cols.size(); ++c) {
        detail::Column &dst = to.cols[c];
        const detail::Column &src = from.cols[c];
        if (dst.isText()) {
            const QByteArrayView s = src.utf8(row);
            dst.start.push_back(quint32(dst.text.size()));
            dst.len.push_back(quint32(s.size()));
            dst.text.append(s.data(), s.size());
            continue;
        }
        const qint32 at = dst.rowCount();
        dst.appendNumber(src.num[size_t(row)]);
        if (dst.type == FieldType::Float)
            dst.setNullFlag(at, src.isNull(row));
    }
}

// Drops the cells of rows from `rows` on (a row read in part).
void truncateRows(detail::Content &content, qint32 rows)
{
    for (detail::Column &c : content.cols) {
        if (c.rowCount() <= rows)
            continue;
        if (c.isText()) {
            c.text.truncate(c.start[size_t(rows)]);
            c.start.resize(size_t(rows));
            c.len.resize(size_t(rows));
        } else {
            c.num.resize(size_t(rows));
            if (c.type == FieldType::Float) {
                c.nullBits.resize((size_t(rows) + 63) / 64);
                if (rows & 63) // the flags of the dropped rows are clear again
                    c.nullBits.back() &= (quint64(1) << (rows & 63)) - 1;
            }
        }
    }
}

[[noreturn]] void refuse(const QString &why)
{
    throw PacketError(QStringLiteral("Pacote de dados inválido: %1.").arg(why));
}

} // namespace

struct PacketDecoder::Private
{
    enum class Stage { Head, Rows, Done, Whole };
    Stage stage = Stage::Head;
    QByteArray pending;    // bytes not decoded yet (in Whole: all of them)
    qsizetype retryAt = 0; // a part not yet whole is read again once this many bytes wait
    QString error;         // once refused

    QByteArray head; // the packet's bytes before its rows
    QList<PacketField> fields;
    detail::Content content;
    std::vector<int> bind;
    bool definite = false;
    quint64 rowsLeft = 0; // definite rows still to come
    qint32 reserved = 0;  // rows the columns have room for

    // Reads what it can of `bytes`; answers how many bytes it consumed.
    qsizetype take(QByteArrayView bytes)
    {
        const auto *begin = reinterpret_cast<const uchar *>(bytes.data());
        const auto *end = begin + bytes.size();
        const uchar *p = begin;
        if (stage == Stage::Head && !readHead(p, end))
            return stage == Stage::Whole ? 0 : p - begin;
        if (stage == Stage::Rows)
            readRows(p, end);
        if (stage == Stage::Done && p != end)
            refuse(QStringLiteral("dados a mais após o fim do pacote"));
        return p - begin;
    }

    // The head, up to the rows' array: false while it is not whole (or the packet goes whole).
    bool readHead(const uchar *&p, const uchar *end)
    {
        const uchar *q = p;
        if (*q != 0x84) {
            stage = Stage::Whole;
            return false;
        }
        ++q;
        for (int i = 0; i < 3; ++i) {
            const Scan s = scanItem(q, end, 0);
            if (s == Scan::Bad)
                stage = Stage::Whole;
            if (s != Scan::Whole)
                return false;
        }
        const uchar *rowsAt = q;
        int major = 0;
        bool indefinite = false;
        const Scan s = scanHead(q, end, &major, &rowsLeft, &indefinite);
        if (s == Scan::Bad || (s == Scan::Whole && major != 4))
            stage = Stage::Whole;
        if (s != Scan::Whole || major != 4)
            return false;
        definite = !indefinite;
        head = QByteArray(reinterpret_cast<const char *>(p), rowsAt - p);
        // The fields are read, and refused, as a whole decode reads them.
        detail::decodePacket(head + char(0x80), {}, &fields);
        content = detail::emptyContent(detail::fieldDefsOf(fields));
        bind.resize(size_t(fields.size()));
        for (size_t i = 0; i < bind.size(); ++i)
            bind[i] = int(i);
        p = q;
        stage = definite && rowsLeft == 0 ? Stage::Done : Stage::Rows;
        return true;
    }

    void readRows(const uchar *&p, const uchar *end)
    {
        while (p < end) {
            if (!definite && *p == 0xff) {
                ++p;
                stage = Stage::Done;
                return;
            }
            if (content.rows == std::numeric_limits<qint32>::max())
                refuse(QStringLiteral("linhas demais"));
            if (content.rows == reserved)
                reserveMore();
            const uchar *row = p;
            if (!detail::readRowDirect(p, end, content, bind)) {
                truncateRows(content, content.rows);
                p = row;
                const Scan s = scanItem(p, end, 0);
                if (s == Scan::Short) {
                    p = row;
                    return;
                }
                // A row in another form, or a bad one, is read as the whole decode reads it (in
                // a packet of that one row), which words any refusal.
                const QByteArray one = head + char(0x81) +
                                       QByteArray(reinterpret_cast<const char *>(row),
                                                  (s == Scan::Whole ? p : end) - row);
                const detail::Content read = detail::decodePacket(one, {}, nullptr, content.rows);
                if (s != Scan::Whole)
                    refuse(QStringLiteral("conteúdo truncado ou corrompido"));
                appendRowOf(content, read, 0);
            }
            ++content.rows;
            if (definite && --rowsLeft == 0) {
                stage = Stage::Done;
                return;
            }
        }
    }

    // Room for more rows. There is no count to trust, but room a column does not fill is never
    // touched and costs no memory (its arrays are mapped, see ColumnAllocator): so the columns
    // grow by four times the rows read, and are copied and faulted in only a few times. A
    // definite count caps the room (it only caps: the room follows the rows read).
    void reserveMore()
    {
        qint64 rows = std::max<qint64>(4096, qint64(reserved) * 4);
        if (definite)
            rows = std::min<qint64>(rows, qint64(content.rows) +
                                              qint64(std::min<quint64>(rowsLeft, quint64(rows))));
        reserved = qint32(std::min<qint64>(rows, std::numeric_limits<qint32>::max()));
        for (detail::Column &c : content.cols)
            c.reserve(reserved);
    }

    DataPacket finishRows()
    {
        const qint32 rows = content.rows;
        for (detail::Column &c : content.cols)
            c.text.shrinkToFit();
        content.alive.assign(size_t(rows), 1);
        content.natural.resize(size_t(rows));
        for (qint32 i = 0; i < rows; ++i)
            content.natural[size_t(i)] = i;
        auto packet = std::make_shared<DecodedPacket>();
        packet->fields = fields;
        packet->content = std::move(content);
        DataPacket out;
        out.decoded = std::move(packet);
        return out;
    }
};

PacketDecoder::PacketDecoder() : d(std::make_unique<Private>()) {}

PacketDecoder::~PacketDecoder() = default;

void PacketDecoder::feed(QByteArrayView bytes)
{
    if (!d->error.isEmpty())
        throw PacketError(d->error);
    if (bytes.isEmpty())
        return;
    if (d->stage == Private::Stage::Whole) {
        d->pending.append(bytes.data(), bytes.size());
        return;
    }
    try {
        if (d->pending.isEmpty()) {
            const qsizetype used = d->take(bytes);
            if (d->stage == Private::Stage::Whole) {
                d->pending = bytes.toByteArray();
                return;
            }
            d->pending = bytes.sliced(used).toByteArray();
        } else {
            d->pending.append(bytes.data(), bytes.size());
            // A part not yet whole is read again only once the bytes waiting have doubled:
            // a long row arriving in small pieces is not scanned again for each.
            if (d->pending.size() < d->retryAt)
                return;
            const qsizetype used = d->take(d->pending);
            if (d->stage == Private::Stage::Whole)
                return;
            d->pending.remove(0, used);
        }
        d->retryAt = 2 * d->pending.size();
    } catch (const PacketError &e) {
        d->error = e.message();
        throw;
    }
}

DataPacket PacketDecoder::finish()
{
    auto done = std::move(d);
    d = std::make_unique<Private>();
    if (!done->error.isEmpty())
        throw PacketError(done->error);
    using Stage = Private::Stage;
    if (done->stage != Stage::Whole && done->stage != Stage::Head && !done->pending.isEmpty()) {
        const qsizetype used = done->take(done->pending);
        done->pending.remove(0, used);
    }
    if (done->stage == Stage::Head || done->stage == Stage::Whole) {
        QList<PacketField> fields;
        detail::Content content = detail::decodePacket(done->pending, {}, &fields);
        done->pending.clear();
        done->fields = fields;
        done->content = std::move(content);
        return done->finishRows();
    }
    if (done->stage != Stage::Done)
        refuse(QStringLiteral("conteúdo truncado ou corrompido"));
    return done->finishRows();
}

} // namespace fis
