// The filter dialog's creation, activation, cancel and close against the emission screen it
// serves: a fake application server answers the taxes, the host database lives in memory and
// messages are recorded instead of shown.
#include "data/packet.h"
#include "emission/Cli_fis02900.h"
#include "filter/Cli_fis02910.h"
#include "testkit/fakeappserver.h"
#include "testkit/recordinghostui.h"
#include "widgets/radiogroup.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QSqlQuery>
#include <QToolButton>
#include <gtest/gtest.h>

using fis::FieldType;

namespace {

fis::TDateTime day(int d, int m, int y)
{
    return fis::TDateTime::fromDate(QDate(y, m, d));
}

// The tax the fake server answers for any code.
fis::FakeAppServer::Answer tax(const char *code, const char *acronym, const char *body)
{
    return fis::FakeAppServer::Answer::value(fis::makePacket(fis::buildPacket(
        {{"CDIMPOSTONFE", FieldType::String, 2},
         {"SGIMPOSTONFE", FieldType::String, 10},
         {"IDORGARRECADNFE", FieldType::String, 1}},
        {{QString::fromLatin1(code), QString::fromLatin1(acronym), QString::fromLatin1(body)}})));
}

// Confirmed criteria of an entries filter with a municipal tax.
TRecordFilter municipalCriteria()
{
    TRecordFilter f;
    f.Status = 2;
    f.CdImposto = QStringLiteral("02");
    f.CdFilial = QStringLiteral("0001");
    f.CdInscEsta = QStringLiteral("110042490114");
    f.CdInscMuni = QStringLiteral("31245678");
    f.CdSerie = QStringLiteral("E1");
    f.NumNF = QStringLiteral("000123");
    f.InscForne = QStringLiteral("12345678000195");
    f.DtEmiIni = day(5, 3, 2026);
    f.DtEmiFin = day(12, 3, 2026);
    f.Preenchido = true;
    return f;
}

void expectSameCriteria(const TRecordFilter &a, const TRecordFilter &b)
{
    EXPECT_EQ(a.Status, b.Status);
    EXPECT_EQ(a.CdImposto, b.CdImposto);
    EXPECT_EQ(a.CdFilial, b.CdFilial);
    EXPECT_EQ(a.CdInscEsta, b.CdInscEsta);
    EXPECT_EQ(a.CdInscMuni, b.CdInscMuni);
    EXPECT_EQ(a.CdSerie, b.CdSerie);
    EXPECT_EQ(a.NumNF, b.NumNF);
    EXPECT_EQ(a.InscForne, b.InscForne);
    EXPECT_EQ(a.DtEmiIni, b.DtEmiIni);
    EXPECT_EQ(a.DtEmiFin, b.DtEmiFin);
    EXPECT_EQ(a.Preenchido, b.Preenchido);
}

class FilterLifecycle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ui.install();
        for (const fis::rdmEmisGuiaPrv::MethodDecl &m : fis::rdmEmisGuiaPrv::methods()) {
            QList<fis::RpcParam> params;
            for (const fis::rdmEmisGuiaPrv::ArgDecl &a : m.args)
                params.append(fis::RpcParam{a.kind, a.byRef});
            server.declare(QString::fromLatin1(m.name), params);
        }
        server.setDefaultAnswer(QStringLiteral("GetImpostoNfe"), tax("01", "INSS", "E"));
        ASSERT_TRUE(server.start()) << server.errorString().toStdString();
        login.filiProc = QStringLiteral("0001");
        login.dataProc = day(15, 3, 2026);
        login.webUrl = server.host();
        login.webPort = server.port();
        Quorvin::setLogin(login);

