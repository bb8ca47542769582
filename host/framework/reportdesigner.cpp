#include "framework/reportdesigner.h"

#include "data/abort.h"
#include "framework/hostdatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPageLayout>
#include <QPrinter>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextDocument>

#include <memory>

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

QString formatNumber(double value, const QString &format)
{
    const QLocale locale;
    if (format.isEmpty())
        return locale.toString(value, 'g', 15);
    const qsizetype dot = format.indexOf(QLatin1Char('.'));
    const int decimals = dot < 0 ? 0 : int(format.size() - dot - 1);
    QString text = locale.toString(value, 'f', decimals);
    if (!format.contains(QLatin1Char(',')))
        text.remove(locale.groupSeparator());
    return text;
}

QString displayValue(const QVariant &value, const ReportColumn *column)
{
    if (value.isNull())
        return {};
    const QString format = column ? column->format : QString();
    switch (value.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return format.isEmpty() && value.metaType().id() != QMetaType::Double &&
                       value.metaType().id() != QMetaType::Float
                   ? value.toString()
                   : formatNumber(value.toDouble(), format);
    case QMetaType::QDate:
        return value.toDate().toString(format.isEmpty() ? QStringLiteral("dd/MM/yyyy") : format);
    case QMetaType::QDateTime:
        return value.toDateTime().toString(format.isEmpty() ? QStringLiteral("dd/MM/yyyy")
                                                            : format);
    default:
        break;
    }
    if (value.canConvert<TDateTime>() && value.metaType() == QMetaType::fromType<TDateTime>()) {
        const TDateTime d = value.value<TDateTime>();
        return d.isNull() ? QString() : d.toDate().toString(QStringLiteral("dd/MM/yyyy"));
    }
    return value.toString();
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
        return QLocale().toString(param.value.toDouble(), 'g', 15);
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
    for (const QJsonValue &item : columns.toArray()) {
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
        def.columns << column;
    }
    return def;
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

QString ReportListing::toHtml() const
{
    QString html;
    html += QStringLiteral("<html><body>");
    html += QStringLiteral("<h2>%1</h2>").arg(title.toHtmlEscaped());
    if (!params.isEmpty()) {
        html += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"2\">");
        for (const auto &param : params)
            html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>")
                        .arg(param.first.toHtmlEscaped(), param.second.toHtmlEscaped());
        html += QStringLiteral("</table><br/>");
    }
    html += QStringLiteral(
        "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\"><tr>");
    for (const QString &header : headers)
        html += QStringLiteral("<th>%1</th>").arg(header.toHtmlEscaped());
    html += QStringLiteral("</tr>");
    for (const QStringList &row : rows) {
        html += QStringLiteral("<tr>");
        for (qsizetype i = 0; i < row.size(); ++i) {
            const Qt::Alignment a = i < alignments.size() ? alignments.at(i) : Qt::AlignLeft;
            const char *align = a & Qt::AlignRight     ? "right"
                                : a & Qt::AlignHCenter ? "center"
                                                       : "left";
            html += QStringLiteral("<td align=\"%1\">%2</td>")
                        .arg(QLatin1String(align), row.at(i).toHtmlEscaped());
        }
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table>");
    html += QStringLiteral("<p>%1 registro(s)</p>").arg(rows.size());
    html += QStringLiteral("</body></html>");
    return html;
}

QTextDocument *ReportListing::toDocument() const
{
    auto *doc = new QTextDocument;
    doc->setHtml(toHtml());
    return doc;
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
    QList<int> indexes;
    QList<const ReportColumn *> columns;
    if (definition.columns.isEmpty()) {
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
                throw ReportDefinitionError(
                    QStringLiteral("Definição de relatório inválida em '%1': a coluna %2 não "
                                   "existe no resultado da consulta.")
                        .arg(definition.fileName, column.field));
            indexes << index;
            columns << &column;
            listing.headers << column.title;
            listing.alignments << column.alignment;
        }
    }
    while (query.next()) {
        QStringList row;
        row.reserve(indexes.size());
        for (qsizetype i = 0; i < indexes.size(); ++i)
            row << displayValue(query.value(indexes.at(i)), columns.at(i));
        listing.rows << row;
    }
    if (query.lastError().isValid())
        throw std::runtime_error(QStringLiteral("Erro ao ler o resultado do relatório '%1': %2")
                                     .arg(definition.code, query.lastError().text())
                                     .toStdString());
    return listing;
}

void TReportDesignerDialog::printListing(const fis::ReportListing &listing, QPrinter *printer)
{
    std::unique_ptr<QTextDocument> doc(listing.toDocument());
    doc->print(printer);
}

void TReportDesignerDialog::writePdf(const fis::ReportListing &listing, const QString &fileName,
                                     const QPageLayout *layout)
{
    QFile::remove(fileName);
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(fileName);
        if (layout)
            printer.setPageLayout(*layout);
        printer.setDocName(listing.title);
        printListing(listing, &printer);
    }
    // QPrinter says nothing when it cannot write: check that the file is really there.
    const QFileInfo written(fileName);
    if (!written.exists() || written.size() == 0)
        throw std::runtime_error(
            QStringLiteral("Não foi possível gravar o arquivo '%1'.").arg(fileName).toStdString());
}
