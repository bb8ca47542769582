#include "data/dataset.h"
#include "data/datalink.h"
#include "data/filter_p.h"
#include "data/packet.h"
#include "data/storage_p.h"

#include <QHash>
#include <QLocale>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace fis {

using detail::Column;
using detail::Content;

// =============================================================================================
// Errors, names, definitions

DataSetError::DataSetError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{}

QString fieldTypeName(FieldType type)
{
    switch (type) {
    case FieldType::String:
        return QStringLiteral("string");
    case FieldType::FixedString:
        return QStringLiteral("fixed");
    case FieldType::Float:
        return QStringLiteral("float");
    case FieldType::DateTime:
        return QStringLiteral("datetime");
    }
    return QString();
}

QString dataSetStateName(DataSetState state)
{
    switch (state) {
    case DataSetState::Inactive:
        return QStringLiteral("fechado");
    case DataSetState::Browse:
        return QStringLiteral("navegação");
    case DataSetState::Edit:
        return QStringLiteral("edição");
    case DataSetState::Insert:
        return QStringLiteral("inserção");
    }
    return QString();
}

FieldDef FieldDef::string(const QString &name, int size)
{
    FieldDef d;
    d.name = name;
    d.type = FieldType::String;
    d.size = size;
    return d;
}

FieldDef FieldDef::fixed(const QString &name, int size)
{
    FieldDef d = string(name, size);
    d.type = FieldType::FixedString;
    return d;
}

FieldDef FieldDef::floating(const QString &name)
{
    FieldDef d;
    d.name = name;
    d.type = FieldType::Float;
    return d;
}

FieldDef FieldDef::dateTime(const QString &name)
{
    FieldDef d;
    d.name = name;
    d.type = FieldType::DateTime;
    return d;
}

int FieldDef::effectiveSize() const
{
    if (!isText())
        return 0;
    return size > 0 ? size : kDefaultStringSize;
}

// =============================================================================================
// Formatting

namespace {

// "#,##0.00" and friends: optional literal prefix/suffix, grouping when the number part holds a
// comma, as many decimals as digit placeholders after the point ('0' forced, '#' optional).
QString formatFloat(double value, const QString &format)
{
    if (format.isEmpty())
        return detail::floatToText(value);
    QString section = format.section(QLatin1Char(';'), 0, 0);
    if (value < 0) {
        const QString negative = format.section(QLatin1Char(';'), 1, 1);
        if (!negative.isEmpty()) {
            section = negative;
            value = -value;
        }
    }
    qsizetype first = -1, last = -1;
    for (qsizetype i = 0; i < section.size(); ++i) {
        const QChar c = section[i];
        if (c == QLatin1Char('#') || c == QLatin1Char('0')) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    auto literal = [](QString s) {
        s.remove(QLatin1Char('"'));
        s.remove(QLatin1Char('\''));
        return s;
    };
    if (first < 0)
        return literal(section);
    const QString core = section.mid(first, last - first + 1);
    const bool grouping = core.contains(QLatin1Char(','));
    const qsizetype point = core.indexOf(QLatin1Char('.'));
    int decimals = 0, forced = 0;
    if (point >= 0) {
        for (qsizetype i = point + 1; i < core.size(); ++i) {
            if (core[i] == QLatin1Char('0')) {
                ++decimals;
                forced = decimals;
            } else if (core[i] == QLatin1Char('#')) {
                ++decimals;
            }
        }
    }
    QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    if (!grouping)
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const double scale = std::pow(10.0, decimals);
    if (std::round(value * scale) == 0.0)
        value = 0.0; // no "-0,00"
    QString text = locale.toString(value, 'f', decimals);
    if (forced < decimals) {
        const QChar dp = locale.decimalPoint().at(0);
        qsizetype keep = text.size() - (decimals - forced);
        while (text.size() > keep && text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(dp))
            text.chop(1);
    }
    return literal(section.left(first)) + text + literal(section.mid(last + 1));
}

// Date formats are written the usual way ("dd/mm/yyyy hh:nn"): m after h is minutes, n too.
QString qtDateFormat(const QString &format)
{
    QString out;
    bool afterHour = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i].toLower();
        qsizetype j = i;
        while (j < format.size() && format[j].toLower() == c)
            ++j;
        const qsizetype run = j - i;
        if (c == QLatin1Char('m'))
            out += QString(run, afterHour ? QLatin1Char('m') : QLatin1Char('M'));
        else if (c == QLatin1Char('n'))
            out += QString(run, QLatin1Char('m'));
        else if (c == QLatin1Char('d') || c == QLatin1Char('y') || c == QLatin1Char('h') ||
                 c == QLatin1Char('s'))
            out += QString(run, c);
        else if (c == QLatin1Char('z'))
            out += QString(run, QLatin1Char('z'));
        else
            out += format.mid(i, run);
        if (c == QLatin1Char('h'))
            afterHour = true;
        else if (c.isLetter() && c != QLatin1Char('m') && c != QLatin1Char('n'))
            afterHour = false;
        i = j;
    }
    return out;
}

} // namespace

// =============================================================================================
// Private

struct ClientDataSet::Private
{
    ClientDataSet *q;
    QList<Field *> fields;
    bool fieldsFromPacket = false;
    // Field positions by the exact name asked for: emptied whenever the list of fields changes.
    QHash<QString, int> fieldLookups;
    QList<IndexDef> indexes;
    QString indexName;

    DataSetState state = DataSetState::Inactive;
    // Shared with a packet decoded as it arrived until its first change (see writable()).
    std::shared_ptr<const Content> content = std::make_shared<Content>();
    bool contentShared = false;
    quint64 generation = 1;
    std::vector<qint32> view; // physical rows in view order
    int pos = -1;
    bool bof = true;
    bool eof = true;

    // Edit / insert
    std::vector<Variant> buffer;
    bool modified = false;
    qint32 editRow = -1;
    qint32 rowBeforeInsert = -1;

    int changeCount = 0;
    int disableCount = 0;

