#include "data/abort.h"
#include "recordingui.h"
#include "widgets/dbgrid.h"
#include "widgets/gridcell.h"
#include "widgets/maskedit.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace fis;

namespace {

class GridTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        set.addFields({
            FieldDef::string("CODE", 4).setReadOnly(true),
            FieldDef::string("NAME", 30).setLabel(QStringLiteral("Razão Social")),
            FieldDef::floating("VALUE").setFormat(QStringLiteral("#,##0.00")),
            FieldDef::dateTime("DT").setEditMask(kDateMask),
        });
        set.createDataSet();
        for (int i = 0; i < 5; ++i) {
            set.appendRecord({QString::number(i + 1), QStringLiteral("Nome %1").arg(i + 1),
                              1234.5 * (i + 1),
                              makeDate(TDateTime::fromDate(QDate(2024, 1, i + 1)))});
        }
        set.first();
        link.setDataSet(&set);

        auto *layout = new QVBoxLayout(&window);
        grid = new DBGrid(&window);
        grid->setObjectName(QStringLiteral("dbgTeste"));
        layout->addWidget(grid);
        other = new QLineEdit(&window);
        layout->addWidget(other);
        for (const char *name : {"CODE", "NAME", "VALUE", "DT", "MISSING"})
            grid->addColumn(QString::fromLatin1(name));
        grid->setDataLink(&link);
        window.resize(700, 300);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        grid->setFocus();
        QApplication::processEvents();
    }

    QRect cellRect(int row, int column) const
    {
        return grid->visualRect(grid->model()->index(row, column));
    }
    void clickCell(int row, int column)
    {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellRect(row, column).center());
    }
    // Lets queued work (editor commits, reopening) run.
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }
    QString shown(int row, int column) const
    {
        return grid->model()->index(row, column).data().toString();
    }

    test::RecordingUi ui;
    ClientDataSet set{QStringLiteral("cdsTeste")};
    DataLink link{QStringLiteral("dtsTeste")};
    QWidget window;
    DBGrid *grid = nullptr;
    QLineEdit *other = nullptr;
};

} // namespace

