// Lookups: the lookup button's sequence, the pick and find windows, and the accounting-integration
// window.
#include "data/abort.h"
#include "data/datalink.h"
#include "data/dataset.h"
#include "data/packet.h"
#include "framework/hostdatabase.h"
#include "framework/lookup.h"
#include "framework/manutencao.h"
#include "framework/tadoibquery.h"
#include "scriptedui.h"
#include "widgets/dbgrid.h"
#include "widgets/maskedit.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace fis;

namespace {

// Companies 01 Alfa, 02 Beta, 03 Gama.
void fillCompanies(ClientDataSet &set)
{
    set.addFields({FieldDef::string("CDEMPRESA", 2).setLabel("Código"),
                   FieldDef::string("NMRAZSOCEMPR", 40).setLabel("Razão Social")});
    set.createDataSet();
    for (const auto &[code, name] :
         {std::pair{"01", "Alfa"}, {"02", "Beta Ltda"}, {"03", "Gama"}}) {
        set.append();
        set.fieldByName("CDEMPRESA")->setAsString(code);
        set.fieldByName("NMRAZSOCEMPR")->setAsString(name);
        set.post();
    }
    set.first();
}

// Runs action on the modal dialog once it is showing.
void whenModal(std::function<void(QDialog *)> action)
{
    QTimer::singleShot(0, [action] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        action(dialog);
        if (dialog->isVisible()) { // never leave a test hanging on a window
            ADD_FAILURE() << "the window is still open";
            dialog->reject();
        }
    });
}

} // namespace

TEST(LookupButtonTest, BeforeHandlerEmptyListPickAndAfterHandler)
{
    test::ScriptedUi ui;
    ClientDataSet set("qryEmpresa");
    DataLink link("dtsEmpresa");
    link.setDataSet(&set);
    TBtnPesquisa button;
    button.SetDataSource(&link);
    button.setTitle("Empresa");
    button.setEmptyError("Não há empresa cadastrada.");
    QStringList steps;
    bool cancel = true;
    button.OnBeforePesq = [&](TBtnPesquisa *sender, bool &c) {
        EXPECT_EQ(sender, &button);
        steps << "before";
        c = cancel;
    };
    button.OnAfterPesq = [&](TBtnPesquisa *) {
        steps << "after:" + set.fieldByName("CDEMPRESA")->asString();
    };

    // 1. The before handler cancels: no list, no message, no after handler.
    button.click();
    EXPECT_EQ(steps, QStringList({"before"}));
    EXPECT_TRUE(ui.pickTitles.isEmpty());
    EXPECT_TRUE(ui.messages.isEmpty());

    // 2. An empty (here closed) set: the button's message, no list.
    cancel = false;
    steps.clear();
    button.click();
    EXPECT_EQ(ui.messageTexts(), QStringList({"Não há empresa cadastrada."}));
    EXPECT_TRUE(ui.pickTitles.isEmpty());
    EXPECT_EQ(steps, QStringList({"before"}));

    // 3. A pick: the picked row is current when the after handler runs.
    fillCompanies(set);
    ui.messages.clear();
    steps.clear();
    ui.pickField = "CDEMPRESA";
    ui.pickValue = QString("02");
    button.click();
    EXPECT_EQ(ui.pickTitles, QStringList({"Empresa"}));
    EXPECT_EQ(steps, QStringList({"before", "after:02"}));
    EXPECT_TRUE(ui.messages.isEmpty());

    // 4. Nothing picked: no after handler.
    steps.clear();
    ui.pickValue = QString("99");
    EXPECT_FALSE(button.execute());
    EXPECT_EQ(steps, QStringList({"before"}));

    // 5. A refusal in the before handler ends the click silently; another error is reported.
    button.OnBeforePesq = [](TBtnPesquisa *, bool &) { throw EAbort{}; };
    button.click();
    EXPECT_TRUE(ui.messages.isEmpty());
    button.OnBeforePesq = [](TBtnPesquisa *, bool &) { throw std::runtime_error("falhou"); };
    button.click();
    EXPECT_EQ(ui.messageTexts(), QStringList({"falhou"}));
    EXPECT_EQ(ui.pickTitles.size(), 2);
}

