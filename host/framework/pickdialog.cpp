// The pick window of the lookups: a search line over a grid of the rows. What is typed is looked
// for in every column shown (the code and the description alike), and the first row holding it
// becomes the current one at each key; when no row holds it the window says so, and Enter picks
// nothing until the text is found again.
#include "framework/lookup.h"

#include "data/datalink.h"
#include "data/dataset.h"
#include "widgets/dbgrid.h"
#include "widgets/errorguard.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace fis {

namespace {

// The pick window's grid: Enter picks instead of moving down, Escape closes the window, and a
// character typed goes to the search line.
class PickGrid : public DBGrid
{
public:
    using DBGrid::DBGrid;
    std::function<void()> onPick;
    std::function<void()> onCancel;
    QLineEdit *search = nullptr;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (onPick) {
                onPick();
                return;
            }
            break;
        case Qt::Key_Escape:
            if (onCancel) {
                onCancel();
                return;
            }
            break;
        default:
            if (search && !event->text().isEmpty() && event->text().at(0).isPrint() &&
                !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
                search->setFocus();
                QApplication::sendEvent(search, event);
                return;
            }
        }
        DBGrid::keyPressEvent(event);
    }
};

// The search line: the arrow and page keys move through the rows of the grid.
class SearchLine : public QLineEdit
{
public:
    using QLineEdit::QLineEdit;
    QWidget *rows = nullptr;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            if (rows) {
                QApplication::sendEvent(rows, event);
                return;
            }
            break;
        default:
            break;
        }
        QLineEdit::keyPressEvent(event);
    }
};

// The first row, from the top, where one of the grid's shown columns holds the text (any case).
bool findInShownColumns(DBGrid *grid, ClientDataSet *set, const QString &text)
{
    QList<Field *> fields;
    for (GridColumn *column : grid->columns())
        if (column->visible() && column->field())
            fields << column->field();
    const int rows = set->recordCount();
    for (int row = 0; row < rows; ++row) {
        for (Field *field : std::as_const(fields)) {
            if (field->displayTextAt(row).contains(text, Qt::CaseInsensitive)) {
                set->setRecNo(row + 1);
                return true;
            }
        }
    }
    return false;
}

} // namespace

bool showPickDialog(DataLink *link, const QString &title, QWidget *parent)
{
    ClientDataSet *set = link ? link->dataSet() : nullptr;
    if (!set || !set->active() || set->isEmpty())
        return false;
    const Bookmark start = set->bookmark();

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("frmPesquisa"));
    dialog.setWindowTitle(title.isEmpty() ? QStringLiteral("Pesquisa") : title);
    auto *layout = new QVBoxLayout(&dialog);

    auto *searchRow = new QHBoxLayout;
    auto *searchLabel = new QLabel(QStringLiteral("&Procurar:"), &dialog);
    auto *search = new SearchLine(&dialog);
    search->setObjectName(QStringLiteral("edtProcura"));
    search->setPlaceholderText(QStringLiteral("código ou descrição"));
    searchLabel->setBuddy(search);
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(search, 1);
    layout->addLayout(searchRow);
    auto *notFound = new QLabel(&dialog);
    notFound->setObjectName(QStringLiteral("lblNaoEncontrado"));
    notFound->setStyleSheet(QStringLiteral("QLabel { color: #b00020; }"));
    notFound->hide();
    layout->addWidget(notFound);

    auto *grid = new PickGrid(&dialog);
    grid->setObjectName(QStringLiteral("dbgPesquisa"));
    grid->setDataLink(link);
    grid->setReadOnly(true);
    grid->setOption(GridOption::Editing, false);
    grid->setOption(GridOption::RowSelect, true);
    grid->setOption(GridOption::Tabs, false);
    if (grid->columnCount() == 0)
        for (Field *field : set->fields())
            if (field->visible())
                grid->addColumn(field->fieldName());
    grid->search = search;
    search->rows = grid;
    layout->addWidget(grid, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    grid->onPick = [&dialog] { dialog.accept(); };
    grid->onCancel = [&dialog] { dialog.reject(); };
    QObject::connect(grid, &QAbstractItemView::doubleClicked, &dialog, &QDialog::accept);

    bool found = true; // an empty search line stands for the current row
    QObject::connect(search, &QLineEdit::textChanged, &dialog, [&](const QString &text) {
        guarded([&] {
            const QString wanted = text.trimmed();
            found = wanted.isEmpty() || findInShownColumns(grid, set, wanted);
            notFound->setText(QStringLiteral("Nenhum item contém \"%1\".").arg(wanted));
            notFound->setVisible(!found);
            buttons->button(QDialogButtonBox::Ok)->setEnabled(found);
        });
    });
    QObject::connect(search, &QLineEdit::returnPressed, &dialog, [&] {
        if (found)
            dialog.accept();
    });

    dialog.resize(560, 380);
    search->setFocus();
    const bool picked = dialog.exec() == QDialog::Accepted && set->active() && !set->isEmpty();
    grid->setDataLink(nullptr);
    if (!picked && set->active() && start.isValid() && set->bookmarkValid(start))
        set->gotoBookmark(start);
    return picked;
}

} // namespace fis