    QString filterText;
    bool filtered = false;
    std::shared_ptr<const detail::FilterExpr> filterExpr;

    QList<DataLink *> links;
    int readOverride = -1; // view row read by fields instead of the current one

    explicit Private(ClientDataSet *set) : q(set) {}

    QString setName() const
    {
        return q->objectName().isEmpty() ? QStringLiteral("(sem nome)") : q->objectName();
    }
    [[noreturn]] void fail(const QString &message) const { throw DataSetError(message); }

    bool active() const { return state != DataSetState::Inactive; }
    bool editing() const { return state == DataSetState::Edit || state == DataSetState::Insert; }
    void checkActive() const
    {
        if (!active())
            fail(QStringLiteral("Operação não permitida: o conjunto de dados '%1' está fechado.")
                     .arg(setName()));
    }
    void fire(const DataSetEvent &event)
    {
        if (event)
            event(*q);
    }

    QList<FieldDef> defs() const
    {
        QList<FieldDef> out;
        out.reserve(fields.size());
        for (const Field *f : fields)
            out.append(f->m_def);
        return out;
    }

    // --- reading ---
    Variant rowValue(int row, int field) const
    {
        if (!active() || row < 0 || row >= int(view.size()) || field < 0 ||
            field >= int(content->cols.size()))
            return Variant();
        if (editing() && row == pos)
            return buffer[size_t(field)];
        return content->cols[size_t(field)].value(view[size_t(row)]);
    }
    Variant currentValue(int field) const
    {
        return rowValue(readOverride >= 0 ? readOverride : pos, field);
    }

    // --- notifications ---
    template <typename F>
    void forLinks(F f)
    {
        QList<QPointer<DataLink>> targets;
        for (DataLink *l : links)
            targets.append(l);
        for (const QPointer<DataLink> &l : targets)
            if (l && l->m_set == q)
                f(l.data());
    }
    void notifyReset()
    {
        if (disableCount == 0) {
            forLinks([](DataLink *l) { l->notifyDataSetChanged(); });
            notifyActive();
        }
    }
    void notifyActive()
    {
        if (disableCount == 0)
            forLinks([this](DataLink *l) { l->notifyActiveRow(pos); });
    }
    void notifyRecord(int row)
    {
        if (disableCount == 0)
            forLinks([row](DataLink *l) { l->notifyRecordChanged(row); });
    }
    void notifyInserted(int row)
    {
        if (disableCount == 0)
            forLinks([row](DataLink *l) { l->notifyRowInserted(row); });
    }
    void notifyRemoved(int row)
    {
        if (disableCount == 0)
            forLinks([row](DataLink *l) { l->notifyRowRemoved(row); });
    }
    void notifyMoved(int from, int to)
    {
        if (disableCount == 0)
            forLinks([from, to](DataLink *l) { l->notifyRowMoved(from, to); });
    }
    void notifyFields()
    {
        forLinks([](DataLink *l) { l->notifyFieldsChanged(); });
    }
    void setState(DataSetState s)
    {
        if (state == s)
            return;
        state = s;
        emit q->stateChanged(s);
        forLinks([s](DataLink *l) { l->notifyState(s); });
    }

