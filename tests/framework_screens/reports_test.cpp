// The report engine: definition files, the parameter step before the query, the listing and its
// PDF output.
#include "data/abort.h"
#include "framework/reportdesigner.h"
#include "framework/windowspath.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using fis::ReportDefinition;
using fis::ReportDefinitionError;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QString definitionError(const QByteArray &json)
{
    try {
        ReportDefinition::parse(json, QStringLiteral("/rel/FIS029_01.json"));
    } catch (const ReportDefinitionError &e) {
        return e.message();
    }
    return {};
}

const QByteArray kListing = R"json({
  "title": "Notas da empresa",
  "sql": ["SELECT CDEMPRESA, NRNOTA, VRNOTA, DTEMISSAO, ':P_NAO' AS TEXTO FROM NOTA",
          "WHERE CDEMPRESA = :P_CDEMPRESA AND DTEMISSAO >= :P_DTINIEMI -- :P_COMENTARIO",
          "AND (:P_CDCLIENTE IS NULL OR CDCLIENTE = :P_CDCLIENTE)",
          "ORDER BY NRNOTA"],
  "params": [{"name": "P_CDEMPRESA"}, {"name": "P_DTINIEMI", "type": "date"},
             {"name": "P_CDCLIENTE"}, "P_IMAGEM"],
  "columns": [{"field": "NRNOTA", "title": "Nota"},
              {"field": "VRNOTA", "title": "Valor", "format": "#,##0.00", "align": "right"},
              {"field": "DTEMISSAO", "title": "Emissão"},
              "TEXTO"]
})json";

class ReportRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        db.setDatabaseName(QStringLiteral(":memory:"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE NOTA (CDEMPRESA TEXT, NRNOTA TEXT, VRNOTA REAL, "
                           "DTEMISSAO DATE, CDCLIENTE TEXT)"));
        ASSERT_TRUE(q.exec("INSERT INTO NOTA VALUES ('01', '000002', 1234.56, '2026-11-05', 'A'),"
                           "('01', '000001', 10, '2026-10-01', 'B'),"
                           "('02', '000003', 99, '2026-11-06', 'A')"));
        dialog.setDatabaseConnection(kConnection);
    }
    void TearDown() override { QSqlDatabase::removeDatabase(kConnection); }

    static inline const QString kConnection = QStringLiteral("fwscreens_reports");
    TReportDesignerDialog dialog;
};

} // namespace

TEST(ReportDefinitionTest, ReadsTitleSqlVariantsParametersAndColumns)
{
    const ReportDefinition def = ReportDefinition::parse(
        R"({"title": "Guia", "sql": {"default": "SELECT 1 WHERE :P_A = 1",
            "mssql": ["SELECT 2", "WHERE :P_A = 1"]},
            "params": [{"name": "P_A", "type": "float"}, {"name": "P_B", "type": "date"}]})",
        QStringLiteral("/rel/FIS029_07.json"));
    EXPECT_EQ(def.code, "FIS029_07");
    EXPECT_EQ(def.title, "Guia");
    EXPECT_EQ(def.sqlFor("QSQLITE"), "SELECT 1 WHERE :P_A = 1");
    EXPECT_EQ(def.sqlFor("QPSQL"), "SELECT 1 WHERE :P_A = 1");
    EXPECT_EQ(def.sqlFor("QODBC"), "SELECT 2\nWHERE :P_A = 1");
    EXPECT_EQ(def.sqlFor("QOCI"), "SELECT 1 WHERE :P_A = 1"); // no Oracle text: the default
    ASSERT_EQ(def.params.size(), 2);
    EXPECT_EQ(def.params.at(0).type, fis::ReportParamType::Float);
    EXPECT_EQ(def.params.at(1).type, fis::ReportParamType::Date);
    EXPECT_TRUE(def.columns.isEmpty());
}

TEST(ReportDefinitionTest, RefusesBrokenDefinitionsNamingFileAndReason)
{
    const QString badJson = definitionError("{\"title\": \"x\", ");
    EXPECT_TRUE(badJson.contains("/rel/FIS029_01.json")) << badJson.toStdString();
    EXPECT_TRUE(badJson.contains("JSON malformado"));
    EXPECT_TRUE(definitionError(R"({"sql": "SELECT 1"})").contains("título"));
    EXPECT_TRUE(definitionError(R"({"title": "x"})").contains("SQL"));
    // A placeholder the definition does not declare could never be bound.
    EXPECT_TRUE(definitionError(R"({"title": "x", "sql": "SELECT :P_X"})").contains(":P_X"));
    EXPECT_TRUE(definitionError(R"({"title": "x", "sql": "SELECT 1",
        "params": [{"name": "P_A", "type": "moeda"}]})")
                    .contains("moeda"));
    EXPECT_TRUE(definitionError(R"({"title": "x", "sql": "SELECT 1",
        "params": ["P_A", "p_a"]})")
                    .contains("duas vezes"));
    EXPECT_TRUE(definitionError(R"({"title": "x", "sql": "SELECT 1", "columns": [{}]})")
                    .contains("coluna"));
    // Quoted text, comments and casts are not parameters.
    EXPECT_TRUE(definitionError(R"({"title": "x",
        "sql": "SELECT ':P_A', \"x:P_B\", 1::int -- :P_C"})")
                    .isEmpty());
}

