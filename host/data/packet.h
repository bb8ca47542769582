#pragma once
// Data packets: a record set's content (field definitions + rows) encoded in CBOR.
// The format is described in docs/packets.md. A packet travels inside a Variant as
// fis::DataPacket (tag 40002, see variant.h).
//
// PacketWriter builds a packet without a data set (the application server's answers);
// PacketReader walks one. ClientDataSet::setData()/data() load and produce packets directly.
#include "data/dataset.h"
#include "data/variant.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>
#include <stdexcept>

namespace fis {

inline constexpr int kPacketVersion = 1;

// A malformed, truncated or inconsistent packet; what() holds the UTF-8 of message().
class PacketError : public std::runtime_error
{
public:
    explicit PacketError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// A field as a packet describes it.
struct PacketField
{
    QString name;
    FieldType type = FieldType::String;
    int size = 0; // text fields: maximum characters (0 = kDefaultStringSize)

    friend bool operator==(const PacketField &, const PacketField &) = default;
};

// Builds a packet: declare the fields, then add rows of Variants (one value per field, in field
// order; null, QString, double or TDateTime — ints/bools/QDates are normalised). Values are
// checked against the field types: a value that does not fit raises PacketError.
class PacketWriter
{
public:
    PacketWriter();
    explicit PacketWriter(const QList<PacketField> &fields);
    // A writer that hands the packet out in pieces as it fills (an answer sent while its rows
    // are read): its head with the rows of indefinite length, then whole rows whenever at least
    // pieceBytes are waiting, and at finish() the rest with the end of the rows. finish() then
    // answers a null packet. A piece is only valid during the call.
    using Sink = std::function<void(QByteArrayView piece)>;
    PacketWriter(const QList<PacketField> &fields, Sink sink, qsizetype pieceBytes = 256 * 1024);
    ~PacketWriter();
    PacketWriter(const PacketWriter &) = delete;
    PacketWriter &operator=(const PacketWriter &) = delete;

    void addField(const QString &name, FieldType type, int size = 0); // before the first row
    const QList<PacketField> &fields() const;

    void addRow(const QVariantList &values);
    int rowCount() const;

    // Rows cell by cell, written straight into the packet's bytes (answers read row by row from
    // a database): beginRow(), one add call per field in field order, endRow(). Each cell is
    // converted and checked as addRow() does, to the same bytes; a cell that does not fit
    // raises PacketError and drops the row begun (the rows before it stay).
    void beginRow();
    void addNull();
    void addText(QByteArrayView utf8); // UTF-8 (checked); empty is null
    void addText(const QString &text);
    void addNumber(double value);
    void addDate(TDateTime value);
    void addValue(const Variant &value);
    void endRow();

    DataPacket finish(); // the writer is reset afterwards

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The rows of a packet read when it is sent (DataPacket::source): its fields are known up
// front, its rows are written into whatever writer it is given — one that holds the whole packet,
// or one that hands it out in pieces. It runs on the thread that made it (a database connection
// belongs to one), may run more than once, and throws what its rows throw.
class PacketSource
{
public:
    using Rows = std::function<void(PacketWriter &writer)>;
    PacketSource(QList<PacketField> fields, Rows rows)
        : m_fields(std::move(fields)), m_rows(std::move(rows))
    {}
    const QList<PacketField> &fields() const { return m_fields; }
    void writeRows(PacketWriter &writer) const { m_rows(writer); }

private:
    QList<PacketField> m_fields;
    Rows m_rows;
};

// Reads a whole packet (validating it completely) into field definitions and rows of Variants.
// Throws PacketError for any malformed input.
class PacketReader
{
public:
    explicit PacketReader(const DataPacket &packet);
    explicit PacketReader(const QByteArray &bytes);

    const QList<PacketField> &fields() const { return m_fields; }
    int rowCount() const { return int(m_rows.size()); }
    const QList<QVariantList> &rows() const { return m_rows; }
    const QVariantList &row(int index) const { return m_rows.at(index); }
    int fieldIndex(const QString &name) const; // -1 when absent (case-insensitive)

private:
    QList<PacketField> m_fields;
    QList<QVariantList> m_rows;
};

// Builds a packet straight from definitions and rows (small answers, tests).
DataPacket buildPacket(const QList<PacketField> &fields, const QList<QVariantList> &rows);

} // namespace fis