TEST_F(GridTest, ShowsDisplayTextsTitlesAndEmptyCellsForMissingFields)
{
    EXPECT_EQ(shown(0, 2), QStringLiteral("1.234,50"));
    EXPECT_EQ(shown(1, 3), QStringLiteral("02/01/2024"));
    EXPECT_EQ(shown(0, 4), QString()) << "the set has no such field";
    const auto title = [&](int c) {
        return grid->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    };
    EXPECT_EQ(title(1), QStringLiteral("Razão Social")) << "taken from the field's label";
    grid->column(1)->setTitleCaption(QStringLiteral("Cliente"));
    EXPECT_EQ(title(1), QStringLiteral("Cliente"));
    grid->column(0)->setTitleCaption(QStringLiteral("4"));
    grid->column(0)->setTitleFont(QFont(QStringLiteral("Monotype Sorts")));
    EXPECT_EQ(title(0), QString(QChar(0x2714))) << "the symbol font's check mark";

    set.fieldByName("NAME")->onGetText = [](Field &f, QString &text, bool) {
        text = f.asString().toUpper();
    };
    set.first();
    grid->viewport()->update();
    EXPECT_EQ(shown(0, 1), QStringLiteral("NOME 1"));

    grid->column(2)->setWidth(133);
    grid->column(3)->setVisible(false);
    EXPECT_EQ(grid->columnWidth(2), 133);
    EXPECT_TRUE(grid->isColumnHidden(3));
    EXPECT_EQ(grid->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
}

TEST_F(GridTest, CurrentRowFollowsTheSetBothWays)
{
    clickCell(3, 1);
    EXPECT_EQ(set.recNo(), 4);
    set.setRecNo(2);
    EXPECT_EQ(grid->currentIndex().row(), 1);
    EXPECT_EQ(grid->currentIndex().column(), 1) << "the selected column stays";

    // A set that refuses to leave its row keeps the grid on it.
    set.edit();
    set.fieldByName("NAME")->setAsString(QStringLiteral("alterado"));
    set.beforePost = [](ClientDataSet &) { throw EAbort{}; };
    int clicks = 0;
    grid->onCellClick = [&](GridColumn *) { ++clicks; };
    clickCell(4, 1);
    EXPECT_EQ(set.recNo(), 2);
    EXPECT_EQ(grid->currentIndex().row(), 1);
    EXPECT_EQ(clicks, 0) << "a refused move is not a cell click";
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(GridTest, TitleAndCellClicksReportTheirColumn)
{
    QList<int> titles, cells;
    grid->onTitleClick = [&](GridColumn *c) { titles << c->index(); };
    grid->onCellClick = [&](GridColumn *c) {
        cells << c->index();
        EXPECT_EQ(set.recNo(), 3) << "the clicked row is current when the handler runs";
    };
    QHeaderView *header = grid->horizontalHeader();
    const int x = header->sectionViewportPosition(2) + header->sectionSize(2) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    EXPECT_EQ(titles, QList<int>{2});
    EXPECT_EQ(set.recNo(), 1) << "a title click moves nothing";
    EXPECT_EQ(grid->selectedIndex(), 0);

    clickCell(2, 1);
    EXPECT_EQ(cells, QList<int>{1});
}

TEST_F(GridTest, KeyDownAndKeyPressCanDiscardIndependently)
{
    QList<quint16> keys;
    QList<QChar> chars;
    grid->onKeyDown = [&](quint16 &key, Qt::KeyboardModifiers) {
        keys << key;
        if (key == 40 || key == 34 || key == 113)
            key = 0;
    };
    grid->onKeyPress = [&](QChar &ch) {
        chars << ch;
        if (ch == QLatin1Char('x'))
            ch = QChar();
    };
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_PageDown);
    EXPECT_EQ(set.recNo(), 1) << "Down and PgDn were discarded";
    QTest::keyClick(grid, Qt::Key_Right);
    EXPECT_EQ(grid->selectedIndex(), 1);
    QTest::keyClick(grid, Qt::Key_F2);
    QTest::keyClick(grid, Qt::Key_Escape);
    QTest::keyClick(grid, Qt::Key_X);
    EXPECT_EQ(grid->cellEditor(), nullptr) << "the discarded character opens no editor";
    EXPECT_EQ(keys, (QList<quint16>{40, 34, 39, 113, 27, 88}));
    EXPECT_EQ(chars, (QList<QChar>{QChar(27), QLatin1Char('x')}));

    // The character still arrives after its key was discarded, and types into the cell.
    grid->onKeyDown = [](quint16 &key, Qt::KeyboardModifiers) { key = 0; };
    QTest::keyClick(grid, Qt::Key_A);
    ASSERT_NE(grid->cellEditor(), nullptr);
    EXPECT_EQ(grid->cellEditor()->text(), QStringLiteral("a"));
}

TEST_F(GridTest, KeyFiltersApplyInsideTheCellEditor)
{
    grid->setSelectedIndex(1);
    grid->onKeyPress = [](QChar &ch) {
        if (!ch.isDigit() && ch != QChar(8) && ch != QChar(13))
            ch = QChar();
    };
    QTest::keyClick(grid, Qt::Key_1);
    ASSERT_NE(grid->cellEditor(), nullptr);
    QTest::keyClicks(grid->cellEditor(), QStringLiteral("2a3"));
    EXPECT_EQ(grid->cellEditor()->text(), QStringLiteral("123"));
    QTest::keyClick(grid->cellEditor(), Qt::Key_Return);
    settle(); // the editor commits after the key
    EXPECT_EQ(set.fieldByName("NAME")->asString(), QStringLiteral("123"));
    EXPECT_EQ(set.state(), DataSetState::Edit) << "the row is posted when it is left";
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(set.state(), DataSetState::Browse);
    EXPECT_EQ(set.recNo(), 2);
    set.first();
    EXPECT_EQ(set.fieldByName("NAME")->asString(), QStringLiteral("123"));
}

TEST_F(GridTest, ColumnExitSeesTheColumnBeingLeftAndMayRefuse)
{
    QStringList events;
    grid->onColExit = [&] { events << "exit:" + grid->selectedField()->fieldName(); };
    grid->onColEnter = [&] { events << "enter:" + grid->selectedField()->fieldName(); };
    QTest::keyClick(grid, Qt::Key_Right);
    clickCell(0, 3);
    EXPECT_EQ(events, (QStringList{"exit:CODE", "enter:NAME", "exit:NAME", "enter:DT"}));

    events.clear();
    grid->onColExit = [&] {
        events << "refused";
        throw EAbort{};
    };
    QTest::keyClick(grid, Qt::Key_Left);
    EXPECT_EQ(grid->selectedIndex(), 3);
    EXPECT_EQ(grid->currentIndex().column(), 3);
    EXPECT_FALSE(grid->setSelectedIndex(0));
    EXPECT_EQ(events, (QStringList{"refused", "refused"}));
}

TEST_F(GridTest, DrawHandlerPaintsOverEveryVisibleCell)
{
    grid->column(4)->setVisible(false);
    QSet<QPair<int, int>> drawn;
    grid->onDrawColumnCell = [&](QPainter &p, const QRect &rect, GridColumn *column,
                                 const GridDrawState &state) {
        drawn.insert({state.row, column->index()});
        if (column->fieldName() == QLatin1String("VALUE"))
            p.fillRect(rect, Qt::red);
    };
    const QImage image = grid->viewport()->grab().toImage();
    for (int row = 0; row < 5; ++row) {
        for (int column = 0; column < 4; ++column)
            EXPECT_TRUE(drawn.contains({row, column})) << row << "," << column;
        EXPECT_FALSE(drawn.contains({row, 4})) << "hidden columns are not drawn";
    }
    EXPECT_EQ(image.pixelColor(cellRect(1, 2).center()), QColor(Qt::red))
        << "the handler draws after the default text";

    // A failing handler is told once, not once per cell.
    grid->onDrawColumnCell = [](QPainter &, const QRect &, GridColumn *, const GridDrawState &) {
        throw std::runtime_error("falha ao desenhar");
    };
    grid->viewport()->grab();
    grid->viewport()->grab();
    QApplication::processEvents();
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].second, QStringLiteral("falha ao desenhar"));
}

