#include "data/abort.h"
#include "data/datalink.h"
#include "data/dataset.h"
#include "data/packet.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <ctime>

using namespace fis;

namespace {

// A small document set: branch, entry number, tick flag, value, due date.
std::unique_ptr<ClientDataSet> makeDocs(const QString &name = QStringLiteral("cdsDocs"))
{
    auto set = std::make_unique<ClientDataSet>(name);
    set->addField(FieldDef::string(QStringLiteral("CDFILIAL"), 4));
    set->addField(FieldDef::string(QStringLiteral("NRLANCTONF"), 10));
    set->addField(FieldDef::fixed(QStringLiteral("IDCHECK"), 1));
    set->addField(FieldDef::floating(QStringLiteral("VRTOTIMPONF")).setFormat("#,##0.00"));
    set->addField(FieldDef::dateTime(QStringLiteral("VENCIMENTO")));
    return set;
}

const QList<PacketField> kDocFields{{"CDFILIAL", FieldType::String, 4},
                                    {"NRLANCTONF", FieldType::String, 10},
                                    {"IDCHECK", FieldType::FixedString, 1},
                                    {"VRTOTIMPONF", FieldType::Float, 0},
                                    {"VENCIMENTO", FieldType::DateTime, 0}};

DataPacket docsPacket()
{
    const Variant due = makeDate(TDateTime::fromDate(QDate(2026, 12, 20)));
    return buildPacket(kDocFields, {{"0001", "10", "U", 100.0, due},
                                    {"0001", "11", "C", 1234.56, due},
                                    {"0002", "12", "U", 7.5, Variant()},
                                    {"0002", "13", "C", 0.0, due}});
}

QStringList column(ClientDataSet &set, const QString &field)
{
    QStringList out;
    const Bookmark bm = set.bookmark();
    set.disableControls();
    for (set.first(); !set.eof(); set.next())
        out << set.fieldByName(field)->asString();
    if (set.bookmarkValid(bm))
        set.gotoBookmark(bm);
    set.enableControls();
    return out;
}

} // namespace

TEST(DataSetFields, FormatsConvertsAndRefusesMisuse)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    set->setRecNo(2);
    Field *value = set->fieldByName("VRTOTIMPONF");
    EXPECT_EQ(value->displayText(), QStringLiteral("1.234,56"));
    EXPECT_EQ(value->text(), QStringLiteral("1234,56"));
    EXPECT_EQ(set->fieldByName("VENCIMENTO")->asString(), QStringLiteral("20/12/2026"));
    EXPECT_EQ(set->findField("NOPE"), nullptr);
    EXPECT_EQ(set->findField("idcheck")->objectName(), QStringLiteral("cdsDocsIDCHECK"));
    EXPECT_THROW(set->fieldByName("NOPE"), DataSetError);

    // Writing outside edit/insert is refused and changes nothing.
    EXPECT_THROW(set->fieldByName("IDCHECK")->setAsString("U"), DataSetError);
    EXPECT_EQ(set->fieldByName("IDCHECK")->asString(), QStringLiteral("C"));

    set->edit();
    Field *due = set->fieldByName("VENCIMENTO");
    due->setText("01/02/2027");
    EXPECT_EQ(due->asDateTime(), TDateTime::fromDate(QDate(2027, 2, 1)));
    EXPECT_THROW(due->setText("31/02/2027"), DataSetError);
    due->setText("");
    EXPECT_TRUE(due->isNull());
    EXPECT_EQ(due->asDateTime().value, 0.0);
    // What a masked date edit hands over: blanks where no digit was typed.
    due->setText(" 5/ 3/2027");
    EXPECT_EQ(due->asDateTime(), TDateTime::fromDate(QDate(2027, 3, 5)));
    due->setText("  /  /    ");
    EXPECT_TRUE(due->isNull());
    EXPECT_THROW(due->setText("  /03/2027"), DataSetError);
    value->setText("1.000,5");
    EXPECT_DOUBLE_EQ(value->asFloat(), 1000.5);
    EXPECT_THROW(value->setText("abc"), DataSetError);
    set->fieldByName("NRLANCTONF")->setAsString("123456789012345");
    EXPECT_EQ(set->fieldByName("NRLANCTONF")->asString(), QStringLiteral("1234567890"));
    set->cancel();

    // Text handlers run instead of the default conversion, for display and for edit text.
    Field *check = set->fieldByName("IDCHECK");
    check->onGetText = [](Field &f, QString &text, bool display) {
        text = (f.asString() == "C" ? "Sim" : "Não") + QString(display ? "" : "?");
    };
    check->onSetText = [](Field &f, const QString &text) { f.setAsString(text.left(1)); };
    EXPECT_EQ(check->displayText(), QStringLiteral("Sim"));
    EXPECT_EQ(check->text(), QStringLiteral("Sim?"));
    EXPECT_EQ(check->displayTextAt(0), QStringLiteral("Não")); // other row, cursor unmoved
    EXPECT_EQ(set->recNo(), 2);
    set->edit();
    check->setText("Xyz");
    EXPECT_EQ(check->asString(), QStringLiteral("X"));
    set->cancel();

    // Text without a stated size holds 20 characters; fixed text is padded to its size.
    ClientDataSet plain("cdsPlain");
    plain.addField(FieldDef::string("NAME"));
    plain.addField(FieldDef::fixed("CODE", 3));
    plain.createDataSet();
    plain.appendRecord({QString(30, 'x'), "A"});
    EXPECT_EQ(plain.fieldByName("NAME")->asString().size(), 20);
    EXPECT_EQ(plain.fieldByName("CODE")->asString(), QStringLiteral("A  "));
}

