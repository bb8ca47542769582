// Ticking the documents: what the scripts cannot see (running sums, the selection's reference
// members, a row whose post fails, the key codes the grid lets through). Each posted row is
// checked and written back to a test server that knows every revenue code.
#include "data/packet.h"
#include "emission/Cli_fis02900.h"
#include "testkit/fakeappserver.h"
#include "testkit/recordinghostui.h"
#include "widgets/errorguard.h"

#include <QDate>

#include <algorithm>
#include <gtest/gtest.h>

using fis::FieldType;

namespace {

struct Doc
{
    const char *lancto;
    const char *registration;
    const char *name;
    double tax;
    double fine;
    double others;
    QDate due = QDate(2026, 4, 20);
    const char *code = "2100";
    const char *status = "";
};

class Selection : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ui.install();
        startServer();
        screen = new TfrmEmiPrevSocial;
        screen->cdsParamFiscal->setData(
            fis::buildPacket({{"IDGERCONPAGGUIA", FieldType::String, 1}}, {{QStringLiteral("S")}}));
    }
    void TearDown() override
    {
        delete screen;
        server.stop();
        Quorvin::setLogin(fis::LoginValues());
        ui.uninstall();
    }
    void startServer()
    {
        for (const fis::rdmEmisGuiaPrv::MethodDecl &m : fis::rdmEmisGuiaPrv::methods()) {
            QList<fis::RpcParam> params;
            for (const fis::rdmEmisGuiaPrv::ArgDecl &a : m.args)
                params.append(fis::RpcParam{a.kind, a.byRef});
            server.declare(QString::fromLatin1(m.name), params);
        }
        fis::FakeAppServer::Answer known;
        known.resultOf = [](const QList<fis::Variant> &args) {
            return fis::makePacket(fis::buildPacket({{"CDRECEPADRAO", FieldType::String, 4}},
                                                    {{args.value(1).toString()}}));
        };
        server.setDefaultAnswer(QStringLiteral("GetVdCodRece"), known);
        server.setDefaultAnswer(QStringLiteral("SetDtVenc"),
                                fis::FakeAppServer::Answer::value(fis::makePacket(
                                    fis::buildPacket({{"CDFILIAL", FieldType::String, 4}}, {}))));
        ASSERT_TRUE(server.start());
        fis::LoginValues login;
        login.webUrl = server.host();
        login.webPort = server.port();
        Quorvin::setLogin(login);
    }
    void loadEntries(const QList<Doc> &docs)
    {
        QList<QVariantList> rows;
        for (const Doc &d : docs)
            rows << QVariantList{QStringLiteral("0001"),
                                 QString::fromLatin1(d.lancto),
                                 QString::fromLatin1(d.registration),
                                 QString::fromUtf8(d.name),
                                 d.tax,
                                 d.fine,
                                 d.others,
                                 d.due.isValid() ? fis::makeDate(fis::TDateTime::fromDate(d.due))
                                                 : QVariant(),
                                 QString::fromLatin1(d.code),
                                 QString::fromLatin1(d.status),
                                 QStringLiteral("U")};
        screen->stOperacao = QStringLiteral("E");
        screen->cdsAprovAgrup->setData(fis::buildPacket({{"CDFILIAL", FieldType::String, 4},
                                                         {"NRLANCTONF", FieldType::String, 10},
                                                         {"NRINSJURNF", FieldType::String, 20},
                                                         {"NMRAZSOCFORN", FieldType::String, 77},
                                                         {"VRTOTIMPONF", FieldType::Float},
                                                         {"VRMULTAGUIA", FieldType::Float},
                                                         {"VROUTRENTGUIA", FieldType::Float},
                                                         {"VENCIMENTO", FieldType::DateTime},
                                                         {"CDRECEGUIA", FieldType::String, 5},
                                                         {"IDSTATUSGUIA", FieldType::String, 1},
                                                         {"IDCHECK", FieldType::FixedString, 1}},
                                                        rows));
        ASSERT_TRUE(screen->dbgPadrao->setSelectedField(QStringLiteral("IDCHECK")));
    }
    // Clicks the tick cell of a row (1-based), as the grid does: inside the error guard.
    void click(int row)
    {
        screen->cdsAprovAgrup->setRecNo(row);
        fis::guarded([&] { screen->dbgPadraoCellClick(nullptr); });
    }
    void typeIn(int row)
    {
        screen->cdsAprovAgrup->setRecNo(row);
        QChar key(QLatin1Char(' '));
        fis::guarded([&] { screen->dbgPadraoKeyPress(key); });
    }
    QString flag(int row) const
    {
        const fis::ClientDataSet *set = screen->cdsAprovAgrup;
        return set->valueAt(row - 1, set->fieldByName(QStringLiteral("IDCHECK"))->index())
            .toString();
    }
    double sideValue(int row, const char *field) const
    {
        const fis::ClientDataSet *set = screen->cdsForneAux;
        return set->valueAt(row - 1, set->fieldByName(QString::fromLatin1(field))->index())
            .toDouble();
    }
    bool codeColumnReadOnly() const
    {
        return screen->dbgPadrao->findColumn(QStringLiteral("CDRECEGUIA"))->readOnly();
    }

    fis::RecordingHostUi ui;
    fis::FakeAppServer server;
    TfrmEmiPrevSocial *screen = nullptr;
};

