// Grids: cells and column titles, by row (from 1) and the field a column shows:
//   cell GRID ROW FIELD [double]          clicks (double-clicks) the cell
//   title GRID FIELD                      clicks the column's title
//   edit GRID ROW FIELD "text"            clicks the cell, opens its editor with Enter and types
//                                         the text into it (the editor stays open)
//   expect cell GRID ROW FIELD "text"     the cell's displayed text
//   expect GRID row N                     the grid's current row (0: none)
//   expect GRID column FIELD              the field of the grid's selected column
//   expect [no] editor GRID ["text"]      the grid's cell editor is open (and reads the text)
//   expect [no] ellipsis GRID ROW FIELD   the cell shows the edit button (its editor is open)
//   expect [no] mark GRID ROW ["text"]    the row carries the grid's row mark (with that text)
#include "failure.h"
#include "families.h"
#include "finder.h"
#include "host.h"
#include "reader.h"
#include "runner.h"

#if __has_include("widgets/dbgrid.h")
#include "widgets/dbgrid.h"
#define FIS_SCENARIO_HAVE_DBGRID 1
#endif

#include "widgets/maskedit.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

namespace fis::scenario {

namespace {

// The column of the grid that shows the field (a plain table view: the column with that title),
// or -1; *fields lists the columns there are.
int gridColumn(QWidget *gridWidget, const QString &field, QString *fields)
{
    auto *view = qobject_cast<QTableView *>(gridWidget);
    if (!view || !view->model())
        return -1;
#ifdef FIS_SCENARIO_HAVE_DBGRID
    if (auto *grid = qobject_cast<DBGrid *>(gridWidget)) {
        QStringList names;
        for (int i = 0; i < grid->columnCount(); ++i) {
            const QString name = grid->column(i)->fieldName();
            names << name;
            if (name.compare(field, Qt::CaseInsensitive) == 0) {
                if (fields)
                    *fields = names.join(QStringLiteral(", "));
                return i;
            }
        }
        if (fields)
            *fields = names.join(QStringLiteral(", "));
        return -1;
    }
#endif
    // A plain table view: its columns by title.
    QStringList names;
    const int columns = view->model()->columnCount();
    for (int i = 0; i < columns; ++i) {
        const QString title = view->model()->headerData(i, Qt::Horizontal).toString();
        names << title;
        if (title.compare(field, Qt::CaseInsensitive) == 0)
            return i;
    }
    if (fields)
        *fields = names.join(QStringLiteral(", "));
    return -1;
}

// The grid of a cell or title click and the column of the field, visible in an active window.
std::pair<QTableView *, int> gridAndColumn(const Statement &st)
{
    QWidget *w = findWidget(st.target);
    auto *view = qobject_cast<QTableView *>(w);
    if (!view)
        fail(st.target, QStringLiteral("a grid"),
             QString::fromLatin1(w->metaObject()->className()));
    if (!view->isVisible())
        fail(st.target, st.target + QStringLiteral(" visible"), QStringLiteral("hidden"));
    QString fields;
    const int column = gridColumn(view, st.field, &fields);
    if (column < 0)
        fail(st.target, QStringLiteral("a column of field ") + st.field,
             QStringLiteral("columns: ") + fields);
    if (QApplication::activeWindow() != view->window())
        QApplication::setActiveWindow(view->window());
    return {view, column};
}

DBGrid *dataGrid(const QString &name)
{
    QWidget *w = findWidget(name);
    auto *grid = qobject_cast<DBGrid *>(w);
    if (!grid)
        fail(name, QStringLiteral("a data grid"),
             QString::fromLatin1(w->metaObject()->className()));
    return grid;
}

int rowOf(DBGrid *grid, const Statement &st)
{
    const int rows = grid->model()->rowCount();
    if (st.number > rows)
        fail(st.target, QStringLiteral("a row %1").arg(st.number),
             QStringLiteral("the grid has %1 rows").arg(rows));
    return st.number - 1;
}

void clickCell(QTableView *view, int row, int column, bool twice)
{
    const QModelIndex index = view->model()->index(row, column);
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    if (twice)
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
}

// A key press to whatever has the focus now, as the keyboard sends it.
void pressKey(Qt::Key key, const QString &text = QString())
{
    QWidget *receiver = QApplication::focusWidget();
    if (!receiver)
        fail(QStringLiteral("edit"), QStringLiteral("a control with the focus"),
             QStringLiteral("no control has the focus"));
    if (text.isEmpty())
        QTest::keyClick(receiver, key);
    else
        QTest::keyClicks(receiver, text);
}

} // namespace

void parseCell(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Cell;
    st.target = in.word(QStringLiteral("the grid"));
    st.number = in.integer(QStringLiteral("a row number"), 1);
    st.field = in.word(QStringLiteral("the field name"));
    st.flag = in.accept("double");
}

void runCell(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    const auto [view, column] = gridAndColumn(st);
    const int rows = view->model()->rowCount();
    if (st.number > rows)
        fail(st.target, QStringLiteral("a row %1").arg(st.number),
             QStringLiteral("the grid has %1 rows").arg(rows));
    clickCell(view, st.number - 1, column, st.flag);
}

void parseEdit(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Edit;
    st.target = in.word(QStringLiteral("the grid"));
    st.number = in.integer(QStringLiteral("a row number"), 1);
    st.field = in.word(QStringLiteral("the field name"));
    st.text = in.string(QStringLiteral("the text to type"));
}

void runEdit(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    const auto [view, column] = gridAndColumn(st);
    const int rows = view->model()->rowCount();
    if (st.number > rows)
        fail(st.target, QStringLiteral("a row %1").arg(st.number),
             QStringLiteral("the grid has %1 rows").arg(rows));
    const QPersistentModelIndex cell(view->model()->index(st.number - 1, column));
    if (view->currentIndex() != cell || !view->isAncestorOf(QApplication::focusWidget()))
        clickCell(view, st.number - 1, column, false);
    r.settle();
    // Enter opens the editor of the current cell, with its text selected (an editor open
    // already gets its text selected); what is typed then replaces it (nothing typed: Backspace
    // clears it). Keys the screen refuses are refused as they would be for the clerk: the
    // transcript says when no editor opened.
    if (QApplication::focusWidget() == view)
        pressKey(Qt::Key_Return);
    else if (auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget()))
        editor->selectAll();
    r.settle();
    const bool opened = QApplication::focusWidget() != view;
    if (st.text.isEmpty())
        pressKey(Qt::Key_Backspace);
    for (const QChar ch : st.text)
        pressKey(Qt::Key_unknown, QString(ch));
    if (!opened)
        r.note(QStringLiteral("    (no editor opened in %1)").arg(st.target));
}