TEST(DataSetStates, ClosedSetReadsEmptyAndNavigationIsRefused)
{
    auto set = makeDocs();
    EXPECT_FALSE(set->active());
    EXPECT_TRUE(set->isEmpty());
    EXPECT_EQ(set->recordCount(), 0);
    EXPECT_EQ(set->recNo(), 0);
    EXPECT_TRUE(set->eof());
    EXPECT_EQ(set->fieldByName("CDFILIAL")->asString(), QString());
    EXPECT_EQ(set->fieldByName("VRTOTIMPONF")->asFloat(), 0.0);
    EXPECT_EQ(set->fieldByName("VENCIMENTO")->asDateTime().value, 0.0);
    EXPECT_TRUE(set->fieldByName("VENCIMENTO")->isNull());
    EXPECT_EQ(set->changeCount(), 0);
    EXPECT_TRUE(set->data().isNull());
    EXPECT_THROW(set->next(), DataSetError);
    EXPECT_THROW(set->edit(), DataSetError);

    // After a load and a close the old rows are gone.
    set->setData(docsPacket());
    EXPECT_EQ(set->recordCount(), 4);
    set->close();
    EXPECT_EQ(set->recordCount(), 0);
    EXPECT_EQ(set->fieldByName("NRLANCTONF")->asString(), QString());
}

TEST(DataSetEditing, MovingPostsModifiedRowsAndDropsUnmodifiedOnes)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    int posts = 0, cancels = 0;
    set->afterPost = [&](ClientDataSet &) { ++posts; };
    set->afterCancel = [&](ClientDataSet &) { ++cancels; };

    set->edit(); // row 1, unmodified
    set->next();
    EXPECT_EQ(set->state(), DataSetState::Browse);
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(set->changeCount(), 0);

    set->edit(); // row 2, modified
    set->fieldByName("IDCHECK")->setAsString("U");
    EXPECT_TRUE(set->modified());
    set->next();
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(set->recNo(), 3);
    EXPECT_EQ(set->changeCount(), 1);
    set->prior();
    EXPECT_EQ(set->fieldByName("IDCHECK")->asString(), QStringLiteral("U"));

    // A refusing before-post keeps the edit and the position.
    set->beforePost = [](ClientDataSet &) { throw EAbort(); };
    set->edit();
    set->fieldByName("VRTOTIMPONF")->setAsFloat(1.0);
    EXPECT_THROW(set->next(), EAbort);
    EXPECT_EQ(set->state(), DataSetState::Edit);
    EXPECT_EQ(set->recNo(), 2);
    set->cancel();
    EXPECT_DOUBLE_EQ(set->fieldByName("VRTOTIMPONF")->asFloat(), 1234.56);

    // An inserted row that was never touched disappears when the cursor moves.
    set->beforePost = nullptr;
    set->append();
    EXPECT_EQ(set->recordCount(), 5);
    set->first();
    EXPECT_EQ(set->recordCount(), 4);
    EXPECT_EQ(set->changeCount(), 1);
}