TEST(ReportDefinitionTest, GuideLayoutsAreCheckedWhenRead)
{
    const auto guide = [](const char *body) {
        return definitionError(QByteArray(R"({"title": "x", "sql": "SELECT 1",
            "params": ["P_IMAGEM"], "guide": )") +
                               body + "}");
    };
    EXPECT_TRUE(guide(R"({"groupBy": ["A"], "boxes": {"3": "B"}})").isEmpty());
    EXPECT_TRUE(guide(R"({"boxes": {"3": "B"}})").contains("groupBy"));
    EXPECT_TRUE(guide(R"({"groupBy": ["A"]})").contains("boxes"));
    EXPECT_TRUE(guide(R"({"groupBy": ["A"], "boxes": {"13": "B"}})").contains("\"13\""));
    EXPECT_TRUE(guide(R"({"groupBy": ["A"], "boxes": {"6": {"sum": "B", "max": "C"}}})")
                    .contains("exatamente um"));
    EXPECT_TRUE(guide(R"({"groupBy": ["A"], "picture": "P_FOTO", "boxes": {"3": "B"}})")
                    .contains("P_FOTO"));
    // Field 11 adds amounts that come from the rows: not an undeclared field nor another sum.
    EXPECT_TRUE(
        guide(R"({"groupBy": ["A"], "boxes": {"11": {"boxes": [6]}}})").contains("campo 6"));
    EXPECT_TRUE(guide(R"({"groupBy": ["A"], "boxes": {"6": {"sum": "V"},
        "10": {"boxes": [6]}, "11": {"boxes": [10]}}})")
                    .contains("campo 10"));
    EXPECT_TRUE(guide(R"({"groupBy": ["A"], "boxes": {"3": {"boxes": [6]}, "6": "V"}})")
                    .contains("6 a 11"));
    EXPECT_TRUE(guide(R"({"groupBy": ["A"], "boxes": {"3": "B"},
        "annex": {"columns": ["B"], "totals": ["V"]}})")
                    .contains("total V"));
}

TEST(ReportDefinitionTest, FilesOfACodeInNumericOrderOnly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char *name : {"FIS029_10.json", "FIS029_2.json", "fis029_01.JSON", "FIS0290_01.json",
                             "FIS029_x.json", "FIS029_03.txt"})
        writeFile(dir.filePath(name), "{}");
    const QStringList files = fis::reportDefinitionFiles(dir.path(), "FIS029");
    ASSERT_EQ(files.size(), 3);
    EXPECT_TRUE(files.at(0).endsWith("fis029_01.JSON"));
    EXPECT_TRUE(files.at(1).endsWith("FIS029_2.json"));
    EXPECT_TRUE(files.at(2).endsWith("FIS029_10.json"));
    EXPECT_TRUE(fis::reportDefinitionFiles(dir.filePath("nada"), "FIS029").isEmpty());
}

