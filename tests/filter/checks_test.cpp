// The filter dialog's checks and lookups against a real host database (SQLite, and PostgreSQL
// when a server can be started) and a fake application server: what each query binds, what it
// finds with a null or a given parameter, what the checks refuse and where they leave the focus.
#include "data/packet.h"
#include "emission/Cli_fis02900.h"
#include "filter/Cli_fis02910.h"
#include "support/pgcluster.h"
#include "testkit/fakeappserver.h"
#include "testkit/recordinghostui.h"
#include "widgets/radiogroup.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>
#include <utility>

using fis::FieldType;

namespace {

// The host tables the dialog reads, as the application server's schema creates them.
const char *const kSchema[] = {
    "CREATE TABLE EMPRESA ("
    " CDEMPRESA VARCHAR(2) NOT NULL PRIMARY KEY, NMRAZSOCEMPR VARCHAR(80) NOT NULL,"
    " VRPEMULEMPR DOUBLE PRECISION, VRPEMOREMPR DOUBLE PRECISION, CDCENTCUST VARCHAR(4),"
    " NRINSJUREMPR VARCHAR(20))",
    "CREATE TABLE FILIAL ("
    " CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY, NMFILIAL VARCHAR(30) NOT NULL,"
    " CDEMPRESA VARCHAR(2) REFERENCES EMPRESA(CDEMPRESA), NRINSJURFILI VARCHAR(20))",
    "CREATE TABLE INSCRESTAD ("
    " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA(CDEMPRESA),"
    " CDINSCESTA VARCHAR(16) NOT NULL, SGESTADO VARCHAR(2),"
    " PRIMARY KEY (CDEMPRESA, CDINSCESTA))",
    "CREATE TABLE INSCRMUNICIP ("
    " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA(CDEMPRESA),"
    " CDINSCMUNI VARCHAR(16) NOT NULL, PRIMARY KEY (CDEMPRESA, CDINSCMUNI))",
    "CREATE TABLE SERIENF ("
    " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA(CDEMPRESA),"
    " CDINSCESTA VARCHAR(16) NOT NULL DEFAULT '', CDINSCMUNI VARCHAR(16) NOT NULL DEFAULT '',"
    " CDSERIE VARCHAR(5) NOT NULL, DSSERIE VARCHAR(20),"
    " PRIMARY KEY (CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE))",
    "CREATE TABLE SERIEENTR ("
    " CDSERIEENTR VARCHAR(5) NOT NULL PRIMARY KEY, DSSERIEENTR VARCHAR(20))",
    "CREATE TABLE FORNECEDOR ("
    " CDFORNECED VARCHAR(21) NOT NULL PRIMARY KEY, NMRAZSOCFORN VARCHAR(40) NOT NULL,"
    " NRINSJURFORN VARCHAR(20), IDTPIJURFORN VARCHAR(1), NMFANTFORN VARCHAR(40))",
};

const char *const kRows[] = {
    "INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR) VALUES ('01', 'Metalúrgica Exemplo Ltda')",
    "INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR) VALUES ('02', 'Comércio Modelo S.A.')",
    "INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR) VALUES ('03', 'Serviços Sem Inscrição')",
    "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA) VALUES ('0010', 'Filial Santos', '02')",
    "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA) VALUES ('0001', 'Matriz', '01')",
    "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA) VALUES ('0002', 'Filial Campinas', '01')",
    "INSERT INTO INSCRESTAD VALUES ('01', '110042490114', 'SP')",
    "INSERT INTO INSCRESTAD VALUES ('01', '244087711117', 'SP')",
    "INSERT INTO INSCRESTAD VALUES ('02', '0623079040081', 'MG')",
    "INSERT INTO INSCRMUNICIP VALUES ('01', '31245678')",
    "INSERT INTO INSCRMUNICIP VALUES ('02', '98765')",
    "INSERT INTO SERIENF (CDEMPRESA, CDINSCESTA, CDSERIE, DSSERIE)"
    " VALUES ('01', '110042490114', '1', 'Série 1')",
    "INSERT INTO SERIENF (CDEMPRESA, CDINSCESTA, CDSERIE, DSSERIE)"
    " VALUES ('01', '244087711117', '2', 'Série 2')",
    "INSERT INTO SERIENF (CDEMPRESA, CDINSCMUNI, CDSERIE, DSSERIE)"
    " VALUES ('01', '31245678', 'NFS', 'Serviços')",
    "INSERT INTO SERIENF (CDEMPRESA, CDINSCESTA, CDSERIE, DSSERIE)"
    " VALUES ('02', '0623079040081', 'U', 'Única')",
    "INSERT INTO SERIEENTR VALUES ('E2', 'Entrada 2')",
    "INSERT INTO SERIEENTR VALUES ('E1', 'Entrada 1')",
    "INSERT INTO FORNECEDOR VALUES ('F001', 'Transportes Rápidos Ltda', '12345678000195', 'J',"
    " 'Rápidos')",
    "INSERT INTO FORNECEDOR VALUES ('F002', 'João da Silva', '12345678909', 'F', 'João Fretes')",
    // A 14-digit number filed as a person's: no company registration matches it.
    "INSERT INTO FORNECEDOR VALUES ('F003', 'Zeca Autônomo', '98765432000198', 'F', 'Zeca')",
};

void seed(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    for (const char *table :
         {"SERIENF", "INSCRESTAD", "INSCRMUNICIP", "FILIAL", "FORNECEDOR", "SERIEENTR", "EMPRESA"})
        q.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(QLatin1String(table)));
    for (const char *sql : kSchema)
        ASSERT_TRUE(q.exec(QString::fromUtf8(sql))) << sql;
    for (const char *sql : kRows)
        ASSERT_TRUE(q.exec(QString::fromUtf8(sql))) << sql;
}