TEST(DataSetEditing, BeforeHandlersAbortAndLeaveTheSetAsItWas)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    set->setRecNo(3);
    DataLink link;
    link.setDataSet(set.get());
    QSignalSpy inserted(&link, &DataLink::rowInserted);
    QSignalSpy states(&link, &DataLink::stateChanged);

    set->beforeInsert = [](ClientDataSet &) { throw EAbort(); };
    EXPECT_THROW(set->append(), EAbort);
    EXPECT_THROW(set->insert(), EAbort);
    EXPECT_EQ(set->recordCount(), 4);
    EXPECT_EQ(set->recNo(), 3);
    EXPECT_EQ(set->state(), DataSetState::Browse);
    EXPECT_EQ(set->changeCount(), 0);
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(states.count(), 0);

    // Editing an empty set becomes an insert, which the same handler refuses.
    set->emptyDataSet();
    EXPECT_THROW(set->edit(), EAbort);
    EXPECT_EQ(set->state(), DataSetState::Browse);

    set->setData(docsPacket());
    set->beforeDelete = [](ClientDataSet &) { throw EAbort(); };
    EXPECT_THROW(set->deleteRecord(), EAbort);
    EXPECT_EQ(set->recordCount(), 4);
    set->beforeEdit = [](ClientDataSet &) { throw EAbort(); };
    EXPECT_THROW(set->edit(), EAbort);
    EXPECT_EQ(set->state(), DataSetState::Browse);

    // A refusing before-open leaves the old content loaded.
    set->beforeOpen = [](ClientDataSet &) { throw EAbort(); };
    EXPECT_THROW(set->setData(buildPacket(kDocFields, {})), EAbort);
    EXPECT_EQ(set->recordCount(), 4);
    EXPECT_TRUE(set->active());
}

TEST(DataSetNavigation, FilterLocateBookmarksAndNestedSuspension)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    DataLink link;
    link.setDataSet(set.get());
    QSignalSpy resets(&link, &DataLink::dataSetChanged);
    QSignalSpy active(&link, &DataLink::activeRowChanged);
    QSignalSpy changed(&link, &DataLink::recordChanged);
    int scrolls = 0;
    set->afterScroll = [&](ClientDataSet &) { ++scrolls; };

    set->setFilter("IDCHECK ='C'");
    EXPECT_EQ(set->recordCount(), 4); // not filtered yet
    set->setFiltered(true);
    EXPECT_EQ(set->recordCount(), 2);
    EXPECT_EQ(column(*set, "NRLANCTONF"), (QStringList{"11", "13"}));

    set->disableControls();
    set->disableControls();
    resets.clear();
    active.clear();
    scrolls = 0;
    EXPECT_TRUE(set->locate("CDFILIAL;NRLANCTONF", {"0002", "13"}));
    const Bookmark thirteen = set->bookmark();
    EXPECT_FALSE(set->locate("CDFILIAL;NRLANCTONF", {"0002", "12"})); // filtered out
    EXPECT_EQ(set->fieldByName("NRLANCTONF")->asString(), QStringLiteral("13"));
    EXPECT_TRUE(set->locate("NRLANCTONF", Variant("1"), LocateOption::PartialKey));
    EXPECT_EQ(set->fieldByName("NRLANCTONF")->asString(), QStringLiteral("11"));
    set->edit();
    set->fieldByName("VRTOTIMPONF")->setAsFloat(5);
    set->post();
    set->gotoBookmark(thirteen);
    EXPECT_EQ(set->recNo(), 2);
    EXPECT_GT(scrolls, 0); // events still run while suspended
    set->enableControls();
    EXPECT_TRUE(set->controlsDisabled());
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(active.count(), 0);
    EXPECT_EQ(changed.count(), 0);
    set->enableControls();
    EXPECT_FALSE(set->controlsDisabled());
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(active.count(), 1);
    EXPECT_EQ(active.last().at(0).toInt(), 1);

    // Unticking the current row hides it; its bookmark still works once the filter is off.
    set->edit();
    set->fieldByName("IDCHECK")->setAsString("U");
    set->post();
    EXPECT_EQ(set->recordCount(), 1);
    EXPECT_FALSE(set->bookmarkValid(thirteen));
    set->setFiltered(false);
    set->gotoBookmark(thirteen);
    EXPECT_EQ(set->fieldByName("NRLANCTONF")->asString(), QStringLiteral("13"));

    // Case-insensitive locate; a deleted row's bookmark is refused with a clear error.
    EXPECT_FALSE(set->locate("IDCHECK", Variant("c")));
    EXPECT_TRUE(set->locate("IDCHECK", Variant("c"), LocateOption::CaseInsensitive));
    EXPECT_EQ(set->fieldByName("NRLANCTONF")->asString(), QStringLiteral("11"));
    set->gotoBookmark(thirteen);
    set->deleteRecord();
    EXPECT_THROW(set->gotoBookmark(thirteen), DataSetError);

    EXPECT_THROW(set->setFilter("IDCHECK = "), DataSetError);
    EXPECT_THROW(set->setFilter("NOPE = 'x'"), DataSetError);
    EXPECT_THROW(set->setFilter("VRTOTIMPONF > 'abc'"), DataSetError);
    EXPECT_EQ(set->filter(), QStringLiteral("IDCHECK ='C'")); // the old one stays
}