    // --- order and filter ---
    struct IndexKey
    {
        std::vector<int> cols;
        bool descending = false;
        bool caseInsensitive = false;
    };
    bool indexKey(IndexKey *key) const
    {
        if (indexName.isEmpty())
            return false;
        for (const IndexDef &def : indexes) {
            if (def.name.compare(indexName, Qt::CaseInsensitive) != 0)
                continue;
            for (const QString &name : def.fields.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                // setIndexName() and setData() refuse unknown fields; never fail mid-change.
                if (const Field *f = q->findField(name.trimmed()))
                    key->cols.push_back(f->index());
            }
            key->descending = def.options.testFlag(IndexOption::Descending);
            key->caseInsensitive = def.options.testFlag(IndexOption::CaseInsensitive);
            return !key->cols.empty();
        }
        return false;
    }
    static int compareCell(const Column &c, qint32 a, qint32 b, bool ci)
    {
        if (c.isText()) {
            const QByteArrayView x = c.utf8(a), y = c.utf8(b);
            if (ci)
                return QString::fromUtf8(x).compare(QString::fromUtf8(y), Qt::CaseInsensitive);
            const qsizetype n = std::min(x.size(), y.size());
            const int r = n ? std::memcmp(x.data(), y.data(), size_t(n)) : 0;
            if (r != 0)
                return r;
            return x.size() < y.size() ? -1 : (x.size() > y.size() ? 1 : 0);
        }
        const bool na = c.isNull(a), nb = c.isNull(b);
        if (na || nb)
            return na == nb ? 0 : (na ? -1 : 1);
        const double x = c.num[size_t(a)], y = c.num[size_t(b)];
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    int compareRows(const IndexKey &key, qint32 a, qint32 b) const
    {
        for (int col : key.cols) {
            const int r = compareCell(content->cols[size_t(col)], a, b, key.caseInsensitive);
            if (r != 0)
                return key.descending ? -r : r;
        }
        return 0;
    }
    bool passes(qint32 row) const
    {
        return !filtered || !filterExpr || filterExpr->matches(*content, row);
    }
    std::vector<qint32> buildView() const
    {
        std::vector<qint32> out;
        out.reserve(content->natural.size());
        for (qint32 row : content->natural)
            if (passes(row))
                out.push_back(row);
        IndexKey key;
        if (indexKey(&key))
            std::stable_sort(out.begin(), out.end(),
                             [&](qint32 a, qint32 b) { return compareRows(key, a, b) < 0; });
        return out;
    }
    int viewPosOf(qint32 row) const
    {
        const auto it = std::find(view.begin(), view.end(), row);
        return it == view.end() ? -1 : int(it - view.begin());
    }
    void setPosition(int p) { pos = view.empty() ? -1 : std::clamp(p, 0, int(view.size()) - 1); }
    // Rebuilds the view keeping the current row when it is still visible.
    void rebuildKeepingRow()
    {
        const qint32 current = pos >= 0 && pos < int(view.size()) ? view[size_t(pos)] : -1;
        view = buildView();
        const int p = current >= 0 ? viewPosOf(current) : -1;
        setPosition(p >= 0 ? p : 0);
        bof = pos <= 0;
        eof = view.empty();
    }

    // --- editing helpers ---
    void dropEdit()
    {
        if (state == DataSetState::Insert && pos >= 0 && pos < int(view.size()) &&
            view[size_t(pos)] == editRow)
            view.erase(view.begin() + pos);
        buffer.clear();
        modified = false;
        editRow = -1;
    }
    void writeField(int field, const Variant &value)
    {
        if (!editing())
            fail(QStringLiteral("O conjunto de dados '%1' não está em modo de edição ou inserção.")
                     .arg(setName()));
        const Field *f = fields[field];
        buffer[size_t(field)] =
            detail::convertForField(value, f->m_def.type, f->m_def.effectiveSize(), f->m_def.name);
        modified = true;
        notifyRecord(pos);
    }

    // The content to change: one shared with a packet is copied first.
    Content &writable()
    {
        if (contentShared) {
            content = std::make_shared<Content>(detail::copyContent(*content));
            contentShared = false;
        }
        return const_cast<Content &>(*content); // made here, never const itself
    }

    // Replaces the whole content (already validated). Fields are replaced when adopted.
    void swapContent(Content &&fresh)
    {
        swapContent(std::make_shared<Content>(std::move(fresh)), false);
    }
    // `shared`: the content belongs to a packet too, and is copied on its first change.
    void swapContent(std::shared_ptr<const Content> fresh, bool shared)
    {
        // A row being edited is dropped with its buffer: the views told of the new content must
        // read it from the content, not from the buffer (the state changes for them afterwards).
        dropEdit();
        if (editing())
            state = DataSetState::Browse;
        content = std::move(fresh);
        contentShared = shared;
        ++generation;
        changeCount = 0;
        view = buildView();
        setPosition(0);
        bof = true;
        eof = view.empty();
    }

    void replaceFields(const QList<PacketField> &packetFields)
    {
        for (Field *f : std::as_const(fields))
            delete f;
        fields.clear();
        fieldLookups.clear();
        for (const FieldDef &def : detail::fieldDefsOf(packetFields))
            fields.append(new Field(q, int(fields.size()), def));
        fieldsFromPacket = true;
    }

    // Moves the cursor (events included) after the browse-mode check.
    void scrollTo(int p, bool newBof, bool newEof)
    {
        fire(q->beforeScroll);
        setPosition(p);
        bof = newBof;
        eof = newEof;
        notifyActive();
        fire(q->afterScroll);
    }

    // Where a posted row sits now: moved by the index or hidden by the filter.
    void placePostedRow()
    {
        const int from = pos;
        const qint32 row = view[size_t(from)];
        if (!passes(row)) {
            view.erase(view.begin() + from);
            notifyRemoved(from);
            const bool wasLast = from >= int(view.size());
            setPosition(from);
            eof = view.empty() || wasLast;
            bof = view.empty();
            return;
        }
        IndexKey key;
        if (!indexKey(&key)) {
            notifyRecord(from);
            return;
        }
        view.erase(view.begin() + from);
        const auto it = std::upper_bound(view.begin(), view.end(), row, [&](qint32 a, qint32 b) {
            return compareRows(key, a, b) < 0;
        });
        const int to = int(it - view.begin());
        view.insert(it, row);
        pos = to;
        if (to != from)
            notifyMoved(from, to);
        notifyRecord(to);
    }

    // Starts an insert (at the cursor or at the end) with its events.
    void beginInsert(bool atEnd)
    {
        checkActive();
        q->checkBrowseMode();
        fire(q->beforeInsert);
        fire(q->beforeScroll);

        const qint32 before = pos >= 0 ? view[size_t(pos)] : -1;
        const qint32 row = writable().appendRow();
        const int at = atEnd ? int(view.size()) : std::max(pos, 0);
        view.insert(view.begin() + at, row);
        pos = at;
        bof = eof = false;
        buffer.assign(content->cols.size(), Variant());
        editRow = row;
        rowBeforeInsert = before;
        modified = false;
        notifyInserted(at);
        notifyActive();
        setState(DataSetState::Insert);
        try {
            fire(q->onNewRecord);
        } catch (...) {
            dropEdit();
            notifyRemoved(at);
            const int back = before >= 0 ? viewPosOf(before) : 0;
            setPosition(back);
            state = DataSetState::Browse;
            notifyActive();
            forLinks([](DataLink *l) { l->notifyState(DataSetState::Browse); });
            throw;
        }
        modified = false;
        fire(q->afterInsert);
        fire(q->afterScroll);
    }

    bool matchCell(int field, qint32 row, const Variant &wanted, LocateOptions options) const
    {
        const Column &c = content->cols[size_t(field)];
        const bool wantNull = !wanted.isValid() || wanted.isNull();
        if (c.isText()) {
            QString want = wanted.toString();
            QString have = c.string(row);
            if (c.type == FieldType::FixedString) {
                while (have.endsWith(QLatin1Char(' ')))
                    have.chop(1);
                while (want.endsWith(QLatin1Char(' ')))
                    want.chop(1);
            }
            const Qt::CaseSensitivity cs = options.testFlag(LocateOption::CaseInsensitive)
                                               ? Qt::CaseInsensitive
                                               : Qt::CaseSensitive;
            if (options.testFlag(LocateOption::PartialKey))
                return have.startsWith(want, cs);
            return have.compare(want, cs) == 0;
        }
        if (c.type == FieldType::Float) {
            if (wantNull || c.isNull(row))
                return wantNull && c.isNull(row);
            return c.num[size_t(row)] == wanted.toDouble();
        }
        const double want = wantNull ? 0.0 : wanted.value<TDateTime>().value;
        return c.num[size_t(row)] == want;
    }
};

// =============================================================================================
// Field

Field::Field(ClientDataSet *set, int index, const FieldDef &def)
    : QObject(set), onGetText(def.onGetText), onSetText(def.onSetText), m_set(set), m_index(index),
      m_def(def)
{
    m_def.onGetText = nullptr;
    m_def.onSetText = nullptr;
    setObjectName(set->objectName() + def.name); // "cdsAprov" + "IDCHECK"
}

void Field::notifyLayout()
{
    m_set->d->notifyFields();
}

QString Field::displayLabel() const
{
    return m_def.displayLabel.isEmpty() ? m_def.name : m_def.displayLabel;
}

void Field::setDisplayLabel(const QString &label)
{
    m_def.displayLabel = label;
    notifyLayout();
}

void Field::setDisplayFormat(const QString &format)
{
    m_def.displayFormat = format;
    notifyLayout();
}

int Field::displayWidth() const
{
    if (m_def.displayWidth > 0)
        return m_def.displayWidth;
    switch (m_def.type) {
    case FieldType::String:
    case FieldType::FixedString:
        return m_def.effectiveSize();
    case FieldType::Float:
        return 10;
    case FieldType::DateTime:
        return 10;
    }
    return 10;
}

void Field::setDisplayWidth(int width)
{
    m_def.displayWidth = width;
    notifyLayout();
}

void Field::setVisible(bool on)
{
    if (m_def.visible == on)
        return;
    m_def.visible = on;
    notifyLayout();
}

void Field::setReadOnly(bool on)
{
    if (m_def.readOnly == on)
        return;
    m_def.readOnly = on;
    notifyLayout();
}

void Field::setRequired(bool on)
{
    m_def.required = on;
}

void Field::setEditMask(const QString &mask)
{
    m_def.editMask = mask;
    notifyLayout();
}

Variant Field::value() const
{
    return m_set->d->currentValue(m_index);
}

bool Field::isNull() const
{
    const Variant v = value();
    return !v.isValid() || v.isNull();
}

QString Field::asString() const
{
    return formatValue(value(), false);
}

double Field::asFloat() const
{
    const Variant v = value();
    switch (kindOf(v)) {
    case VariantKind::Float:
        return v.toDouble();
    case VariantKind::Date:
        return v.value<TDateTime>().value;
    case VariantKind::Text: {
        double d = 0;
        if (v.toString().trimmed().isEmpty())
            return 0.0;
        if (!detail::textToFloat(v.toString(), &d))
            throw DataSetError(QStringLiteral("'%1' não é um valor numérico válido (campo '%2').")
                                   .arg(v.toString().trimmed(), m_def.name));
        return d;
    }
    default:
        return 0.0;
    }
}

TDateTime Field::asDateTime() const
{
    const Variant v = value();
    switch (kindOf(v)) {
    case VariantKind::Date:
        return v.value<TDateTime>();
    case VariantKind::Float:
        return TDateTime(v.toDouble());
    case VariantKind::Text: {
        TDateTime d;
        if (v.toString().trimmed().isEmpty())
            return d;
        if (!detail::textToDate(v.toString(), &d))
            throw DataSetError(QStringLiteral("'%1' não é uma data válida (campo '%2').")
                                   .arg(v.toString().trimmed(), m_def.name));
        return d;
    }
    default:
        return TDateTime();
    }
}

QString Field::formatValue(const Variant &v, bool display) const
{
    if (!v.isValid() || v.isNull())
        return QString();
    switch (m_def.type) {
    case FieldType::String:
    case FieldType::FixedString:
        return v.toString();
    case FieldType::Float:
        return display ? formatFloat(v.toDouble(), m_def.displayFormat)
                       : detail::floatToText(v.toDouble());
    case FieldType::DateTime: {
        const TDateTime d = v.value<TDateTime>();
        if (d.isNull())
            return QString();
        if (display && !m_def.displayFormat.isEmpty()) {
            // On the calendar, not in the local zone: a midnight that daylight saving skips
            // there would show no date at all.
            const double whole = std::floor(d.value);
            const qint64 ms =
                std::min<qint64>(std::llround((d.value - whole) * 86400000.0), 86399999);
            const QDateTime calendar(d.toDate(), QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC);
            return calendar.toString(qtDateFormat(m_def.displayFormat));
        }
        return detail::dateToText(d);
    }
    }
    return QString();
}

QString Field::text() const
{
    if (onGetText) {
        QString t;
        onGetText(const_cast<Field &>(*this), t, false);
        return t;
    }
    return formatValue(value(), false);
}

QString Field::displayText() const
{
    if (onGetText) {
        QString t;
        onGetText(const_cast<Field &>(*this), t, true);
        return t;
    }
    return formatValue(value(), true);
}

void Field::setValue(const Variant &value)
{
    m_set->d->writeField(m_index, value);
}

void Field::setAsString(const QString &value)
{
    setValue(Variant(value));
}

void Field::setAsFloat(double value)
{
    if (!std::isfinite(value))
        throw DataSetError(
            QStringLiteral("Valor numérico inválido para o campo '%1'.").arg(m_def.name));
    setValue(Variant(value));
}

void Field::setAsDateTime(TDateTime value)
{
    if (!std::isfinite(value.value))
        throw DataSetError(QStringLiteral("Data inválida para o campo '%1'.").arg(m_def.name));
    setValue(value.isNull() ? Variant() : makeDate(value));
}

void Field::clear()
{
    setValue(Variant());
}

Variant Field::parseText(const QString &text) const
{
    switch (m_def.type) {
    case FieldType::String:
    case FieldType::FixedString:
        return detail::convertForField(Variant(text), m_def.type, m_def.effectiveSize(),
                                       m_def.name);
    case FieldType::Float: {
        if (text.trimmed().isEmpty())
            return Variant();
        double d = 0;
        if (!detail::textToFloat(text, &d))
            throw DataSetError(QStringLiteral("'%1' não é um valor numérico válido (campo '%2').")
                                   .arg(text.trimmed(), displayLabel()));
        return Variant(d);
    }
    case FieldType::DateTime: {
        // A cleared masked date ("  /  /    ") holds only blanks and separators: no date.
        const bool blank = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
            return c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char(':') ||
                   c == QLatin1Char('-');
        });
        if (blank)
            return Variant();
        TDateTime d;
        if (!detail::textToDate(text, &d))
            throw DataSetError(QStringLiteral("'%1' não é uma data válida (campo '%2').")
                                   .arg(text.trimmed(), displayLabel()));
        return makeDate(d);
    }
    }
    return Variant();
}