TEST_F(Selection, RunningSumsFollowTicksAndUnticksExactly)
{
    loadEntries({{"15", "111", "Alfa: 501", 0.1, 0.2, 0.0},
                 {"16", "111", "Alfa: 502", 10.0, 1.0, 0.5},
                 {"17", "111", "Alfa: 503", 20.0, 2.0, 0.0},
                 {"18", "222", "Beta: 601", 5.0, 0.0, 0.0}});
    // 0.1 + 0.2 leaves binary noise behind; unticking must still come back to exactly zero.
    click(1);
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 0.30000000000000004);
    typeIn(1);
    EXPECT_EQ(screen->vrTotalGuia, 0.0);
    EXPECT_TRUE(screen->stInscForne.isEmpty());
    EXPECT_TRUE(screen->dtVencGuia.isNull());
    EXPECT_EQ(screen->vrMultaGuia, 0.0);

    click(2);
    click(3);
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 33.5);
    EXPECT_DOUBLE_EQ(sideValue(2, "VRMULTAGUIA"), 3.0);
    EXPECT_DOUBLE_EQ(sideValue(2, "VROUTRENTGUIA"), 0.5);
    // The unticked row leaves every running value; the next record carries the sums of what
    // is still ticked.
    click(2);
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 22.0);
    EXPECT_DOUBLE_EQ(screen->vrMultaGuia, 2.0);
    EXPECT_DOUBLE_EQ(screen->vrOutrEntGuia, 0.0);
    ASSERT_EQ(screen->cdsForneAux->recordCount(), 1);
    click(1);
    EXPECT_DOUBLE_EQ(sideValue(2, "VRMULTAGUIA"), 2.2);
    click(1);
    click(3);
    EXPECT_EQ(screen->vrTotalGuia, 0.0);
    EXPECT_EQ(screen->cdsForneAux->recordCount(), 0);

    // The selection ended: another supplier starts the next one.
    click(4);
    EXPECT_EQ(flag(4), QStringLiteral("C"));
    EXPECT_EQ(screen->stInscForne, QStringLiteral("222"));
    EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(Selection, ReferencesComeFromTheFirstTickAndTheEntryStaysAfterARefusal)
{
    loadEntries({{"15", "111", "Alfa: 501", 1, 0, 0, QDate(2026, 4, 20), "2100", "P"},
                 {"16", "111", "Alfa: 502", 1, 0, 0, QDate(2026, 4, 20), "2100", ""}});
    click(1);
    EXPECT_EQ(flag(1), QStringLiteral("C"));
    EXPECT_EQ(screen->stStatusSel, QStringLiteral("P"));
    EXPECT_EQ(screen->stCodReceSel, QStringLiteral("2100"));
    EXPECT_EQ(screen->stInscForne, QStringLiteral("111"));
    EXPECT_EQ(screen->dtVencGuia.toDate(), QDate(2026, 4, 20));
    EXPECT_EQ(screen->stLanctoSel, QStringLiteral("15"));
    EXPECT_TRUE(codeColumnReadOnly());

    // A row without a guide does not join a selection of rows with one, but it still names the
    // entry when none is named.
    screen->stFilialSel.clear();
    screen->stLanctoSel.clear();
    click(2);
    EXPECT_EQ(flag(2), QStringLiteral("U"));
    ASSERT_EQ(ui.messages().size(), 1);
    EXPECT_TRUE(ui.messages().first().text.contains(QStringLiteral("status em aberto")));
    EXPECT_EQ(screen->stFilialSel, QStringLiteral("0001"));
    EXPECT_EQ(screen->stLanctoSel, QStringLiteral("16"));
    EXPECT_EQ(screen->cdsForneAux->recordCount(), 1);
    EXPECT_EQ(screen->cdsAprovAgrup->recNo(), 2);

    // Unticking by key gives the revenue code back and ends the selection; a selection that
    // starts without a guide then refuses the row with one.
    ui.clear();
    typeIn(1);
    EXPECT_FALSE(codeColumnReadOnly());
    EXPECT_TRUE(screen->stStatusSel.isEmpty());
    click(2);
    EXPECT_EQ(flag(2), QStringLiteral("C"));
    click(1);
    EXPECT_EQ(flag(1), QStringLiteral("U"));
    EXPECT_EQ(ui.messages().size(), 1);
}

