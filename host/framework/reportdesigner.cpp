#include "framework/reportdesigner.h"

#include "data/abort.h"
#include "framework/hostdatabase.h"
#include "framework/reporttable.h"
#include "framework/windowspath.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPageLayout>
#include <QPrinter>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace fis {

ReportDefinitionError::ReportDefinitionError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{}

namespace {

[[noreturn]] void fail(const QString &fileName, const QString &why)
{
    throw ReportDefinitionError(
        QStringLiteral("Definição de relatório inválida em '%1': %2").arg(fileName, why));
}

// A SQL text is either one string or an array of lines.
QString sqlText(const QJsonValue &value, const QString &fileName, const QString &what)
{
    if (value.isUndefined() || value.isNull())
        return {};
    if (value.isString())
        return value.toString();
    if (value.isArray()) {
        QStringList lines;
        for (const QJsonValue &line : value.toArray()) {
            if (!line.isString())
                fail(fileName, QStringLiteral("as linhas de \"%1\" devem ser textos.").arg(what));
            lines << line.toString();
        }
        return lines.join(QLatin1Char('\n'));
    }
    fail(fileName, QStringLiteral("\"%1\" deve ser um texto ou uma lista de linhas.").arg(what));
}

// The named parameters of a SQL text (":P_X"), in order of appearance, with the text rewritten
// to positional placeholders. String literals, quoted names, comments and PostgreSQL casts
// ("::") are left alone.
struct PositionalSql
{
    QString sql;
    QStringList names;
};

PositionalSql toPositional(const QString &sql)
{
    PositionalSql out;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto isNameChar = [](QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); };
    while (i < n) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype end = sql.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? n : end + 1;
            out.sql += sql.mid(i, stop - i);
            i = stop;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            const qsizetype end = sql.indexOf(QLatin1Char('\n'), i);
            const qsizetype stop = end < 0 ? n : end;
            out.sql += sql.mid(i, stop - i);
            i = stop;
        } else if (c == QLatin1Char(':') && i + 1 < n && sql.at(i + 1) == QLatin1Char(':')) {
            out.sql += QStringLiteral("::");
            i += 2;
        } else if (c == QLatin1Char(':') && i + 1 < n &&
                   (sql.at(i + 1).isLetter() || sql.at(i + 1) == QLatin1Char('_'))) {
            qsizetype j = i + 1;
            while (j < n && isNameChar(sql.at(j)))
                ++j;
            out.names << sql.mid(i + 1, j - i - 1);
            out.sql += QLatin1Char('?');
            i = j;
        } else {
            out.sql += c;
            ++i;
        }
    }
    return out;
}

ReportParamType paramType(const QString &text, const QString &fileName, const QString &name)
{
    const QString t = text.toLower();
    if (t.isEmpty() || t == QLatin1String("text"))
        return ReportParamType::Text;
    if (t == QLatin1String("date"))
        return ReportParamType::Date;
    if (t == QLatin1String("float"))
        return ReportParamType::Float;
    fail(fileName, QStringLiteral("o parâmetro %1 tem o tipo desconhecido \"%2\" (use text, date "
                                  "ou float).")
                       .arg(name, text));
}

Qt::Alignment alignment(const QString &text, const QString &fileName, const QString &field)
{
    const QString t = text.toLower();
    if (t.isEmpty() || t == QLatin1String("left"))
        return Qt::AlignLeft;
    if (t == QLatin1String("right"))
        return Qt::AlignRight;
    if (t == QLatin1String("center"))
        return Qt::AlignHCenter;
    fail(fileName,
         QStringLiteral("a coluna %1 tem o alinhamento desconhecido \"%2\".").arg(field, text));
}

QString paramText(const ReportParam &param)
{
    if (param.value.isNull())
        return {};
    if (param.value.metaType() == QMetaType::fromType<TDateTime>()) {
        const TDateTime d = param.value.value<TDateTime>();
        return d.isNull() ? QString() : d.toDate().toString(QStringLiteral("dd/MM/yyyy"));
    }
    if (param.value.metaType().id() == QMetaType::Double)
        return formatNumber(param.value.toDouble(), QString());
    return param.value.toString();
}

