#pragma once
// Internal: the columnar row storage behind ClientDataSet and the packet codec.
//
// Every field has one Column. Text is kept as UTF-8 in a per-column arena (start + length per
// row; an empty text is null, as in the fields themselves); floats and dates as doubles in flat
// arrays. Floats carry a null bitmap; a date is null when it is 0. Rows are addressed by their
// physical number; deleted rows stay in place (tombstones) so bookmarks never get reused.
#include "data/dataset.h"
#include "data/packet.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace fis::detail {

// The memory of the columns: a large block is mapped straight from the system, so that the room
// a growing column leaves behind is given back at once rather than kept in the heap (a listing
// decoded as it arrives grows its columns many times).
void *allocateColumnBytes(size_t bytes); // throws std::bad_alloc
void freeColumnBytes(void *p, size_t bytes);

// Growable byte buffer that does not zero what it reserves (a large one is remapped to grow).
class Arena
{
public:
    Arena() = default;
    Arena(const Arena &) = delete;
    Arena &operator=(const Arena &) = delete;
    Arena(Arena &&other) noexcept { swap(other); }
    Arena &operator=(Arena &&other) noexcept
    {
        Arena tmp(std::move(other));
        swap(tmp);
        return *this;
    }
    ~Arena() { freeColumnBytes(m_data, size_t(m_cap)); }

    void swap(Arena &other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_cap, other.m_cap);
    }
    qsizetype size() const { return m_size; }
    const char *data() const { return m_data; }
    // Room for n more bytes at end(); returns end().
    char *reserveMore(qsizetype n);
    char *end() { return m_data + m_size; }
    void commit(qsizetype n) { m_size += n; }
    void truncate(qsizetype size) { m_size = size; }
    void append(const char *bytes, qsizetype n);
    void shrinkToFit();
    qsizetype capacity() const { return m_cap; }

private:
    char *m_data = nullptr;
    qsizetype m_size = 0;
    qsizetype m_cap = 0;
};

// The allocator of the columns' arrays (see allocateColumnBytes).
template <class T>
struct ColumnAllocator
{
    using value_type = T;
    ColumnAllocator() = default;
    template <class U>
    ColumnAllocator(const ColumnAllocator<U> &)
    {}
    T *allocate(size_t n) { return static_cast<T *>(allocateColumnBytes(n * sizeof(T))); }
    void deallocate(T *p, size_t n) { freeColumnBytes(p, n * sizeof(T)); }
    friend bool operator==(const ColumnAllocator &, const ColumnAllocator &) { return true; }
};

template <class T>
using ColumnArray = std::vector<T, ColumnAllocator<T>>;

struct Column
{
    FieldType type = FieldType::String;
    int size = kDefaultStringSize; // text: maximum characters

    Arena text;
    ColumnArray<quint32> start;
    ColumnArray<quint32> len;
    ColumnArray<double> num;
    ColumnArray<quint64> nullBits; // floats only: bit set = null

    Column() = default;
    Column(FieldType t, int s) : type(t), size(s) {}

    bool isText() const { return type == FieldType::String || type == FieldType::FixedString; }
    qint32 rowCount() const { return qint32(isText() ? start.size() : num.size()); }
    void reserve(qsizetype rows);
    void appendNull();
    // A number that is not null (a float's null bit cleared).
    void appendNumber(double d);
    // A text cut to the column's size, a fixed text without its trailing padding; false (nothing
    // appended) when the column's texts would pass 4 GiB.
    bool appendCutText(QByteArrayView utf8);

    bool isNull(qint32 row) const
    {
        if (isText())
            return len[size_t(row)] == 0;
        if (type == FieldType::DateTime)
            return num[size_t(row)] == 0.0;
        return (nullBits[size_t(row) >> 6] >> (row & 63)) & 1u;
    }
    QByteArrayView utf8(qint32 row) const
    {
        return QByteArrayView(text.data() + start[size_t(row)], qsizetype(len[size_t(row)]));
    }
    double number(qint32 row) const { return isNull(row) ? 0.0 : num[size_t(row)]; }
    QString string(qint32 row) const; // padded for fixed fields; "" for null
    Variant value(qint32 row) const;  // null Variant, QString, double or TDateTime

    // Stores an already converted value (see convertForField): null, QString, double, TDateTime.
    void set(qint32 row, const Variant &value);
    void setNullFlag(qint32 row, bool null)
    {
        quint64 &word = nullBits[size_t(row) >> 6];
        const quint64 bit = quint64(1) << (row & 63);
        word = null ? (word | bit) : (word & ~bit);
    }
    void setUtf8(qint32 row, const char *bytes, qsizetype n);
};

struct Content
{
    std::vector<Column> cols;
    qint32 rows = 0;             // physical rows, dead ones included
    std::vector<quint8> alive;   // 0 = deleted or an unposted insert
    std::vector<qint32> natural; // live rows in load/insert order

    // Appends an all-null physical row (not alive, not in natural); returns its number.
    qint32 appendRow();
};

} // namespace fis::detail

namespace fis {

// A packet decoded while it arrived, in its own fields (DataPacket::decoded).
struct DecodedPacket
{
    QList<PacketField> fields;
    detail::Content content;
};

} // namespace fis

namespace fis::detail {

// The field definitions a packet's fields make (name, type, size; nothing else).
QList<FieldDef> fieldDefsOf(const QList<PacketField> &fields);

// Builds empty columns for the given fields.
Content emptyContent(const QList<FieldDef> &defs);

// Decodes a packet completely. Columns follow `declared` (packet fields bound by name, missing
// ones null, extra ones ignored). When `declared` is empty the packet's own fields are used and
// returned in *packetFields. Throws PacketError; its row numbers count rowBase rows before
// these (a piece of a longer packet).
Content decodePacket(const QByteArray &bytes, const QList<FieldDef> &declared,
                     QList<PacketField> *packetFields, qint32 rowBase = 0);

// A packet decoded in its own fields, loaded into declared ones as decodePacket would load its
// bytes (bound by name, missing fields null, texts cut, values converted). Throws PacketError.
Content loadDecoded(const DecodedPacket &packet, const QList<FieldDef> &declared);

// Reads one row in the form this system writes (definite row and texts, nulls, doubles and
// floats, tagged dates) at p, appending its cells to the bound columns (bind: packet column ->
// content column, -1 unbound) and advancing p. False as soon as anything is not plainly valid in
// that form or the row does not end before `end`: some cells may then have been appended.
bool readRowDirect(const uchar *&p, const uchar *end, Content &content,
                   const std::vector<int> &bind);

// A copy of a content (the columns' arenas included).
Content copyContent(const Content &content);

// Whether rows in the form this system writes are read straight from the bytes (the default)
// or every packet goes through the stream reader; both load the same (tests compare them).
void setDirectRowReading(bool on);

// Encodes the given rows of a content with the given field definitions.
QByteArray encodeContent(const QList<FieldDef> &defs, const Content &content,
                         const std::vector<qint32> &rows);

// Cuts a UTF-8 text to at most maxChars code points; returns the byte length kept.
qsizetype utf8Cut(const char *bytes, qsizetype n, int maxChars);

// Converts any Variant to the kind a field of this type stores (null, QString cut/padded,
// double, TDateTime, 0 dates become null). Throws DataSetError with `fieldName` on mismatch.
Variant convertForField(const Variant &value, FieldType type, int size, const QString &fieldName);

// Number and date texts as this system writes and reads them (Brazilian locale).
QString floatToText(double value);
QString dateToText(TDateTime value);
bool textToFloat(const QString &text, double *out);
bool textToDate(const QString &text, TDateTime *out);

} // namespace fis::detail