TEST_F(Selection, ARowThatCannotBeStoredLeavesTheSelectionAsItWas)
{
    loadEntries({{"15", "111", "Alfa: 501", 10, 1, 0}, {"16", "111", "Alfa: 502", 20, 2, 0}});
    click(1);
    bool refuse = true;
    screen->cdsAprovAgrup->beforePost = [&](fis::ClientDataSet &) {
        if (refuse)
            throw fis::EAbort();
    };
    click(2);
    EXPECT_EQ(flag(2), QStringLiteral("U"));
    EXPECT_EQ(screen->cdsForneAux->recordCount(), 1);
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 11.0);
    EXPECT_DOUBLE_EQ(screen->vrMultaGuia, 1.0);
    EXPECT_EQ(screen->cdsAprovAgrup->state(), fis::DataSetState::Browse);
    EXPECT_FALSE(screen->cdsAprovAgrup->controlsDisabled());
    // Nor does an untick that cannot be stored drop the row's record.
    click(1);
    EXPECT_EQ(flag(1), QStringLiteral("C"));
    EXPECT_EQ(screen->cdsForneAux->recordCount(), 1);
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 11.0);
    refuse = false;
    click(2);
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 33.0);
}

TEST_F(Selection, AWriteBackTheServerRefusesLeavesTheRowStoredMarkedAndTheDisplayOn)
{
    loadEntries({{"15", "111", "Alfa: 501", 10, 1, 0}, {"16", "111", "Alfa: 502", 20, 0, 0}});
    const auto refuseNext = [&] {
        server.queueAnswer(QStringLiteral("SetDtVenc"),
                           fis::FakeAppServer::Answer::error(QStringLiteral("Fora do ar.")));
    };
    refuseNext();
    click(1);
    EXPECT_EQ(flag(1), QStringLiteral("C"));
    EXPECT_EQ(screen->cdsForneAux->recordCount(), 1);
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 11.0);
    EXPECT_TRUE(screen->rowUnsaved(0));
    EXPECT_FALSE(screen->cdsAprovAgrup->controlsDisabled());
    ASSERT_EQ(ui.messages().size(), 1);
    EXPECT_TRUE(ui.messages().first().text.contains(QStringLiteral("Fora do ar.")));
    click(1);
    EXPECT_FALSE(screen->rowUnsaved(0));

    // Select all: the pass stops at the row the server refuses, which stays ticked, in the
    // selection and marked; the rows after it are left as they were.
    loadEntries({{"15", "111", "Alfa: 501", 10, 0, 0},
                 {"16", "111", "Alfa: 502", 20, 0, 0},
                 {"17", "111", "Alfa: 503", 30, 0, 0}});
    ui.clear();
    server.clearCalls();
    server.queueAnswer(QStringLiteral("SetDtVenc"),
                       fis::FakeAppServer::Answer::value(fis::makePacket(fis::DataPacket())));
    refuseNext();
    fis::guarded([&] {
        screen->dbgPadraoTitleClick(screen->dbgPadrao->findColumn(QStringLiteral("IDCHECK")));
    });
    // One check of the revenue code for the pass, one write-back per row stored.
    const QList<fis::FakeAppServer::Call> calls = server.calls();
    const auto count = [&](const char *method) {
        return std::count_if(calls.cbegin(), calls.cend(),
                             [&](const auto &c) { return c.method == QLatin1String(method); });
    };
    EXPECT_EQ(count("GetVdCodRece"), 1);
    EXPECT_EQ(count("SetDtVenc"), 2);
    EXPECT_EQ(flag(1), QStringLiteral("C"));
    EXPECT_EQ(flag(2), QStringLiteral("C"));
    EXPECT_EQ(flag(3), QStringLiteral("U"));
    EXPECT_EQ(screen->cdsForneAux->recordCount(), 2);
    EXPECT_FALSE(screen->rowUnsaved(0));
    EXPECT_TRUE(screen->rowUnsaved(1));
    EXPECT_FALSE(screen->cdsAprovAgrup->controlsDisabled());
    EXPECT_EQ(fis::progressWindow(), nullptr);
    EXPECT_EQ(ui.messages().size(), 1);
    // A load brings the server's rows: nothing is marked any more.
    loadEntries({{"16", "111", "Alfa: 502", 20, 0, 0}});
    EXPECT_FALSE(screen->rowUnsaved(0));
}