// The value bound for a parameter: null stays a typed null, dates go as QDate.
QVariant bindValue(const ReportParam &param)
{
    switch (param.type) {
    case ReportParamType::Date: {
        if (param.value.isNull())
            return QVariant(QMetaType::fromType<QDate>());
        const Variant v = normalized(param.value);
        if (v.metaType() == QMetaType::fromType<TDateTime>()) {
            const TDateTime d = v.value<TDateTime>();
            return d.isNull() ? QVariant(QMetaType::fromType<QDate>()) : QVariant(d.toDate());
        }
        return v; // a text date is the database's business
    }
    case ReportParamType::Float:
        if (param.value.isNull())
            return QVariant(QMetaType::fromType<double>());
        return normalized(param.value);
    case ReportParamType::Text:
        break;
    }
    if (param.value.isNull())
        return QVariant(QMetaType::fromType<QString>());
    if (param.value.metaType() == QMetaType::fromType<TDateTime>())
        return paramText(param);
    return param.value.toString();
}

} // namespace

ReportDefinition ReportDefinition::load(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw ReportDefinitionError(
            QStringLiteral("Não foi possível ler a definição de relatório '%1': %2")
                .arg(fileName, file.errorString()));
    return parse(file.readAll(), fileName);
}

ReportDefinition ReportDefinition::parse(const QByteArray &json, const QString &fileName)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        fail(fileName, QStringLiteral("JSON malformado na posição %1 (%2).")
                           .arg(error.offset)
                           .arg(error.errorString()));
    if (!doc.isObject())
        fail(fileName, QStringLiteral("o conteúdo deve ser um objeto JSON."));
    const QJsonObject root = doc.object();

    ReportDefinition def;
    def.fileName = fileName;
    def.code = QFileInfo(fileName).completeBaseName();
    const QJsonValue title = root.value(QLatin1String("title"));
    if (!title.isString() || title.toString().trimmed().isEmpty())
        fail(fileName, QStringLiteral("falta o título (\"title\")."));
    def.title = title.toString();

    const QJsonValue sql = root.value(QLatin1String("sql"));
    if (sql.isObject()) {
        const QJsonObject variants = sql.toObject();
        def.sqlDefault = sqlText(variants.value(QLatin1String("default")), fileName, "default");
        def.sqlOracle = sqlText(variants.value(QLatin1String("oracle")), fileName, "oracle");
        def.sqlMssql = sqlText(variants.value(QLatin1String("mssql")), fileName, "mssql");
        def.sqlInterbase =
            sqlText(variants.value(QLatin1String("interbase")), fileName, "interbase");
    } else {
        def.sqlDefault = sqlText(sql, fileName, QStringLiteral("sql"));
    }
    if (def.sqlDefault.trimmed().isEmpty())
        fail(fileName, QStringLiteral("falta o SQL da consulta (\"sql\")."));

    const QJsonValue params = root.value(QLatin1String("params"));
    if (!params.isUndefined() && !params.isArray())
        fail(fileName, QStringLiteral("\"params\" deve ser uma lista."));
    for (const QJsonValue &item : params.toArray()) {
        QString name;
        QString type;
        if (item.isString()) {
            name = item.toString();
        } else if (item.isObject()) {
            name = item.toObject().value(QLatin1String("name")).toString();
            type = item.toObject().value(QLatin1String("type")).toString();
        }
        name = name.trimmed();
        if (name.isEmpty())
            fail(fileName, QStringLiteral("um parâmetro sem nome em \"params\"."));
        if (def.params.contains(name))
            fail(fileName, QStringLiteral("o parâmetro %1 foi declarado duas vezes.").arg(name));
        def.params.declare(name, paramType(type, fileName, name));
    }
    // Every placeholder of every SQL variant must be declared, or the query could not be bound.
    for (const QString *text : {&def.sqlDefault, &def.sqlOracle, &def.sqlMssql}) {
        for (const QString &name : toPositional(*text).names) {
            if (!def.params.contains(name))
                fail(fileName, QStringLiteral("o SQL usa o parâmetro :%1, que não foi declarado em "
                                              "\"params\".")
                                   .arg(name));
        }
    }

    const QJsonValue columns = root.value(QLatin1String("columns"));
    if (!columns.isUndefined() && !columns.isArray())
        fail(fileName, QStringLiteral("\"columns\" deve ser uma lista."));
    for (const QJsonValue &item : columns.toArray())
        def.columns << parseColumn(item, fileName);

    const QJsonValue guide = root.value(QLatin1String("guide"));
    if (!guide.isUndefined()) {
        if (!guide.isObject())
            fail(fileName, QStringLiteral("\"guide\" deve ser um objeto."));
        def.guide = GuideLayout::parse(guide.toObject(), fileName, def.params);
    }
    return def;
}