TEST(DataSetNavigation, FilterExpressionsCombineAndCompareByType)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    set->setFiltered(true);
    auto count = [&](const QString &expr) {
        set->setFilter(expr);
        return set->recordCount();
    };
    EXPECT_EQ(count("VRTOTIMPONF >= 100 AND NOT (IDCHECK = 'U')"), 1);
    EXPECT_EQ(count("CDFILIAL = '0002' OR VRTOTIMPONF < 50"), 2);
    EXPECT_EQ(count("VENCIMENTO = '20/12/2026'"), 3);
    EXPECT_EQ(count("VENCIMENTO IS NULL"), 1);
    EXPECT_EQ(count("VENCIMENTO > 0 and cdfilial <> '0001'"), 1);
    EXPECT_EQ(count("NRLANCTONF > '11'"), 2);
    EXPECT_EQ(count(""), 4);
}

TEST(DataSetNavigation, EofBofAndMoveBy)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    EXPECT_TRUE(set->bof());
    EXPECT_FALSE(set->eof());
    EXPECT_EQ(set->moveBy(10), 3);
    EXPECT_TRUE(set->eof());
    EXPECT_EQ(set->recNo(), 4);
    set->next();
    EXPECT_EQ(set->recNo(), 4);
    EXPECT_EQ(set->moveBy(-2), -2);
    EXPECT_FALSE(set->eof());
    set->setRecNo(1);
    set->prior();
    EXPECT_TRUE(set->bof());

    // Deleting while walking visits every row once.
    QStringList kept;
    set->first();
    while (!set->eof()) {
        if (set->fieldByName("IDCHECK")->asString() == "C")
            set->deleteRecord();
        else {
            kept << set->fieldByName("NRLANCTONF")->asString();
            set->next();
        }
    }
    EXPECT_EQ(kept, (QStringList{"10", "12"}));
    EXPECT_EQ(set->recordCount(), 2);
}

TEST(DataSetChanges, ChangeCountLogsEveryPostAndDelete)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    EXPECT_EQ(set->changeCount(), 0);
    set->edit();
    set->fieldByName("IDCHECK")->setAsString("C");
    set->post();
    set->edit();
    set->fieldByName("IDCHECK")->setAsString("U");
    set->post(); // the same row again: never merged
    EXPECT_EQ(set->changeCount(), 2);
    set->edit();
    set->cancel();
    EXPECT_EQ(set->changeCount(), 2);
    set->appendRecord({"0003", "20"});
    set->last();
    set->deleteRecord();
    EXPECT_EQ(set->changeCount(), 4);
    set->setData(docsPacket());
    EXPECT_EQ(set->changeCount(), 0);
    set->deleteRecord();
    set->emptyDataSet();
    EXPECT_EQ(set->changeCount(), 0);
    EXPECT_TRUE(set->isEmpty());
    EXPECT_TRUE(set->active());
}