TEST(LookupButtonTest, AClosedQueryIsOpenedBeforeTheList)
{
    test::ScriptedUi ui;
    const QString connection = QStringLiteral("fwscreens_lookup");
    {
        QSqlDatabase db = HostDatabase::open(QStringLiteral(":memory:"), connection);
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE FILIAL (CDFILIAL TEXT, NMFILIAL TEXT)"));
        ASSERT_TRUE(q.exec("INSERT INTO FILIAL VALUES ('0001', 'Matriz'), ('0002', 'Filial')"));
    }
    {
        TADOIBQuery query("qryFilial");
        query.setConnectionName(connection);
        query.setSQL(QStringLiteral("SELECT CDFILIAL, NMFILIAL FROM FILIAL ORDER BY CDFILIAL"));
        DataLink link;
        link.setDataSet(&query);
        TBtnPesquisa button;
        button.SetDataSource(&link);
        button.setTitle("Filial");
        QString picked;
        button.OnAfterPesq = [&](TBtnPesquisa *) {
            picked = query.FieldByName("NMFILIAL")->asString();
        };
        ui.pickField = "CDFILIAL";
        ui.pickValue = QString("0002");
        EXPECT_TRUE(button.execute());
        EXPECT_TRUE(query.Active());
        EXPECT_EQ(picked, "Filial");

        // A table without rows: the default text when the button has none of its own.
        query.Close();
        query.setSQL(QStringLiteral("SELECT CDFILIAL FROM FILIAL WHERE 1 = 0"));
        EXPECT_FALSE(button.execute());
        EXPECT_EQ(ui.messageTexts(), QStringList({"Não há registros para pesquisar."}));
    }
    HostDatabase::close(connection);
}

TEST(PickDialogTest, SearchMovesPickKeepsAndCancelRestores)
{
    ClientDataSet set("qryEmpresa");
    fillCompanies(set);
    DataLink link;
    link.setDataSet(&set);

    // Typing part of a name in any case moves to the row; Enter in the search line picks it.
    whenModal([](QDialog *dialog) {
        auto *search = dialog->findChild<QLineEdit *>("edtProcura");
        ASSERT_NE(search, nullptr);
        auto *grid = dialog->findChild<DBGrid *>("dbgPesquisa");
        ASSERT_NE(grid, nullptr);
        grid->setSelectedField("NMRAZSOCEMPR");
        QTest::keyClicks(search, "BETA");
        QTest::keyClick(search, Qt::Key_Return);
    });
    EXPECT_TRUE(showPickDialog(&link, "Empresa"));
    EXPECT_EQ(set.fieldByName("CDEMPRESA")->asString(), "02");

    // Moving and then cancelling puts the current row back.
    whenModal([](QDialog *dialog) {
        QTest::keyClicks(dialog->findChild<QLineEdit *>("edtProcura"), "gam");
        dialog->reject();
    });
    EXPECT_FALSE(showPickDialog(&link, "Empresa"));
    EXPECT_EQ(set.fieldByName("CDEMPRESA")->asString(), "02");

    // Nothing to pick from: no window at all.
    ClientDataSet closed;
    DataLink closedLink;
    closedLink.setDataSet(&closed);
    EXPECT_FALSE(showPickDialog(&closedLink, "Empresa"));
    EXPECT_FALSE(Pesquisar(nullptr, "Empresa"));
}

TEST(PickDialogTest, SearchesCodeAndDescriptionAsTypedAndEscapeCloses)
{
    ClientDataSet set("cdsImpostoNfe");
    set.addFields({FieldDef::string("CDIMPOSTONFE", 2).setLabel("Código"),
                   FieldDef::string("SGIMPOSTONFE", 10).setLabel("Sigla")});
    set.createDataSet();
    for (const auto &[code, name] : {std::pair{"01", "INSS"}, {"05", "FUNRURAL"}, {"07", "ISS"}})
        set.appendRecord({code, name});
    set.first();
    DataLink link;
    link.setDataSet(&set);

    // The clerk types at once (the search line has the focus): the description is searched
    // though the code column is the grid's current one; a text no row holds is told and Enter
    // then picks nothing.
    whenModal([&set](QDialog *dialog) {
        auto *search = dialog->findChild<QLineEdit *>("edtProcura");
        auto *notFound = dialog->findChild<QLabel *>("lblNaoEncontrado");
        ASSERT_TRUE(search && notFound);
        EXPECT_EQ(dialog->focusWidget(), search);
        QTest::keyClicks(search, "FUN");
        EXPECT_EQ(set.fieldByName("CDIMPOSTONFE")->asString(), "05");
        EXPECT_FALSE(notFound->isVisible());
        QTest::keyClicks(search, "X");
        EXPECT_TRUE(notFound->isVisible());
        EXPECT_EQ(notFound->text(), "Nenhum item contém \"FUNX\".");
        QTest::keyClick(search, Qt::Key_Return);
        EXPECT_TRUE(dialog->isVisible()) << "nothing found, nothing picked";
        QTest::keyClick(search, Qt::Key_Backspace);
        QTest::keyClick(search, Qt::Key_Return);
    });
    EXPECT_TRUE(showPickDialog(&link, "Imposto"));
    EXPECT_EQ(set.fieldByName("CDIMPOSTONFE")->asString(), "05");

    // By code; then Escape in the list closes the window and puts the row back.
    whenModal([&set](QDialog *dialog) {
        auto *search = dialog->findChild<QLineEdit *>("edtProcura");
        QTest::keyClicks(search, "07");
        EXPECT_EQ(set.fieldByName("SGIMPOSTONFE")->asString(), "ISS");
        auto *grid = dialog->findChild<DBGrid *>("dbgPesquisa");
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Escape);
    });
    EXPECT_FALSE(showPickDialog(&link, "Imposto"));
    EXPECT_EQ(set.fieldByName("CDIMPOSTONFE")->asString(), "05");
}

