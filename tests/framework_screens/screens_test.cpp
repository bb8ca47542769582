// The base report screen (report list, output actions, missing definitions) and the base filter
// dialog (modal cycle, handlers, saved options).
#include "framework/frmdadosgerrel.h"
#include "framework/frmfiltropadrao.h"
#include "framework/pagesetup.h"
#include "framework/reportdesigner.h"
#include "framework/tmessages.h"
#include "scriptedui.h"

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPageLayout>
#include <QPointer>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

const QString kConnection = QStringLiteral("fwscreens_screens");

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A report screen as the modules write them: handlers override the base and call it first.
class ReportScreen : public TfrmDadosGerRel
{
public:
    explicit ReportScreen(QWidget *parent = nullptr) : TfrmDadosGerRel("FIS99900", "FIS999", parent)
    {
        rpddPadrao->setDatabaseConnection(kConnection);
    }
    void rpddPadraoBeforeGetQueryParams(fis::ReportParams &params, bool &flag) override
    {
        TfrmDadosGerRel::rpddPadraoBeforeGetQueryParams(params, flag);
        ++paramsCalls;
        if (ExistParam(params, "P_CDEMPRESA"))
            params.setText("P_CDEMPRESA", "01");
    }
    void sbtPrintClick(QObject *sender) override
    {
        TfrmDadosGerRel::sbtPrintClick(sender);
        ++afterPrint; // what a module does once the report is out (e.g. record the emission)
    }
    void FormCreate() override
    {
        TfrmDadosGerRel::FormCreate();
        ++created;
    }
    void FormActivate() override
    {
        TfrmDadosGerRel::FormActivate();
        ++activated;
    }
    void FormClose() override
    {
        TfrmDadosGerRel::FormClose();
        ++closed;
    }
    int paramsCalls = 0;
    int afterPrint = 0;
    int closed = 0;
    int created = 0;
    int activated = 0;
};

class ReportScreenTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        db.setDatabaseName(QStringLiteral(":memory:"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE EMPRESA (CDEMPRESA TEXT, NMRAZSOCEMPR TEXT)"));
        ASSERT_TRUE(q.exec("INSERT INTO EMPRESA VALUES ('01', 'Alfa'), ('02', 'Beta')"));
        writeFile(dir.filePath("FIS999_01.json"),
                  R"({"title": "Empresas - Saída", "params": ["P_CDEMPRESA", "P_IMAGEM"],
                      "sql": "SELECT NMRAZSOCEMPR FROM EMPRESA WHERE CDEMPRESA = :P_CDEMPRESA"})");
        writeFile(dir.filePath("FIS999_02.json"), R"({"title": "Empresas - Entrada",
                      "sql": "SELECT * FROM EMPRESA"})");
        previousChooser = TfrmDadosGerRel::setFileNameChooser(
            [this](QWidget *, const QString &caption, const QString &) {
                captions << caption;
                return answerFile;
            });
    }
    void TearDown() override
    {
        TfrmDadosGerRel::setFileNameChooser(previousChooser);
        QSqlDatabase::removeDatabase(kConnection);
    }

    QString missingText(const QString &code) const
    {
        return QStringLiteral("O arquivo contendo a definição do relatório de código '%1' não "
                              "foi encontrado no diretório '%2'.")
            .arg(code, dir.path());
    }

    QTemporaryDir dir;
    fis::test::ScriptedUi ui;
    QString answerFile;
    QStringList captions;
    TfrmDadosGerRel::FileNameChooser previousChooser;
};

bool isPdf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
}

} // namespace