QStringList column(fis::ClientDataSet *set, const char *field)
{
    QStringList values;
    for (set->first(); !set->eof(); set->next())
        values << set->fieldByName(QLatin1String(field))->asString();
    return values;
}

fis::Variant packetOf(const QList<fis::PacketField> &fields, const QList<QVariantList> &rows)
{
    return fis::makePacket(fis::buildPacket(fields, rows));
}

// The emission screen (company, report choice, server connection) and the filter dialog over a
// host database opened by the test.
class FilterChecksBase : public ::testing::Test
{
protected:
    void setUpScreens()
    {
        ui.install();
        screen = new TfrmEmiPrevSocial;
        screen->setReportDir(QStringLiteral(FIS_REPORT_DIR));
        screen->loadReportNames();
        frmEmiPrevSocial = screen;
        setCompany("01");
        dialog = new TfrmFiltroEmiPrev;
    }
    void TearDown() override
    {
        delete dialog;
        delete screen;
        fis::HostDatabase::close();
        ui.uninstall();
    }

    void setCompany(const char *code) { screen->medCdEmpresa->setMaskedText(QLatin1String(code)); }

    // Runs a check that must refuse; answers the message it showed.
    template <typename Check>
    QString refusal(Check &&check)
    {
        ui.clear();
        EXPECT_THROW(check(), fis::EAbort);
        return ui.messages().isEmpty() ? QString() : ui.messages().constLast().text;
    }
    template <typename Check>
    void accepts(Check &&check)
    {
        ui.clear();
        EXPECT_NO_THROW(check());
        EXPECT_TRUE(ui.messages().isEmpty()) << ui.messages().constLast().text.toStdString();
    }

    fis::RecordingHostUi ui;
    TfrmEmiPrevSocial *screen = nullptr;
    TfrmFiltroEmiPrev *dialog = nullptr;
};

// ---- the seven queries, on SQLite and on PostgreSQL
// ----------------------------------------------

