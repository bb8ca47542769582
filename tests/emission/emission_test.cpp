// The emission screen without a server: record sets filled from packets built here, the host
// database in memory, messages recorded instead of shown.
#include "data/packet.h"
#include "emission/Cli_fis02900.h"
#include "filter/Cli_fis02910.h"
#include "framework/reportdesigner.h"
#include "testkit/recordinghostui.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSqlQuery>
#include <QToolButton>
#include <gtest/gtest.h>

using fis::FieldType;
using fis::PacketField;

namespace {

fis::DataPacket aprovPacket(const QList<QVariantList> &rows)
{
    return fis::buildPacket({{"IDCHECK", FieldType::FixedString, 1},
                             {"IDENTRSAIDOP", FieldType::String, 1},
                             {"NRNOTAFISC", FieldType::String, 20},
                             {"CDRECEGUIA", FieldType::String, 5}},
                            rows);
}

class EmissionScreen : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ui.install();
        screen = new TfrmEmiPrevSocial;
        screen->setReportDir(QStringLiteral(FIS_REPORT_DIR));
        screen->loadReportNames();
        boCtrl = true;
    }
    void TearDown() override
    {
        delete screen;
        ui.uninstall();
    }
    QStringList messages() const
    {
        QStringList texts;
        for (const auto &m : ui.messages())
            texts << m.text;
        return texts;
    }
    bool columnVisible(const char *field) const
    {
        return screen->dbgPadrao->findColumn(QString::fromLatin1(field))->visible();
    }
    QList<QToolButton *> sixButtons() const
    {
        return {screen->sbtPrint,         screen->sbtPreview,   screen->sbtSalvarComo,
                screen->sbtConfigImpress, screen->sbtVerificar, screen->sbtProcurar};
    }
    QList<QAction *> sixItems() const
    {
        return {screen->mnuImprimir,      screen->mnuVisualizar, screen->mnuSalvarComo,
                screen->mnuConfigImpress, screen->mnuAtualizar,  screen->mnuProcurar};
    }
    void expectAll(bool enabled)
    {
        for (QToolButton *b : sixButtons())
            EXPECT_EQ(b->isEnabled(), enabled) << b->objectName().toStdString();
        for (QAction *a : sixItems())
            EXPECT_EQ(a->isEnabled(), enabled) << a->objectName().toStdString();
    }

    fis::RecordingHostUi ui;
    TfrmEmiPrevSocial *screen = nullptr;
};

TEST_F(EmissionScreen, OperationLetterIsShownAndTypedAsCatalogueWords)
{
    screen->cdsAprov->setData(aprovPacket({{"U", "E", "1", ""},
                                           {"U", "S", "2", ""},
                                           {"U", "X", "3", ""},
                                           {"U", QVariant(), "4", ""}}));
    fis::Field *op = screen->cdsAprov->fieldByName(QStringLiteral("IDENTRSAIDOP"));
    EXPECT_EQ(op->displayTextAt(0), QStringLiteral("Entrada"));
    EXPECT_EQ(op->displayTextAt(1), QStringLiteral("Saída"));
    EXPECT_EQ(op->displayTextAt(2), QString());
    EXPECT_EQ(op->displayTextAt(3), QString());

    screen->cdsAprov->first();
    screen->cdsAprov->edit();
    op->setText(QStringLiteral("entrada")); // case counts: nothing changes
    EXPECT_EQ(op->asString(), QStringLiteral("E"));
    op->setText(QStringLiteral("Saida")); // so do accents
    EXPECT_EQ(op->asString(), QStringLiteral("E"));
    op->setText(QStringLiteral("Saída"));
    EXPECT_EQ(op->asString(), QStringLiteral("S"));
    screen->cdsAprov->cancel();
}

