#include "framework/guidelayout.h"

#include "framework/guideform.h"
#include "framework/reportdesigner.h"

#include <QHash>
#include <QJsonArray>

#include <cmath>

namespace fis {

namespace {

const QString kAmount = QStringLiteral("#,##0.00");

[[noreturn]] void fail(const QString &fileName, const QString &why)
{
    throw ReportDefinitionError(
        QStringLiteral("Definição de relatório inválida em '%1': %2").arg(fileName, why));
}

GuideValue parseValue(const QJsonValue &json, const QString &fileName, const QString &where)
{
    GuideValue value;
    if (json.isString()) {
        value.field = json.toString().trimmed();
        if (value.field.isEmpty())
            fail(fileName, QStringLiteral("%1: campo sem nome.").arg(where));
        return value;
    }
    if (!json.isObject())
        fail(fileName, QStringLiteral("%1: use o nome de um campo ou um objeto como "
                                      "{\"sum\": \"CAMPO\"}.")
                           .arg(where));
    const QJsonObject o = json.toObject();
    static const QList<QPair<const char *, GuideValue::Kind>> kinds = {
        {"field", GuideValue::Kind::Field}, {"sum", GuideValue::Kind::Sum},
        {"max", GuideValue::Kind::Max},     {"min", GuideValue::Kind::Min},
        {"boxes", GuideValue::Kind::Boxes}, {"text", GuideValue::Kind::Text}};
    int found = 0;
    for (const auto &[key, kind] : kinds) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            continue;
        ++found;
        value.kind = kind;
        if (kind == GuideValue::Kind::Boxes) {
            if (!v.isArray() || v.toArray().isEmpty())
                fail(fileName, QStringLiteral("%1: \"boxes\" deve ser uma lista de campos da guia.")
                                   .arg(where));
            for (const QJsonValue &b : v.toArray()) {
                bool ok = false;
                const int box = b.isDouble() ? b.toInt() : b.toString().toInt(&ok);
                if ((!ok && !b.isDouble()) || box < gps::kFirstBox || box > gps::kLastBox)
                    fail(fileName,
                         QStringLiteral("%1: campo da guia desconhecido em \"boxes\".").arg(where));
                value.boxes << box;
            }
        } else if (kind == GuideValue::Kind::Text) {
            value.text = v.toString();
        } else {
            value.field = v.toString().trimmed();
            if (value.field.isEmpty())
                fail(fileName, QStringLiteral("%1: \"%2\" deve nomear um campo.").arg(where, key));
        }
    }
    if (found != 1)
        fail(fileName, QStringLiteral("%1: dê exatamente um de \"field\", \"sum\", \"max\", "
                                      "\"min\", \"boxes\" ou \"text\".")
                           .arg(where));
    value.format = o.value(QLatin1String("format")).toString();
    return value;
}

QList<ReportColumn> parseColumns(const QJsonValue &json, const QString &fileName)
{
    if (!json.isArray() || json.toArray().isEmpty())
        fail(fileName, QStringLiteral("o anexo da guia precisa de \"columns\"."));
    QList<ReportColumn> columns;
    for (const QJsonValue &item : json.toArray())
        columns << ReportDefinition::parseColumn(item, fileName);
    return columns;
}

QStringList stringList(const QJsonValue &json, const QString &fileName, const QString &what)
{
    if (!json.isArray())
        fail(fileName, QStringLiteral("%1 deve ser uma lista de campos.").arg(what));
    QStringList out;
    for (const QJsonValue &v : json.toArray()) {
        const QString name = v.toString().trimmed();
        if (name.isEmpty())
            fail(fileName, QStringLiteral("%1 deve ser uma lista de campos.").arg(what));
        out << name;
    }
    return out;
}

// The amount of a box, in cents, so that a total adds what the boxes show.
double cents(double value)
{
    return std::round(value * 100) / 100;
}

// Orders two values of a field: dates as dates, numbers as numbers, anything else as text.
bool lessThan(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && !b.isNull();
    const QDate da = reportDate(a), db = reportDate(b);
    if (da.isValid() && db.isValid())
        return da < db;
    bool oka = false, okb = false;
    const double na = a.toDouble(&oka), nb = b.toDouble(&okb);
    if (oka && okb)
        return na < nb;
    return a.toString() < b.toString();
}

class GuideBuilder
{
public:
    GuideBuilder(const GuideLayout &layout, const ReportRows &rows) : m_layout(layout), m_rows(rows)
    {}