// A cell of plain text is drawn without the style's own path: it must look exactly as the
// style draws it, text short or cut, aligned either way, selected or not, focused, disabled.
TEST_F(GridTest, PlainCellsLookExactlyAsTheStyleDrawsThem)
{
    set.edit();
    set.fieldByName(QStringLiteral("NAME"))
        ->setAsString(QStringLiteral("Comércio de Máquinas Agrícolas do Vale Ltda - filial"));
    set.post();
    set.next();
    set.edit();
    set.fieldByName(QStringLiteral("NAME"))->setAsString(QString());
    set.post();
    grid->column(1)->setWidth(120);
    const auto both = [&](const char *what) {
        detail::setPlainCellPainting(false);
        const QImage styled = grid->viewport()->grab().toImage();
        detail::setPlainCellPainting(true);
        const QImage quick = grid->viewport()->grab().toImage();
        EXPECT_EQ(quick, styled) << what;
    };
    both("selected row, focused cell");
    grid->setOption(GridOption::RowSelect, true);
    both("whole row selected");
    other->setFocus();
    QApplication::processEvents();
    both("grid without focus");
    grid->setEnabled(false);
    both("disabled");
    grid->setEnabled(true);
    for (const Qt::Alignment a : std::initializer_list<Qt::Alignment>{
             Qt::AlignRight, Qt::AlignRight | Qt::AlignBottom, Qt::AlignHCenter | Qt::AlignTop,
             Qt::AlignHCenter | Qt::AlignVCenter}) {
        for (int column = 0; column < 4; ++column)
            grid->column(column)->setAlignment(a);
        both("aligned");
    }
    grid->setColumnWidth(1, 70); // as the clerk may: the names no longer fit
    both("cut short");

    // Not every cell can go the quick way; those that can are not left to the style.
    QImage image(120, 20, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    QStyleOptionViewItem cell;
    cell.initFrom(grid);
    cell.widget = grid;
    cell.rect = image.rect();
    cell.features = QStyleOptionViewItem::HasDisplay;
    cell.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    cell.text = QStringLiteral("curto");
    EXPECT_TRUE(paintPlainCell(&painter, cell));
    cell.text = QString(80, u'x');
    EXPECT_FALSE(paintPlainCell(&painter, cell)) << "cut with an ellipsis by the style";
    cell.text = QStringLiteral("duas") + QChar::LineSeparator + QStringLiteral("linhas");
    EXPECT_FALSE(paintPlainCell(&painter, cell));
    cell.text = QStringLiteral("curto");
    cell.features |= QStyleOptionViewItem::HasDecoration;
    EXPECT_FALSE(paintPlainCell(&painter, cell));
}

TEST_F(GridTest, NewRowsGoThroughTheSetsInsertEvents)
{
    int refusals = 0;
    set.beforeInsert = [&](ClientDataSet &) {
        ++refusals;
        throw EAbort{};
    };
    set.last();
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Insert);
    EXPECT_EQ(refusals, 2);
    EXPECT_EQ(set.recordCount(), 5);
    EXPECT_EQ(set.state(), DataSetState::Browse);
    EXPECT_EQ(grid->model()->rowCount(), 5);
    EXPECT_TRUE(ui.messages.isEmpty()) << "the silent abort shows nothing";

    set.beforeInsert = nullptr;
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(set.state(), DataSetState::Insert);
    EXPECT_EQ(grid->model()->rowCount(), 6);
    EXPECT_EQ(grid->currentIndex().row(), 5);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(set.recordCount(), 6) << "no second row below an untouched one";

    // Leaving the grid drops the untouched row.
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(set.state(), DataSetState::Browse);
    EXPECT_EQ(set.recordCount(), 5);
    EXPECT_EQ(grid->model()->rowCount(), 5);

    // What was typed is never dropped by leaving the grid.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    set.fieldByName("NAME")->setAsString(QStringLiteral("digitado"));
    set.first();
    set.edit();
    set.fieldByName("NAME")->setAsString(QStringLiteral("alterado"));
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(set.state(), DataSetState::Edit);
    EXPECT_EQ(set.fieldByName("NAME")->asString(), QStringLiteral("alterado"));
    set.post();
    EXPECT_EQ(set.recordCount(), 6);
    set.last();
    EXPECT_EQ(set.fieldByName("NAME")->asString(), QStringLiteral("digitado"));

    grid->setOption(GridOption::Editing, false);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Insert);
    EXPECT_EQ(set.recordCount(), 6) << "no new rows without in-place editing";
}