TEST_F(EmissionScreen, OpeningASetSwitchesTheDocumentColumns)
{
    // Start layout: the entries columns.
    EXPECT_EQ(screen->dtsPadrao->dataSet(), screen->cdsAprovAgrup);
    EXPECT_FALSE(columnVisible("DTEMISSAO"));
    EXPECT_TRUE(columnVisible("SOMA"));

    screen->cdsAprovAgrup->setData(aprovPacket({{"U", "E", "1", ""}}));
    EXPECT_EQ(screen->dtsPadrao->dataSet(), screen->cdsAprovAgrup);
    EXPECT_EQ(screen->dbgPadrao->model()->rowCount(), 1);
    for (const char *f :
         {"DTEMISSAO", "NMRAZSOCCLIE", "NRNOTAFISC", "CDSERIE", "VRNOTAFISC", "CDFILIAL"})
        EXPECT_FALSE(columnVisible(f)) << f;
    EXPECT_TRUE(columnVisible("SOMA"));
    EXPECT_TRUE(columnVisible("DTENTRSAID"));

    screen->cdsAprov->setData(aprovPacket({{"U", "S", "1", ""}, {"U", "S", "2", ""}}));
    EXPECT_EQ(screen->dtsPadrao->dataSet(), screen->cdsAprov);
    EXPECT_EQ(screen->dbgPadrao->model()->rowCount(), 2); // the grid follows the switched link
    EXPECT_FALSE(columnVisible("SOMA"));
    EXPECT_FALSE(columnVisible("NMRAZSOCFORN"));
    EXPECT_TRUE(columnVisible("DTENTRSAID")); // kept as the entries view left it
    for (const char *f : {"DTEMISSAO", "NMRAZSOCCLIE", "NRNOTAFISC", "CDSERIE", "VRNOTAFISC",
                          "CDFILIAL", "VENCIMENTO", "CDRECEGUIA"})
        EXPECT_TRUE(columnVisible(f)) << f;

    // The supplier's name of an entry row in the exits view is not cut to one letter.
    EXPECT_GE(screen->cdsAprov->fieldByName(QStringLiteral("NMRAZSOCFORN"))->size(), 77);
}

