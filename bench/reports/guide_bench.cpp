// Figures of the guide reports, run by hand:
//   guide_bench [--documents N] [--groups G] [--runs R] [--keep FILE.pdf]
// Prints the entries' guide report (FIS029_02) for N documents (default 1,000) in G guides
// (default 100) to PDF over the installation's picture of the form, R times (default 5), and
// prints the median time of the query, of the pages and of the PDF, the whole run, the time per
// page, and the ratio to a bare PDF of as many pages holding one line of text each.
// Targets: the whole run within 2 s, 20 ms a page.
#include "database.h"
#include "demodata.h"
#include "identifiers.h"
#include "framework/hostdatabase.h"
#include "framework/reportdesigner.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QPainter>
#include <QPdfWriter>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString kConnection = QStringLiteral("guide_bench");

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The CNPJ of the supplier of group g.
QString supplierCnpj(int g)
{
    return fis::cnpjWithCheckDigits(QString::number(12345000 + g) + QStringLiteral("0001"));
}

// One supplier, revenue code and due date per group; the documents spread over the groups.
void fill(QSqlDatabase &db, int documents, int groups)
{
    QString error;
    if (!fis::applySchema(db, fis::DbKind::Sqlite, &error))
        qFatal("schema: %s", qPrintable(error));
    QSqlQuery q(db);
    q.exec(QStringLiteral("INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR) VALUES ('01', 'Bench')"));
    q.prepare(
        QStringLiteral("INSERT INTO FORNECEDOR (CDFORNECED, NMRAZSOCFORN, NRINSJURFORN, "
                       "DSENDERECO, NMCIDADE, SGESTADO, NRCEP, NRTELEFONE) "
                       "VALUES (?, ?, ?, ?, 'Campinas', 'SP', '13010000', '(19) 3232-0000')"));
    for (int g = 0; g < groups; ++g) {
        q.addBindValue(QString::number(g + 1));
        q.addBindValue(QStringLiteral("Fornecedor de Serviços %1 Ltda").arg(g + 1));
        q.addBindValue(supplierCnpj(g));
        q.addBindValue(QStringLiteral("Rua das Acácias, %1").arg(100 + g));
        if (!q.exec())
            qFatal("supplier: %s", qPrintable(q.lastError().text()));
    }
    db.transaction();
    fis::InvoiceWriter writer(db);
    for (int d = 0; d < documents; ++d) {
        const int g = d % groups;
        fis::NewInvoice n;
        n.branch = QStringLiteral("0001");
        n.entry = QString::number(d + 1);
        n.company = QStringLiteral("01");
        n.operation = QStringLiteral("E");
        n.nota = QString::number(1000 + d);
        n.serie = QStringLiteral("1");
        n.supplier = QString::number(g + 1);
        n.registration = supplierCnpj(g);
        n.tax = QStringLiteral("01");
        n.code = QStringLiteral("2631");
        n.emission = QDate(2026, 3, 1).addDays(d % 28);
        n.entryDate = n.emission;
        n.due = QDate(2026, 4, 20);
        n.value = 1000 + d;
        n.withheld = n.value * 0.11;
        writer.insert(n);
    }
    db.commit();
}