TEST(DataSetIndexes, ActiveIndexOrdersLoadedAndAppendedRows)
{
    ClientDataSet result("cdsResult");
    result.addField(FieldDef::string("CDRESULT", 3));
    result.addField(FieldDef::string("DSRESULT", 250));
    result.addField(FieldDef::string("IDTPRESULT", 2));
    result.addIndex("idxResultado", "IDTPRESULT");
    result.setIndexName("idxResultado");
    result.createDataSet();
    result.appendRecord({"1", "b", "E"});
    result.appendRecord({"2", "a", "A"});
    result.appendRecord({"3", "c", "E"});
    result.appendRecord({"4", "d", "A"});
    EXPECT_EQ(column(result, "CDRESULT"), (QStringList{"2", "4", "1", "3"}));

    // Editing the key moves the row, and the link hears exactly that.
    DataLink link;
    link.setDataSet(&result);
    QSignalSpy moved(&link, &DataLink::rowMoved);
    result.first();
    result.edit();
    result.fieldByName("IDTPRESULT")->setAsString("Z");
    result.post();
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0).at(0).toInt(), 0);
    EXPECT_EQ(moved.at(0).at(1).toInt(), 3);
    EXPECT_EQ(result.recNo(), 4);

    // The order survives a packet load and a re-creation; no index gives load order.
    const DataPacket packet = result.data();
    result.setData(packet);
    EXPECT_EQ(column(result, "CDRESULT"), (QStringList{"4", "1", "3", "2"}));
    result.createDataSet();
    result.appendRecord({"9", "x", "B"});
    result.appendRecord({"8", "y", "A"});
    EXPECT_EQ(column(result, "CDRESULT"), (QStringList{"8", "9"}));
    result.setIndexName("");
    EXPECT_EQ(column(result, "CDRESULT"), (QStringList{"9", "8"}));
    EXPECT_THROW(result.setIndexName("idxNope"), DataSetError);

    result.addIndex("idxDesc", "IDTPRESULT;CDRESULT", IndexOption::Descending);
    result.setIndexName("idxDesc");
    EXPECT_EQ(column(result, "CDRESULT"), (QStringList{"9", "8"}));
}

TEST(DataLinks, NotificationsKeepAModelExact)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    DataLink link;
    QSignalSpy inserted(&link, &DataLink::rowInserted);
    QSignalSpy removed(&link, &DataLink::rowRemoved);
    QSignalSpy changed(&link, &DataLink::recordChanged);
    QSignalSpy resets(&link, &DataLink::dataSetChanged);
    QList<DataSetState> states;
    link.onStateChange = [&](DataLink &l) { states << l.state(); };

    link.setDataSet(set.get());
    EXPECT_EQ(resets.count(), 1);
    ASSERT_EQ(states.size(), 1);
    EXPECT_EQ(states.last(), DataSetState::Browse);
    EXPECT_EQ(link.rowCount(), 4);

    set->setRecNo(2);
    set->insert();
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(0).toInt(), 1);
    EXPECT_EQ(link.rowCount(), 5);
    EXPECT_EQ(states.last(), DataSetState::Insert);
    set->cancel();
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.at(0).at(0).toInt(), 1);
    EXPECT_EQ(set->fieldByName("NRLANCTONF")->asString(), QStringLiteral("11"));
    EXPECT_EQ(states.last(), DataSetState::Browse);

    changed.clear();
    set->edit();
    set->fieldByName("IDCHECK")->setAsString("U");
    EXPECT_EQ(link.rowCount(), 4);
    EXPECT_EQ(set->valueAt(1, 2), Variant("U")); // the edit buffer shows in the grid
    set->post();
    ASSERT_GE(changed.count(), 2);
    EXPECT_EQ(changed.last().at(0).toInt(), 1);

    // Switching the link away tells the views and runs the state handler once more.
    ClientDataSet other("cdsOther");
    states.clear();
    link.setDataSet(&other);
    ASSERT_EQ(states.size(), 1);
    EXPECT_EQ(states.last(), DataSetState::Inactive);
    EXPECT_EQ(link.rowCount(), 0);
    inserted.clear();
    set->append(); // no longer linked: no notification
    EXPECT_EQ(inserted.count(), 0);
    set->cancel();

    // A set that goes away leaves its links detached, not dangling.
    link.setDataSet(set.get());
    set.reset();
    EXPECT_EQ(link.dataSet(), nullptr);
    EXPECT_EQ(link.rowCount(), 0);
}