        QSqlDatabase db = fis::HostDatabase::open(QStringLiteral(":memory:"));
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE FILIAL (CDFILIAL VARCHAR(4), NMFILIAL VARCHAR(30),"
                           " CDEMPRESA VARCHAR(2))"));
        ASSERT_TRUE(q.exec("INSERT INTO FILIAL VALUES ('0001', 'Matriz São Paulo', '01')"));
        ASSERT_TRUE(q.exec("CREATE TABLE FORNECEDOR (CDFORNECED VARCHAR(21),"
                           " NMRAZSOCFORN VARCHAR(40), NRINSJURFORN VARCHAR(20),"
                           " IDTPIJURFORN VARCHAR(1), NMFANTFORN VARCHAR(40))"));
        ASSERT_TRUE(q.exec("INSERT INTO FORNECEDOR VALUES ('F001', 'Transportes Rápidos Ltda',"
                           " '12345678000195', 'J', 'Rápidos')"));

        screen = new TfrmEmiPrevSocial;
        screen->setReportDir(QStringLiteral(FIS_REPORT_DIR));
        screen->loadReportNames();
        ASSERT_EQ(screen->cbbReportNames->count(), 3);
        boCtrl = false;
        frmEmiPrevSocial = screen;
        screen->netEmisGuiaPrev->setConnected(true);
        screen->medCdEmpresa->setMaskedText(QStringLiteral("01"));
        chooseReport(0);
        dialog = new TfrmFiltroEmiPrev;
    }
    void TearDown() override
    {
        delete dialog;
        delete screen;
        fis::HostDatabase::close();
        server.stop();
        Quorvin::setLogin({});
        ui.uninstall();
    }

    // The report choice as the emission screen's activation sees it (0 exits, 1 entries, 2 maps).
    void chooseReport(int index)
    {
        screen->cbbReportNames->setCurrentIndex(index);
        screen->FormActivate();
    }
    QStringList messages() const
    {
        QStringList texts;
        for (const auto &m : ui.messages())
            texts << m.text;
        return texts;
    }
    int taxCalls() const
    {
        int n = 0;
        for (const auto &c : server.calls())
            n += c.method == QLatin1String("GetImpostoNfe");
        return n;
    }
    // Criteria typed over whatever the dialog holds, none of them confirmed.
    void typeOtherCriteria()
    {
        dialog->rdgStatus->setItemIndex(1);
        dialog->edtCdImposto->setMaskedText(QStringLiteral("01"));
        dialog->medCdFilial->setMaskedText(QStringLiteral("0002"));
        dialog->edtCdInscEsta->setMaskedText(QStringLiteral("244087711117"));
        dialog->edtCdInscMuni->setMaskedText(QStringLiteral("99"));
        dialog->edtCdSerie->setMaskedText(QStringLiteral("E2"));
        dialog->medNumNF->setMaskedText(QStringLiteral("9"));
        dialog->medInscForne->setMaskedText(QStringLiteral("12345678909"));
        dialog->depEmiIni->SetDate(day(1, 1, 2026));
        dialog->depEmiFin->SetDate(day(31, 1, 2026));
    }

    fis::RecordingHostUi ui;
    fis::FakeAppServer server;
    fis::LoginValues login;
    TfrmEmiPrevSocial *screen = nullptr;
    TfrmFiltroEmiPrev *dialog = nullptr;
};

TEST_F(FilterLifecycle, CreationLoadsTheCriteriaButStartsOnTheDefaultPeriod)
{
    // The login branch has a processing date of its own.
    login.branchDates.insert(QStringLiteral("0001"), day(20, 4, 2026));
    Quorvin::setLogin(login);
    const TRecordFilter criteria = municipalCriteria();
    screen->RecordFilter = criteria;
    screen->sbtFiltro->setEnabled(false);
    screen->mnuFiltro->setEnabled(false);
    boConfirma = true; // left over from an earlier dialog

    dialog->create(); // exits report: the supplier is not taken
    EXPECT_FALSE(boConfirma);
    EXPECT_EQ(dialog->rdgStatus->ItemIndex(), 2);
    EXPECT_EQ(dialog->edtCdImposto->Text(), criteria.CdImposto);
    EXPECT_EQ(dialog->edtNmImposto->text(), QStringLiteral("INSS"));
    EXPECT_EQ(dialog->medCdFilial->Text(), criteria.CdFilial);
    EXPECT_EQ(dialog->edtFilial->text(), QStringLiteral("Matriz São Paulo"));
    // Set after the tax and the state registration whose changes clear them.
    EXPECT_EQ(dialog->edtCdInscEsta->Text(), criteria.CdInscEsta);
    EXPECT_EQ(dialog->edtCdInscMuni->Text(), criteria.CdInscMuni);
    EXPECT_EQ(dialog->edtCdSerie->Text(), criteria.CdSerie);
    EXPECT_EQ(dialog->medNumNF->Text(), criteria.NumNF);
    EXPECT_EQ(dialog->medInscForne->Text(), QString());
    EXPECT_FALSE(dialog->medInscForne->isEnabled());
    EXPECT_TRUE(dialog->seriesAreInvoiceSeries());
    EXPECT_EQ(dialog->depEmiIni->GetDate(), day(1, 4, 2026));
    EXPECT_EQ(dialog->depEmiFin->GetDate(), day(20, 4, 2026));
    EXPECT_TRUE(screen->sbtFiltro->isEnabled());
    EXPECT_TRUE(screen->mnuFiltro->isEnabled());
    EXPECT_TRUE(ui.messages().isEmpty()) << messages().join('\n').toStdString();
    expectSameCriteria(screen->RecordFilter, criteria);

    // Entries: a new dialog takes the supplier, checked quietly, and lists entry series.
    delete dialog;
    dialog = new TfrmFiltroEmiPrev;
    chooseReport(1);
    dialog->create();
    EXPECT_EQ(dialog->medInscForne->Text(), criteria.InscForne);
    EXPECT_EQ(dialog->edtNmForne->text(), QStringLiteral("Rápidos"));
    EXPECT_TRUE(dialog->medInscForne->isEnabled());
    EXPECT_FALSE(dialog->seriesAreInvoiceSeries());
    EXPECT_EQ(dialog->btpSerie->title(), QStringLiteral("Série de Documentos de Saída"));
}