TEST_F(GridTest, SuspendedUpdatesRepaintOnceAtTheEnd)
{
    QApplication::processEvents();
    const int before = grid->paintCount();
    set.disableControls();
    for (set.first(); !set.eof(); set.next()) {
        set.edit();
        set.fieldByName("NAME")->setAsString(QStringLiteral("novo"));
        set.post();
        QApplication::processEvents();
    }
    set.first();
    QApplication::processEvents();
    EXPECT_EQ(grid->paintCount(), before) << "no repaint while suspended";
    set.enableControls();
    QApplication::processEvents();
    EXPECT_EQ(grid->paintCount(), before + 1);
    EXPECT_EQ(shown(4, 1), QStringLiteral("novo"));
    EXPECT_EQ(grid->currentIndex().row(), 0);
}

TEST_F(GridTest, EditingRespectsReadOnlyAndKeepsARefusedText)
{
    QTest::keyClick(grid, Qt::Key_7);
    EXPECT_EQ(grid->cellEditor(), nullptr) << "read-only field";
    grid->setSelectedIndex(1);
    grid->column(1)->setReadOnly(true);
    QTest::keyClick(grid, Qt::Key_7);
    EXPECT_EQ(grid->cellEditor(), nullptr) << "read-only column";
    EXPECT_EQ(set.state(), DataSetState::Browse);

    grid->setSelectedIndex(3);
    QTest::keyClick(grid, Qt::Key_F2);
    ASSERT_NE(grid->cellEditor(), nullptr);
    EXPECT_EQ(grid->cellEditor()->editMask(), kDateMask) << "the field's edit mask";
    grid->cellEditor()->selectAll();
    QTest::keyClicks(grid->cellEditor(), QStringLiteral("99999999"));
    QTest::keyClick(grid->cellEditor(), Qt::Key_Return);
    settle();
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].first, MessageKind::Error);
    ASSERT_NE(grid->cellEditor(), nullptr) << "the editor is back";
    EXPECT_EQ(grid->cellEditor()->Text(), QStringLiteral("99/99/9999")) << "nothing typed lost";
    EXPECT_EQ(set.fieldByName("DT")->asDateTime(), TDateTime::fromDate(QDate(2024, 1, 1)));

    grid->cellEditor()->selectAll();
    QTest::keyClicks(grid->cellEditor(), QStringLiteral("15032024"));
    QTest::keyClick(grid->cellEditor(), Qt::Key_Return);
    settle();
    EXPECT_EQ(set.fieldByName("DT")->asDateTime(), TDateTime::fromDate(QDate(2024, 3, 15)));
}

