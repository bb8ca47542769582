// The filter dialog's confirm against a fake application server: what the listing sends from
// the screen's state, where the server's written-back values land, and what a refused criterion
// or a failed listing leaves untouched.
#include "data/packet.h"
#include "emission/Cli_fis02900.h"
#include "filter/Cli_fis02910.h"
#include "testkit/fakeappserver.h"
#include "testkit/recordinghostui.h"
#include "widgets/radiogroup.h"

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

using fis::FakeAppServer;
using fis::FieldType;

namespace {

fis::TDateTime day(int d, int m, int y)
{
    return fis::TDateTime::fromDate(QDate(y, m, d));
}

fis::Variant packetOf(const QList<fis::PacketField> &fields, const QList<QVariantList> &rows)
{
    return fis::makePacket(fis::buildPacket(fields, rows));
}

fis::Variant invoices(int rows)
{
    QList<QVariantList> data;
    for (int i = 1; i <= rows; ++i)
        data.append(
            {QStringLiteral("0001"), QString::number(i), QStringLiteral("S"), QStringLiteral("U")});
    return packetOf({{"CDFILIAL", FieldType::String, 4},
                     {"NRNOTAFISC", FieldType::String, 20},
                     {"IDENTRSAIDOP", FieldType::String, 1},
                     {"IDCHECK", FieldType::FixedString, 1}},
                    data);
}

FakeAppServer::Answer listing(const fis::Variant &result, QMap<int, fis::Variant> outputs = {})
{
    FakeAppServer::Answer a = FakeAppServer::Answer::value(result);
    a.outputs = std::move(outputs);
    return a;
}

bool sameCriteria(const TRecordFilter &a, const TRecordFilter &b)
{
    return a.Status == b.Status && a.CdImposto == b.CdImposto && a.CdFilial == b.CdFilial &&
           a.CdInscEsta == b.CdInscEsta && a.CdInscMuni == b.CdInscMuni && a.CdSerie == b.CdSerie &&
           a.NumNF == b.NumNF && a.InscForne == b.InscForne && a.DtEmiIni == b.DtEmiIni &&
           a.DtEmiFin == b.DtEmiFin && a.Preenchido == b.Preenchido;
}

// The emission screen on its exits report with company 01, and the filter dialog shown over it
// with a registered tax and a period; the server knows the tax, the host database one state
// registration of the company.
class FilterConfirm : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ui.install();
        ASSERT_TRUE(dir.isValid());
        const QString location = dir.filePath(QStringLiteral("host.db"));
        QFile file(location);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)); // the host opens existing files only
        file.close();
        QSqlQuery q(fis::HostDatabase::open(location));
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE TABLE INSCRESTAD (CDEMPRESA VARCHAR(2), "
                                          "CDINSCESTA VARCHAR(16), SGESTADO VARCHAR(2))")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO INSCRESTAD VALUES "
                                          "('01', '110042490114', 'SP')")));
        for (const auto &m : fis::rdmEmisGuiaPrv::methods()) {
            QList<fis::RpcParam> params;
            for (const auto &a : m.args)
                params.append(fis::RpcParam{a.kind, a.byRef});
            server.declare(QString::fromLatin1(m.name), params);
        }
        server.setDefaultAnswer(QStringLiteral("GetImpostoNfe"),
                                listing(packetOf({{"CDIMPOSTONFE", FieldType::String, 2},
                                                  {"SGIMPOSTONFE", FieldType::String, 10},
                                                  {"IDORGARRECADNFE", FieldType::String, 1}},
                                                 {{QStringLiteral("01"), QStringLiteral("INSS"),
                                                   QStringLiteral("E")}})));
        ASSERT_TRUE(server.start()) << server.errorString().toStdString();

        previousLogin = Quorvin::login();
        fis::LoginValues login = previousLogin;
        login.webUrl = server.host();
        login.webPort = server.port();
        login.filiProc = QStringLiteral("0001");
        login.dataProc = day(15, 3, 2026);
        login.nomeOperador = QStringLiteral("ANA");
        Quorvin::setLogin(login);

        screen = new TfrmEmiPrevSocial;
        frmEmiPrevSocial = screen;
        screen->setReportDir(QStringLiteral(FIS_REPORT_DIR));
        screen->loadReportNames();
        boCtrl = true;
        screen->FormActivate(); // first report: exits
        screen->netEmisGuiaPrev->setConnected(true);
        screen->medCdEmpresa->setMaskedText(QStringLiteral("01"));
        screen->cdsParamFiscal->setData(
            packetOf({{"IDGERCONPAGGUIA", FieldType::String, 1}}, {{QStringLiteral("S")}})
                .value<fis::DataPacket>());

        dialog = new TfrmFiltroEmiPrev;
        frmFiltroEmiPrev = dialog;
        dialog->show();
        dialog->edtCdImposto->setMaskedText(QStringLiteral("01"));
        dialog->depEmiIni->SetDate(day(1, 3, 2026));
        dialog->depEmiFin->SetDate(day(15, 3, 2026));
        dialog->rdgStatus->setItemIndex(0);
        stStatus.clear();
        ui.clear();
        server.clearCalls();
    }

    void TearDown() override
    {
        DeactiveShowAvi();
        delete dialog;
        delete screen;
        boConfirma = false;
        stStatus.clear();
        Quorvin::setLogin(previousLogin);
        fis::HostDatabase::close();
        server.stop();
        ui.uninstall();
        EXPECT_TRUE(server.failures().isEmpty()) << server.failures().join('\n').toStdString();
    }

    // Arguments of the last call of the method (1-based positions), empty when it never came.
    QList<fis::Variant> lastArgs(const char *method) const
    {
        const auto calls = server.calls();
        for (auto it = calls.crbegin(); it != calls.crend(); ++it)
            if (it->method == QLatin1String(method))
                return it->args;
        return {};
    }
    int callsOf(const char *method) const
    {
        int n = 0;
        for (const auto &c : server.calls())
            n += c.method == QLatin1String(method);
        return n;
    }
    QString lastMessage() const
    {
        return ui.messages().isEmpty() ? QString() : ui.messages().constLast().text;
    }

    QTemporaryDir dir;
    fis::RecordingHostUi ui;
    FakeAppServer server;
    fis::LoginValues previousLogin;
    TfrmEmiPrevSocial *screen = nullptr;
    TfrmFiltroEmiPrev *dialog = nullptr;
};

