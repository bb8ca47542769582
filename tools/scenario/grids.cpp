// Grids: cells and column titles, by row (from 1) and the field a column shows:
//   cell GRID ROW FIELD [double]          clicks (double-clicks) the cell
//   title GRID FIELD                      clicks the column's title
//   expect cell GRID ROW FIELD "text"     the cell's displayed text
//   expect GRID row N                     the grid's current row (0: none)
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

#include <QApplication>
#include <QHeaderView>
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
    const QModelIndex index = view->model()->index(st.number - 1, column);
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    if (st.flag)
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
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

} // namespace fis::scenario