enum class Db { SQLite, PostgreSQL };

class FilterChecksQueries : public FilterChecksBase, public ::testing::WithParamInterface<Db>
{
public:
    static void TearDownTestSuite() { cluster.reset(); }

protected:
    void SetUp() override
    {
        QString location;
        if (GetParam() == Db::SQLite) {
            ASSERT_TRUE(dir.isValid());
            location = dir.filePath(QStringLiteral("host.db"));
            QFile file(location);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly)); // the host opens existing files only
        } else {
            location = qEnvironmentVariable("FIS_TEST_PG_URL");
            if (location.isEmpty()) {
                if (!cluster) {
                    cluster = std::make_unique<fis::test::PgCluster>();
                    if (!cluster->start() || !cluster->createDatabase(QStringLiteral("filtro")))
                        clusterError = cluster->error();
                }
                if (!clusterError.isEmpty())
                    GTEST_SKIP() << "PostgreSQL indisponível: " << clusterError.toStdString();
                location = cluster->url(QStringLiteral("filtro"));
            }
        }
        const QSqlDatabase db = fis::HostDatabase::open(location);
        if (GetParam() == Db::PostgreSQL)
            QSqlQuery(db).exec(QStringLiteral("SET client_min_messages = warning"));
        seed(db);
        setUpScreens();
    }

    QTemporaryDir dir;
    static inline std::unique_ptr<fis::test::PgCluster> cluster;
    static inline QString clusterError;
};

TEST_P(FilterChecksQueries, BranchesByCodeOrAll)
{
    bool cancel = false;
    dialog->btpFiliEmitBeforePesq(dialog->btpFiliEmit, cancel);
    EXPECT_FALSE(cancel);
    EXPECT_EQ(column(dialog->qryFilial, "CDFILIAL"), (QStringList{"0001", "0002", "0010"}));

    dialog->medCdFilial->setMaskedText(QStringLiteral("2"));
    accepts([&] { dialog->Vd_filial(false); });
    EXPECT_EQ(dialog->medCdFilial->Text(), QStringLiteral("0002"));
    EXPECT_EQ(dialog->edtFilial->text(), QStringLiteral("Filial Campinas"));

    dialog->medCdFilial->setMaskedText(QStringLiteral("77"));
    EXPECT_EQ(refusal([&] { dialog->Vd_filial(true); }), QStringLiteral("Filial não cadastrada."));
    EXPECT_EQ(dialog->edtFilial->text(), QString());
}

TEST_P(FilterChecksQueries, StateRegistrationsOfTheCompany)
{
    bool cancel = false;
    dialog->btpInscEstBeforePesq(dialog->btpInscEst, cancel);
    EXPECT_EQ(column(dialog->qryInscrEstad, "CDINSCESTA"),
              (QStringList{"110042490114", "244087711117"}));

    // Invoice reports: an empty field is bound as null and matches any of the company's.
    accepts([&] { dialog->Vd_CdInscEsta(false); });
    EXPECT_TRUE(dialog->qryInscrEstad->boundValue(QStringLiteral("P_CDINSCESTA")).isNull());
    dialog->edtCdInscEsta->setMaskedText(QStringLiteral("244087711117"));
    accepts([&] { dialog->Vd_CdInscEsta(false); });
    dialog->edtCdInscEsta->setMaskedText(QStringLiteral("0623079040081"));
    EXPECT_EQ(refusal([&] { dialog->Vd_CdInscEsta(false); }),
              QStringLiteral("Inscrição estadual não cadastrada."));

    // A company without state registrations has none for the empty field either.
    setCompany("03");
    dialog->edtCdInscEsta->setMaskedText(QString());
    EXPECT_EQ(refusal([&] { dialog->Vd_CdInscEsta(false); }),
              QStringLiteral("Inscrição estadual não cadastrada."));

    // Rural-contribution report: it must be typed.
    setCompany("01");
    screen->cbbReportNames->setCurrentIndex(2);
    EXPECT_EQ(refusal([&] { dialog->Vd_CdInscEsta(false); }),
              QStringLiteral("Inscrição estadual deve ser informada."));
    dialog->edtCdInscEsta->setMaskedText(QStringLiteral("110042490114"));
    accepts([&] { dialog->Vd_CdInscEsta(false); });
}