TEST_F(EmissionScreen, DocumentSetsRefuseNewRowsSilently)
{
    for (fis::ClientDataSet *set : {screen->cdsAprov, screen->cdsAprovAgrup}) {
        set->setData(aprovPacket({{"U", "S", "1", ""}}));
        EXPECT_THROW(set->append(), fis::EAbort);
        EXPECT_THROW(set->insert(), fis::EAbort);
        EXPECT_EQ(set->recordCount(), 1);
        EXPECT_EQ(set->state(), fis::DataSetState::Browse);
    }
    EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(EmissionScreen, OperationOfTheChosenReport)
{
    EXPECT_EQ(screen->operacaoDoRelatorio(QStringLiteral("Guia - Entrada")), QStringLiteral("E"));
    EXPECT_EQ(screen->operacaoDoRelatorio(QStringLiteral("Guia - entrada")), QStringLiteral("S"));
    EXPECT_EQ(screen->operacaoDoRelatorio(QStringLiteral("Guia - Entrada ")), QStringLiteral("S"));
    EXPECT_EQ(screen->operacaoDoRelatorio(QStringLiteral("Guia - Saída")), QStringLiteral("S"));
    // Only the first dash counts.
    EXPECT_EQ(screen->operacaoDoRelatorio(QStringLiteral("A-B - Entrada")), QStringLiteral("S"));
    // Without a dash: the text from its second character on.
    EXPECT_EQ(screen->operacaoDoRelatorio(QStringLiteral("XEntrada")), QStringLiteral("E"));
    EXPECT_EQ(screen->operacaoDoRelatorio(QString()), QStringLiteral("S"));
}

TEST_F(EmissionScreen, ActivationEnablesTheButtonsByWhatIsLoaded)
{
    screen->FormActivate();
    EXPECT_EQ(screen->cbbReportNames->currentIndex(), 0);
    EXPECT_EQ(screen->stOperacao, QStringLiteral("S"));
    expectAll(false);

    screen->cdsAprov->setData(aprovPacket({{"U", "S", "1", ""}}));
    ASSERT_FALSE(screen->cdsAprovAgrup->active());
    screen->FormActivate();
    expectAll(true);

    screen->cbbReportNames->setCurrentIndex(1); // entries report, same data
    screen->FormActivate();
    EXPECT_EQ(screen->stOperacao, QStringLiteral("E"));
    expectAll(false);

    // The maps report follows the maps only.
    screen->cbbReportNames->setCurrentIndex(2);
    screen->FormActivate();
    expectAll(false);
    screen->cdsFunRural->createDataSet();
    screen->cdsFunRural->appendRecord({});
    screen->FormActivate();
    expectAll(true);
}

TEST_F(EmissionScreen, ReloadBeforeAnyFilterOnlyDiscardsTheSelection)
{
    // No filter dialog yet, so no criteria: nothing is asked of the server (which this test does
    // not have: a call would show its failure), in any view, but the selection is dropped.
    screen->vrTotalGuia = 10;
    screen->vrMultaGuia = 1;
    screen->vrOutrEntGuia = 2;
    screen->stInscForne = QStringLiteral("12345678909");
    screen->stCodReceSel = QStringLiteral("2631");
    screen->stStatusSel = QStringLiteral("U");
    screen->stFilialSel = QStringLiteral("0002");
    screen->cdsAprov->setData(aprovPacket({{"U", "S", "100", "2631"}}));
    ASSERT_EQ(frmFiltroEmiPrev, nullptr);
    for (int report : {0, 2}) {
        screen->cbbReportNames->setCurrentIndex(report);
        screen->sbtVerificarClick();
    }
    EXPECT_TRUE(messages().isEmpty()) << messages().join(u'|').toStdString();
    EXPECT_EQ(screen->vrTotalGuia, 0);
    EXPECT_EQ(screen->vrMultaGuia, 0);
    EXPECT_EQ(screen->vrOutrEntGuia, 0);
    EXPECT_TRUE(screen->stInscForne.isEmpty());
    EXPECT_TRUE(screen->stCodReceSel.isEmpty());
    EXPECT_TRUE(screen->stStatusSel.isEmpty());
    EXPECT_EQ(screen->stFilialSel, QStringLiteral("0002")); // kept for the next listing
    EXPECT_EQ(screen->cdsAprov->recordCount(), 1);
}

TEST_F(EmissionScreen, ReportChangeSwitchesGridsAndClosesTheMaps)
{
    screen->show();
    screen->cbbReportNames->setCurrentIndex(2);
    screen->cbbReportNamesChange();
    EXPECT_TRUE(screen->dbgFunRural->isVisible());
    EXPECT_FALSE(screen->dbgPadrao->isVisible());

    screen->cdsFunRural->createDataSet();
    screen->cbbReportNames->setCurrentIndex(1);
    screen->cbbReportNamesChange();
    EXPECT_FALSE(screen->dbgFunRural->isVisible());
    EXPECT_TRUE(screen->dbgPadrao->isVisible());
    EXPECT_FALSE(screen->cdsFunRural->active());
    EXPECT_EQ(screen->stOperacao, QStringLiteral("E"));
}

TEST_F(EmissionScreen, StateChangeLocksTheRevenueCodeOfATickedRow)
{
    screen->cdsAprov->setData(aprovPacket({{"C", "S", "1", "2631"}, {"U", "S", "2", "2631"}}));
    screen->FormActivate();
    screen->cdsAprov->first();
    fis::GridColumn *code = screen->dbgPadrao->findColumn(QStringLiteral("CDRECEGUIA"));
    EXPECT_TRUE(code->readOnly());
    screen->cdsAprov->next(); // every scroll runs the rule
    EXPECT_FALSE(code->readOnly());
    // Editing a row without a guide offers the lookup button.
    screen->cdsAprov->edit();
    EXPECT_EQ(code->buttonStyle(), fis::ColumnButtonStyle::Ellipsis);
    screen->cdsAprov->cancel();
    EXPECT_EQ(code->buttonStyle(), fis::ColumnButtonStyle::Auto);
}

TEST_F(EmissionScreen, LeavingTheGridDisablesTheOutputUntilTheNextActivation)
{
    screen->cdsAprov->setData(aprovPacket({{"U", "S", "1", ""}}));
    screen->FormActivate();
    screen->dbgPadraoExit();
    for (QAction *a : {screen->mnuImprimir, screen->mnuVisualizar, screen->mnuSalvarComo})
        EXPECT_FALSE(a->isEnabled());
    EXPECT_TRUE(screen->mnuProcurar->isEnabled());
    screen->FormActivate();
    expectAll(true);
}

class CompanyEntry : public EmissionScreen
{
protected:
    void SetUp() override
    {
        EmissionScreen::SetUp();
        QSqlDatabase db = fis::HostDatabase::open(QStringLiteral(":memory:"));
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE EMPRESA (CDEMPRESA VARCHAR(2), NMRAZSOCEMPR VARCHAR(80),"
                           " VRPEMULEMPR DOUBLE PRECISION, VRPEMOREMPR DOUBLE PRECISION,"
                           " CDCENTCUST VARCHAR(4))"));
        ASSERT_TRUE(q.exec("INSERT INTO EMPRESA VALUES ('01', 'Metalúrgica Exemplo', 0, 0, '1')"));
        screen->show();
        QApplication::setActiveWindow(screen);
        ui.clear(); // showing it created it: no server here, so the fiscal parameters failed
    }
    void TearDown() override
    {
        EmissionScreen::TearDown();
        fis::HostDatabase::close();
    }
    // Puts the focus on the grid with a valid company, the filter already counted as opened.
    void focusGrid()
    {
        screen->medCdEmpresa->setMaskedText(QStringLiteral("01"));
        boFiltro = true;
        screen->dbgPadrao->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), screen->dbgPadrao);
        ASSERT_FALSE(boFiltro);
        ui.clear();
    }
};