void parseTitle(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Title;
    st.target = in.word(QStringLiteral("the grid"));
    st.field = in.word(QStringLiteral("the field name"));
}

void runTitle(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    const auto [view, column] = gridAndColumn(st);
    QHeaderView *header = view->horizontalHeader();
    if (!header->isVisible())
        fail(st.target, QStringLiteral("column titles shown"),
             QStringLiteral("the grid shows no titles"));
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void parseExpectCell(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Cell;
    st.target = in.word(QStringLiteral("the grid"));
    st.number = in.integer(QStringLiteral("a row number"), 1);
    st.field = in.word(QStringLiteral("the field name"));
    st.text = in.string(QStringLiteral("the cell's text"));
}

void runExpectCell(Runner &, const Statement &st)
{
    auto *view = qobject_cast<QTableView *>(findWidget(st.target));
    if (!view || !view->model())
        fail(st.target, QStringLiteral("a grid"), QStringLiteral("not a grid"));
    QString fields;
    const int column = gridColumn(view, st.field, &fields);
    if (column < 0)
        fail(st.target, QStringLiteral("a column of field ") + st.field,
             QStringLiteral("columns: ") + fields);
    const int rows = view->model()->rowCount();
    if (st.number > rows)
        fail(st.target, quoted(st.text),
             QStringLiteral("the grid has %1 rows, no row %2").arg(rows).arg(st.number));
    const QString actual =
        view->model()->index(st.number - 1, column).data(Qt::DisplayRole).toString();
    if (actual != st.text)
        fail(st.target, quoted(st.text), quoted(actual));
}

void parseExpectRow(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Row;
    st.number = in.integer(QStringLiteral("a row number"));
}

void runExpectRow(Runner &, const Statement &st)
{
    auto *view = qobject_cast<QAbstractItemView *>(findWidget(st.target));
    if (!view)
        fail(st.target, QStringLiteral("a grid"), QStringLiteral("not a grid"));
    const int row = view->currentIndex().isValid() ? view->currentIndex().row() + 1 : 0;
    if (row != st.number)
        fail(st.target, QStringLiteral("row %1").arg(st.number), QStringLiteral("row %1").arg(row));
}

void parseExpectColumn(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Column;
    st.field = in.word(QStringLiteral("the field name"));
}

void runExpectColumn(Runner &, const Statement &st)
{
    DBGrid *grid = dataGrid(st.target);
    const QString actual = grid->selectedFieldName();
    if (actual.compare(st.field, Qt::CaseInsensitive) != 0)
        fail(st.target, QStringLiteral("column %1 selected").arg(st.field),
             actual.isEmpty() ? QStringLiteral("no column") : QStringLiteral("column ") + actual);
}

void parseExpectEditor(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Editor;
    st.target = in.word(QStringLiteral("the grid"));
    st.expected = in.peekString() ? Expected::exact(in.string(QStringLiteral("the editor's text")))
                                  : Expected{Expected::Kind::Any, Variant(), 0};
}

void parseExpectNoEditor(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Editor;
    st.flag = true;
    st.target = in.word(QStringLiteral("the grid"));
}

void runExpectEditor(Runner &, const Statement &st)
{
    DBGrid *grid = dataGrid(st.target);
    MaskEdit *editor = grid->cellEditor();
    if (st.flag) {
        if (editor)
            fail(st.target, QStringLiteral("no cell editor open"),
                 QStringLiteral("an editor reading \"%1\"").arg(editor->Text()));
        return;
    }
    if (!editor)
        fail(st.target, QStringLiteral("a cell editor open"), QStringLiteral("none"));
    QString found;
    if (!st.expected.matches(Variant(editor->Text()), &found))
        fail(st.target, st.expected.describe(), found);
}

void parseExpectEllipsis(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Ellipsis;
    st.target = in.word(QStringLiteral("the grid"));
    st.number = in.integer(QStringLiteral("a row number"), 1);
    st.field = in.word(QStringLiteral("the field name"));
}

void parseExpectNoEllipsis(ScriptReader &in, Statement &st)
{
    parseExpectEllipsis(in, st);
    st.flag = true;
}

void runExpectEllipsis(Runner &, const Statement &st)
{
    DBGrid *grid = dataGrid(st.target);
    const int row = rowOf(grid, st);
    const int column = grid->columnIndexOf(st.field);
    if (column < 0)
        fail(st.target, QStringLiteral("a column of field ") + st.field, QStringLiteral("none"));
    const bool shown = grid->showsEditButton(row, column);
    if (shown == st.flag)
        fail(st.target,
             QStringLiteral("%1 edit button in row %2, %3")
                 .arg(st.flag ? QStringLiteral("no") : QStringLiteral("the"))
                 .arg(st.number)
                 .arg(st.field),
             shown ? QStringLiteral("the button shown")
             : grid->cellEditor()
                 ? QStringLiteral("an editor without the button, or in another cell")
                 : QStringLiteral("no editor open"));
}

void parseExpectMark(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Mark;
    st.target = in.word(QStringLiteral("the grid"));
    st.number = in.integer(QStringLiteral("a row number"), 1);
    st.expected = in.peekString() ? Expected::exact(in.string(QStringLiteral("the mark's text")))
                                  : Expected{Expected::Kind::Any, Variant(), 0};
}

void parseExpectNoMark(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Mark;
    st.flag = true;
    st.target = in.word(QStringLiteral("the grid"));
    st.number = in.integer(QStringLiteral("a row number"), 1);
}

void runExpectMark(Runner &, const Statement &st)
{
    DBGrid *grid = dataGrid(st.target);
    const QString mark = grid->rowMarkAt(rowOf(grid, st));
    if (st.flag) {
        if (!mark.isEmpty())
            fail(st.target, QStringLiteral("row %1 without a mark").arg(st.number), quoted(mark));
        return;
    }
    if (mark.isEmpty())
        fail(st.target, QStringLiteral("a mark on row %1").arg(st.number), QStringLiteral("none"));
    QString found;
    if (!st.expected.matches(Variant(mark), &found))
        fail(st.target, st.expected.describe(), found);
}

} // namespace fis::scenario