ReportColumn ReportDefinition::parseColumn(const QJsonValue &item, const QString &fileName)
{
    ReportColumn column;
    if (item.isString()) {
        column.field = item.toString();
    } else if (item.isObject()) {
        const QJsonObject o = item.toObject();
        column.field = o.value(QLatin1String("field")).toString();
        column.title = o.value(QLatin1String("title")).toString();
        column.format = o.value(QLatin1String("format")).toString();
        column.alignment =
            alignment(o.value(QLatin1String("align")).toString(), fileName, column.field);
    }
    column.field = column.field.trimmed();
    if (column.field.isEmpty())
        fail(fileName, QStringLiteral("uma coluna sem campo (\"field\") em \"columns\"."));
    if (column.title.isEmpty())
        column.title = column.field;
    return column;
}

QString ReportDefinition::sqlFor(const QString &driverName) const
{
    QString chosen;
    if (driverName == QLatin1String("QOCI"))
        chosen = sqlOracle;
    else if (driverName == QLatin1String("QODBC") || driverName == QLatin1String("QTDS"))
        chosen = sqlMssql;
    else if (driverName == QLatin1String("QIBASE"))
        chosen = sqlInterbase;
    return chosen.trimmed().isEmpty() ? sqlDefault : chosen;
}

QStringList reportDefinitionFiles(const QString &reportDir, const QString &reportCode)
{
    if (reportDir.isEmpty() || reportCode.isEmpty())
        return {};
    QDir dir(reportDir);
    if (!dir.exists())
        return {};
    // Name filters match without regard to case unless asked otherwise.
    const QStringList names =
        dir.entryList({reportCode + QStringLiteral("_*.json")}, QDir::Files | QDir::Readable);
    const QRegularExpression pattern(
        QStringLiteral("^%1_\\d+\\.json$").arg(QRegularExpression::escape(reportCode)),
        QRegularExpression::CaseInsensitiveOption);
    QList<QPair<int, QString>> ordered;
    for (const QString &name : names) {
        if (!pattern.match(name).hasMatch())
            continue;
        const QString number =
            name.mid(reportCode.size() + 1, name.size() - reportCode.size() - 1 - 5);
        ordered.append({number.toInt(), dir.filePath(name)});
    }
    std::sort(ordered.begin(), ordered.end());
    QStringList files;
    for (const auto &entry : ordered)
        files << entry.second;
    return files;
}