TEST_F(ReportScreenTest, ComboListsTheCodesReportsAndSaveAsWritesThePdf)
{
    ReportScreen screen;
    screen.setReportDir(dir.path());
    screen.create();
    screen.create(); // only once
    ASSERT_EQ(screen.cbbReportNames->count(), 2);
    EXPECT_EQ(screen.cbbReportNames->itemText(0), "Empresas - Saída");
    EXPECT_EQ(screen.cbbReportNames->itemText(1), "Empresas - Entrada");
    EXPECT_EQ(screen.findChild<QToolButton *>("sbtSalvarComo"), screen.sbtSalvarComo);
    EXPECT_EQ(screen.findChild<TReportDesignerDialog *>("rpddPadrao"), screen.rpddPadrao);

    answerFile = dir.filePath("empresas"); // no suffix: ".pdf" is added
    screen.sbtSalvarComo->click();
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messageTexts().join('\n').toStdString();
    EXPECT_EQ(screen.paramsCalls, 1);
    EXPECT_EQ(captions, QStringList({"Salvar Como"}));
    EXPECT_TRUE(isPdf(dir.filePath("empresas.pdf")));
    EXPECT_EQ(screen.rpddPadrao->lastParams().value("P_CDEMPRESA").toString(), "01");
    EXPECT_TRUE(screen.rpddPadrao->lastParams().value("P_IMAGEM").isNull());

    // Cancelling the file choice writes nothing and shows nothing.
    answerFile.clear();
    screen.sbtSalvarComo->click();
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(screen.paramsCalls, 1);
}

TEST_F(ReportScreenTest, InsideTheHostsWorkspaceCreatesOnceAndActivatesWithItsWindow)
{
    QMdiArea area;
    auto *screen = new ReportScreen;
    screen->setReportDir(dir.path());
    QMdiSubWindow *sub = area.addSubWindow(screen);
    area.show();
    sub->show();
    area.setActiveSubWindow(sub);
    EXPECT_EQ(screen->created, 1);
    EXPECT_EQ(screen->cbbReportNames->count(), 2);
    const int activations = screen->activated;
    EXPECT_GE(activations, 1);

    auto *other = area.addSubWindow(new QLabel("outra"));
    other->show();
    area.setActiveSubWindow(other);
    area.setActiveSubWindow(sub);
    EXPECT_EQ(screen->activated, activations + 1);
    EXPECT_EQ(screen->created, 1);

    // The host builds a module's screen straight inside the frame: no parent change ever comes,
    // and each activation of the frame is still one activation of the screen.
    auto *frame = new QMdiSubWindow;
    auto *built = new ReportScreen(frame);
    built->setReportDir(dir.path());
    frame->setWidget(built);
    area.addSubWindow(frame);
    frame->show();
    area.setActiveSubWindow(frame);
    EXPECT_EQ(built->created, 1);
    const int builtActivations = built->activated;
    EXPECT_GE(builtActivations, 1);
    area.setActiveSubWindow(sub);
    area.setActiveSubWindow(frame);
    EXPECT_EQ(built->activated, builtActivations + 1);

    QPointer<ReportScreen> watch(screen);
    screen->sbtFechar->click();
    EXPECT_EQ(area.subWindowList().size(), 2);
    ASSERT_FALSE(watch.isNull());
    EXPECT_EQ(screen->closed, 1);
}

