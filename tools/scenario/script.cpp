// The values of the scenario language: dates, expected values and how they compare, and how
// values are written in the transcript and in failures.
#include "script.h"

#include "statements.h"

#include "data/packet.h"

#include <QRegularExpression>

#include <cmath>

namespace fis::scenario {

ScriptError::ScriptError(const QString &file, int line, const QString &message)
    : std::runtime_error(
          QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(message).toStdString()),
      m_file(file), m_line(line), m_message(message)
{}

QString ScriptError::describe() const
{
    return QStringLiteral("%1:%2: %3").arg(m_file).arg(m_line).arg(m_message);
}

std::optional<TDateTime> parseDateLiteral(const QString &text)
{
    static const QRegularExpression re(
        QStringLiteral(R"(^(\d{2})/(\d{2})/(\d{4})(?:\s+(\d{2}):(\d{2})(?::(\d{2}))?)?$)"));
    const auto m = re.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    if (!date.isValid())
        return std::nullopt;
    QTime time(0, 0);
    if (!m.captured(4).isEmpty()) {
        time = QTime(m.captured(4).toInt(), m.captured(5).toInt(),
                     m.captured(6).isEmpty() ? 0 : m.captured(6).toInt());
        if (!time.isValid())
            return std::nullopt;
    }
    return TDateTime::fromDateTime(QDateTime(date, time));
}

QString formatVariant(const Variant &v)
{
    switch (kindOf(v)) {
    case VariantKind::Null:
        return QStringLiteral("null");
    case VariantKind::Text:
        return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    case VariantKind::Float: {
        const double d = v.toDouble();
        return QString::number(d, 'g', 15);
    }
    case VariantKind::Date: {
        const TDateTime t = v.value<TDateTime>();
        if (t.isNull())
            return QStringLiteral("date(0)");
        const QDateTime dt = t.toDateTime();
        const QString fmt = dt.time() == QTime(0, 0) ? QStringLiteral("dd/MM/yyyy")
                                                     : QStringLiteral("dd/MM/yyyy HH:mm:ss");
        return QStringLiteral("date(%1)").arg(dt.toString(fmt));
    }
    case VariantKind::Packet: {
        const DataPacket p = v.value<DataPacket>();
        if (p.isNull())
            return QStringLiteral("packet(null)");
        try {
            const PacketReader reader(p);
            return QStringLiteral("packet(%1 rows)").arg(reader.rowCount());
        } catch (const std::exception &) {
            return QStringLiteral("packet(corrupt, %1 bytes)").arg(p.encoded().size());
        }
    }
    case VariantKind::Array: {
        QStringList parts;
        for (const QVariant &item : v.toList())
            parts << formatVariant(item);
        return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    case VariantKind::Invalid:
        break;
    }
    return QStringLiteral("<%1>").arg(QString::fromLatin1(v.typeName()));
}

QString Expected::describe() const
{
    switch (kind) {
    case Kind::Any:
        return QStringLiteral("*");
    case Kind::AnyPacket:
        return QStringLiteral("packet");
    case Kind::PacketRows:
        return QStringLiteral("packet(%1)").arg(rows);
    case Kind::Exact:
        break;
    }
    return formatVariant(value);
}

namespace {

bool sameValue(const Variant &expected, const Variant &actual)
{
    const VariantKind ek = kindOf(expected);
    const VariantKind ak = kindOf(actual);
    if (ek != ak)
        return false;
    switch (ek) {
    case VariantKind::Null:
        return true;
    case VariantKind::Text:
        return expected.toString() == actual.toString();
    case VariantKind::Float:
        return std::fabs(expected.toDouble() - actual.toDouble()) <= 1e-9;
    case VariantKind::Date:
        return std::fabs(expected.value<TDateTime>().value - actual.value<TDateTime>().value) <=
               1e-9;
    case VariantKind::Packet:
        return expected.value<DataPacket>() == actual.value<DataPacket>();
    case VariantKind::Array: {
        const QVariantList a = expected.toList();
        const QVariantList b = actual.toList();
        if (a.size() != b.size())
            return false;
        for (qsizetype i = 0; i < a.size(); ++i)
            if (!sameValue(normalized(a[i]), normalized(b[i])))
                return false;
        return true;
    }
    case VariantKind::Invalid:
        break;
    }
    return false;
}

} // namespace

bool Expected::matches(const Variant &actualIn, QString *found) const
{
    const Variant actual = normalized(actualIn);
    if (found)
        *found = formatVariant(actual);
    switch (kind) {
    case Kind::Any:
        return true;
    case Kind::AnyPacket:
        return kindOf(actual) == VariantKind::Packet;
    case Kind::PacketRows: {
        if (kindOf(actual) != VariantKind::Packet)
            return false;
        const DataPacket p = actual.value<DataPacket>();
        if (p.isNull())
            return rows == 0;
        try {
            return PacketReader(p).rowCount() == rows;
        } catch (const std::exception &) {
            return false;
        }
    }
    case Kind::Exact:
        break;
    }
    return sameValue(normalized(value), actual);
}

QString expectKindName(ExpectKind kind)
{
    switch (kind) {
    case ExpectKind::Message:
        return QStringLiteral("message");
    case ExpectKind::NoMessage:
        return QStringLiteral("no message");
    case ExpectKind::Messages:
        return QStringLiteral("messages");
    case ExpectKind::Focus:
        return QStringLiteral("focus");
    case ExpectKind::State:
        return QStringLiteral("state");
    case ExpectKind::Text:
        return QStringLiteral("text");
    case ExpectKind::Display:
        return QStringLiteral("display");
    case ExpectKind::Index:
        return QStringLiteral("index");
    case ExpectKind::Count:
        return QStringLiteral("count");
    case ExpectKind::Row:
        return QStringLiteral("row");
    case ExpectKind::Property:
        return QStringLiteral("property");
    case ExpectKind::Cell:
        return QStringLiteral("cell");
    case ExpectKind::Records:
        return QStringLiteral("records");
    case ExpectKind::Field:
        return QStringLiteral("field");
    case ExpectKind::Call:
        return QStringLiteral("call");
    case ExpectKind::NoCall:
        return QStringLiteral("no call");
    case ExpectKind::Calls:
        return QStringLiteral("calls");
    case ExpectKind::Dialog:
        return QStringLiteral("dialog");
    case ExpectKind::NoDialog:
        return QStringLiteral("no dialog");
    case ExpectKind::Pick:
        return QStringLiteral("pick");
    case ExpectKind::Find:
        return QStringLiteral("find");
    case ExpectKind::Integration:
        return QStringLiteral("integration");
    case ExpectKind::Result:
        return QStringLiteral("result");
    case ExpectKind::Editor:
        return QStringLiteral("editor");
    case ExpectKind::Ellipsis:
        return QStringLiteral("ellipsis");
    case ExpectKind::Mark:
        return QStringLiteral("mark");
    case ExpectKind::Column:
        return QStringLiteral("column");
    case ExpectKind::Sql:
        return QStringLiteral("sql");
    case ExpectKind::Report:
        return QStringLiteral("report");
    case ExpectKind::Preview:
        return QStringLiteral("preview");
    case ExpectKind::Pages:
        return QStringLiteral("pages");
    case ExpectKind::Page:
        return QStringLiteral("page");
    }
    return QString();
}

bool Statement::isAction() const
{
    return form && form->role == Role::Action;
}

} // namespace fis::scenario