TEST_F(ReportRun, HandlerFillsDeclaredParametersBeforeTheQuery)
{
    const ReportDefinition def = ReportDefinition::parse(kListing, "/rel/FIS029_01.json");
    QStringList declaredSeen;
    dialog.OnBeforeGetQueryParams = [&](fis::ReportParams &params, bool &flag) {
        EXPECT_FALSE(flag);
        // The handler runs before the query: a row it adds is listed.
        QSqlQuery q(QSqlDatabase::database(kConnection));
        EXPECT_TRUE(q.exec("INSERT INTO NOTA VALUES ('01', '000009', 5, '2026-12-01', 'C')"));
        for (const char *name : {"P_CDEMPRESA", "P_CDFORNECED", "P_DTINIEMI", "P_IMAGEM"}) {
            if (ExistParam(params, name))
                declaredSeen << name;
        }
        params.setText("P_CDEMPRESA", "01");
        params.setDate("P_DTINIEMI", fis::TDateTime::fromDate(QDate(2026, 11, 1)));
        EXPECT_FALSE(params.setText("P_CDFORNECED", "_10_")); // not declared: not set
        // P_CDCLIENTE and P_IMAGEM are left null.
    };
    const fis::ReportListing listing = dialog.run(def);

    EXPECT_EQ(declaredSeen, QStringList({"P_CDEMPRESA", "P_DTINIEMI", "P_IMAGEM"}));
    EXPECT_FALSE(dialog.lastParams().contains("P_CDFORNECED"));
    EXPECT_TRUE(dialog.lastParams().value("P_CDCLIENTE").isNull());
    EXPECT_EQ(listing.title, "Notas da empresa");
    EXPECT_EQ(listing.headers, QStringList({"Nota", "Valor", "Emissão", "TEXTO"}));
    ASSERT_EQ(listing.rows.size(), 2);
    EXPECT_EQ(listing.rows.at(0), QStringList({"000002", "1.234,56", "2026-11-05", ":P_NAO"}));
    EXPECT_EQ(listing.rows.at(1).at(0), "000009");
    EXPECT_EQ(listing.rows.at(1).at(1), "5,00");
    EXPECT_TRUE(listing.params.contains(qMakePair(QString("P_DTINIEMI"), QString("01/11/2026"))));

    // A second run starts from null values again, and the filter on the client works.
    dialog.OnBeforeGetQueryParams = [](fis::ReportParams &params, bool &) {
        EXPECT_TRUE(params.value("P_CDEMPRESA").isNull());
        params.setText("P_CDEMPRESA", "01");
        params.setText("P_CDCLIENTE", "B");
        params.setDate("P_DTINIEMI", fis::TDateTime::fromDate(QDate(2026, 1, 1)));
    };
    const fis::ReportListing second = dialog.run(def);
    ASSERT_EQ(second.rows.size(), 1);
    EXPECT_EQ(second.rows.at(0).at(0), "000001");
}

TEST_F(ReportRun, GuidesGroupTheRowsAndAddUpTheirBoxes)
{
    const ReportDefinition def = ReportDefinition::parse(R"({"title": "Guias",
        "sql": "SELECT CDCLIENTE, NRNOTA, VRNOTA, DTEMISSAO, '12345678000195' AS CNPJ FROM NOTA",
        "guide": {"groupBy": ["CDCLIENTE"],
                  "boxes": {"3": {"text": "2631"}, "4": {"max": "DTEMISSAO", "format": "MM/yyyy"},
                            "5": {"field": "CNPJ", "format": "identifier"},
                            "6": {"sum": "VRNOTA"}, "9": {"min": "VRNOTA"},
                            "11": {"boxes": [6, 9]}},
                  "annex": {"columns": ["NRNOTA", {"field": "VRNOTA", "format": "#,##0.00"}],
                            "totals": ["VRNOTA"]}}})",
                                                         "/rel/FIS029_09.json");
    const fis::ReportListing listing = dialog.run(def);
    const QList<fis::Guide> guides = fis::buildGuides(*listing.guide, listing.data);
    ASSERT_EQ(guides.size(), 2); // clients A and B, in the order they first appear
    const fis::Guide &a = guides.at(0);
    EXPECT_EQ(a.rows.size(), 2);
    EXPECT_EQ(a.box.at(2), QStringList{"2631"});
    EXPECT_EQ(a.box.at(3), QStringList{"11/2026"});
    EXPECT_EQ(a.box.at(4), QStringList{"12.345.678/0001-95"});
    EXPECT_EQ(a.box.at(5), QStringList{"1.333,56"}); // 1234.56 + 99
    EXPECT_EQ(a.box.at(8), QStringList{"99,00"});
    EXPECT_EQ(a.box.at(10), QStringList{"1.432,56"});

    // A field the layout reads that the query does not give is refused, naming it.
    const ReportDefinition missing = ReportDefinition::parse(
        R"({"title": "x", "sql": "SELECT NRNOTA FROM NOTA",
            "guide": {"groupBy": ["NRNOTA"], "boxes": {"6": {"sum": "VRTOTAL"}}}})",
        "/rel/FIS029_08.json");
    try {
        dialog.run(missing);
        FAIL() << "a missing field must be refused";
    } catch (const ReportDefinitionError &e) {
        EXPECT_TRUE(e.message().contains("VRTOTAL"));
    }
}