namespace {

// The listing: title, the parameters with their values, the table, the number of rows.
ReportPages listingPages(const ReportListing &listing, const QPageLayout &layout)
{
    ReportPages out;
    out.title = listing.title;
    out.layout = layout;
    const QSizeF size = ReportPages::printableSize(layout);
    const QFont titleFont = pageFont(12, true);
    const QFont font = pageFont(8);
    const QFont bold = pageFont(8, true);
    const qreal height = lineHeight(font);

    out.pages.append(ReportPage());
    ReportPage &first = out.pages.last();
    qreal y = 0;
    for (const QString &line : wrapText(listing.title, titleFont, size.width())) {
        first.text(QRectF(0, y, size.width(), lineHeight(titleFont)), line, titleFont);
        y += lineHeight(titleFont);
    }
    y += pageMm(2);
    qreal nameWidth = 0;
    for (const auto &param : listing.params)
        nameWidth = qMax(nameWidth, textWidth(bold, param.first) + pageMm(3));
    nameWidth = qMin(nameWidth, size.width() / 3);
    for (const auto &param : listing.params) {
        const QStringList names = wrapText(param.first, bold, nameWidth - pageMm(3));
        const QStringList values = wrapText(param.second, font, size.width() - nameWidth);
        for (qsizetype i = 0; i < qMax(names.size(), values.size()); ++i) {
            if (y + height > size.height() - pageFootReserve()) {
                out.pages.append(ReportPage());
                y = 0;
            }
            if (i < names.size())
                out.pages.last().text(QRectF(0, y, nameWidth, height), names.at(i), bold);
            if (i < values.size())
                out.pages.last().text(QRectF(nameWidth, y, size.width() - nameWidth, height),
                                      values.at(i), font);
            y += height;
        }
    }
    y += pageMm(3);

    ReportTable table;
    for (qsizetype c = 0; c < listing.headers.size(); ++c)
        table.columns << TableColumn{listing.headers.at(c), c < listing.alignments.size()
                                                                ? listing.alignments.at(c)
                                                                : Qt::AlignLeft};
    table.rows = listing.rows;
    const TablePageStart start = [&](ReportPage &page, bool) {
        page.text(QRectF(0, 0, size.width(), height), listing.title, bold);
        return height + pageMm(2);
    };
    y = layTable(out.pages, y, size, table, start) + pageMm(2);
    if (y + height > size.height() - pageFootReserve()) {
        out.pages.append(ReportPage());
        y = 0;
    }
    out.pages.last().text(QRectF(0, y, size.width(), height),
                          QStringLiteral("%1 registro(s)").arg(listing.rows.size()), font);
    out.numberPages();
    return out;
}

struct CachedPicture
{
    QDateTime modified;
    qint64 size = -1;
    QImage picture;
};

} // namespace

ReportPages ReportListing::pages(const QPageLayout &layout) const
{
    if (guide)
        return guidePages(title, *guide, data, layout, reportPicture(picturePath));
    return listingPages(*this, layout);
}

QImage reportPicture(const QString &windowsPath)
{
    static QHash<QString, CachedPicture> cache;
    const QString file = resolveWindowsPath(windowsPath, QDir::currentPath());
    if (file.isEmpty())
        return {};
    const QFileInfo info(file);
    CachedPicture &cached = cache[file];
    if (cached.modified != info.lastModified() || cached.size != info.size()) {
        cached.modified = info.lastModified();
        cached.size = info.size();
        cached.picture = QImage(file);
    }
    return cached.picture;
}

QPageLayout defaultReportPageLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                       QPageLayout::Millimeter);
}

} // namespace fis

TReportDesignerDialog::TReportDesignerDialog(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("rpddPadrao"));
}