void Field::setText(const QString &text)
{
    if (onSetText) {
        onSetText(*this, text);
        return;
    }
    setValue(parseText(text));
}

Variant Field::valueAt(int row) const
{
    return m_set->d->rowValue(row, m_index);
}

namespace {
struct ReadOverride
{
    int &slot;
    int saved;
    ReadOverride(int &s, int row) : slot(s), saved(s) { slot = row; }
    ~ReadOverride() { slot = saved; }
};
} // namespace

QString Field::displayTextAt(int row) const
{
    ReadOverride guard(m_set->d->readOverride, row);
    return displayText();
}

QString Field::textAt(int row) const
{
    ReadOverride guard(m_set->d->readOverride, row);
    return text();
}

// =============================================================================================
// ClientDataSet: definitions

ClientDataSet::ClientDataSet(const QString &name, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(this))
{
    setObjectName(name);
}

ClientDataSet::~ClientDataSet()
{
    const QList<DataLink *> links = d->links;
    d->links.clear();
    for (DataLink *l : links)
        l->detachFromSet();
}

Field *ClientDataSet::addField(const FieldDef &def)
{
    if (d->active())
        d->fail(QStringLiteral("Não é possível definir campos com o conjunto de dados '%1' aberto.")
                    .arg(d->setName()));
    if (def.name.isEmpty())
        d->fail(QStringLiteral("Campo sem nome em '%1'.").arg(d->setName()));
    if (findField(def.name))
        d->fail(QStringLiteral("Campo '%1' repetido em '%2'.").arg(def.name, d->setName()));
    if (d->fieldsFromPacket) {
        for (Field *f : std::as_const(d->fields))
            delete f;
        d->fields.clear();
        d->fieldsFromPacket = false;
    }
    Field *f = new Field(this, int(d->fields.size()), def);
    d->fields.append(f);
    d->fieldLookups.clear();
    d->notifyFields();
    return f;
}