TEST_F(ReportRun, FlagCancelsAndFailuresAreClear)
{
    const ReportDefinition def = ReportDefinition::parse(kListing, "/rel/FIS029_01.json");
    dialog.OnBeforeGetQueryParams = [](fis::ReportParams &, bool &flag) { flag = true; };
    EXPECT_THROW(dialog.run(def), fis::EAbort);

    dialog.OnBeforeGetQueryParams = nullptr;
    const ReportDefinition badColumn = ReportDefinition::parse(
        R"({"title": "x", "sql": "SELECT NRNOTA FROM NOTA", "columns": ["NADA"]})",
        "/rel/FIS029_02.json");
    try {
        dialog.run(badColumn);
        FAIL() << "a missing column must be refused";
    } catch (const ReportDefinitionError &e) {
        EXPECT_TRUE(e.message().contains("NADA"));
    }
    const ReportDefinition badSql = ReportDefinition::parse(
        R"({"title": "x", "sql": "SELECT * FROM TABELA_QUE_NAO_EXISTE"})", "/rel/FIS029_03.json");
    EXPECT_THROW(dialog.run(badSql), std::runtime_error);
}

TEST(ReportOutputTest, PdfIsWrittenOrTheFailureSaysSo)
{
    fis::ReportListing listing;
    listing.title = "Relatório <teste> & cia";
    listing.headers = {"A", "B"};
    listing.rows = {{"1", "<b>x</b>"}};

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("saida.pdf");
    TReportDesignerDialog::writePdf(listing, file);
    QFile pdf(file);
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");

    EXPECT_THROW(TReportDesignerDialog::writePdf(listing, dir.filePath("nao/existe/saida.pdf")),
                 std::runtime_error);
}

TEST(ReportOutputTest, ListingRunsOverPagesWithNothingCutOff)
{
    fis::ReportListing listing;
    listing.title = "Notas";
    listing.headers = {"Nota", "Observação", "Valor"};
    listing.alignments = {Qt::AlignLeft, Qt::AlignLeft, Qt::AlignRight};
    const QString longText = QString("palavra ").repeated(60) + QString("x").repeated(300);
    for (int i = 0; i < 150; ++i)
        listing.rows << QStringList{QString("NF%1").arg(i, 4, 10, QChar('0')),
                                    i == 7 ? longText : "curta", "1.234,56"};
    const fis::ReportPages pages = listing.pages(fis::defaultReportPageLayout());
    ASSERT_GT(pages.pages.size(), 2);

    QString all;
    for (qsizetype p = 0; p < pages.pages.size(); ++p) {
        const QString text = pages.pages.at(p).text();
        // Every page repeats the column titles and carries its number.
        EXPECT_TRUE(text.contains("Observação")) << p;
        EXPECT_TRUE(text.contains(QString("Página %1 de %2").arg(p + 1).arg(pages.pages.size())));
        all += text + '\n';
    }
    for (int i = 0; i < 150; ++i)
        EXPECT_TRUE(all.contains(QString("NF%1").arg(i, 4, 10, QChar('0')))) << i;
    // The long text wrapped inside its column, every character kept.
    QString joined = all;
    joined.remove('\n').remove(' ');
    EXPECT_TRUE(joined.contains(QString("palavra").repeated(60) + QString("x").repeated(300)));
    EXPECT_TRUE(all.contains("150 registro(s)"));

    // No item leaves the printable area.
    const QSizeF size = fis::ReportPages::printableSize(pages.layout);
    for (const fis::ReportPage &page : pages.pages) {
        for (const fis::PageItem &item : page.items()) {
            EXPECT_GE(item.rect.left(), -0.5);
            EXPECT_LE(item.rect.right(), size.width() + 0.5) << item.text.toStdString();
            EXPECT_LE(item.rect.bottom(), size.height() + 0.5) << item.text.toStdString();
        }
    }
}

TEST(ReportOutputTest, WindowsPathsAreFoundWhateverTheCaseOfTheirFolders)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir(dir.path()).mkpath("sis/rel");
    writeFile(dir.filePath("sis/rel/guia_gps.bmp"), "BM");
    const QString found = QDir::cleanPath(dir.filePath("sis/rel/guia_gps.bmp"));
    QString windows = dir.path() + "\\SIS\\Rel\\GUIA_GPS.bmp";
    EXPECT_EQ(fis::resolveWindowsPath(windows, "/"), found);
    EXPECT_EQ(fis::resolveWindowsPath("Rel\\guia_gps.bmp", dir.filePath("sis")), found);
    EXPECT_EQ(fis::resolveWindowsPath("C:" + dir.path() + "/sis/REL/guia_gps.bmp", "/"), found);
    EXPECT_TRUE(fis::resolveWindowsPath("Rel\\guia_gps.bmp", dir.path()).isEmpty());
    EXPECT_TRUE(fis::resolveWindowsPath(dir.path() + "\\sis\\rel", "/").isEmpty()); // a folder
    EXPECT_TRUE(fis::resolveWindowsPath("", dir.path()).isEmpty());
}