fis::ReportListing TReportDesignerDialog::run(const fis::ReportDefinition &definition)
{
    using namespace fis;
    m_lastParams = definition.params;
    m_lastParams.clearValues();
    bool flag = false;
    if (OnBeforeGetQueryParams)
        OnBeforeGetQueryParams(m_lastParams, flag);
    if (flag)
        throw EAbort{};

    QSqlDatabase db =
        m_connection.isEmpty() ? HostDatabase::database() : QSqlDatabase::database(m_connection);
    if (!db.isValid() || !db.isOpen())
        throw std::runtime_error(
            QStringLiteral("O banco de dados do relatório '%1' não está aberto.")
                .arg(definition.code)
                .toStdString());

    const PositionalSql sql = toPositional(definition.sqlFor(db.driverName()));
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql.sql))
        throw std::runtime_error(QStringLiteral("Erro ao preparar a consulta do relatório '%1': %2")
                                     .arg(definition.code, query.lastError().text())
                                     .toStdString());
    for (const QString &name : sql.names) {
        const ReportParam *param = m_lastParams.find(name);
        query.addBindValue(param ? bindValue(*param) : QVariant(QMetaType::fromType<QString>()));
    }
    if (!query.exec())
        throw std::runtime_error(QStringLiteral("Erro ao executar a consulta do relatório '%1': %2")
                                     .arg(definition.code, query.lastError().text())
                                     .toStdString());

    ReportListing listing;
    listing.title = definition.title;
    for (const ReportParam &param : m_lastParams)
        listing.params.append({param.name, paramText(param)});

    const QSqlRecord record = query.record();
    for (int i = 0; i < record.count(); ++i)
        listing.data.fields << record.fieldName(i);
    const auto missing = [&](const QString &field) {
        return ReportDefinitionError(
            QStringLiteral("Definição de relatório inválida em '%1': a coluna %2 não existe no "
                           "resultado da consulta.")
                .arg(definition.fileName, field));
    };
    QList<int> indexes;
    QList<const ReportColumn *> columns;
    if (definition.guide) {
        for (const QString &field : definition.guide->fieldsUsed()) {
            if (listing.data.indexOf(field) < 0)
                throw missing(field);
        }
        listing.guide = definition.guide;
        if (!definition.guide->pictureParam.isEmpty())
            listing.picturePath = m_lastParams.value(definition.guide->pictureParam).toString();
    } else if (definition.columns.isEmpty()) {
        for (int i = 0; i < record.count(); ++i) {
            indexes << i;
            columns << nullptr;
            listing.headers << record.fieldName(i);
            listing.alignments << Qt::AlignLeft;
        }
    } else {
        for (const ReportColumn &column : definition.columns) {
            const int index = record.indexOf(column.field);
            if (index < 0)
                throw missing(column.field);
            indexes << index;
            columns << &column;
            listing.headers << column.title;
            listing.alignments << column.alignment;
        }
    }
    while (query.next()) {
        QVariantList values;
        values.reserve(record.count());
        for (int i = 0; i < record.count(); ++i)
            values << query.value(i);
        if (!definition.guide) {
            QStringList row;
            row.reserve(indexes.size());
            for (qsizetype i = 0; i < indexes.size(); ++i)
                row << displayValue(values.at(indexes.at(i)),
                                    columns.at(i) ? columns.at(i)->format : QString());
            listing.rows << row;
        }
        listing.data.values << values;
    }
    if (query.lastError().isValid())
        throw std::runtime_error(QStringLiteral("Erro ao ler o resultado do relatório '%1': %2")
                                     .arg(definition.code, query.lastError().text())
                                     .toStdString());
    return listing;
}

namespace {

TReportDesignerDialog::OutputObserver &outputObserver()
{
    static TReportDesignerDialog::OutputObserver observer;
    return observer;
}

} // namespace

void TReportDesignerDialog::printListing(const fis::ReportListing &listing, QPrinter *printer)
{
    const fis::ReportPages pages = listing.pages(printer->pageLayout());
    pages.print(printer);
    const QString file =
        printer->outputFormat() == QPrinter::PdfFormat ? printer->outputFileName() : QString();
    notifyOutput(pages, file.isEmpty() ? QStringLiteral("print") : QStringLiteral("pdf"), file);
}

void TReportDesignerDialog::notifyOutput(const fis::ReportPages &pages, const QString &kind,
                                         const QString &fileName)
{
    if (outputObserver())
        outputObserver()(pages, kind, fileName);
}

void TReportDesignerDialog::writePdf(const fis::ReportListing &listing, const QString &fileName,
                                     const QPageLayout *layout)
{
    QFile::remove(fileName);
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(fileName);
        printer.setPageLayout(layout ? *layout : fis::defaultReportPageLayout());
        printer.setDocName(listing.title);
        printer.setCreator(QStringLiteral("FIS02900"));
        printListing(listing, &printer);
    }
    // QPrinter says nothing when it cannot write: check that the file is really there.
    const QFileInfo written(fileName);
    if (!written.exists() || written.size() == 0)
        throw std::runtime_error(
            QStringLiteral("Não foi possível gravar o arquivo '%1'.").arg(fileName).toStdString());
}

TReportDesignerDialog::OutputObserver
TReportDesignerDialog::setOutputObserver(OutputObserver observer)
{
    OutputObserver previous = outputObserver();
    outputObserver() = std::move(observer);
    return previous;
}