    Guide build(const QList<int> &rows)
    {
        Guide guide;
        guide.rows = rows;
        guide.box.resize(gps::kLastBox);
        m_amounts.clear();
        // Boxes that add other boxes come last, once those have their amounts.
        for (int pass = 0; pass < 2; ++pass) {
            for (const GuideBox &box : m_layout.boxes) {
                const bool adds =
                    box.lines.size() == 1 && box.lines.first().kind == GuideValue::Kind::Boxes;
                if (adds != (pass == 1))
                    continue;
                QStringList lines;
                for (const GuideValue &value : box.lines)
                    lines << text(value, box.box, rows);
                guide.box[box.box - 1] = lines;
            }
        }
        if (m_layout.due)
            guide.due = text(*m_layout.due, 0, rows);
        return guide;
    }

private:
    QVariant fieldValue(int row, const QString &field) const
    {
        const int column = m_rows.indexOf(field);
        return column < 0 ? QVariant() : m_rows.values.at(row).at(column);
    }

    QString text(const GuideValue &value, int box, const QList<int> &rows)
    {
        const QString amountFormat = value.format.isEmpty() ? kAmount : value.format;
        switch (value.kind) {
        case GuideValue::Kind::Text:
            return value.text;
        case GuideValue::Kind::Sum: {
            double sum = 0;
            for (int row : rows)
                sum += reportNumber(fieldValue(row, value.field));
            m_amounts[box] = cents(sum);
            return formatNumber(sum, amountFormat);
        }
        case GuideValue::Kind::Boxes: {
            double sum = 0;
            for (int other : value.boxes)
                sum += m_amounts.value(other);
            m_amounts[box] = cents(sum);
            return formatNumber(sum, amountFormat);
        }
        case GuideValue::Kind::Max:
        case GuideValue::Kind::Min: {
            QVariant best;
            for (int row : rows) {
                const QVariant v = fieldValue(row, value.field);
                if (v.isNull())
                    continue;
                if (best.isNull() ||
                    (value.kind == GuideValue::Kind::Max ? lessThan(best, v) : lessThan(v, best)))
                    best = v;
            }
            return shown(best, value, box);
        }
        case GuideValue::Kind::Field:
            break;
        }
        return shown(fieldValue(rows.first(), value.field), value, box);
    }

    QString shown(const QVariant &v, const GuideValue &value, int box)
    {
        if (gps::isAmountBox(box)) {
            m_amounts[box] = cents(reportNumber(v));
            return formatNumber(reportNumber(v), value.format.isEmpty() ? kAmount : value.format);
        }
        return displayValue(v, value.format);
    }

    const GuideLayout &m_layout;
    const ReportRows &m_rows;
    QHash<int, double> m_amounts;
};

} // namespace

