// The three guide reports of the repository printed to PDF from the application server's demo
// data, as a clerk who ticked every document would get them, and read back with poppler's
// pdftotext: one guide per group, each value in its box in the Brazilian form, and an annex per
// guide that lists every document and totals to the guide's INSS value.
#include "database.h"
#include "demodata.h"
#include "framework/guideform.h"
#include "framework/hostdatabase.h"
#include "framework/reportdesigner.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace {

struct Word
{
    QString text;
    QRectF box; // points, from the top left corner of the page
};
using PageWords = QList<Word>;

// Every word of every page with its box (pdftotext -bbox).
QList<PageWords> readWords(const QString &pdf)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << "pdftotext (Debian poppler-utils) failed: "
                      << process.errorString().toStdString()
                      << process.readAllStandardError().toStdString();
        return {};
    }
    QList<PageWords> pages;
    QXmlStreamReader xml(process.readAllStandardOutput());
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("page")) {
            pages.append(PageWords());
        } else if (xml.name() == QLatin1String("word") && !pages.isEmpty()) {
            const auto a = xml.attributes();
            const auto at = [&](const char *n) { return a.value(QLatin1String(n)).toDouble(); };
            const QRectF box(QPointF(at("xMin"), at("yMin")), QPointF(at("xMax"), at("yMax")));
            pages.last().append({xml.readElementText(), box});
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return pages;
}

// The words whose centres lie in the rectangle, line by line, separated by blanks.
QString textIn(const PageWords &words, const QRectF &rect)
{
    QList<Word> inside;
    for (const Word &w : words) {
        if (rect.contains(w.box.center()))
            inside << w;
    }
    std::sort(inside.begin(), inside.end(), [](const Word &a, const Word &b) {
        if (qAbs(a.box.top() - b.box.top()) > 2)
            return a.box.top() < b.box.top();
        return a.box.left() < b.box.left();
    });
    QStringList texts;
    for (const Word &w : inside)
        texts << w.text;
    return texts.join(QLatin1Char(' '));
}

// An amount as the Brazilian form writes it ("1.234,56"), read back; NaN when it is not one.
double brazilianAmount(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^-?\\d{1,3}(\\.\\d{3})*,\\d{2}$"));
    if (!form.match(text).hasMatch())
        return std::nan("");
    QString plain = text;
    plain.remove(QLatin1Char('.')).replace(QLatin1Char(','), QLatin1Char('.'));
    return plain.toDouble();
}

// What one guide must show, worked out by the test's own query.
struct ExpectedGuide
{
    QString name, identifier, code, competence, due;
    double inss = 0, others = 0, fine = 0;
    int documents = 0;
};

const QString kConnection = QStringLiteral("guides_pdf_demo");

class GuidesPdfTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        ASSERT_TRUE(dir->isValid());
        const QString file = dir->filePath(QStringLiteral("demo.sqlite"));
        fis::DbConfig config;
        QString error;
        ASSERT_TRUE(fis::DbConfig::parse(file, &config, &error));
        {
            QSqlDatabase db = fis::openConnection(config, kConnection, &error);
            ASSERT_TRUE(db.isOpen()) << error.toStdString();
            fis::DemoOptions options;
            options.invoices = 600;
            options.today = QDate(2026, 3, 20);
            ASSERT_TRUE(fis::applySchema(db, config.kind, &error)) << error.toStdString();
            ASSERT_TRUE(fis::generateDemoData(db, config.kind, options, &error))
                << error.toStdString();
            QSqlQuery q(db);
            // What a clerk edits: fines and other entities on some documents.
            ASSERT_TRUE(q.exec("UPDATE NOTAFISCAL SET VRMULTAGUIA = 1.25 * (NRLANCTONF % 7),"
                               " VROUTRENTGUIA = 0.5 * (NRLANCTONF % 5) WHERE NRLANCTONF % 4 = 1"));
            // One supplier with many documents on one due date: its annex runs over pages.
            ASSERT_TRUE(q.exec(
                "UPDATE NOTAFISCAL SET (CDFORNECED, NRINSJURNF) = (SELECT CDFORNECED, NRINSJURNF"
                " FROM NOTAFISCAL WHERE CDEMPRESA = '01' AND IDENTRSAIDOP = 'E' ORDER BY"
                " NRLANCTONF LIMIT 1), DTVENCGUIA = '2026-04-20'"
                " WHERE CDEMPRESA = '01' AND IDENTRSAIDOP = 'E' AND (NRLANCTONF / 3) % 4 <> 0"));
            db.close();
        }
        QSqlDatabase::removeDatabase(kConnection);
        fis::HostDatabase::open(file, kConnection);
    }
    static void TearDownTestSuite()
    {
        fis::HostDatabase::close(kConnection);
        delete dir;
        dir = nullptr;
    }

    // Runs a report of the repository with the parameters a screen would give and writes it.
    QString print(const QString &code, const std::function<void(fis::ReportParams &)> &fill)
    {
        TReportDesignerDialog dialog;
        dialog.setDatabaseConnection(kConnection);
        dialog.OnBeforeGetQueryParams = [&](fis::ReportParams &params, bool &) {
            fill(params);
            // The picture of the installation, named the Windows way with a folder in other case.
            QString picture = QStringLiteral(FIS_GUIDE_PICTURE);
            picture.replace(QLatin1String("/rel/"), QLatin1String("/REL/"));
            params.setText(QStringLiteral("P_IMAGEM"), picture.replace(u'/', u'\\'));
        };
        const fis::ReportListing listing = dialog.run(
            fis::ReportDefinition::load(QStringLiteral(FIS_REPORT_DIR "/%1.json").arg(code)));
        EXPECT_FALSE(fis::reportPicture(listing.picturePath).isNull()) << "picture not found";
        const QString pdf = dir->filePath(code + QStringLiteral(".pdf"));
        TReportDesignerDialog::writePdf(listing, pdf);
        return pdf;
    }

    static QString keyList(const QString &sql)
    {
        QSqlQuery q(fis::HostDatabase::database(kConnection));
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        QString list = QStringLiteral("_");
        while (q.next())
            list += q.value(0).toString() + QLatin1Char('_');
        return list;
    }

    // The guides the query's groups give: columns name, identifier, code, last emission, due
    // date, INSS, other entities, fine, number of documents.
    static QList<ExpectedGuide> expected(const QString &sql)
    {
        QSqlQuery q(fis::HostDatabase::database(kConnection));
        EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
        QList<ExpectedGuide> guides;
        while (q.next()) {
            ExpectedGuide g;
            g.name = q.value(0).toString();
            g.identifier = q.value(1).toString();
            g.code = q.value(2).toString();
            g.competence = QDate::fromString(q.value(3).toString().left(10), Qt::ISODate)
                               .toString(QStringLiteral("MM/yyyy"));
            g.due = QDate::fromString(q.value(4).toString().left(10), Qt::ISODate)
                        .toString(QStringLiteral("dd/MM/yyyy"));
            g.inss = q.value(5).toDouble();
            g.others = q.value(6).toDouble();
            g.fine = q.value(7).toDouble();
            g.documents = q.value(8).toInt();
            guides << g;
        }
        return guides;
    }

    // Reads the PDF back and checks every guide and its annex; totalHeader is the title of the
    // annex column that totals the INSS value.
    void check(const QString &pdf, const QList<ExpectedGuide> &guides, const QString &totalHeader)
    {
        const QList<PageWords> pages = readWords(pdf);
        ASSERT_FALSE(pages.isEmpty());
        const QPageLayout layout = fis::defaultReportPageLayout();
        const QPointF origin = layout.paintRect(QPageLayout::Point).topLeft();
        const QRectF form = fis::gps::formRect(fis::ReportPages::printableSize(layout));
        const auto points = [&](const QRectF &units) {
            return QRectF(origin + units.topLeft() / 10, units.size() / 10).adjusted(-1, -1, 1, 1);
        };
        const auto box = [&](const PageWords &page, int number) {
            return textIn(page, points(fis::gps::valueRect(number, form)));
        };
        const QRectF below = points(QRectF(form.left(), form.bottom(), form.width(), 400));

        // Guide pages are the ones that say "Guia i de n" under the form; the annex follows.
        QList<int> guidePages;
        for (int p = 0; p < pages.size(); ++p) {
            if (textIn(pages.at(p), below).startsWith(QStringLiteral("Guia ")))
                guidePages << p;
        }
        ASSERT_EQ(guidePages.size(), guides.size()) << pdf.toStdString();
        bool longAnnex = false;
        for (int g = 0; g < guides.size(); ++g) {
            const ExpectedGuide &want = guides.at(g);
            const PageWords &page = pages.at(guidePages.at(g));
            SCOPED_TRACE(
                QStringLiteral("guide %1 (%2)").arg(g + 1).arg(want.identifier).toStdString());
            EXPECT_TRUE(box(page, 1).startsWith(want.name)) << box(page, 1).toStdString();
            EXPECT_EQ(box(page, 3), want.code);
            EXPECT_EQ(box(page, 4), want.competence);
            const QString id = box(page, 5);
            EXPECT_TRUE(
                QRegularExpression(QStringLiteral("^\\d{2}\\.\\d{3}\\.\\d{3}/\\d{4}-\\d{2}$"))
                    .match(id)
                    .hasMatch())
                << id.toStdString();
            EXPECT_EQ(QString(id).remove(QRegularExpression(QStringLiteral("\\D"))),
                      want.identifier);
            EXPECT_EQ(textIn(page, points(fis::gps::dueRect(form))),
                      QStringLiteral("Vencimento: %1").arg(want.due));
            const double inss = brazilianAmount(box(page, 6));
            const double others = brazilianAmount(box(page, 9));
            const double fine = brazilianAmount(box(page, 10));
            const double total = brazilianAmount(box(page, 11));
            EXPECT_NEAR(inss, want.inss, 0.005) << box(page, 6).toStdString();
            EXPECT_NEAR(others, want.others, 0.005) << box(page, 9).toStdString();
            EXPECT_NEAR(fine, want.fine, 0.005) << box(page, 10).toStdString();
            EXPECT_NEAR(total, inss + others + fine, 0.005) << box(page, 11).toStdString();

            // The annex: every document listed once, the total of the INSS column = field 6.
            const int end = g + 1 < guidePages.size() ? guidePages.at(g + 1) : int(pages.size());
            ASSERT_GT(end, guidePages.at(g) + 1) << "no annex";
            longAnnex = longAnnex || end - guidePages.at(g) > 2;
            int listed = 0;
            QString annexTotal;
            for (int p = guidePages.at(g) + 1; p < end; ++p) {
                const PageWords &annex = pages.at(p);
                const auto header = std::find_if(annex.cbegin(), annex.cend(), [&](const Word &w) {
                    return w.text == totalHeader;
                });
                ASSERT_NE(header, annex.cend());
                // A title may wrap (the total's "Vr. INSS" over two lines when the columns are
                // tight): the first column's title heads the title rows, on or above the total's.
                const auto firstTitle =
                    std::find_if(annex.cbegin(), annex.cend(), [&](const Word &w) {
                        return w.box.left() < 40 && w.box.top() <= header->box.top() + 2 &&
                               w.box.top() > header->box.top() - 20;
                    });
                ASSERT_NE(firstTitle, annex.cend());
                qreal firstColumnEnd = 1e9;
                for (const Word &w : annex) {
                    if (qAbs(w.box.top() - firstTitle->box.top()) < 2 && w.box.left() > 40)
                        firstColumnEnd = qMin(firstColumnEnd, w.box.left());
                }
                for (const Word &w : annex) {
                    if (w.box.top() > header->box.bottom() && w.box.right() < firstColumnEnd &&
                        QRegularExpression(QStringLiteral("^\\d+$")).match(w.text).hasMatch())
                        ++listed;
                    if (w.text == QLatin1String("Total") && w.box.right() < firstColumnEnd) {
                        for (const Word &v : annex) {
                            if (qAbs(v.box.top() - w.box.top()) < 2 &&
                                qAbs(v.box.right() - header->box.right()) < 3)
                                annexTotal = v.text;
                        }
                    }
                }
            }
            EXPECT_EQ(listed, want.documents);
            EXPECT_EQ(annexTotal, box(page, 6));
        }
        lastHadLongAnnex = longAnnex;
    }

    static inline QTemporaryDir *dir = nullptr;
    bool lastHadLongAnnex = false;
};