TEST_F(CompanyEntry, OneDigitCodeIsAdjustedBeforeTheLookup)
{
    screen->medCdEmpresa->setMaskedText(QStringLiteral("1"));
    screen->Vd_Empresa(true);
    EXPECT_EQ(screen->medCdEmpresa->Text(), QStringLiteral("01"));
    EXPECT_EQ(screen->qryVdEmpresa->param(QStringLiteral("P_CDEMPRESA")).toString(),
              QStringLiteral("01"));
    EXPECT_EQ(screen->edtNmEmpresa->text(), QStringLiteral("Metalúrgica Exemplo"));
    EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(CompanyEntry, RefusalsNameTheReasonAndPutTheFocusBack)
{
    focusGrid();
    screen->medCdEmpresa->setMaskedText(QString());
    screen->Vd_Empresa(false); // optional: an empty code is no error
    EXPECT_TRUE(ui.messages().isEmpty());

    EXPECT_THROW(screen->Vd_Empresa(true), fis::EAbort);
    EXPECT_EQ(messages(), QStringList{QStringLiteral("Empresa deve ser informada.")});
    EXPECT_EQ(QApplication::focusWidget(), screen->medCdEmpresa);

    focusGrid();
    screen->edtNmEmpresa->setText(QStringLiteral("velho"));
    screen->medCdEmpresa->setMaskedText(QStringLiteral("7"));
    EXPECT_THROW(screen->Vd_Empresa(false), fis::EAbort);
    EXPECT_EQ(messages(), QStringList{QStringLiteral("Empresa não cadastrada.")});
    EXPECT_EQ(QApplication::focusWidget(), screen->medCdEmpresa);
    EXPECT_TRUE(screen->edtNmEmpresa->text().isEmpty());
}

TEST_F(CompanyEntry, TypingACodeEnablesTheFilter)
{
    EXPECT_FALSE(screen->sbtFiltro->isEnabled());
    screen->medCdEmpresa->setMaskedText(QStringLiteral("01"));
    EXPECT_TRUE(screen->sbtFiltro->isEnabled());
    EXPECT_TRUE(screen->mnuFiltro->isEnabled());
    screen->medCdEmpresa->setMaskedText(QString());
    EXPECT_FALSE(screen->sbtFiltro->isEnabled());
    EXPECT_FALSE(screen->mnuFiltro->isEnabled());
}

TEST(EmissionReports, ThreeDefinitionsOneViewEach)
{
    const QDir dir(QStringLiteral(FIS_REPORT_DIR));
    const QStringList suffixes = {QStringLiteral(" - Saída"), QStringLiteral(" - Entrada"),
                                  QStringLiteral(" - FunRural")};
    for (int i = 0; i < 3; ++i) {
        const QString file =
            dir.filePath(QStringLiteral("FIS029_%1.json").arg(i + 1, 2, 10, QLatin1Char('0')));
        fis::ReportDefinition def;
        ASSERT_NO_THROW(def = fis::ReportDefinition::load(file)) << file.toStdString();
        EXPECT_TRUE(def.title.endsWith(suffixes[i])) << def.title.toStdString();
    }
}

} // namespace

// The picture path is built from the report directory as the installations write it: the part
// before its first "REL" (any case), then "Rel\guia_gps.bmp".
TEST(GuidePicturePath, TheDirectoryUpToItsFirstRelThenTheGuidePicture)
{
    EXPECT_EQ(TfrmEmiPrevSocial::guidePicturePath("C:\\SIS\\REL\\"), "C:\\SIS\\Rel\\guia_gps.bmp");
    EXPECT_EQ(TfrmEmiPrevSocial::guidePicturePath("c:\\app\\rel"), "c:\\app\\Rel\\guia_gps.bmp");
    EXPECT_EQ(TfrmEmiPrevSocial::guidePicturePath("/opt/fis/bin/rel"),
              "/opt/fis/bin/Rel\\guia_gps.bmp");
    // The first "rel" wins, wherever it stands; without one the path is relative.
    EXPECT_EQ(TfrmEmiPrevSocial::guidePicturePath("/home/ana/release/bin/rel"),
              "/home/ana/Rel\\guia_gps.bmp");
    EXPECT_EQ(TfrmEmiPrevSocial::guidePicturePath("D:\\Sistemas\\Fiscal\\"), "Rel\\guia_gps.bmp");
    EXPECT_EQ(TfrmEmiPrevSocial::guidePicturePath(""), "Rel\\guia_gps.bmp");
}