TEST_F(GridTest, EditButtonAndFocusEvents)
{
    int buttonClicks = 0, exits = 0, enters = 0;
    grid->onEditButtonClick = [&] { ++buttonClicks; };
    grid->onExit = [&] { ++exits; };
    grid->onEnter = [&] { ++enters; };
    grid->setSelectedIndex(1);
    grid->column(1)->setButtonStyle(ColumnButtonStyle::Ellipsis);
    QTest::keyClick(grid, Qt::Key_F2);
    ASSERT_NE(grid->cellEditor(), nullptr);
    QApplication::processEvents();
    EXPECT_EQ(exits, 0) << "the cell editor is part of the grid";
    auto *button = grid->cellEditor()->findChild<QAction *>(QStringLiteral("actEditButton"));
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isVisible());
    button->trigger();
    QTest::keyClick(grid->cellEditor(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(buttonClicks, 2);
    grid->column(1)->setButtonStyle(ColumnButtonStyle::Auto);
    EXPECT_FALSE(button->isVisible());

    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(exits, 1);
    grid->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(enters, 1);
}

TEST(GridKeys, QtKeysMapToVirtualKeyNumbers)
{
    const QList<QPair<Qt::Key, int>> table = {
        {Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9},     {Qt::Key_Return, 13}, {Qt::Key_Escape, 27},
        {Qt::Key_PageUp, 33},   {Qt::Key_End, 35},    {Qt::Key_Home, 36},   {Qt::Key_Left, 37},
        {Qt::Key_Down, 40},     {Qt::Key_Insert, 45}, {Qt::Key_Delete, 46}, {Qt::Key_F2, 113},
        {Qt::Key_A, 65},        {Qt::Key_5, 53},
    };
    for (const auto &[key, vk] : table) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        EXPECT_EQ(virtualKeyOf(&event), vk) << key;
    }
    QKeyEvent keypad(QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier, QStringLiteral("5"));
    EXPECT_EQ(virtualKeyOf(&keypad), 101);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(127)));
    EXPECT_TRUE(typedCharOf(&del).isNull()) << "Delete types nothing";
}

TEST_F(GridTest, FollowsDeletesViewSwitchesAndAnotherSet)
{
    QStringList columnEvents;
    grid->onColExit = [&] { columnEvents << "exit"; };
    grid->onColEnter = [&] { columnEvents << "enter"; };

    // Ctrl+Delete asks first; a "no" keeps the row.
    set.setRecNo(3);
    ui.confirmAnswer = false;
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(set.recordCount(), 5);
    ui.confirmAnswer = true;
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(ui.messages.size(), 2);
    EXPECT_EQ(ui.messages[0].first, MessageKind::Confirmation);
    EXPECT_EQ(set.recordCount(), 4);
    EXPECT_EQ(grid->model()->rowCount(), 4);
    EXPECT_EQ(grid->currentIndex().row(), set.currentRow());
    EXPECT_EQ(shown(2, 1), QStringLiteral("Nome 4"));

    // The set deleting its last row while it is current: the grid moves with it, not back.
    set.last();
    set.deleteRecord();
    EXPECT_EQ(set.recNo(), 3);
    EXPECT_EQ(grid->currentIndex().row(), 2);

    // Hiding the selected column (a view switch) is not a column change for the handlers.
    grid->setSelectedIndex(1);
    columnEvents.clear();
    grid->column(1)->setVisible(false);
    EXPECT_TRUE(columnEvents.isEmpty());
    EXPECT_EQ(grid->selectedIndex(), 0);

    // Pointing the link at another set shows that set; its missing fields show empty.
    ClientDataSet other(QStringLiteral("cdsOutro"));
    other.addFields({FieldDef::string("NAME", 10), FieldDef::floating("EXTRA")});
    other.createDataSet();
    other.appendRecord({QStringLiteral("único")});
    link.setDataSet(&other);
    EXPECT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(shown(0, 1), QStringLiteral("único"));
    EXPECT_EQ(shown(0, 2), QString());
    link.setDataSet(nullptr);
    EXPECT_EQ(grid->model()->rowCount(), 0);
    EXPECT_EQ(grid->selectedField(), nullptr);
}