TEST_F(FilterLifecycle, CriteriaAreOnlyReadByCreationActivationCancelAndClose)
{
    const TRecordFilter criteria = municipalCriteria();
    screen->RecordFilter = criteria;
    server.setDefaultAnswer(QStringLiteral("GetImpostoNfe"), tax("02", "ISS", "M"));
    chooseReport(1);
    dialog->create();
    typeOtherCriteria();
    dialog->FormActivate();
    chooseReport(2);
    dialog->FormActivate();
    typeOtherCriteria();
    dialog->sbtCancelClick();
    typeOtherCriteria();
    dialog->show();
    typeOtherCriteria();
    dialog->close();
    EXPECT_TRUE(ui.messages().isEmpty()) << messages().join('\n').toStdString();
    expectSameCriteria(screen->RecordFilter, criteria);
}

TEST_F(FilterLifecycle, CancelPutsBackEveryCriterionAfterTheOnesThatClearIt)
{
    const TRecordFilter criteria = municipalCriteria();
    screen->RecordFilter = criteria;
    server.setDefaultAnswer(QStringLiteral("GetImpostoNfe"), tax("02", "ISS", "M"));
    chooseReport(1);
    dialog->create();
    typeOtherCriteria();
    screen->sbtProcurar->setEnabled(true); // nothing loaded: the activation disables it

    dialog->sbtCancelClick();
    EXPECT_TRUE(ui.messages().isEmpty()) << messages().join('\n').toStdString();
    EXPECT_EQ(dialog->rdgStatus->ItemIndex(), 2);
    EXPECT_EQ(dialog->edtCdImposto->Text(), QStringLiteral("02"));
    EXPECT_EQ(dialog->edtNmImposto->text(), QStringLiteral("ISS"));
    // The tax's change cleared the registrations, and the state registration's the series:
    // they were put back afterwards.
    EXPECT_EQ(dialog->edtCdInscEsta->Text(), criteria.CdInscEsta);
    EXPECT_EQ(dialog->edtCdInscMuni->Text(), criteria.CdInscMuni);
    EXPECT_EQ(dialog->edtCdSerie->Text(), criteria.CdSerie);
    EXPECT_EQ(dialog->medCdFilial->Text(), criteria.CdFilial);
    EXPECT_EQ(dialog->edtFilial->text(), QStringLiteral("Matriz São Paulo"));
    EXPECT_EQ(dialog->medNumNF->Text(), criteria.NumNF);
    EXPECT_EQ(dialog->medInscForne->Text(), criteria.InscForne);
    EXPECT_EQ(dialog->edtNmForne->text(), QStringLiteral("Rápidos"));
    EXPECT_EQ(dialog->depEmiIni->GetDate(), criteria.DtEmiIni);
    EXPECT_EQ(dialog->depEmiFin->GetDate(), criteria.DtEmiFin);
    // The municipal tax enables its registration only; the screen was activated again.
    EXPECT_TRUE(dialog->edtCdInscMuni->isEnabled());
    EXPECT_FALSE(dialog->edtCdInscEsta->isEnabled());
    EXPECT_FALSE(screen->sbtProcurar->isEnabled());

    // Exits: the supplier is emptied, name display included.
    chooseReport(0);
    dialog->edtNmForne->setText(QStringLiteral("velho"));
    dialog->sbtCancelClick();
    EXPECT_EQ(dialog->medInscForne->Text(), QString());
    EXPECT_EQ(dialog->edtNmForne->text(), QString());
}