TEST_F(Selection, TitleTicksTheRowsLikeTheFirstAndUnticksAll)
{
    loadEntries({{"15", "111", "Alfa: 501", 10, 1, 0},
                 {"16", "222", "Beta: 601", 20, 0, 0},
                 {"17", "111", "Alfa: 502", 30, 2, 1},
                 {"18", "111", "Alfa: 503", 40, 0, 0, QDate(2026, 4, 21)}});
    screen->cdsAprovAgrup->setRecNo(3);
    fis::GridColumn *tick = screen->dbgPadrao->findColumn(QStringLiteral("IDCHECK"));
    fis::guarded([&] { screen->dbgPadraoTitleClick(tick); });
    EXPECT_EQ(flag(1), QStringLiteral("C"));
    EXPECT_EQ(flag(2), QStringLiteral("U"));
    EXPECT_EQ(flag(3), QStringLiteral("C"));
    EXPECT_EQ(flag(4), QStringLiteral("U"));
    EXPECT_EQ(screen->cdsAprovAgrup->recNo(), 1);
    EXPECT_EQ(screen->cdsForneAux->recordCount(), 2);
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 44.0);
    EXPECT_FALSE(screen->cdsAprovAgrup->controlsDisabled());

    // Another title is no reason to forget what is ticked.
    fis::guarded([&] {
        screen->dbgPadraoTitleClick(screen->dbgPadrao->findColumn(QStringLiteral("NRINSJURNF")));
    });
    EXPECT_DOUBLE_EQ(screen->vrTotalGuia, 44.0);
    EXPECT_EQ(screen->stInscForne, QStringLiteral("111"));

    fis::guarded([&] { screen->dbgPadraoTitleClick(tick); });
    for (int row = 1; row <= 4; ++row)
        EXPECT_EQ(flag(row), QStringLiteral("U")) << row;
    EXPECT_EQ(screen->cdsForneAux->recordCount(), 0);
    EXPECT_EQ(screen->vrTotalGuia, 0.0);
    EXPECT_TRUE(screen->stStatusSel.isEmpty());
    EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(Selection, SideRecordOfANameWithoutInvoiceFitsItsField)
{
    loadEntries(
        {{"15", "111", "Cooperativa Agroindustrial dos Produtores Rurais do Vale do Rio Pardo", 1,
          0, 0}});
    click(1);
    EXPECT_TRUE(ui.messages().isEmpty());
    ASSERT_EQ(screen->cdsForneAux->recordCount(), 1);
    EXPECT_EQ(screen->cdsForneAux->fieldByName(QStringLiteral("NRNOTAFISC"))->asString(),
              QStringLiteral("ooperativa Agroindus"));
}

TEST_F(Selection, NothingTogglesWhileTheRowIsEditedOrOutsideTheTickColumn)
{
    loadEntries({{"15", "111", "Alfa: 501", 1, 0, 0}});
    screen->cdsAprovAgrup->edit();
    click(1);
    typeIn(1);
    screen->cdsAprovAgrup->cancel();
    EXPECT_EQ(flag(1), QStringLiteral("U"));
    ASSERT_TRUE(screen->dbgPadrao->setSelectedField(QStringLiteral("VENCIMENTO")));
    click(1);
    EXPECT_EQ(flag(1), QStringLiteral("U"));
    EXPECT_EQ(screen->cdsForneAux->recordCount(), 0);
    ASSERT_TRUE(screen->dbgPadrao->setSelectedField(QStringLiteral("IDCHECK")));
    // Without a view chosen the grid's set is nobody's.
    screen->stOperacao.clear();
    click(1);
    EXPECT_EQ(flag(1), QStringLiteral("U"));
}

TEST_F(Selection, KeyGateLetsOnlyMovesAndErasingThrough)
{
    loadEntries({{"15", "111", "Alfa: 501", 1, 0, 0, QDate(2026, 4, 20), "2100", ""},
                 {"16", "111", "Alfa: 502", 1, 0, 0, QDate(2026, 4, 20), "2100", "E"}});
    const auto gate = [&](quint16 key) {
        screen->dbgPadraoKeyDown(key, Qt::NoModifier);
        return key;
    };
    for (quint16 key : {8, 9, 37, 38, 39, 40, 46})
        EXPECT_EQ(gate(key), key);
    for (quint16 key : {13, 27, 45, 113, 36, 35, 33, 34, 32, 65})
        EXPECT_EQ(gate(key), 0) << key;

    // A document with a guide: erasing drops the pending edit instead.
    screen->cdsAprovAgrup->setRecNo(2);
    screen->cdsAprovAgrup->edit();
    screen->cdsAprovAgrup->fieldByName(QStringLiteral("CDRECEGUIA"))->setAsString("9999");
    EXPECT_EQ(gate(46), 0);
    EXPECT_EQ(screen->cdsAprovAgrup->state(), fis::DataSetState::Browse);
    EXPECT_EQ(screen->cdsAprovAgrup->fieldByName(QStringLiteral("CDRECEGUIA"))->asString(),
              QStringLiteral("2100"));
    EXPECT_EQ(gate(38), 38);
}

} // namespace