TEST_P(FilterChecksQueries, MunicipalRegistrationsOfTheCompany)
{
    bool cancel = false;
    setCompany("02");
    dialog->btpInscMuniBeforePesq(dialog->btpInscMuni, cancel);
    EXPECT_EQ(column(dialog->qryInscrMunicip, "CDINSCMUNI"), (QStringList{"98765"}));

    setCompany("01");
    dialog->edtCdInscMuni->setMaskedText(QStringLiteral("31245678"));
    accepts([&] { dialog->Vd_CdInscMuni(); });
    dialog->edtCdInscMuni->setMaskedText(QStringLiteral("98765"));
    EXPECT_EQ(refusal([&] { dialog->Vd_CdInscMuni(); }),
              QStringLiteral("Inscrição municipal não cadastrada."));
}

TEST_P(FilterChecksQueries, InvoiceSeriesNarrowedByTheTypedRegistrations)
{
    ASSERT_TRUE(dialog->seriesAreInvoiceSeries());
    auto listed = [&] {
        bool cancel = false;
        dialog->btpSerieBeforePesq(dialog->btpSerie, cancel);
        return column(dialog->qrySerieNF, "CDSERIE");
    };
    EXPECT_EQ(listed(), (QStringList{"1", "2", "NFS"}));
    EXPECT_TRUE(dialog->qrySerieNF->boundValue(QStringLiteral("P_CDSERIE")).isNull());
    dialog->edtCdInscEsta->setMaskedText(QStringLiteral("110042490114"));
    EXPECT_EQ(listed(), (QStringList{"1"}));
    dialog->edtCdInscEsta->setMaskedText(QString());
    dialog->edtCdInscMuni->setMaskedText(QStringLiteral("31245678"));
    EXPECT_EQ(listed(), (QStringList{"NFS"}));

    dialog->edtCdSerie->setMaskedText(QStringLiteral("NFS"));
    accepts([&] { dialog->Vd_Serie(true); });
    dialog->edtCdInscMuni->setMaskedText(QString());
    dialog->edtCdInscEsta->setMaskedText(QStringLiteral("110042490114"));
    dialog->edtCdSerie->setMaskedText(QStringLiteral("2"));
    EXPECT_EQ(refusal([&] { dialog->Vd_Serie(false); }), QStringLiteral("Série não cadastrada."));
    dialog->edtCdInscEsta->setMaskedText(QString());
    dialog->edtCdSerie->setMaskedText(QStringLiteral("U")); // another company's
    EXPECT_EQ(refusal([&] { dialog->Vd_Serie(false); }), QStringLiteral("Série não cadastrada."));
}

TEST_P(FilterChecksQueries, EntrySeries)
{
    dialog->applyDirection(QStringLiteral("E"));
    ASSERT_FALSE(dialog->seriesAreInvoiceSeries());
    bool cancel = false;
    dialog->btpSerieBeforePesq(dialog->btpSerie, cancel);
    EXPECT_EQ(column(dialog->qrySerieEntr, "CDSERIEENTR"), (QStringList{"E1", "E2"}));

    dialog->edtCdSerie->setMaskedText(QStringLiteral("E2"));
    accepts([&] { dialog->Vd_Serie(true); });
    dialog->edtCdSerie->setMaskedText(QStringLiteral("1"));
    EXPECT_EQ(refusal([&] { dialog->Vd_Serie(false); }), QStringLiteral("Série não cadastrada."));
}