TEST(FindTest, OffersTheGridsColumnsFromTheCurrentOneAndFindsTheNext)
{
    ClientDataSet set("cdsAprov");
    set.addFields({FieldDef::string("NRINSJURNF", 20).setLabel("Inscrição"),
                   FieldDef::string("NMRAZSOCCLIE", 50).setLabel("Razão Social"),
                   FieldDef::string("NMRAZSOCFORN", 50).setLabel("Razão Social"),
                   FieldDef::floating("VRNOTAFISC").setLabel("Valor NF:").setFormat("#,##0.00")});
    set.createDataSet();
    for (const auto &[reg, name, value] : {std::tuple{"111", "Alfa", 10.0},
                                           {"222", "Beta", 20.0},
                                           {"333", "Gama", 30.0},
                                           {"444", "Beta Dois", 40.0}})
        set.appendRecord({reg, name, QVariant(), value});
    set.first();
    DataLink link;
    link.setDataSet(&set);
    QWidget screen;
    auto *grid = new DBGrid(&screen);
    grid->setDataLink(&link);
    for (const char *field : {"NRINSJURNF", "NMRAZSOCCLIE", "NMRAZSOCFORN", "VRNOTAFISC"})
        grid->addColumn(field);
    grid->findColumn("NMRAZSOCFORN")->setVisible(false);
    grid->findColumn("VRNOTAFISC")->setTitleCaption("Valor");
    screen.show();
    grid->setSelectedField("NMRAZSOCCLIE");

    test::ScriptedUi ui;
    whenModal([](QDialog *dialog) {
        auto *fieldChoice = dialog->findChild<QComboBox *>("cbbCampo");
        QStringList items;
        for (int i = 0; i < fieldChoice->count(); ++i)
            items << fieldChoice->itemText(i);
        EXPECT_EQ(items, QStringList({"Inscrição", "Razão Social", "Valor"}));
        EXPECT_EQ(fieldChoice->currentText(), "Razão Social") << "the grid's current column";
        QTest::keyClicks(dialog->findChild<QLineEdit *>("edtValor"), "beta");
        dialog->findChild<QPushButton *>("btnProcurar")->click();
    });
    EXPECT_TRUE(showFindDialog(&set));
    EXPECT_EQ(set.recNo(), 2);

    // Again: the value is offered, and "Próximo" goes on from the current row.
    whenModal([](QDialog *dialog) {
        EXPECT_EQ(dialog->findChild<QLineEdit *>("edtValor")->text(), "beta");
        dialog->findChild<QPushButton *>("btnProximo")->click();
    });
    EXPECT_TRUE(showFindDialog(&set));
    EXPECT_EQ(set.recNo(), 4);
    whenModal([&ui](QDialog *dialog) {
        dialog->findChild<QPushButton *>("btnProximo")->click();
        EXPECT_EQ(ui.messageTexts(), QStringList({"Nenhum outro registro contém \"beta\"."}));
        dialog->reject();
    });
    EXPECT_FALSE(showFindDialog(&set));
    EXPECT_EQ(set.recNo(), 4);
}

