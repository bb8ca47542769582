#pragma once
// The values that travel between screens, record sets and the application server.
//
// A Variant is a QVariant holding exactly one of:
//   - nothing (a null QVariant)                      null
//   - QString                                        text
//   - double                                         float
//   - fis::TDateTime                                 date-time (days since 30/12/1899)
//   - fis::DataPacket                                a record set's whole content, or a null packet
//   - QVariantList of Variants                       array of variants
// Anything else (int, bool, QDate...) is normalised by fis::normalized() before it is sent.
//
// Wire encoding (CBOR, RFC 8949), used by packets and by the remote calls alike:
//   null      -> simple value null
//   text      -> text string
//   float     -> double-precision float (major type 7)
//   date-time -> tag 40001 followed by a double (days since 30/12/1899, fraction = time of day)
//   packet    -> tag 40002 followed by a byte string holding the packet's own encoding
//                (an empty byte string is the null packet)
//   array     -> array of encoded variants
#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>

class QCborStreamWriter;
class QCborStreamReader;

namespace fis {

using Variant = QVariant;

inline constexpr quint64 kCborTagDateTime = 40001;
inline constexpr quint64 kCborTagPacket = 40002;
// Deepest nesting of arrays a decoder follows (values, and values it skips).
inline constexpr int kMaxVariantDepth = 32;

// A date-time as days since 30/12/1899 with the time of day as fraction. 0 means "no date".
// Only the years 1 to 9999 are dates: a value outside them (or not finite) converts to no date,
// and the decoders refuse it.
struct TDateTime
{
    static constexpr double kFirstDay = -693593.0; // 01/01/0001
    static constexpr double kEndDay = 2958466.0;   // 01/01/10000, the first day past the range

    double value = 0.0;

    constexpr TDateTime() = default;
    constexpr explicit TDateTime(double days) : value(days) {}

    bool isNull() const { return value == 0.0; }
    // Finite and within the years 1 to 9999 (the null date is).
    constexpr bool inRange() const { return value >= kFirstDay && value < kEndDay; }
    // Whole days only: the date part of a date-time.
    TDateTime datePart() const;

    static TDateTime fromDate(const QDate &date);
    static TDateTime fromDateTime(const QDateTime &dateTime);
    QDate toDate() const;         // invalid QDate for the null date or one out of range
    QDateTime toDateTime() const; // invalid QDateTime for the null date or one out of range

    friend constexpr bool operator==(TDateTime a, TDateTime b) { return a.value == b.value; }
    friend constexpr auto operator<=>(TDateTime a, TDateTime b) { return a.value <=> b.value; }
};

class PacketSource;   // data/packet.h
struct DecodedPacket; // data/storage_p.h

// A record set's content as an opaque packet (see packet.h), in one of three forms:
//   bytes    its encoding, what travels (empty bytes and no other form = the null packet);
//   source   rows still to be read, written when the packet is sent or its bytes are asked for
//            (a server's listing, sent in pieces while it is read);
//   decoded  decoded while it arrived (an answer sent in pieces): a set loads it without bytes.
// Copies share the source or the decoded content, which never change.
struct DataPacket
{
    QByteArray bytes;
    std::shared_ptr<const PacketSource> source;
    std::shared_ptr<const DecodedPacket> decoded;

    DataPacket() = default;
    explicit DataPacket(QByteArray encoding) : bytes(std::move(encoding)) {}

    bool isNull() const { return bytes.isEmpty() && !source && !decoded; }
    // The packet's bytes whatever its form: a source runs (and may throw what it throws), a
    // decoded packet is encoded again.
    QByteArray encoded() const;
    friend bool operator==(const DataPacket &a, const DataPacket &b)
    {
        return a.encoded() == b.encoded();
    }
};

enum class VariantKind { Null, Text, Float, Date, Packet, Array, Invalid };

VariantKind kindOf(const Variant &v);
QString kindName(VariantKind kind);

// Maps other Qt types onto the six kinds (int/qlonglong/bool -> float, QDate/QDateTime -> date).
// Types that have no meaning here come back unchanged and kindOf() reports Invalid.
Variant normalized(const Variant &v);

inline Variant makeText(const QString &s)
{
    return Variant(s);
}
inline Variant makeFloat(double d)
{
    return Variant(d);
}
inline Variant makeDate(TDateTime d)
{
    return Variant::fromValue(d);
}
inline Variant makePacket(const DataPacket &p)
{
    return Variant::fromValue(p);
}

// CBOR codec of one variant. writeVariant() throws std::invalid_argument for an Invalid kind.
void writeVariant(QCborStreamWriter &writer, const Variant &v);
// Reads one variant at the reader's position. On malformed input returns false, sets *error to
// a readable (Portuguese) reason and leaves *out untouched.
bool readVariant(QCborStreamReader &reader, Variant *out, QString *error, int depth = 0);

QByteArray encodeVariant(const Variant &v);
bool decodeVariant(const QByteArray &bytes, Variant *out, QString *error);

} // namespace fis

Q_DECLARE_METATYPE(fis::TDateTime)
Q_DECLARE_METATYPE(fis::DataPacket)