TEST_F(ReportScreenTest, PrintWithoutPrinterGoesToPdfAndACancelStopsWhatFollows)
{
    ReportScreen screen;
    screen.setReportDir(dir.path());
    screen.create();
    if (!QPrinterInfo::defaultPrinter().isNull())
        GTEST_SKIP() << "a printer is configured on this machine";

    answerFile = dir.filePath("impresso.pdf");
    screen.sbtPrint->click();
    EXPECT_TRUE(isPdf(answerFile));
    EXPECT_EQ(screen.afterPrint, 1);

    // No file chosen: the report is not out, so nothing after the base print may run.
    answerFile.clear();
    screen.sbtPrint->click();
    EXPECT_EQ(screen.afterPrint, 1);
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(ReportScreenTest, PrinterSetUpWithoutPrintersSetsThePageOfThePdf)
{
    if (!QPrinterInfo::availablePrinters().isEmpty())
        GTEST_SKIP() << "a printer is configured on this machine";
    ReportScreen screen;
    screen.setReportDir(dir.path());
    screen.create();

    bool shown = false;
    QTimer::singleShot(0, &screen, [&] {
        auto *setup = qobject_cast<fis::PageSetupDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(setup, nullptr) << "no page set-up window for the PDF output";
        shown = true;
        EXPECT_EQ(setup->windowTitle(), "Configurar Página");
        setup->paper()->setCurrentIndex(setup->paper()->findText("Ofício", Qt::MatchStartsWith));
        setup->landscape()->setChecked(true);
        setup->margin(0)->setValue(25);
        setup->accept();
    });
    screen.sbtConfigImpress->click();
    EXPECT_TRUE(shown);
    const QPageLayout layout = screen.printer()->pageLayout();
    EXPECT_EQ(layout.orientation(), QPageLayout::Landscape);
    EXPECT_EQ(layout.pageSize().id(), QPageSize::Legal);
    EXPECT_DOUBLE_EQ(layout.margins(QPageLayout::Millimeter).left(), 25.0);

    // Cancelar leaves the page as it was.
    QTimer::singleShot(0, &screen, [] {
        auto *setup = qobject_cast<fis::PageSetupDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(setup, nullptr);
        setup->portrait()->setChecked(true);
        setup->reject();
    });
    screen.sbtConfigImpress->click();
    EXPECT_EQ(screen.printer()->pageLayout().orientation(), QPageLayout::Landscape);
}

TEST_F(ReportScreenTest, MissingDefinitionsGiveTheCatalogueText)
{
    QTemporaryDir empty;
    ReportScreen none;
    none.setReportDir(empty.path());
    none.create();
    EXPECT_EQ(none.cbbReportNames->count(), 0);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages.at(0).first, fis::MessageKind::Error);
    EXPECT_EQ(ui.messages.at(0).second,
              QStringLiteral("O arquivo contendo a definição do relatório de código 'FIS999' "
                             "não foi encontrado no diretório '%1'.")
                  .arg(empty.path()));
    ui.messages.clear();
    none.sbtPreview->click(); // nothing chosen: same text, nothing runs
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(none.paramsCalls, 0);

    // A definition removed after the list was made: its own code is named and nothing runs.
    ReportScreen screen;
    screen.setReportDir(dir.path());
    screen.create();
    ui.messages.clear();
    ASSERT_TRUE(QFile::remove(dir.filePath("FIS999_01.json")));
    answerFile = dir.filePath("x.pdf");
    screen.sbtPrint->click();
    EXPECT_EQ(ui.messageTexts(), QStringList({missingText("FIS999_01")}));
    EXPECT_EQ(screen.paramsCalls, 0);
    EXPECT_EQ(screen.afterPrint, 0);
    EXPECT_FALSE(QFile::exists(answerFile));

    // The screen's own catalogue may word the text differently.
    screen.msgPadrao->setMessages({"Arq_Rel_Err|Relatório %s ausente em %s."});
    screen.sbtSalvarComo->click();
    EXPECT_EQ(ui.messageTexts().last(),
              QStringLiteral("Relatório FIS999_01 ausente em %1.").arg(dir.path()));
}

TEST_F(ReportScreenTest, ABrokenDefinitionKeepsItsPlaceAndSaysWhatIsWrong)
{
    writeFile(dir.filePath("FIS999_01.json"), "{ nada");
    ReportScreen screen;
    screen.setReportDir(dir.path());
    screen.create();
    ASSERT_EQ(screen.cbbReportNames->count(), 2); // the order of the reports is kept
    EXPECT_EQ(screen.cbbReportNames->itemText(0), "FIS999_01");
    answerFile = dir.filePath("x.pdf");
    screen.sbtSalvarComo->click();
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.at(0).second.contains("JSON malformado"));
    EXPECT_FALSE(QFile::exists(answerFile));
}

namespace {

// A filter dialog as the modules write it.
class FilterDialog : public TfrmFiltroPadrao
{
public:
    FilterDialog() : TfrmFiltroPadrao("FIS99910")
    {
        edtCodigo = new QLineEdit(grbFiltroPadrao);
        edtCodigo->setObjectName("edtCodigo");
        edtNome = new QLineEdit(grbFiltroPadrao);
        edtNome->setObjectName("edtNome");
        edtNome->setReadOnly(true); // a name display: not part of the options
        criteriaLayout()->addWidget(edtCodigo);
        criteriaLayout()->addWidget(edtNome);
    }
    void FormCreate() override
    {
        TfrmFiltroPadrao::FormCreate();
        ++created;
    }
    void FormActivate() override
    {
        TfrmFiltroPadrao::FormActivate();
        ++activated;
    }
    void sbtCancelClick() override
    {
        TfrmFiltroPadrao::sbtCancelClick();
        edtCodigo->setText(confirmed); // put back the last confirmed value
    }
    QLineEdit *edtCodigo;
    QLineEdit *edtNome;
    QString confirmed = "07";
    int created = 0;
    int activated = 0;
};

} // namespace