const char *const kPeriod = "BETWEEN '2025-10-01' AND '2026-03-31'";

void setPeriod(fis::ReportParams &params)
{
    params.setText(QStringLiteral("P_CDEMPRESA"), QStringLiteral("01"));
    params.setText(QStringLiteral("P_CDIMPOSTO"), QStringLiteral("01"));
    params.setDate(QStringLiteral("P_DTINIEMI"), fis::TDateTime::fromDate(QDate(2025, 10, 1)));
    params.setDate(QStringLiteral("P_DTFINEMI"), fis::TDateTime::fromDate(QDate(2026, 3, 31)));
}

} // namespace

TEST_F(GuidesPdfTest, ExitsOneGuidePerBranchClientCodeAndDueDate)
{
    const QString where = QStringLiteral("N.CDEMPRESA = '01' AND N.IDENTRSAIDOP = 'S' AND "
                                         "N.CDIMPOSTO = '01' AND N.DTEMISSAO %1")
                              .arg(QLatin1String(kPeriod));
    const QString rows = QStringLiteral("FROM NOTAFISCAL N WHERE %1 ORDER BY N.CDFILIAL, "
                                        "N.NRLANCTONF")
                             .arg(where);
    const QString pdf = print(QStringLiteral("FIS029_01"), [&](fis::ReportParams &params) {
        setPeriod(params);
        params.setText(QStringLiteral("P_CDCLIENTE"), keyList("SELECT N.CDCLIENTE " + rows));
        params.setText(QStringLiteral("P_CDFILIAL"), keyList("SELECT N.CDFILIAL " + rows));
        params.setText(QStringLiteral("P_NRLANCTONF"), keyList("SELECT N.NRLANCTONF " + rows));
    });
    const QList<ExpectedGuide> guides = expected(
        QStringLiteral("SELECT E.NMRAZSOCEMPR, B.NRINSJURFILI, N.CDRECEGUIA, MAX(N.DTEMISSAO),"
                       " N.DTVENCGUIA, SUM(N.VRTOTIMPONF), SUM(N.VROUTRENTGUIA),"
                       " SUM(N.VRMULTAGUIA), COUNT(*)"
                       " FROM NOTAFISCAL N JOIN FILIAL B ON B.CDFILIAL = N.CDFILIAL"
                       " JOIN EMPRESA E ON E.CDEMPRESA = N.CDEMPRESA WHERE %1"
                       " GROUP BY N.CDFILIAL, N.CDCLIENTE, N.CDRECEGUIA, N.DTVENCGUIA"
                       " ORDER BY N.CDFILIAL, N.CDCLIENTE, N.CDRECEGUIA, N.DTVENCGUIA")
            .arg(where));
    ASSERT_GT(guides.size(), 10);
    check(pdf, guides, QStringLiteral("INSS"));
}