TEST(DataSetFields, DisplayFormatsInTheBrazilianLocale)
{
    ClientDataSet set("cdsFormats");
    set.addField(FieldDef::floating("MONEY").setFormat("#,##0.00"));
    set.addField(FieldDef::floating("PLAIN"));
    set.addField(FieldDef::floating("RATE").setFormat("0.0##"));
    set.addField(FieldDef::floating("PRICE").setFormat("R$ #,##0.00;(#,##0.00)"));
    set.addField(FieldDef::dateTime("WHEN").setFormat("dd/mm/yyyy hh:nn"));
    set.addField(FieldDef::dateTime("DAY"));
    set.createDataSet();
    const TDateTime when = TDateTime::fromDateTime(QDateTime(QDate(2026, 3, 5), QTime(14, 7)));
    set.appendRecord({1234567.891, 1234.5, 0.5, -1234.5, makeDate(when), makeDate(when)});
    set.appendRecord({-0.001, Variant(), 2.12345, 0.0, Variant(), Variant()});
    auto show = [&](const char *name) { return set.fieldByName(name)->displayText(); };
    set.first();
    EXPECT_EQ(show("MONEY"), QStringLiteral("1.234.567,89"));
    EXPECT_EQ(show("PLAIN"), QStringLiteral("1234,5"));
    EXPECT_EQ(show("RATE"), QStringLiteral("0,5"));
    EXPECT_EQ(show("PRICE"), QStringLiteral("(1.234,50)"));
    EXPECT_EQ(show("WHEN"), QStringLiteral("05/03/2026 14:07"));
    EXPECT_EQ(show("DAY"), QStringLiteral("05/03/2026 14:07:00"));
    set.next();
    EXPECT_EQ(show("MONEY"), QStringLiteral("0,00")); // never "-0,00"
    EXPECT_EQ(show("PLAIN"), QString());              // an empty number shows nothing
    EXPECT_EQ(show("RATE"), QStringLiteral("2,123"));
    EXPECT_EQ(show("PRICE"), QStringLiteral("R$ 0,00"));
    EXPECT_EQ(show("WHEN"), QString());
    EXPECT_EQ(set.fieldByName("WHEN")->asDateTime().value, 0.0);
}

TEST(DataSetFields, DatesReadAsTextWhateverTheLocalZone)
{
    // In this zone the clocks went from 00:00 to 01:00 on 04/11/2018: that midnight never
    // happened there, yet the date is an ordinary due date.
    const QByteArray zone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "America/Sao_Paulo");
    tzset();
    const auto restore = qScopeGuard([&] {
        if (hadZone)
            qputenv("TZ", zone);
        else
            qunsetenv("TZ");
        tzset();
    });

    ClientDataSet set("cdsDates");
    set.addField(FieldDef::dateTime("DAY"));
    set.createDataSet();
    const double day = TDateTime::fromDate(QDate(2018, 11, 4)).value;
    const double msPerDay = 86400000.0;
    set.appendRecord({makeDate(TDateTime(day))});
    set.appendRecord({makeDate(TDateTime(day + 1800000 / msPerDay))});
    set.appendRecord({makeDate(TDateTime(day + 1 - 0.2 / msPerDay))}); // rounds to next midnight
    set.appendRecord({makeDate(TDateTime(day + 0.4 / msPerDay))});     // rounds to midnight
    EXPECT_EQ(column(set, "DAY"),
              QStringList({"04/11/2018", "04/11/2018 00:30:00", "05/11/2018", "04/11/2018"}));
    set.first();
    EXPECT_EQ(set.fieldByName("DAY")->text(), QStringLiteral("04/11/2018"));

    // Shown through a display format too.
    ClientDataSet shown("cdsShownDates");
    shown.addField(FieldDef::dateTime("DAY").setFormat("dd/mm/yyyy"));
    shown.createDataSet();
    shown.appendRecord({makeDate(TDateTime(day))});
    shown.first();
    EXPECT_EQ(shown.fieldByName("DAY")->displayText(), QStringLiteral("04/11/2018"));
}

TEST(DataSetFields, LookupsFollowTheFieldsOfEachLoad)
{
    // A set without fields of its own takes each packet's: a name looked up before a load finds
    // the field of the new packet, wherever it now stands, and a name gone is gone.
    ClientDataSet set("cdsLoads");
    set.setData(buildPacket(
        {{"A", FieldType::String, 4}, {"B", FieldType::String, 4}, {"C", FieldType::String, 4}},
        {{"a1", "b1", "c1"}}));
    EXPECT_EQ(set.fieldByName("c")->asString(), QStringLiteral("c1"));
    EXPECT_EQ(set.fieldByName("B")->asString(), QStringLiteral("b1"));
    set.setData(buildPacket({{"C", FieldType::String, 4}}, {{"c2"}}));
    EXPECT_EQ(set.fieldByName("c")->asString(), QStringLiteral("c2"));
    EXPECT_EQ(set.fieldByName("c")->index(), 0);
    EXPECT_EQ(set.findField("B"), nullptr);

    // Fields defined by hand replace the packet's.
    set.close();
    set.addField(FieldDef::string("B", 4));
    set.addField(FieldDef::string("C", 4));
    set.createDataSet();
    set.appendRecord({"b3", "c3"});
    EXPECT_EQ(set.fieldByName("c")->asString(), QStringLiteral("c3"));
    set.close();
    set.clearFields();
    EXPECT_EQ(set.findField("C"), nullptr);
}