void ClientDataSet::addFields(const QList<FieldDef> &defs)
{
    for (const FieldDef &def : defs)
        addField(def);
}

void ClientDataSet::clearFields()
{
    if (d->active())
        d->fail(QStringLiteral("Não é possível remover campos com o conjunto de dados '%1' aberto.")
                    .arg(d->setName()));
    for (Field *f : std::as_const(d->fields))
        delete f;
    d->fields.clear();
    d->fieldLookups.clear();
    d->fieldsFromPacket = false;
    d->notifyFields();
}

QList<FieldDef> ClientDataSet::fieldDefs() const
{
    QList<FieldDef> out;
    for (const Field *f : d->fields) {
        FieldDef def = f->def();
        def.onGetText = f->onGetText;
        def.onSetText = f->onSetText;
        out.append(def);
    }
    return out;
}

int ClientDataSet::fieldCount() const
{
    return int(d->fields.size());
}

Field *ClientDataSet::field(int index) const
{
    return index >= 0 && index < d->fields.size() ? d->fields[index] : nullptr;
}

QList<Field *> ClientDataSet::fields() const
{
    return d->fields;
}

Field *ClientDataSet::findField(const QString &name) const
{
    // The screens ask for the same few names row after row.
    if (const auto known = d->fieldLookups.constFind(name); known != d->fieldLookups.cend())
        return d->fields.at(*known);
    for (int i = 0; i < d->fields.size(); ++i) {
        if (d->fields.at(i)->fieldName().compare(name, Qt::CaseInsensitive) == 0) {
            d->fieldLookups.insert(name, i);
            return d->fields.at(i);
        }
    }
    return nullptr;
}

Field *ClientDataSet::fieldByName(const QString &name) const
{
    if (Field *f = findField(name))
        return f;
    d->fail(QStringLiteral("Campo '%1' não encontrado em '%2'.").arg(name, d->setName()));
}

bool ClientDataSet::fieldsFromPacket() const
{
    return d->fieldsFromPacket;
}

// --- Indexes --------------------------------------------------------------------------------

void ClientDataSet::addIndex(const QString &name, const QString &fields, IndexOptions options)
{
    if (name.isEmpty() || fields.trimmed().isEmpty())
        d->fail(QStringLiteral("Índice sem nome ou sem campos em '%1'.").arg(d->setName()));
    for (IndexDef &def : d->indexes) {
        if (def.name.compare(name, Qt::CaseInsensitive) == 0) {
            def.fields = fields;
            def.options = options;
            if (d->indexName.compare(name, Qt::CaseInsensitive) == 0 && d->active()) {
                d->rebuildKeepingRow();
                d->notifyReset();
            }
            return;
        }
    }
    d->indexes.append(IndexDef{name, fields, options});
}

QList<IndexDef> ClientDataSet::indexDefs() const
{
    return d->indexes;
}