TEST_F(FilterLifecycle, CancelFallsBackToTheDefaultPeriodWhenADateIsMissing)
{
    dialog->create();
    typeOtherCriteria();
    dialog->sbtCancelClick(); // nothing confirmed yet: everything empty
    EXPECT_EQ(dialog->edtCdImposto->Text(), QString());
    EXPECT_EQ(dialog->edtCdInscEsta->Text(), QString());
    EXPECT_EQ(dialog->rdgStatus->ItemIndex(), 0);
    EXPECT_EQ(dialog->depEmiIni->GetDate(), day(1, 3, 2026));
    EXPECT_EQ(dialog->depEmiFin->GetDate(), day(15, 3, 2026));

    // One date missing replaces both.
    TRecordFilter criteria = municipalCriteria();
    criteria.DtEmiFin = fis::TDateTime();
    screen->RecordFilter = criteria;
    dialog->sbtCancelClick();
    EXPECT_EQ(dialog->depEmiIni->GetDate(), day(1, 3, 2026));
    EXPECT_EQ(dialog->depEmiFin->GetDate(), day(15, 3, 2026));
}

TEST_F(FilterLifecycle, AQuietCheckThatReportsStopsTheRestOfCancel)
{
    chooseReport(1);
    dialog->create();
    TRecordFilter criteria = municipalCriteria();
    criteria.InscForne = QStringLiteral("99999999000199"); // not a supplier (any more)
    screen->RecordFilter = criteria;
    screen->sbtProcurar->setEnabled(true);
    server.clearCalls();

    EXPECT_THROW(dialog->sbtCancelClick(), fis::EAbort);
    EXPECT_EQ(messages(), QStringList{QStringLiteral("Fornecedor não cadastrado.")});
    // Put back up to the supplier; neither the tax's exit, nor the branch check, nor the
    // screen's activation ran.
    EXPECT_EQ(dialog->depEmiFin->GetDate(), criteria.DtEmiFin);
    EXPECT_EQ(dialog->medInscForne->Text(), criteria.InscForne);
    EXPECT_EQ(taxCalls(), 0);
    EXPECT_EQ(dialog->edtNmImposto->text(), QString());
    EXPECT_EQ(dialog->edtFilial->text(), QString());
    EXPECT_TRUE(screen->sbtProcurar->isEnabled());

    // A branch that is gone stops it after the tax's exit.
    ui.clear();
    criteria = municipalCriteria();
    criteria.CdFilial = QStringLiteral("0099");
    screen->RecordFilter = criteria;
    EXPECT_THROW(dialog->sbtCancelClick(), fis::EAbort);
    EXPECT_EQ(messages(), QStringList{QStringLiteral("Filial não cadastrada.")});
    EXPECT_EQ(dialog->edtNmImposto->text(), QStringLiteral("INSS"));
    EXPECT_TRUE(dialog->edtCdInscEsta->isEnabled());
    EXPECT_TRUE(screen->sbtProcurar->isEnabled());
    expectSameCriteria(screen->RecordFilter, criteria);
}

TEST_F(FilterLifecycle, ClosingByTheWindowHidesTheDialogAndDropsWhatWasTyped)
{
    const TRecordFilter criteria = municipalCriteria();
    screen->RecordFilter = criteria;
    chooseReport(1);
    QPointer<TfrmFiltroEmiPrev> alive = dialog;
    dialog->show();
    ASSERT_TRUE(dialog->isCreated());
    typeOtherCriteria();
    EXPECT_TRUE(dialog->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(alive.isNull());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->medNumNF->Text(), criteria.NumNF);
    EXPECT_EQ(dialog->depEmiIni->GetDate(), criteria.DtEmiIni);
    EXPECT_EQ(dialog->medInscForne->Text(), criteria.InscForne);

    // Shown again, it is the same dialog, activated but not created again.
    dialog->show();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->medNumNF->Text(), criteria.NumNF);
    EXPECT_EQ(dialog->depEmiIni->GetDate(), criteria.DtEmiIni); // a creation sets the default
    dialog->hide();
    EXPECT_TRUE(ui.messages().isEmpty()) << messages().join('\n').toStdString();
}

} // namespace