GuideLayout GuideLayout::parse(const QJsonObject &object, const QString &fileName,
                               const ReportParams &params)
{
    GuideLayout layout;
    layout.groupBy = stringList(object.value(QLatin1String("groupBy")), fileName,
                                QStringLiteral("\"groupBy\" da guia"));
    if (layout.groupBy.isEmpty())
        fail(fileName, QStringLiteral("\"groupBy\" da guia deve nomear ao menos um campo."));
    const QJsonValue picture = object.value(QLatin1String("picture"));
    if (!picture.isUndefined()) {
        layout.pictureParam = picture.toString().trimmed();
        if (!params.contains(layout.pictureParam))
            fail(fileName, QStringLiteral("a imagem da guia vem do parâmetro \"%1\", que não foi "
                                          "declarado em \"params\".")
                               .arg(layout.pictureParam));
    }

    const QJsonValue boxes = object.value(QLatin1String("boxes"));
    if (!boxes.isObject() || boxes.toObject().isEmpty())
        fail(fileName, QStringLiteral("a guia precisa de \"boxes\", os valores dos seus campos."));
    const QJsonObject boxObject = boxes.toObject();
    for (auto it = boxObject.begin(); it != boxObject.end(); ++it) {
        bool ok = false;
        const int number = it.key().toInt(&ok);
        if (!ok || number < gps::kFirstBox || number > gps::kLastBox)
            fail(fileName,
                 QStringLiteral("a guia não tem o campo \"%1\" (use 1 a 12).").arg(it.key()));
        const QString where = QStringLiteral("campo %1 da guia").arg(number);
        GuideBox box;
        box.box = number;
        if (it.value().isArray()) {
            for (const QJsonValue &line : it.value().toArray())
                box.lines << parseValue(line, fileName, where);
        } else {
            box.lines << parseValue(it.value(), fileName, where);
        }
        for (const GuideValue &line : box.lines) {
            if (line.kind == GuideValue::Kind::Boxes && box.lines.size() > 1)
                fail(fileName,
                     QStringLiteral("%1: uma soma de campos ocupa o campo inteiro.").arg(where));
        }
        layout.boxes << box;
    }
    std::sort(layout.boxes.begin(), layout.boxes.end(),
              [](const GuideBox &a, const GuideBox &b) { return a.box < b.box; });
    // A sum of boxes adds amounts that come from the rows, never another sum of boxes.
    for (const GuideBox &box : layout.boxes) {
        const GuideValue &value = box.lines.first();
        if (value.kind != GuideValue::Kind::Boxes)
            continue;
        if (!gps::isAmountBox(box.box))
            fail(fileName, QStringLiteral("campo %1 da guia: só os campos de valor (6 a 11) "
                                          "somam outros campos.")
                               .arg(box.box));
        for (int other : value.boxes) {
            const auto it = std::find_if(layout.boxes.cbegin(), layout.boxes.cend(),
                                         [other](const GuideBox &b) { return b.box == other; });
            if (it == layout.boxes.cend() || !gps::isAmountBox(other) ||
                it->lines.first().kind == GuideValue::Kind::Boxes)
                fail(fileName, QStringLiteral("campo %1 da guia: o campo %2 somado deve ser um "
                                              "campo de valor com dados das linhas.")
                                   .arg(box.box)
                                   .arg(other));
        }
    }

    const QJsonValue due = object.value(QLatin1String("due"));
    if (!due.isUndefined()) {
        layout.due = parseValue(due, fileName, QStringLiteral("vencimento da guia"));
        if (layout.due->kind == GuideValue::Kind::Boxes)
            fail(fileName, QStringLiteral("o vencimento da guia não é uma soma de campos."));
    }

    const QJsonValue annex = object.value(QLatin1String("annex"));
    if (!annex.isUndefined()) {
        if (!annex.isObject())
            fail(fileName, QStringLiteral("\"annex\" da guia deve ser um objeto."));
        const QJsonObject a = annex.toObject();
        layout.annexTitle = a.value(QLatin1String("title")).toString();
        layout.annexColumns = parseColumns(a.value(QLatin1String("columns")), fileName);
        if (a.contains(QLatin1String("totals")))
            layout.annexTotals = stringList(a.value(QLatin1String("totals")), fileName,
                                            QStringLiteral("\"totals\" do anexo"));
        for (const QString &total : layout.annexTotals) {
            const bool listed =
                std::any_of(layout.annexColumns.cbegin(), layout.annexColumns.cend(),
                            [&](const ReportColumn &c) {
                                return c.field.compare(total, Qt::CaseInsensitive) == 0;
                            });
            if (!listed)
                fail(fileName,
                     QStringLiteral("o total %1 do anexo não é uma das suas colunas.").arg(total));
        }
    }
    return layout;
}

QStringList GuideLayout::fieldsUsed() const
{
    QStringList fields = groupBy;
    const auto add = [&fields](const GuideValue &value) {
        if (!value.field.isEmpty())
            fields << value.field;
    };
    for (const GuideBox &box : boxes) {
        for (const GuideValue &value : box.lines)
            add(value);
    }
    if (due)
        add(*due);
    for (const ReportColumn &column : annexColumns)
        fields << column.field;
    fields.removeDuplicates();
    return fields;
}

int ReportRows::indexOf(const QString &field) const
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields.at(i).compare(field, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

QList<Guide> buildGuides(const GuideLayout &layout, const ReportRows &rows)
{
    QList<int> keyColumns;
    for (const QString &field : layout.groupBy)
        keyColumns << rows.indexOf(field);
    QHash<QString, qsizetype> groupOf;
    QList<QList<int>> groups;
    for (int r = 0; r < rows.values.size(); ++r) {
        QString key;
        for (int c : keyColumns) {
            const QVariant v = c < 0 ? QVariant() : rows.values.at(r).at(c);
            // Null and empty differ; the unit separator keeps ("ab", "c") apart from ("a", "bc").
            key += v.isNull() ? QStringLiteral("\x01") : v.toString();
            key += QChar(0x1f);
        }
        auto it = groupOf.constFind(key);
        if (it == groupOf.constEnd()) {
            it = groupOf.insert(key, groups.size());
            groups.append(QList<int>());
        }
        groups[*it] << r;
    }
    GuideBuilder builder(layout, rows);
    QList<Guide> guides;
    guides.reserve(groups.size());
    for (const QList<int> &group : groups)
        guides << builder.build(group);
    return guides;
}

} // namespace fis
