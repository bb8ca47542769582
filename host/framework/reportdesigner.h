#pragma once
// The report engine of the base report screens: report definition files, the report dialog that
// runs a report (parameters, the screen's before-query handler, the query on the host database)
// and the pages it lays out for printing, previewing or saving as PDF: a plain listing, or one
// guide per group of rows when the definition declares the guide layout.
//
// Definition files (see docs/reports.md): one JSON file per report, named
// <REPORTCODE>_<NN>.json in the report directory; NN orders the reports of the code.
#include "framework/guidelayout.h"
#include "framework/reportformat.h"
#include "framework/reportpages.h"
#include "framework/reportparams.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

class QJsonValue;
class QPrinter;
class QSqlDatabase;

namespace fis {

// A definition that cannot be read or makes no sense; what() holds the UTF-8 of message().
class ReportDefinitionError : public std::runtime_error
{
public:
    explicit ReportDefinitionError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

struct ReportDefinition
{
    QString code;     // the file's base name, e.g. "FIS029_01"
    QString fileName; // full path it was read from
    QString title;
    // SQL text per database kind ("default", "oracle", "mssql", "interbase").
    QString sqlDefault, sqlOracle, sqlMssql, sqlInterbase;
    ReportParams params;              // the declared parameters (values null)
    QList<ReportColumn> columns;      // empty = every column of the result, as it comes
    std::optional<GuideLayout> guide; // set: the report prints guides instead of a listing

    // Reads and checks one definition file. Throws ReportDefinitionError with a clear message.
    static ReportDefinition load(const QString &fileName);
    static ReportDefinition parse(const QByteArray &json, const QString &fileName);
    // One entry of a "columns" list (a listing's, or a guide annex's).
    static ReportColumn parseColumn(const QJsonValue &item, const QString &fileName);
    // The SQL variant for a Qt SQL driver name (QSQLITE/QPSQL use the default text).
    QString sqlFor(const QString &driverName) const;
};

// The definition files of a report code in a directory, in order (file names compared without
// regard to case). Empty when the directory or the files do not exist.
QStringList reportDefinitionFiles(const QString &reportDir, const QString &reportCode);

// The result of running a report: what its pages show.
struct ReportListing
{
    QString title;
    QList<QPair<QString, QString>> params; // name, value as shown
    QStringList headers;
    QList<Qt::Alignment> alignments;
    QList<QStringList> rows; // display texts of the listing

    // The guide layout, with the query's rows as they came and the path of the form's picture
    // (the parameter the layout names, as the screen gave it).
    std::optional<GuideLayout> guide;
    ReportRows data;
    QString picturePath;

    // The pages on a page of this layout: the guides, or the listing (title, parameters, the
    // table and the number of rows).
    ReportPages pages(const QPageLayout &layout) const;
};

// The picture of a path written the Windows way (see resolveWindowsPath, relative paths start
// at the current directory); null when no such file exists or it is no picture. Pictures are
// read once and kept while their file does not change.
QImage reportPicture(const QString &windowsPath);

// The page the reports are laid out on unless the printer set-up says otherwise: A4 portrait,
// margins of 10 mm.
QPageLayout defaultReportPageLayout();

} // namespace fis

// The report dialog of the base report screen (objectName "rpddPadrao"): runs one report.
class TReportDesignerDialog : public QObject
{
    Q_OBJECT
public:
    // Called with the report's declared parameters (values null) before the query runs; fills
    // what it knows (only declared names take a value: see ExistParam). Setting flag to true
    // cancels the run (nothing is queried or output; the run raises the silent abort).
    using BeforeGetQueryParams = std::function<void(fis::ReportParams &params, bool &flag)>;

    explicit TReportDesignerDialog(QObject *parent = nullptr);

    BeforeGetQueryParams OnBeforeGetQueryParams;

    // The database the queries run on; default: the host database (fis::HostDatabase).
    void setDatabaseConnection(const QString &connectionName) { m_connection = connectionName; }
    QString databaseConnection() const { return m_connection; }

    // Builds the parameter list, calls OnBeforeGetQueryParams, runs the query and returns the
    // listing. The parameters the handler set are kept for lastParams(). A failing query throws
    // std::runtime_error with the database's message.
    fis::ReportListing run(const fis::ReportDefinition &definition);
    const fis::ReportParams &lastParams() const { return m_lastParams; }

    // Output of a report's pages, laid out for the printer's page.
    static void printListing(const fis::ReportListing &listing, QPrinter *printer);
    // Writes the pages as a PDF file, on the page of layout when given (the printer set-up's),
    // else on the default page. Throws std::runtime_error when the file could not be written.
    static void writePdf(const fis::ReportListing &listing, const QString &fileName,
                         const QPageLayout *layout = nullptr);

    // Told about every output: the pages, the kind ("print", "pdf" or "preview") and the file
    // written (empty unless "pdf"). Scripts and tests check what a clerk would hold with it.
    // Returns the previous observer; an empty one stops the telling.
    using OutputObserver = std::function<void(const fis::ReportPages &pages, const QString &kind,
                                              const QString &fileName)>;
    static OutputObserver setOutputObserver(OutputObserver observer);
    static void notifyOutput(const fis::ReportPages &pages, const QString &kind,
                             const QString &fileName);

private:
    QString m_connection;
    fis::ReportParams m_lastParams;
};
