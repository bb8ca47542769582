#include "framework/tadoibquery.h"

#include "data/packet.h"

#include <QDate>
#include <QDateTime>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

using fis::FieldType;

[[noreturn]] void fail(const QString &text)
{
    throw fis::DataSetError(text);
}

bool isIdentChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

fis::Variant nullText()
{
    return QVariant(QMetaType::fromType<QString>());
}

// A date read from the database: a date or date-time value, or its ISO text (SQLite keeps dates
// as text).
bool toDateTime(const QVariant &v, fis::TDateTime *out)
{
    switch (v.metaType().id()) {
    case QMetaType::QDate:
        *out = fis::TDateTime::fromDate(v.toDate());
        return v.toDate().isValid();
    case QMetaType::QDateTime:
        *out = fis::TDateTime::fromDateTime(v.toDateTime());
        return v.toDateTime().isValid();
    default:
        break;
    }
    const QString text = v.toString().trimmed();
    const QDateTime dt = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (dt.isValid()) {
        *out = fis::TDateTime::fromDateTime(dt);
        return true;
    }
    const QDateTime spaced = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (spaced.isValid()) {
        *out = fis::TDateTime::fromDateTime(spaced);
        return true;
    }
    const QDate d = QDate::fromString(text.left(10), Qt::ISODate);
    if (text.size() == 10 && d.isValid()) {
        *out = fis::TDateTime::fromDate(d);
        return true;
    }
    return false;
}

FieldType typeOfColumn(const QSqlField &column)
{
    switch (column.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
        return FieldType::Float;
    case QMetaType::QDate:
    case QMetaType::QDateTime:
        return FieldType::DateTime;
    default:
        return FieldType::String;
    }
}

} // namespace

TADOIBQuery::TADOIBQuery(const QString &name, QObject *parent) : fis::ClientDataSet(name, parent)
{
    if (!name.isEmpty())
        setObjectName(name);
    const auto refuse = [](fis::ClientDataSet &set) {
        fail(QStringLiteral("A consulta %1 é somente leitura.").arg(set.objectName()));
    };
    beforeEdit = refuse;
    beforeInsert = refuse;
    beforeDelete = refuse;
}

TADOIBQuery::~TADOIBQuery() = default;

void TADOIBQuery::setSqlVariant(fis::DatabaseKind kind, const QString &text)
{
    m_variants.insert(kind, text);
}

QString TADOIBQuery::sqlFor(fis::DatabaseKind kind) const
{
    using fis::DatabaseKind;
    if (kind == DatabaseKind::Oracle || kind == DatabaseKind::SqlServer ||
        kind == DatabaseKind::InterBase) {
        const QString own = m_variants.value(kind);
        if (!own.trimmed().isEmpty())
            return own;
    }
    if (!m_default.trimmed().isEmpty())
        return m_default;
    return m_variants.value(DatabaseKind::Oracle);
}

void TADOIBQuery::setParam(const QString &name, const QString &text)
{
    setParamValue(name, fis::makeText(text));
}

void TADOIBQuery::setParamValue(const QString &name, const fis::Variant &value)
{
    QString key = name.trimmed().toUpper();
    if (key.startsWith(QLatin1Char(':')))
        key.remove(0, 1);
    m_params.insert(key, value);
}

void TADOIBQuery::clearParam(const QString &name)
{
    setParamValue(name, fis::Variant());
}

void TADOIBQuery::clearParams()
{
    m_params.clear();
}

fis::Variant TADOIBQuery::param(const QString &name) const
{
    QString key = name.trimmed().toUpper();
    if (key.startsWith(QLatin1Char(':')))
        key.remove(0, 1);
    return m_params.value(key);
}

fis::Variant TADOIBQuery::boundValue(const QString &name) const
{
    const fis::Variant value = fis::normalized(param(name));
    switch (fis::kindOf(value)) {
    case fis::VariantKind::Null:
        return nullText();
    case fis::VariantKind::Text: {
        const QString text = value.toString();
        if (text.isEmpty())
            // A null QString would reach the driver as NULL: an empty text must stay a text.
            return m_emptyIsNull ? nullText() : QVariant(QStringLiteral(""));
        return value;
    }
    case fis::VariantKind::Date: {
        const fis::TDateTime d = value.value<fis::TDateTime>();
        if (d.isNull())
            return nullText();
        return d == d.datePart() ? QVariant(d.toDate()) : QVariant(d.toDateTime());
    }
    case fis::VariantKind::Float:
        return value;
    default:
        fail(QStringLiteral("Parâmetro %1 com valor de tipo não suportado (%2).")
                 .arg(name, fis::kindName(fis::kindOf(value))));
    }
}