TEST_F(GridTest, ColumnsFitTitlesAndTheFirstRowsAndTheLastTakesTheRest)
{
    ClientDataSet wide{QStringLiteral("cdsLargo")};
    wide.addFields({
        FieldDef::string("CDFILIAL", 4).setLabel(QStringLiteral("Filial")),
        FieldDef::string("NMRAZSOC", 50).setLabel(QStringLiteral("Razão Social")),
        FieldDef::floating("VRNOTAFISC").setFormat(QStringLiteral("#,##0.00")),
        FieldDef::dateTime("DTEMISSAO").setEditMask(kDateMask),
        FieldDef::string("NRNOTAFISC", 20).setLabel(QStringLiteral("Nº NF")),
    });
    wide.createDataSet();
    for (int i = 0; i < 1000; ++i) {
        // Far down the list, a name no column should grow for: only the first rows count.
        const QString name = i == 900 ? QString(50, QLatin1Char('W')) : QStringLiteral("Ana");
        wide.appendRecord({QStringLiteral("0001"), name, 25971.0 + i,
                           makeDate(TDateTime::fromDate(QDate(2025, 12, 1))), QStringLiteral("7")});
    }
    wide.first();
    DataLink wideLink{QStringLiteral("dtsLargo")};
    wideLink.setDataSet(&wide);
    DBGrid fitted(&window);
    for (const char *name : {"CDFILIAL", "NMRAZSOC", "VRNOTAFISC", "DTEMISSAO", "NRNOTAFISC"})
        fitted.addColumn(QString::fromLatin1(name));
    fitted.column(0)->setWidth(90); // a width given for a column is kept as its least
    fitted.setDataLink(&wideLink);
    fitted.resize(900, 300);
    fitted.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fitted));

    const QFontMetrics metrics = fitted.fontMetrics();
    const auto needs = [&](int column, const QString &text) {
        return metrics.horizontalAdvance(text) <= fitted.columnWidth(column) - 6;
    };
    EXPECT_GE(fitted.columnWidth(0), 90);
    EXPECT_TRUE(needs(2, QStringLiteral("26.970,00"))) << "values are not cut";
    EXPECT_TRUE(needs(3, QStringLiteral("01/12/2025"))) << "dates are not cut";
    EXPECT_TRUE(needs(4, QStringLiteral("Nº NF"))) << "titles are not cut";
    EXPECT_LT(fitted.columnWidth(1), metrics.horizontalAdvance(QString(50, QLatin1Char('W'))))
        << "a name far down the list is not measured";
    EXPECT_LT(fitted.columnWidth(1), metrics.horizontalAdvance(QString(20, QLatin1Char('0'))))
        << "the size a name is declared with does not make its column wide";

    // The last column reaches the grid's right edge.
    const int right = fitted.columnViewportPosition(4) + fitted.columnWidth(4);
    EXPECT_EQ(right, fitted.viewport()->width());

    // Built while not on screen, it placed its titles and scroll bar when shown.
    const QHeaderView *titles = fitted.horizontalHeader();
    EXPECT_GT(titles->height(), 0);
    EXPECT_GT(fitted.viewport()->geometry().top(), titles->geometry().top());
    EXPECT_EQ(fitted.verticalScrollBar()->maximum(),
              1000 - fitted.viewport()->height() / fitted.rowHeight());
    // And again when shown back, its size unchanged, with a column added meanwhile.
    EXPECT_EQ(fitted.horizontalScrollBar()->maximum(), 0);
    fitted.hide();
    fitted.addColumn(QStringLiteral("NMRAZSOC"))->setWidth(2000);
    fitted.show();
    EXPECT_GT(fitted.horizontalScrollBar()->maximum(), 1000);
}