TEST(DataSetEditing, InsertPositionsRequiredFieldsAndNewRecordDefaults)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    set->fieldByName("CDFILIAL")->setRequired(true);

    // A row inserted before the second one keeps that place in the content.
    set->setRecNo(2);
    set->insert();
    set->fieldByName("NRLANCTONF")->setAsString("NEW");
    EXPECT_THROW(set->post(), DataSetError); // required branch missing: still inserting
    EXPECT_EQ(set->state(), DataSetState::Insert);
    set->fieldByName("CDFILIAL")->setAsString("0009");
    set->post();
    EXPECT_EQ(column(*set, "NRLANCTONF"), (QStringList{"10", "NEW", "11", "12", "13"}));
    PacketReader back(set->data());
    EXPECT_EQ(back.row(1).at(1), Variant("NEW"));

    // Cancelling an insert returns to the row that was current.
    set->setRecNo(4);
    set->insert();
    set->fieldByName("NRLANCTONF")->setAsString("GONE");
    set->cancel();
    EXPECT_EQ(set->recNo(), 4);
    EXPECT_EQ(set->fieldByName("NRLANCTONF")->asString(), QStringLiteral("12"));
    set->append();
    set->cancel();
    EXPECT_EQ(set->fieldByName("NRLANCTONF")->asString(), QStringLiteral("12"));

    // Defaults set on a new record do not count as a change; a failing one undoes the insert.
    set->onNewRecord = [](ClientDataSet &s) { s.fieldByName("IDCHECK")->setAsString("U"); };
    set->append();
    EXPECT_FALSE(set->modified());
    EXPECT_EQ(set->fieldByName("IDCHECK")->asString(), QStringLiteral("U"));
    set->cancel();
    set->onNewRecord = [](ClientDataSet &) { throw DataSetError("no"); };
    set->setRecNo(3);
    EXPECT_THROW(set->insert(), DataSetError);
    EXPECT_EQ(set->state(), DataSetState::Browse);
    EXPECT_EQ(set->recordCount(), 5);
    EXPECT_EQ(set->recNo(), 3);

    // A row posted outside the filter leaves the view, and the link hears which one.
    set->onNewRecord = nullptr;
    set->setFilter("IDCHECK = 'C'");
    set->setFiltered(true);
    DataLink link;
    link.setDataSet(set.get());
    QSignalSpy removed(&link, &DataLink::rowRemoved);
    set->append();
    set->fieldByName("CDFILIAL")->setAsString("0001");
    set->fieldByName("IDCHECK")->setAsString("U");
    set->post();
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.at(0).at(0).toInt(), 2);
    EXPECT_EQ(set->recordCount(), 2);
}

TEST(DataSetStates, DefinitionsAndStaleBookmarksAreGuarded)
{
    ClientDataSet bare("cdsBare");
    EXPECT_THROW(bare.createDataSet(), DataSetError);
    EXPECT_THROW(bare.emptyDataSet(), DataSetError);

    auto set = makeDocs();
    set->setData(docsPacket());
    EXPECT_THROW(set->addField(FieldDef::string("OTHER")), DataSetError);
    EXPECT_THROW(set->locate("CDFILIAL;NRLANCTONF", {"0001"}), DataSetError);
    EXPECT_THROW(set->locate("NOPE", Variant("x")), DataSetError);
    EXPECT_THROW(set->locate("VENCIMENTO", Variant("not a date")), DataSetError);
    EXPECT_TRUE(set->locate("VENCIMENTO", Variant(QDate(2026, 12, 20))));
    EXPECT_TRUE(set->locate("VRTOTIMPONF", Variant("7,5")));
    EXPECT_EQ(set->recNo(), 3);

    const Bookmark bm = set->bookmark();
    set->setData(docsPacket()); // same rows, new content: old bookmarks are stale
    EXPECT_FALSE(set->bookmarkValid(bm));
    EXPECT_THROW(set->gotoBookmark(bm), DataSetError);
    EXPECT_THROW(set->gotoBookmark(Bookmark()), DataSetError);

    // A generic set takes each packet's definitions; declared fields never change.
    ClientDataSet generic("cdsGeneric");
    generic.setData(docsPacket());
    EXPECT_EQ(generic.fieldCount(), 5);
    generic.setData(buildPacket({{"X", FieldType::Float, 0}}, {{1.0}}));
    EXPECT_EQ(generic.fieldCount(), 1);
    EXPECT_DOUBLE_EQ(generic.fieldByName("X")->asFloat(), 1.0);
    // An ordered generic set refuses a packet that lacks its key, keeping what it had.
    ClientDataSet ordered("cdsOrdered");
    ordered.addIndex("idxX", "X");
    ordered.setIndexName("idxX");
    ordered.setData(buildPacket({{"X", FieldType::Float, 0}}, {{2.0}, {1.0}}));
    EXPECT_DOUBLE_EQ(ordered.fieldByName("X")->asFloat(), 1.0);
    EXPECT_THROW(ordered.setData(buildPacket({{"Y", FieldType::Float, 0}}, {{3.0}})), DataSetError);
    EXPECT_EQ(ordered.recordCount(), 2);
    EXPECT_DOUBLE_EQ(ordered.fieldByName("X")->asFloat(), 1.0);

    set->setData(buildPacket({{"X", FieldType::Float, 0}}, {{1.0}}));
    EXPECT_EQ(set->fieldCount(), 5);
    EXPECT_EQ(set->recordCount(), 1);
    EXPECT_TRUE(set->fieldByName("CDFILIAL")->isNull());
}