TEST_F(FilterConfirm, ListingSendsTheScreenStateAndTheWrittenBackValuesReachTheirOwnMembers)
{
    // The current grouped row is the second one; the selection set holds one invoice.
    screen->cdsAprovAgrup->setData(
        packetOf({{"CDFILIAL", FieldType::String, 4},
                  {"NRLANCTONF", FieldType::String, 10},
                  {"VENCIMENTO", FieldType::DateTime, 0}},
                 {{QStringLiteral("0001"), QStringLiteral("15"), fis::makeDate(day(20, 4, 2026))},
                  {QStringLiteral("0002"), QStringLiteral("16"), fis::makeDate(day(20, 5, 2026))}})
            .value<fis::DataPacket>());
    screen->cdsAprovAgrup->next();
    screen->cdsForneAux->setData(
        packetOf({{"NRLANCTONF", FieldType::String, 10}}, {{QStringLiteral("16")}})
            .value<fis::DataPacket>());
    screen->vrTotalGuia = 10.5;
    screen->stLanctoSel = QStringLiteral("000015");
    screen->stFilialSel = QStringLiteral("0001");
    dialog->rdgStatus->setItemIndex(1);

    server.queueAnswer(QStringLiteral("GetEmisGuiaPrev"),
                       listing(invoices(2), {{10, fis::makeText(QStringLiteral("T"))},
                                             {19, fis::makeFloat(99.9)},
                                             {25, fis::makeText(QStringLiteral("000777"))},
                                             {26, fis::makeText(QStringLiteral("0009"))}}));
    ASSERT_NO_THROW(dialog->sbtConfirmaClick()) << lastMessage().toStdString();

    const QList<fis::Variant> args = lastArgs("GetEmisGuiaPrev");
    ASSERT_EQ(args.size(), 27);
    EXPECT_EQ(args[9].toString(), QStringLiteral("E"));
    EXPECT_EQ(args[15].toString(), QStringLiteral("S"));
    EXPECT_EQ(args[16].toString(), QStringLiteral("16"));
    EXPECT_EQ(args[17].toString(), QStringLiteral("0002"));
    EXPECT_DOUBLE_EQ(args[18].toDouble(), 10.5);
    EXPECT_EQ(args[19].value<fis::TDateTime>(), day(20, 5, 2026));
    EXPECT_EQ(fis::PacketReader(args[20].value<fis::DataPacket>()).rowCount(), 1);
    EXPECT_EQ(args[24].toString(), QStringLiteral("000015")); // entry number first
    EXPECT_EQ(args[25].toString(), QStringLiteral("0001"));   // then the branch

    EXPECT_EQ(screen->stLanctoSel, QStringLiteral("000777"));
    EXPECT_EQ(screen->stFilialSel, QStringLiteral("0009"));
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 99.9);
    EXPECT_EQ(stStatus, QStringLiteral("T"));

    EXPECT_EQ(screen->cdsAprov->recordCount(), 2);
    EXPECT_EQ(screen->dbgPadrao->selectedIndex(),
              Consiste::IndiceCol(screen->dbgPadrao, QStringLiteral("IDCHECK")));
    EXPECT_EQ(screen->RecordFilter.Status, 1);
    EXPECT_TRUE(screen->RecordFilter.Preenchido);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(fis::progressWindow(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(ui.messages().isEmpty()) << lastMessage().toStdString();
}

TEST_F(FilterConfirm, FailedListingLeavesCriteriaDocumentsAndSelectionAsTheyWere)
{
    server.queueAnswer(QStringLiteral("GetEmisGuiaPrev"), listing(invoices(2)));
    ASSERT_NO_THROW(dialog->sbtConfirmaClick()) << lastMessage().toStdString();
    const TRecordFilter confirmed = screen->RecordFilter;
    ASSERT_TRUE(confirmed.Preenchido);
    screen->stLanctoSel = QStringLiteral("000015");
    screen->stFilialSel = QStringLiteral("0001");
    screen->vrTotalGuia = 10.5;

    const QMap<int, fis::Variant> written = {{25, fis::makeText(QStringLiteral("X"))},
                                             {26, fis::makeText(QStringLiteral("Y"))},
                                             {19, fis::makeFloat(1)}};
    const struct
    {
        const char *what;
        FakeAppServer::Answer answer;
        QString message; // empty: any error will do
    } failures[] = {
        {"server error", FakeAppServer::Answer::error(QStringLiteral("Banco indisponível.")),
         QStringLiteral("Banco indisponível.")},
        {"text answer", listing(fis::makeText(QStringLiteral("Tempo esgotado.")), written),
         QStringLiteral("Tempo esgotado.")},
        {"no answer", listing(fis::Variant(), written),
         QStringLiteral("O servidor não retornou resposta.")},
        {"corrupt packet",
         listing(fis::makePacket(fis::DataPacket{QByteArrayLiteral("\x01\x02garbage")}), written),
         QString()},
    };
    for (const auto &f : failures) {
        SCOPED_TRACE(f.what);
        dialog->show();
        dialog->rdgStatus->setItemIndex(2);
        dialog->depEmiIni->SetDate(day(1, 2, 2026));
        ui.clear();
        server.queueAnswer(QStringLiteral("GetEmisGuiaPrev"), f.answer);

        EXPECT_ANY_THROW(dialog->sbtConfirmaClick());
        ASSERT_EQ(callsOf("GetEmisGuiaPrev"), 2 + int(&f - failures));
        if (!f.message.isEmpty()) {
            EXPECT_EQ(lastMessage(), f.message);
        }

        EXPECT_TRUE(sameCriteria(screen->RecordFilter, confirmed));
        EXPECT_EQ(screen->cdsAprov->recordCount(), 2);
        EXPECT_EQ(screen->stLanctoSel, QStringLiteral("000015"));
        EXPECT_EQ(screen->stFilialSel, QStringLiteral("0001"));
        EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 10.5);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(fis::progressWindow(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(FilterConfirm, RefusedCriterionStopsBeforeTheServerWithTheConfirmAlreadyCounted)
{
    // Invoices: the attempt counts even though the tax is missing; nothing else moves.
    ASSERT_FALSE(boConfirma);
    stStatus = QStringLiteral("P");
    dialog->rdgStatus->setItemIndex(2);
    dialog->edtCdImposto->setMaskedText(QString());
    const bool filterButton = screen->sbtFiltro->isEnabled();
    EXPECT_THROW(dialog->sbtConfirmaClick(), fis::EAbort);
    EXPECT_EQ(lastMessage(), QStringLiteral("Imposto deve ser informado."));
    EXPECT_TRUE(boConfirma);
    EXPECT_EQ(stStatus, QStringLiteral("P"));
    EXPECT_EQ(screen->sbtFiltro->isEnabled(), filterButton);
    EXPECT_FALSE(screen->RecordFilter.Preenchido);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(server.callCount(), 0);

    // Rural maps: the map status is already set, the invoice confirm flag is left alone.
    boConfirma = false;
    screen->cbbReportNames->setCurrentIndex(2);
    dialog->edtCdImposto->setMaskedText(QStringLiteral("01"));
    dialog->rdgStatus->setItemIndex(0);
    ui.clear();
    EXPECT_THROW(dialog->sbtConfirmaClick(), fis::EAbort);
    EXPECT_EQ(lastMessage(), QStringLiteral("Inscrição estadual deve ser informada."));
    EXPECT_FALSE(boConfirma);
    EXPECT_EQ(dialog->stStatusFunRural, QStringLiteral("N"));
    EXPECT_EQ(callsOf("GetFunRural"), 0);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(FilterConfirm, NoStatusChosenKeepsTheInvoiceLetterAndAsksForAllMaps)
{
    stStatus = QStringLiteral("E");
    dialog->rdgStatus->setItemIndex(-1);
    server.queueAnswer(QStringLiteral("GetEmisGuiaPrev"), listing(invoices(1)));
    ASSERT_NO_THROW(dialog->sbtConfirmaClick()) << lastMessage().toStdString();
    EXPECT_EQ(lastArgs("GetEmisGuiaPrev").value(9).toString(), QStringLiteral("E"));
    const TRecordFilter invoiceCriteria = screen->RecordFilter;

    // The maps: "T" goes out, the server's written-back letter is kept, and the invoice
    // criteria, the invoice confirm flag and the invoice status stay as they were.
    boConfirma = false;
    screen->cbbReportNames->setCurrentIndex(2);
    dialog->show();
    dialog->rdgStatus->setItemIndex(-1);
    dialog->edtCdInscEsta->setMaskedText(QStringLiteral("110042490114"));
    dialog->depEmiIni->SetDate(day(1, 1, 2026));
    server.queueAnswer(
        QStringLiteral("GetFunRural"),
        listing(packetOf({{"NMMAPAAPUR", FieldType::String, 30}},
                         {{QStringLiteral("Mapa Janeiro")}, {QStringLiteral("Mapa Fevereiro")}}),
                {{6, fis::makeText(QStringLiteral("S"))}}));
    ASSERT_NO_THROW(dialog->sbtConfirmaClick()) << lastMessage().toStdString();

    const QList<fis::Variant> args = lastArgs("GetFunRural");
    ASSERT_EQ(args.size(), 6);
    EXPECT_EQ(args[0].toString(), QStringLiteral("01"));
    EXPECT_EQ(args[1].toString(), QStringLiteral("01"));
    EXPECT_EQ(args[2].toString(), QStringLiteral("110042490114"));
    EXPECT_EQ(args[3].value<fis::TDateTime>(), day(1, 1, 2026));
    EXPECT_EQ(args[4].value<fis::TDateTime>(), day(15, 3, 2026));
    EXPECT_EQ(args[5].toString(), QStringLiteral("T"));
    EXPECT_EQ(dialog->stStatusFunRural, QStringLiteral("S"));
    EXPECT_EQ(screen->cdsFunRural->recordCount(), 2);
    EXPECT_TRUE(sameCriteria(screen->RecordFilter, invoiceCriteria));
    EXPECT_FALSE(boConfirma);
    EXPECT_EQ(stStatus, QStringLiteral("E"));
    EXPECT_FALSE(dialog->isVisible());
}

} // namespace