void ClientDataSet::setIndexName(const QString &name)
{
    if (!name.isEmpty()) {
        const auto it = std::find_if(d->indexes.begin(), d->indexes.end(), [&](const IndexDef &i) {
            return i.name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (it == d->indexes.end())
            d->fail(QStringLiteral("Índice '%1' não encontrado em '%2'.").arg(name, d->setName()));
        for (const QString &f : it->fields.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            if (!d->fields.isEmpty() && !findField(f.trimmed()))
                d->fail(QStringLiteral("Índice '%1': campo '%2' não encontrado em '%3'.")
                            .arg(name, f.trimmed(), d->setName()));
    }
    if (d->active())
        checkBrowseMode();
    d->indexName = name;
    if (d->active()) {
        d->rebuildKeepingRow();
        d->notifyReset();
    }
}

QString ClientDataSet::indexName() const
{
    return d->indexName;
}

// --- Open / close ---------------------------------------------------------------------------

DataSetState ClientDataSet::state() const
{
    return d->state;
}

bool ClientDataSet::active() const
{
    return d->active();
}

void ClientDataSet::open()
{
    if (d->active())
        return;
    if (d->fields.isEmpty())
        d->fail(QStringLiteral("O conjunto de dados '%1' não tem campos definidos nem dados.")
                    .arg(d->setName()));
    d->fire(beforeOpen);
    d->swapContent(detail::emptyContent(d->defs()));
    d->notifyReset();
    d->setState(DataSetState::Browse);
    d->fire(afterOpen);
    if (!isEmpty())
        d->fire(afterScroll);
}

void ClientDataSet::close()
{
    if (!d->active())
        return;
    d->fire(beforeClose);
    d->dropEdit();
    d->content = std::make_shared<Content>();
    d->contentShared = false;
    ++d->generation;
    d->changeCount = 0;
    d->view.clear();
    d->pos = -1;
    d->bof = d->eof = true;
    d->state = DataSetState::Inactive; // links learn it below, after the reset
    d->notifyReset();
    emit stateChanged(d->state);
    d->forLinks([](DataLink *l) { l->notifyState(DataSetState::Inactive); });
    d->fire(afterClose);
}

void ClientDataSet::setActive(bool on)
{
    if (on)
        open();
    else
        close();
}

void ClientDataSet::createDataSet()
{
    if (d->fields.isEmpty())
        d->fail(
            QStringLiteral("O conjunto de dados '%1' não tem campos definidos.").arg(d->setName()));
    close();
    open();
}

void ClientDataSet::emptyDataSet()
{
    d->checkActive();
    const bool wasEditing = d->editing();
    d->swapContent(detail::emptyContent(d->defs()));
    d->notifyReset();
    if (wasEditing)
        d->setState(DataSetState::Browse);
}

// --- Packets --------------------------------------------------------------------------------

namespace {

// Whether a packet's columns, as decoded in its own fields, are what the declared fields would
// hold: the same fields in the same order (names ignoring case), of the same types, and texts
// not cut (a fixed text is padded to its column's size, so that size must be the same).
bool fitsAsDecoded(const QList<FieldDef> &declared, const QList<PacketField> &fields)
{
    if (declared.size() != fields.size())
        return false;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const FieldDef &def = declared[i];
        FieldDef packet;
        packet.type = fields[i].type;
        packet.size = fields[i].size;
        if (def.type != packet.type || def.name.compare(fields[i].name, Qt::CaseInsensitive) != 0)
            return false;
        if (def.type == FieldType::String && def.effectiveSize() < packet.effectiveSize())
            return false;
        if (def.type == FieldType::FixedString && def.effectiveSize() != packet.effectiveSize())
            return false;
    }
    return true;
}

} // namespace

void ClientDataSet::setData(const DataPacket &packet)
{
    if (packet.isNull()) {
        close();
        return;
    }
    const bool adopt = d->fields.isEmpty() || d->fieldsFromPacket;
    QList<PacketField> packetFields;
    std::shared_ptr<const Content> fresh;
    // A packet decoded as it arrived, in the set's own fields, is loaded as it is: shared, and
    // copied on the set's first change. In other fields it is loaded from its columns as its
    // bytes would be.
    const bool share =
        packet.decoded && (adopt || fitsAsDecoded(d->defs(), packet.decoded->fields));
    if (share) {
        packetFields = packet.decoded->fields;
        fresh = std::shared_ptr<const Content>(packet.decoded, &packet.decoded->content);
    } else if (packet.decoded) {
        packetFields = packet.decoded->fields;
        fresh = std::make_shared<Content>(detail::loadDecoded(*packet.decoded, d->defs()));
    } else {
        fresh = std::make_shared<Content>(detail::decodePacket(
            packet.encoded(), adopt ? QList<FieldDef>() : d->defs(), &packetFields));
    }

    // Everything that can refuse the load runs before anything changes.
    std::shared_ptr<const detail::FilterExpr> expr = d->filterExpr;
    if (adopt && !d->filterText.trimmed().isEmpty()) {
        expr = detail::FilterExpr::parse(d->filterText, detail::fieldDefsOf(packetFields));
    }
    if (adopt && !d->indexName.isEmpty()) {
        for (const IndexDef &index : std::as_const(d->indexes)) {
            if (index.name.compare(d->indexName, Qt::CaseInsensitive) != 0)
                continue;
            for (const QString &name : index.fields.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                const bool known = std::any_of(
                    packetFields.begin(), packetFields.end(), [&](const PacketField &f) {
                        return f.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0;
                    });
                if (!known)
                    d->fail(QStringLiteral("Índice '%1': campo '%2' não está no pacote de '%3'.")
                                .arg(index.name, name.trimmed(), d->setName()));
            }
        }
    }
    const bool wasActive = d->active();
    if (wasActive)
        d->fire(beforeClose);
    d->fire(beforeOpen);

    if (adopt)
        d->replaceFields(packetFields);
    d->filterExpr = expr;
    d->swapContent(std::move(fresh), share);
    d->notifyReset();
    if (adopt)
        d->notifyFields();
    if (wasActive) {
        d->state = DataSetState::Inactive;
        d->fire(afterClose);
    }
    d->setState(DataSetState::Browse); // a reload is a close and an open for the views
    if (!wasActive)
        d->notifyReset(); // the views counted no rows while the set was still closed
    d->fire(afterOpen);
    if (!isEmpty())
        d->fire(afterScroll);
}

DataPacket ClientDataSet::data() const
{
    if (!d->active())
        return DataPacket();
    return DataPacket{detail::encodeContent(d->defs(), *d->content, d->content->natural)};
}

// --- Navigation -----------------------------------------------------------------------------

void ClientDataSet::first()
{
    d->checkActive();
    checkBrowseMode();
    d->scrollTo(0, true, d->view.empty());
}

void ClientDataSet::last()
{
    d->checkActive();
    checkBrowseMode();
    d->scrollTo(int(d->view.size()) - 1, d->view.empty(), true);
}

void ClientDataSet::next()
{
    moveBy(1);
}

void ClientDataSet::prior()
{
    moveBy(-1);
}

int ClientDataSet::moveBy(int distance)
{
    d->checkActive();
    checkBrowseMode();
    if (distance == 0)
        return 0;
    const int n = int(d->view.size());
    if (n == 0) {
        d->scrollTo(-1, true, true);
        return 0;
    }
    if ((distance > 0 && d->eof) || (distance < 0 && d->bof)) {
        d->fire(beforeScroll);
        d->fire(afterScroll);
        return 0;
    }
    const qint64 target = qint64(d->pos) + distance;
    const int clamped = int(std::clamp<qint64>(target, 0, n - 1));
    const bool newEof = distance > 0 && target >= n;
    const bool newBof = distance < 0 && target < 0;
    const int moved = clamped - d->pos;
    d->scrollTo(clamped, newBof, newEof);
    return moved;
}

bool ClientDataSet::eof() const
{
    return !d->active() || d->eof;
}

bool ClientDataSet::bof() const
{
    return !d->active() || d->bof;
}

int ClientDataSet::recNo() const
{
    return d->active() && d->pos >= 0 ? d->pos + 1 : 0;
}

void ClientDataSet::setRecNo(int recNo)
{
    d->checkActive();
    checkBrowseMode();
    if (d->view.empty() || recNo == this->recNo())
        return;
    const int target = std::clamp(recNo, 1, int(d->view.size())) - 1;
    d->scrollTo(target, false, false);
}

int ClientDataSet::recordCount() const
{
    return d->active() ? int(d->view.size()) : 0;
}

bool ClientDataSet::isEmpty() const
{
    return recordCount() == 0;
}

// --- Editing --------------------------------------------------------------------------------

void ClientDataSet::edit()
{
    d->checkActive();
    if (d->editing())
        return;
    if (d->view.empty()) {
        insert();
        return;
    }
    d->fire(beforeEdit);
    const qint32 row = d->view[size_t(d->pos)];
    d->buffer.assign(d->content->cols.size(), Variant());
    for (size_t c = 0; c < d->content->cols.size(); ++c)
        d->buffer[c] = d->content->cols[c].value(row);
    d->editRow = row;
    d->modified = false;
    d->setState(DataSetState::Edit);
    d->fire(afterEdit);
}

void ClientDataSet::insert()
{
    d->beginInsert(false);
}

void ClientDataSet::append()
{
    d->beginInsert(true);
}

void ClientDataSet::appendRecord(const QVariantList &values)
{
    if (values.size() > d->fields.size())
        d->fail(QStringLiteral("Registro com %1 valores para %2 campos em '%3'.")
                    .arg(values.size())
                    .arg(d->fields.size())
                    .arg(d->setName()));
    append();
    try {
        for (qsizetype i = 0; i < values.size(); ++i)
            d->fields[i]->setValue(values[i]);
        post();
    } catch (...) {
        if (d->editing())
            cancel();
        throw;
    }
}

void ClientDataSet::post()
{
    d->checkActive();
    if (!d->editing())
        return;
    d->fire(beforePost);
    for (const Field *f : std::as_const(d->fields)) {
        const Variant &v = d->buffer[size_t(f->index())];
        if (f->required() && (!v.isValid() || v.isNull()))
            d->fail(QStringLiteral("O campo '%1' deve ter um valor.").arg(f->displayLabel()));
    }
    const qint32 row = d->editRow;
    for (size_t c = 0; c < d->content->cols.size(); ++c)
        d->writable().cols[c].set(row, d->buffer[c]);
    if (d->state == DataSetState::Insert) {
        d->writable().alive[size_t(row)] = 1;
        // Natural order: before the row that follows it on screen (no index), else at the end.
        auto &nat = d->writable().natural;
        Private::IndexKey key;
        const bool indexed = d->indexKey(&key);
        auto at = nat.end();
        if (!indexed && d->pos + 1 < int(d->view.size()))
            at = std::find(nat.begin(), nat.end(), d->view[size_t(d->pos + 1)]);
        nat.insert(at, row);
    }
    ++d->changeCount;
    d->buffer.clear();
    d->modified = false;
    d->editRow = -1;
    d->rowBeforeInsert = -1;
    d->state = DataSetState::Browse;
    d->placePostedRow();
    d->notifyActive();
    emit stateChanged(d->state);
    d->forLinks([](DataLink *l) { l->notifyState(DataSetState::Browse); });
    d->fire(afterPost);
}

void ClientDataSet::cancel()
{
    if (!d->editing())
        return;
    d->fire(beforeCancel);
    const bool inserting = d->state == DataSetState::Insert;
    const int at = d->pos;
    const qint32 before = d->rowBeforeInsert;
    d->dropEdit();
    d->rowBeforeInsert = -1;
    d->state = DataSetState::Browse;
    if (inserting) {
        d->notifyRemoved(at);
        const int back = before >= 0 ? d->viewPosOf(before) : at;
        d->setPosition(back >= 0 ? back : at);
        d->bof = d->pos <= 0;
        d->eof = d->view.empty();
    } else {
        d->notifyRecord(at);
    }
    d->notifyActive();
    emit stateChanged(d->state);
    d->forLinks([](DataLink *l) { l->notifyState(DataSetState::Browse); });
    d->fire(afterCancel);
}

void ClientDataSet::deleteRecord()
{
    d->checkActive();
    if (d->state == DataSetState::Insert) {
        cancel();
        return;
    }
    if (d->view.empty())
        d->fail(QStringLiteral("Não há registro para excluir em '%1'.").arg(d->setName()));
    d->fire(beforeDelete);
    d->fire(beforeScroll);
    const bool wasEditing = d->editing();
    const int at = d->pos;
    const qint32 row = d->view[size_t(at)];
    d->buffer.clear();
    d->modified = false;
    d->editRow = -1;
    d->writable().alive[size_t(row)] = 0;
    auto &nat = d->writable().natural;
    nat.erase(std::find(nat.begin(), nat.end(), row));
    d->view.erase(d->view.begin() + at);
    ++d->changeCount;
    const bool wasLast = at >= int(d->view.size());
    d->setPosition(at);
    d->bof = d->view.empty() || d->pos == 0;
    d->eof = d->view.empty() || wasLast;
    if (wasEditing)
        d->state = DataSetState::Browse;
    d->notifyRemoved(at);
    d->notifyActive();
    if (wasEditing) {
        emit stateChanged(d->state);
        d->forLinks([](DataLink *l) { l->notifyState(DataSetState::Browse); });
    }
    d->fire(afterDelete);
    d->fire(afterScroll);
}

bool ClientDataSet::modified() const
{
    return d->editing() && d->modified;
}

int ClientDataSet::changeCount() const
{
    return d->active() ? d->changeCount : 0;
}

void ClientDataSet::checkBrowseMode()
{
    if (!d->editing())
        return;
    if (d->modified)
        post();
    else
        cancel();
}

// --- Bookmarks ------------------------------------------------------------------------------

Bookmark ClientDataSet::bookmark() const
{
    if (!d->active() || d->pos < 0 || d->state == DataSetState::Insert)
        return Bookmark();
    return Bookmark(d->generation, d->view[size_t(d->pos)]);
}

bool ClientDataSet::bookmarkValid(const Bookmark &bm) const
{
    if (!d->active() || !bm.isValid() || bm.m_generation != d->generation ||
        bm.m_row >= d->content->rows || !d->content->alive[size_t(bm.m_row)])
        return false;
    return d->viewPosOf(qint32(bm.m_row)) >= 0;
}

void ClientDataSet::gotoBookmark(const Bookmark &bm)
{
    d->checkActive();
    checkBrowseMode();
    if (!bookmarkValid(bm))
        d->fail(QStringLiteral("Marcador inválido: o registro não existe mais em '%1'.")
                    .arg(d->setName()));
    d->scrollTo(d->viewPosOf(qint32(bm.m_row)), false, false);
}

// --- Display-update suspension --------------------------------------------------------------

void ClientDataSet::disableControls()
{
    ++d->disableCount;
}

void ClientDataSet::enableControls()
{
    if (d->disableCount == 0)
        return;
    if (--d->disableCount == 0)
        d->notifyReset();
}

bool ClientDataSet::controlsDisabled() const
{
    return d->disableCount > 0;
}

// --- Filter ---------------------------------------------------------------------------------

void ClientDataSet::setFilter(const QString &expression)
{
    std::shared_ptr<const detail::FilterExpr> expr;
    if (!expression.trimmed().isEmpty())
        expr = detail::FilterExpr::parse(expression, d->defs());
    if (d->filtered && d->active())
        checkBrowseMode();
    d->filterText = expression;
    d->filterExpr = expr;
    if (d->filtered && d->active()) {
        d->view = d->buildView();
        d->setPosition(0);
        d->notifyReset();
        d->scrollTo(0, true, d->view.empty());
    }
}

QString ClientDataSet::filter() const
{
    return d->filterText;
}

void ClientDataSet::setFiltered(bool on)
{
    if (d->filtered == on)
        return;
    if (d->active())
        checkBrowseMode();
    d->filtered = on;
    if (d->active()) {
        d->view = d->buildView();
        d->setPosition(0);
        d->notifyReset();
        d->scrollTo(0, true, d->view.empty());
    }
}

bool ClientDataSet::filtered() const
{
    return d->filtered;
}

// --- Search ---------------------------------------------------------------------------------

bool ClientDataSet::locate(const QString &keyFields, const QVariantList &values,
                           LocateOptions options)
{
    d->checkActive();
    const QStringList names = keyFields.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (names.isEmpty() || names.size() != values.size())
        d->fail(QStringLiteral("Busca em '%1': %2 campos para %3 valores.")
                    .arg(d->setName())
                    .arg(names.size())
                    .arg(values.size()));
    std::vector<int> cols;
    QVariantList wanted;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const Field *f = fieldByName(names[i].trimmed());
        cols.push_back(f->index());
        Variant v = normalized(values[i]);
        if (f->isText()) {
            const VariantKind k = kindOf(v);
            v = k == VariantKind::Float  ? Variant(detail::floatToText(v.toDouble()))
                : k == VariantKind::Date ? Variant(detail::dateToText(v.value<TDateTime>()))
                                         : Variant(v.toString());
        } else {
            v = detail::convertForField(v, f->dataType(), 0, f->fieldName());
        }
        wanted.append(v);
    }
    checkBrowseMode();
    for (int p = 0; p < int(d->view.size()); ++p) {
        const qint32 row = d->view[size_t(p)];
        bool all = true;
        for (size_t k = 0; k < cols.size() && all; ++k)
            all = d->matchCell(cols[k], row, wanted[qsizetype(k)], options);
        if (all) {
            d->scrollTo(p, false, false);
            return true;
        }
    }
    return false;
}

// --- Links ---------------------------------------------------------------------------------

DataLink::~DataLink()
{
    if (m_set)
        m_set->d->links.removeAll(this);
}

ClientDataSet *DataLink::dataSet() const
{
    return m_set;
}

void DataLink::setDataSet(ClientDataSet *set)
{
    if (m_set == set)
        return;
    if (m_set)
        m_set->d->links.removeAll(this);
    m_set = set;
    if (m_set)
        m_set->d->links.append(this);
    emit linkChanged(set);
    emit fieldsChanged();
    emit dataSetChanged();
    emit activeRowChanged(currentRow());
    notifyState(state());
}

// --- For links and models -------------------------------------------------------------------

int ClientDataSet::currentRow() const
{
    return d->active() ? d->pos : -1;
}

Variant ClientDataSet::valueAt(int row, int fieldIndex) const
{
    return d->rowValue(row, fieldIndex);
}

} // namespace fis