TEST(FilterDialogTest, CancelEndsTheModalDisplayAndCloseOnlyHides)
{
    fis::test::ScriptedUi ui;
    FilterDialog dialog;
    EXPECT_EQ(dialog.grbFiltroPadrao->objectName(), "grbFiltroPadrao");
    EXPECT_EQ(dialog.lblCodTela->objectName(), "lblCodTela");
    EXPECT_EQ(dialog.findChild<TMessages *>("msgPadrao"), dialog.msgPadrao);
    EXPECT_EQ(dialog.sbtConfirma->text(), "Confirmar");
    EXPECT_EQ(dialog.sbtCancel->text(), "Cancelar");

    QTimer::singleShot(0, &dialog, [&] {
        dialog.edtCodigo->setText("99");
        dialog.sbtCancel->click();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.edtCodigo->text(), "07"); // the override ran after the base
    EXPECT_EQ(dialog.created, 1);
    EXPECT_EQ(dialog.activated, 1);

    // Second use: created once, activated again; closing the window hides and ends the loop
    // without running the cancel handler.
    QTimer::singleShot(0, &dialog, [&] {
        dialog.edtCodigo->setText("55");
        dialog.close();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.edtCodigo->text(), "55");
    EXPECT_EQ(dialog.created, 1);
    EXPECT_EQ(dialog.activated, 2);

    QTimer::singleShot(0, &dialog, [&] { dialog.sbtConfirma->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST(FilterDialogTest, SavedOptionsComeBackAndNameDisplaysAreLeftAlone)
{
    fis::test::ScriptedUi ui;
    QTemporaryDir dir;
    FilterDialog dialog;
    dialog.setOptionsFile(dir.filePath("opcoes.ini"));

    dialog.btfLoadOpc->click();
    EXPECT_EQ(ui.messageTexts(), QStringList({"Não há opções salvas para este filtro."}));

    dialog.edtCodigo->setText("12");
    dialog.edtNome->setText("Nome exibido");
    dialog.btfSaveOpc->click();
    dialog.edtCodigo->setText("34");
    dialog.edtNome->setText("Outro nome");
    dialog.btfLoadOpc->click();
    EXPECT_EQ(dialog.edtCodigo->text(), "12");
    EXPECT_EQ(dialog.edtNome->text(), "Outro nome");
    EXPECT_EQ(ui.messages.size(), 2); // "no options" and "saved"
}

TEST(FilterDialogTest, EnterConfirmsAndEveryUseStartsOnTheFirstFieldWhereItWasLeft)
{
    fis::test::ScriptedUi ui;
    QWidget owner;
    owner.setGeometry(100, 100, 900, 600);
    owner.show();
    FilterDialog dialog;
    dialog.setParent(&owner, dialog.windowFlags());

    QPoint firstPlace;
    QTimer::singleShot(0, &dialog, [&] {
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
        EXPECT_EQ(QApplication::focusWidget(), dialog.edtCodigo);
        firstPlace = dialog.pos();
        dialog.edtNome->setFocus(); // the clerk ends the use in another field
        QTest::keyClick(dialog.edtNome, Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);

    // The window behind grows in between: the dialog still opens where it was.
    owner.setGeometry(0, 0, 1280, 800);
    QTimer::singleShot(0, &dialog, [&] {
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
        EXPECT_EQ(QApplication::focusWidget(), dialog.edtCodigo);
        EXPECT_EQ(dialog.pos(), firstPlace);
        dialog.edtCodigo->clear();
        QTest::keyClicks(dialog.edtCodigo, "12");
        QTest::keyClick(dialog.edtCodigo, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.edtCodigo->text(), "12");
    EXPECT_TRUE(ui.messages.isEmpty());
}