TEST_F(GuidesPdfTest, EntriesOneGuidePerSupplierCodeAndDueDateWithAnnexOverPages)
{
    const QString where = QStringLiteral("N.CDEMPRESA = '01' AND N.IDENTRSAIDOP = 'E' AND "
                                         "N.CDIMPOSTO = '01' AND N.DTENTRSAID %1")
                              .arg(QLatin1String(kPeriod));
    const QString rows = QStringLiteral("FROM NOTAFISCAL N WHERE %1 ORDER BY N.CDFILIAL, "
                                        "N.NRLANCTONF")
                             .arg(where);
    const QString pdf = print(QStringLiteral("FIS029_02"), [&](fis::ReportParams &params) {
        setPeriod(params);
        params.setText(QStringLiteral("P_CDFORNECED"), keyList("SELECT N.CDFORNECED " + rows));
        params.setText(QStringLiteral("P_CDFILIAL"), keyList("SELECT N.CDFILIAL " + rows));
        params.setText(QStringLiteral("P_NRLANCTONF"), keyList("SELECT N.NRLANCTONF " + rows));
    });
    const QList<ExpectedGuide> guides = expected(
        QStringLiteral("SELECT MIN(F.NMRAZSOCFORN), N.NRINSJURNF, N.CDRECEGUIA,"
                       " MAX(N.DTEMISSAO), N.DTVENCGUIA, SUM(N.VRTOTIMPONF),"
                       " SUM(N.VROUTRENTGUIA), SUM(N.VRMULTAGUIA), COUNT(*)"
                       " FROM NOTAFISCAL N JOIN FORNECEDOR F ON F.CDFORNECED = N.CDFORNECED"
                       " WHERE %1 GROUP BY N.NRINSJURNF, N.CDRECEGUIA, N.DTVENCGUIA"
                       " ORDER BY N.NRINSJURNF, N.CDRECEGUIA, N.DTVENCGUIA")
            .arg(where));
    ASSERT_GT(guides.size(), 10);
    check(pdf, guides, QStringLiteral("INSS"));
    EXPECT_TRUE(lastHadLongAnnex) << "the supplier with many documents has a one-page annex";
}

TEST_F(GuidesPdfTest, RuralMapsOneGuidePerMapForTheCompany)
{
    const QString maps = QStringLiteral("FROM MAPAAPUR M WHERE M.CDEMPRESA = '01'");
    const QString pdf = print(QStringLiteral("FIS029_03"), [&](fis::ReportParams &params) {
        params.setText(QStringLiteral("P_NRSEQUMAPAPU"),
                       keyList("SELECT M.NRSEQUMAPAPU " + maps + " ORDER BY M.NRSEQUMAPAPU"));
    });
    const QList<ExpectedGuide> guides =
        expected(QStringLiteral("SELECT E.NMRAZSOCEMPR, E.NRINSJUREMPR, '2607', M.DTINIPERIODO,"
                                " M.DTVENCGUIA, M.VRTTCTBLCRE, 0, 0, 1"
                                " FROM MAPAAPUR M JOIN EMPRESA E ON E.CDEMPRESA = M.CDEMPRESA"
                                " WHERE M.CDEMPRESA = '01' ORDER BY M.NRSEQUMAPAPU"));
    ASSERT_EQ(guides.size(), 12); // two registrations, six months
    check(pdf, guides, QStringLiteral("Valor"));
}