QString keyList(const QString &sql)
{
    QSqlQuery q(fis::HostDatabase::database(kConnection));
    q.exec(sql);
    QString list = QStringLiteral("_");
    while (q.next())
        list += q.value(0).toString() + QLatin1Char('_');
    return list;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption documentsOpt(QStringLiteral("documents"), QStringLiteral("documents"),
                                          QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption groupsOpt(QStringLiteral("groups"), QStringLiteral("guides"),
                                       QStringLiteral("G"), QStringLiteral("100"));
    const QCommandLineOption runsOpt(QStringLiteral("runs"), QStringLiteral("runs"),
                                     QStringLiteral("R"), QStringLiteral("5"));
    const QCommandLineOption keepOpt(QStringLiteral("keep"), QStringLiteral("keep the PDF"),
                                     QStringLiteral("FILE"));
    parser.addOptions({documentsOpt, groupsOpt, runsOpt, keepOpt});
    parser.process(app);
    const int documents = qMax(1, parser.value(documentsOpt).toInt());
    const int groups = qBound(1, parser.value(groupsOpt).toInt(), documents);
    const int runs = qMax(1, parser.value(runsOpt).toInt());

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.sqlite"));
    {
        fis::DbConfig config;
        QString error;
        fis::DbConfig::parse(file, &config, &error);
        QSqlDatabase db = fis::openConnection(config, QStringLiteral("fill"), &error);
        if (!db.isOpen())
            qFatal("%s", qPrintable(error));
        fill(db, documents, groups);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    fis::HostDatabase::open(file, kConnection);

    const fis::ReportDefinition definition =
        fis::ReportDefinition::load(QStringLiteral(FIS_REPORT_DIR "/FIS029_02.json"));
    const QString rows = QStringLiteral("FROM NOTAFISCAL ORDER BY CDFILIAL, NRLANCTONF");
    const QString suppliers = keyList(QStringLiteral("SELECT CDFORNECED ") + rows);
    const QString branches = keyList(QStringLiteral("SELECT CDFILIAL ") + rows);
    const QString entries = keyList(QStringLiteral("SELECT NRLANCTONF ") + rows);
    TReportDesignerDialog dialog;
    dialog.setDatabaseConnection(kConnection);
    dialog.OnBeforeGetQueryParams = [&](fis::ReportParams &params, bool &) {
        params.setText(QStringLiteral("P_CDEMPRESA"), QStringLiteral("01"));
        params.setText(QStringLiteral("P_CDIMPOSTO"), QStringLiteral("01"));
        params.setDate(QStringLiteral("P_DTINIEMI"), fis::TDateTime::fromDate(QDate(2026, 3, 1)));
        params.setDate(QStringLiteral("P_DTFINEMI"), fis::TDateTime::fromDate(QDate(2026, 3, 31)));
        params.setText(QStringLiteral("P_CDFORNECED"), suppliers);
        params.setText(QStringLiteral("P_CDFILIAL"), branches);
        params.setText(QStringLiteral("P_NRLANCTONF"), entries);
        params.setText(QStringLiteral("P_IMAGEM"), QStringLiteral(FIS_GUIDE_PICTURE));
    };
    const QString pdf =
        parser.isSet(keepOpt) ? parser.value(keepOpt) : dir.filePath(QStringLiteral("guides.pdf"));
    const QPageLayout layout = fis::defaultReportPageLayout();

    std::vector<double> query, pagesMs, write, whole, bare;
    qsizetype pageCount = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        const fis::ReportListing listing = dialog.run(definition);
        query.push_back(t.nsecsElapsed() / 1e6);
        QElapsedTimer p;
        p.start();
        const fis::ReportPages pages = listing.pages(layout);
        pagesMs.push_back(p.nsecsElapsed() / 1e6);
        pageCount = pages.pages.size();
        TReportDesignerDialog::writePdf(listing, pdf, &layout); // lays out again, then writes
        whole.push_back(t.nsecsElapsed() / 1e6 - pagesMs.back());
        write.push_back(whole.back() - query.back() - pagesMs.back());

        // Bare: as many pages with one line of text each.
        QElapsedTimer b;
        b.start();
        {
            QPdfWriter writer(dir.filePath(QStringLiteral("bare.pdf")));
            writer.setPageLayout(layout);
            QPainter painter(&writer);
            for (qsizetype i = 0; i < pageCount; ++i) {
                if (i > 0)
                    writer.newPage();
                painter.drawText(100, 100, QStringLiteral("Página %1").arg(i + 1));
            }
        }
        bare.push_back(b.nsecsElapsed() / 1e6);
    }
    const double total = median(whole);
    std::printf("guides of %d documents in %d groups, %lld pages, median of %d runs\n", documents,
                groups, static_cast<long long>(pageCount), runs);
    std::printf("  query and rows        %8.1f ms\n", median(query));
    std::printf("  pages laid out        %8.1f ms\n", median(pagesMs));
    std::printf("  PDF written           %8.1f ms\n", median(write));
    std::printf("  whole run             %8.1f ms   (target <= 2000 ms)\n", total);
    std::printf("  per page              %8.2f ms   (target <= 20 ms)\n",
                pageCount ? total / double(pageCount) : 0.0);
    std::printf("  bare PDF, same pages  %8.1f ms   ratio %.1fx\n", median(bare),
                median(bare) > 0 ? total / median(bare) : 0.0);
    fis::HostDatabase::close(kConnection);
    return 0;
}