TEST(DataSetNavigation, FilterTextsWithQuotesAndMalformedExpressions)
{
    ClientDataSet set("cdsNames");
    set.addField(FieldDef::string("NAME", 30));
    set.addField(FieldDef::floating("VALUE"));
    set.createDataSet();
    set.appendRecord({"D'Ávila", 1.0});
    set.appendRecord({"Souza", 2.5});
    set.appendRecord({Variant(), Variant()});
    set.setFiltered(true);
    auto count = [&](const QString &expr) {
        set.setFilter(expr);
        return set.recordCount();
    };
    EXPECT_EQ(count("NAME = 'D''Ávila'"), 1);
    EXPECT_EQ(count("NAME = ''"), 1);  // an empty text is the empty field
    EXPECT_EQ(count("VALUE <> 1"), 2); // an empty number differs from every number
    EXPECT_EQ(count("VALUE = 2.5 OR VALUE < 0"), 1);
    EXPECT_EQ(count("((NAME >= 'E')) AND NOT VALUE IS NULL"), 1);
    EXPECT_EQ(count("VALUE IS NOT NULL"), 2);
    for (const char *bad : {"NAME = 'open", "NAME == 'x'", "(NAME = 'x'", "NAME = 'x')", "NAME 'x'",
                            "AND", "NAME = 'x' OR", "VALUE = -", "NAME ~ 'x'"}) {
        EXPECT_THROW(set.setFilter(bad), DataSetError) << bad;
        EXPECT_EQ(set.recordCount(), 2) << bad; // the last good filter still applies
    }
}

TEST(DataLinks, SuspensionHoldsBackRowNotificationsButNotState)
{
    auto set = makeDocs();
    set->setData(docsPacket());
    DataLink link;
    link.setDataSet(set.get());
    QSignalSpy inserted(&link, &DataLink::rowInserted);
    QSignalSpy removed(&link, &DataLink::rowRemoved);
    QSignalSpy resets(&link, &DataLink::dataSetChanged);
    int stateCalls = 0;
    link.onStateChange = [&](DataLink &) { ++stateCalls; };

    set->disableControls();
    set->appendRecord({"0003", "30"});
    set->first();
    set->deleteRecord();
    set->emptyDataSet();
    EXPECT_EQ(inserted.count() + removed.count() + resets.count(), 0);
    EXPECT_EQ(stateCalls, 2); // insert and back to browse
    set->enableControls();
    set->enableControls(); // one too many: harmless
    EXPECT_EQ(resets.count(), 1);
    EXPECT_FALSE(set->controlsDisabled());
}

TEST(DataSetEditing, NewContentWhileARowIsEditedIsReadFromTheContent)
{
    // A reload while the current row is being edited: the views told of the new content read it
    // while they are told, and the edit is dropped.
    auto set = makeDocs();
    set->setData(docsPacket());
    set->edit();
    set->fieldByName("VRTOTIMPONF")->setValue(makeFloat(99.0));
    DataLink link;
    link.setDataSet(set.get());
    QStringList seen;
    QObject::connect(&link, &DataLink::dataSetChanged, [&] {
        seen << set->fieldByName("NRLANCTONF")->asString()
             << set->fieldByName("VRTOTIMPONF")->asString();
    });
    set->setData(buildPacket(kDocFields, {{"0003", "20", "U", 5.0, Variant()}}));
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.mid(0, 2), (QStringList{"20", "5"}));
    EXPECT_EQ(set->state(), DataSetState::Browse);
    EXPECT_FALSE(set->modified());
}