TEST_P(FilterChecksQueries, SuppliersByRegistrationAndItsType)
{
    bool cancel = false;
    dialog->btpPesqFornBeforePesq(dialog->btpPesqForn, cancel);
    EXPECT_EQ(column(dialog->qryPesqForn, "NRINSJURFORN"),
              (QStringList{"12345678909", "12345678000195", "98765432000198"}));

    // The type comes from the number's length: 14 digits a company, 11 a person.
    dialog->medInscForne->setMaskedText(QStringLiteral("12345678000195"));
    accepts([&] { dialog->Vd_Forneced(false); });
    EXPECT_EQ(dialog->qryValidForn->boundValue(QStringLiteral("P_IDTPIJURFORN")).toString(),
              QStringLiteral("J"));
    EXPECT_EQ(dialog->edtNmForne->text(), QStringLiteral("Rápidos"));

    dialog->medInscForne->setMaskedText(QStringLiteral("12345678909"));
    accepts([&] { dialog->Vd_Forneced(false); });
    EXPECT_EQ(dialog->qryValidForn->boundValue(QStringLiteral("P_IDTPIJURFORN")).toString(),
              QStringLiteral("F"));
    EXPECT_EQ(dialog->edtNmForne->text(), QStringLiteral("João Fretes"));

    // Filed under the other type: not this supplier. The name shown before goes.
    dialog->medInscForne->setMaskedText(QStringLiteral("98765432000198"));
    dialog->edtNmForne->setText(QStringLiteral("João Fretes"));
    EXPECT_EQ(refusal([&] { dialog->Vd_Forneced(false); }),
              QStringLiteral("Fornecedor não cadastrado."));
    EXPECT_EQ(dialog->edtNmForne->text(), QString());
}

INSTANTIATE_TEST_SUITE_P(Databases, FilterChecksQueries,
                         ::testing::Values(Db::SQLite, Db::PostgreSQL),
                         [](const ::testing::TestParamInfo<Db> &info) {
                             return info.param == Db::SQLite ? "SQLite" : "PostgreSQL";
                         });

// ---- focus, failures and server answers ------------------------------------------------------

class FilterChecks : public FilterChecksBase
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const QString location = dir.filePath(QStringLiteral("host.db"));
        {
            QFile file(location);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        seed(fis::HostDatabase::open(location));

        for (const fis::rdmEmisGuiaPrv::MethodDecl &m : fis::rdmEmisGuiaPrv::methods()) {
            QList<fis::RpcParam> params;
            for (const fis::rdmEmisGuiaPrv::ArgDecl &a : m.args)
                params.append(fis::RpcParam{a.kind, a.byRef});
            server.declare(QString::fromLatin1(m.name), params);
        }
        ASSERT_TRUE(server.start()) << server.errorString().toStdString();
        previousLogin = Quorvin::login();
        fis::LoginValues login = previousLogin;
        login.webUrl = server.host();
        login.webPort = server.port();
        Quorvin::setLogin(login);

        setUpScreens();
    }
    void TearDown() override
    {
        FilterChecksBase::TearDown();
        server.stop();
        Quorvin::setLogin(previousLogin);
    }

    // Shows the dialog as the active window, with the focus on a field.
    void showWithFocusOn(QWidget *field)
    {
        dialog->show();
        QApplication::setActiveWindow(dialog);
        field->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), field);
    }

    QTemporaryDir dir;
    fis::FakeAppServer server;
    fis::LoginValues previousLogin;
};