TEST(FindTest, FindsByPartTextRegardlessOfCaseOrLeavesTheRow)
{
    ClientDataSet set;
    fillCompanies(set);
    set.last();
    EXPECT_TRUE(findRow(&set, "NMRAZSOCEMPR", "beta l"));
    EXPECT_EQ(set.recNo(), 2);
    EXPECT_FALSE(findRow(&set, "NMRAZSOCEMPR", "Delta"));
    EXPECT_EQ(set.recNo(), 2);
    EXPECT_FALSE(findRow(&set, "NADA", "Alfa"));
    EXPECT_FALSE(findRow(&set, "NMRAZSOCEMPR", ""));

    test::ScriptedUi ui;
    whenModal([&ui](QDialog *dialog) {
        auto *value = dialog->findChild<QLineEdit *>("edtValor");
        auto *fieldChoice = dialog->findChild<QComboBox *>("cbbCampo");
        ASSERT_EQ(fieldChoice->count(), 2); // the visible fields, by label
        EXPECT_EQ(fieldChoice->itemText(1), "Razão Social");
        fieldChoice->setCurrentIndex(1);
        auto *buttons = dialog->findChild<QDialogButtonBox *>();
        QAbstractButton *find = buttons->buttons().at(0);
        QTest::keyClicks(value, "zzz");
        find->click(); // not found: told, window stays
        EXPECT_EQ(ui.messages.size(), 1);
        value->clear();
        QTest::keyClicks(value, "ALF");
        find->click();
    });
    EXPECT_TRUE(showFindDialog(&set));
    EXPECT_EQ(set.recNo(), 1);
}

namespace {

DataPacket integrationPacket()
{
    ClientDataSet set;
    set.addFields({FieldDef::string("CDCONTA", 10), FieldDef::floating("VRLANCTO")});
    set.createDataSet();
    set.append();
    set.fieldByName("CDCONTA")->setAsString("1.1.01");
    set.fieldByName("VRLANCTO")->setAsFloat(150.0);
    set.post();
    return set.data();
}

QString accountOf(const DataPacket &packet)
{
    ClientDataSet set;
    set.setData(packet);
    return set.fieldByName("CDCONTA")->asString();
}

} // namespace

TEST(IntegrationWindowTest, OkGivesTheEditedPacketCancelGivesNull)
{
    const DataPacket packet = integrationPacket();

    whenModal([](QDialog *dialog) {
        EXPECT_EQ(frmManutIntegra, dialog);
        auto *grid = dialog->findChild<DBGrid *>("dbgManutIntegra");
        ASSERT_NE(grid, nullptr);
        ClientDataSet *set = grid->dataSet();
        EXPECT_THROW(set->append(), EAbort); // corrections only
        EXPECT_THROW(set->deleteRecord(), EAbort);
        EXPECT_EQ(set->recordCount(), 1);
        set->edit();
        set->fieldByName("CDCONTA")->setAsString("2.1.05");
        // Left in edit state: OK posts it.
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    const DataPacket edited = showIntegrationDialog(packet);
    EXPECT_EQ(frmManutIntegra, nullptr);
    ASSERT_FALSE(edited.isNull());
    EXPECT_EQ(accountOf(edited), "2.1.05");

    whenModal([](QDialog *dialog) {
        ClientDataSet *set = dialog->findChild<DBGrid *>("dbgManutIntegra")->dataSet();
        set->edit();
        set->fieldByName("CDCONTA")->setAsString("9.9.99");
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
    });
    EXPECT_TRUE(showIntegrationDialog(packet).isNull());

    // Nothing to show, or a packet that does not decode: no window.
    EXPECT_TRUE(showIntegrationDialog(DataPacket{}).isNull());
    EXPECT_THROW(showIntegrationDialog(DataPacket{QByteArray("\xff\x00garbage", 9)}),
                 std::exception);
}

TEST(IntegrationWindowTest, CriaManutencaoGoesThroughHostUi)
{
    test::ScriptedUi ui;
    const DataPacket packet = integrationPacket();
    EXPECT_TRUE(CriaManutencao(packet).isNull()); // the scripted clerk cancels
    ui.integrationAnswer = [](const DataPacket &in) { return in; };
    EXPECT_EQ(CriaManutencao(packet), packet);
    ASSERT_EQ(ui.integrationPackets.size(), 2);
    EXPECT_EQ(ui.integrationPackets.at(0), packet);
    EXPECT_TRUE(CriaManutencao(DataPacket{}).isNull()); // nothing to correct: not shown
    EXPECT_EQ(ui.integrationPackets.size(), 2);
}