QStringList TADOIBQuery::parameterNames(const QString &sql)
{
    QStringList names;
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Skip a literal or a quoted name (a doubled quote stays inside).
            ++i;
            while (i < n) {
                if (sql.at(i) == c) {
                    if (i + 1 < n && sql.at(i + 1) == c) {
                        i += 2;
                        continue;
                    }
                    break;
                }
                ++i;
            }
            continue;
        }
        if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            while (i < n && sql.at(i) != QLatin1Char('\n'))
                ++i;
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
            const qsizetype close = sql.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? n : close + 1;
            continue;
        }
        if (c != QLatin1Char(':') || i + 1 >= n)
            continue;
        if (sql.at(i + 1) == QLatin1Char(':')) { // a PostgreSQL cast "::type"
            ++i;
            continue;
        }
        if (!sql.at(i + 1).isLetter() && sql.at(i + 1) != QLatin1Char('_'))
            continue;
        qsizetype end = i + 1;
        while (end < n && isIdentChar(sql.at(end)))
            ++end;
        const QString name = sql.mid(i + 1, end - i - 1);
        if (!names.contains(name, Qt::CaseInsensitive))
            names << name;
        i = end - 1;
    }
    return names;
}

void TADOIBQuery::Open()
{
    close();

    // The before-open handler runs first, so that it can still set parameters; the set's own
    // open below then does not run it a second time.
    if (beforeOpen)
        beforeOpen(*this);
    const fis::DataSetEvent handler = std::exchange(beforeOpen, {});
    const auto restoreHandler = qScopeGuard([this, &handler] { beforeOpen = handler; });

    QSqlDatabase db;
    try {
        db = fis::HostDatabase::database(m_connection);
        fis::HostDatabase::installNvl(db);
    } catch (const std::exception &e) {
        fail(QStringLiteral("Consulta %1: %2").arg(objectName(), QString::fromUtf8(e.what())));
    }

    const QString sql = sqlFor(fis::HostDatabase::kind(db));
    if (sql.trimmed().isEmpty())
        fail(QStringLiteral("A consulta %1 não tem texto SQL para este banco de dados.")
                 .arg(objectName()));

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        fail(QStringLiteral("Erro ao preparar a consulta %1: %2")
                 .arg(objectName(), query.lastError().text()));
    const QStringList names = parameterNames(sql);
    for (const QString &name : names)
        query.bindValue(QLatin1Char(':') + name, boundValue(name));
    if (!query.exec())
        fail(QStringLiteral("Erro ao executar a consulta %1: %2")
                 .arg(objectName(), query.lastError().text()));

    const QSqlRecord record = query.record();
    const bool declared = fieldCount() > 0 && !fieldsFromPacket();

    // Packet layout: the declared fields, or the query's own columns.
    QList<fis::PacketField> fields;
    QList<int> columnOf; // record column feeding each packet field, -1 when absent
    if (declared) {
        const QList<fis::FieldDef> defs = fieldDefs();
        for (const fis::FieldDef &def : defs) {
            fields << fis::PacketField{def.name, def.type, def.effectiveSize()};
            int column = -1;
            for (int c = 0; c < record.count(); ++c) {
                if (record.fieldName(c).compare(def.name, Qt::CaseInsensitive) == 0) {
                    column = c;
                    break;
                }
            }
            columnOf << column;
        }
    } else {
        for (int c = 0; c < record.count(); ++c) {
            const FieldType type = typeOfColumn(record.field(c));
            fields << fis::PacketField{record.fieldName(c).toUpper(), type, 0};
            columnOf << c;
        }
    }

    QList<QVariantList> rows;
    while (query.next()) {
        QVariantList row;
        row.reserve(fields.size());
        for (int f = 0; f < fields.size(); ++f) {
            const int column = columnOf.at(f);
            const QVariant raw = column < 0 ? QVariant() : query.value(column);
            if (raw.isNull()) {
                row << fis::Variant();
                continue;
            }
            switch (fields.at(f).type) {
            case FieldType::String:
            case FieldType::FixedString: {
                const QString text = raw.toString();
                // A longer text widens the packet's field, so that the packet itself is valid;
                // the declared field then bounds the text as it does for any packet.
                if (text.size() > fields.at(f).size)
                    fields[f].size = int(text.size());
                row << fis::makeText(text);
                break;
            }
            case FieldType::Float: {
                bool ok = false;
                const double value = raw.toDouble(&ok);
                if (!ok)
                    fail(QStringLiteral("Consulta %1: valor '%2' da coluna %3 não é numérico.")
                             .arg(objectName(), raw.toString(), fields.at(f).name));
                row << fis::makeFloat(value);
                break;
            }
            case FieldType::DateTime: {
                fis::TDateTime value;
                if (!toDateTime(raw, &value))
                    fail(QStringLiteral("Consulta %1: valor '%2' da coluna %3 não é uma data.")
                             .arg(objectName(), raw.toString(), fields.at(f).name));
                row << fis::makeDate(value);
                break;
            }
            }
        }
        rows << row;
    }
    if (query.lastError().isValid())
        fail(QStringLiteral("Erro ao ler a consulta %1: %2")
                 .arg(objectName(), query.lastError().text()));

    // Columns taken from the query: text columns at least the usual width.
    if (!declared) {
        for (fis::PacketField &f : fields) {
            if (f.type == FieldType::String && f.size < fis::kDefaultStringSize)
                f.size = fis::kDefaultStringSize;
        }
    }

    try {
        setData(fis::buildPacket(fields, rows));
    } catch (const fis::PacketError &e) {
        fail(QStringLiteral("Consulta %1: %2").arg(objectName(), e.message()));
    }
}