TEST_F(FilterChecks, ChecksThatCatchFailuresPutTheFocusBackAndPassThemOn)
{
    showWithFocusOn(dialog->medNumNF);
    dialog->applyDirection(QStringLiteral("E"));
    dialog->enableRegistrations(QStringLiteral("E"));
    dialog->edtCdInscMuni->setEnabled(true);
    dialog->medCdFilial->setMaskedText(QStringLiteral("0001"));
    dialog->medInscForne->setMaskedText(QStringLiteral("12345678909"));
    dialog->edtCdInscEsta->setMaskedText(QStringLiteral("110042490114"));
    dialog->edtCdInscMuni->setMaskedText(QStringLiteral("31245678"));
    dialog->edtCdSerie->setMaskedText(QStringLiteral("E1"));
    // The checks run here directly; the test's own focus moves must not run them again.
    for (fis::MaskEdit *edit : {dialog->medInscForne, dialog->edtCdInscEsta, dialog->edtCdInscMuni,
                                dialog->edtCdSerie, dialog->medCdFilial})
        edit->onExit = nullptr;
    QSqlQuery drop(fis::HostDatabase::database());
    for (const char *table :
         {"SERIENF", "INSCRESTAD", "INSCRMUNICIP", "FILIAL", "FORNECEDOR", "SERIEENTR"})
        ASSERT_TRUE(drop.exec(QStringLiteral("DROP TABLE %1").arg(QLatin1String(table))));

    const std::pair<QWidget *, std::function<void()>> catching[] = {
        {dialog->medInscForne, [&] { dialog->Vd_Forneced(false); }},
        {dialog->edtCdInscEsta, [&] { dialog->Vd_CdInscEsta(false); }},
        {dialog->edtCdInscMuni, [&] { dialog->Vd_CdInscMuni(); }},
        {dialog->edtCdSerie, [&] { dialog->Vd_Serie(false); }},
    };
    for (const auto &[field, check] : catching) {
        dialog->medNumNF->setFocus(Qt::OtherFocusReason);
        EXPECT_THROW(check(), fis::DataSetError) << field->objectName().toStdString();
        EXPECT_EQ(QApplication::focusWidget(), field) << field->objectName().toStdString();
    }

    // The branch check passes the failure on as it is: the focus stays where it was.
    dialog->medNumNF->setFocus(Qt::OtherFocusReason);
    EXPECT_THROW(dialog->Vd_filial(false), fis::DataSetError);
    EXPECT_EQ(QApplication::focusWidget(), dialog->medNumNF);
    EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(FilterChecks, TaxCallRemovesTheProgressWindowAndReportsAFailedAnswer)
{
    server.queueAnswer(QStringLiteral("GetImpostoNfe"),
                       fis::FakeAppServer::Answer::error(QStringLiteral("Banco fora do ar.")));
    dialog->edtCdImposto->setMaskedText(QStringLiteral("1"));
    EXPECT_EQ(refusal([&] { dialog->Vd_Imposto(false); }), QStringLiteral("Banco fora do ar."));
    EXPECT_EQ(fis::progressWindow(), nullptr);
    ASSERT_EQ(server.callCount(), 1);
    EXPECT_EQ(server.calls().constFirst().args.value(0).toString(), QStringLiteral("01"));

    // An empty tax is not looked up; required, it is refused without a call.
    dialog->edtCdImposto->setMaskedText(QString());
    accepts([&] { dialog->Vd_Imposto(false); });
    EXPECT_EQ(refusal([&] { dialog->Vd_Imposto(true); }),
              QStringLiteral("Imposto deve ser informado."));
    EXPECT_EQ(server.callCount(), 1);
}

TEST_F(FilterChecks, MapAndBranchAnswersThatAreNotPacketsAreReportedAndLoadNothing)
{
    const fis::Variant maps = packetOf(
        {{"DTINIPERIODO", FieldType::DateTime, 0}, {"DTFIMPERIODO", FieldType::DateTime, 0}},
        {{fis::makeDate(fis::TDateTime::fromDate(QDate(2026, 1, 1))),
          fis::makeDate(fis::TDateTime::fromDate(QDate(2026, 1, 31)))}});
    server.queueAnswer(QStringLiteral("GetMapa"), fis::FakeAppServer::Answer::value(maps));
    dialog->loadMapa(QStringLiteral("I"));
    ASSERT_EQ(dialog->cdsMapa->recordCount(), 1);

    const std::pair<fis::Variant, QString> answers[] = {
        {fis::makeText(QStringLiteral("Conexão recusada.")), QStringLiteral("Conexão recusada.")},
        {fis::Variant(), QStringLiteral("O servidor não retornou resposta.")},
        {QVariantList{maps}, QStringLiteral("Resposta inesperada do servidor (lista).")},
    };
    for (const auto &[answer, text] : answers) {
        server.queueAnswer(QStringLiteral("GetMapa"), fis::FakeAppServer::Answer::value(answer));
        EXPECT_EQ(refusal([&] { dialog->loadMapa(QStringLiteral("F")); }), text);
        EXPECT_EQ(dialog->cdsMapa->recordCount(), 1) << text.toStdString(); // kept
        server.queueAnswer(QStringLiteral("GetParamFilial"),
                           fis::FakeAppServer::Answer::value(answer));
        EXPECT_EQ(refusal([&] { dialog->loadParamFilial(); }), text);
    }

    // A null packet is an answer: no maps.
    server.queueAnswer(QStringLiteral("GetMapa"),
                       fis::FakeAppServer::Answer::value(fis::makePacket(fis::DataPacket())));
    accepts([&] { dialog->loadMapa(QStringLiteral("I")); });
    EXPECT_TRUE(dialog->cdsMapa->isEmpty());
}

TEST_F(FilterChecks, InvoiceNumberWidthWithinWhatTheFieldHolds)
{
    const auto width = [&](const fis::Variant &value) {
        server.queueAnswer(QStringLiteral("GetParamFilial"),
                           fis::FakeAppServer::Answer::value(
                               packetOf({{"NRTAMNUMNFUT", FieldType::Float, 0}}, {{value}})));
    };
    const std::pair<fis::Variant, QString> cases[] = {
        {fis::makeFloat(8.6), QStringLiteral("000000042")},
        {fis::makeFloat(-3), QStringLiteral("42")},
        {fis::Variant(), QStringLiteral("42")},
        {fis::makeFloat(1e12), QStringLiteral("00000000000000000042")},
    };
    for (const auto &[value, expected] : cases) {
        width(value);
        dialog->medNumNF->setMaskedText(QStringLiteral("42"));
        accepts([&] { dialog->Vd_Nota(); });
        EXPECT_EQ(dialog->medNumNF->Text(), expected) << value.toString().toStdString();
    }
}

TEST_F(FilterChecks, PeriodNeedsTwoRealDatesInOrder)
{
    showWithFocusOn(dialog->medNumNF);
    const auto set = [&](const char *start, const char *end) {
        dialog->depEmiIni->setMaskedText(QLatin1String(start));
        dialog->depEmiFin->setMaskedText(QLatin1String(end));
    };
    set("15/03/2026", "15/03/2026");
    accepts([&] { dialog->Vd_DatasFiltro(); });

    const std::tuple<const char *, const char *, QWidget *, QString> refused[] = {
        {"15/03/2026", "14/03/2026", dialog->depEmiIni,
         QStringLiteral("Data inicial do período deve ser menor ou igual a data final do "
                        "período.")},
        {"  /  /    ", "14/03/2026", dialog->depEmiIni,
         QStringLiteral("Data inicial deve ser informada.")},
        {"01/03/2026", "  /  /    ", dialog->depEmiFin,
         QStringLiteral("Data final deve ser informada.")},
        {"01/03/2026", "32/03/2026", dialog->depEmiFin,
         QStringLiteral("Data inválida: 32/03/2026")},
    };
    for (const auto &[start, end, field, text] : refused) {
        set(start, end);
        dialog->medNumNF->setFocus(Qt::OtherFocusReason);
        EXPECT_EQ(refusal([&] { dialog->Vd_DatasFiltro(); }), text);
        EXPECT_EQ(QApplication::focusWidget(), field) << text.toStdString();
    }
}

} // namespace
