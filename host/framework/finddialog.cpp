// The find window (F6 in the screens): a choice of column and a value. The columns offered are
// the ones the clerk sees in the grid over the set, by their titles, starting on the grid's
// current column; "Procurar" finds from the top, "Próximo" from the row after the current one.
// The window remembers the column and the value of the last search for the next one.
#include "framework/lookup.h"

#include "data/dataset.h"
#include "widgets/dbgrid.h"
#include "widgets/errorguard.h"
#include "widgets/hostui.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace fis {

namespace {

struct Choice
{
    QString title;
    QString fieldName;
};

// A title as a column heading reads it: no closing colon.
QString cleanTitle(QString title)
{
    title = title.trimmed();
    while (title.endsWith(QLatin1Char(':')))
        title.chop(1);
    return title.trimmed();
}

// The grid the clerk sees the set in: the shown grid over it, the focused one first.
DBGrid *shownGridOf(ClientDataSet *set)
{
    DBGrid *found = nullptr;
    for (QWidget *w : QApplication::allWidgets()) {
        auto *grid = qobject_cast<DBGrid *>(w);
        if (!grid || grid->dataSet() != set || !grid->isVisible())
            continue;
        if (grid->hasFocus() || grid->isAncestorOf(QApplication::focusWidget()))
            return grid;
        found = found ? found : grid;
    }
    return found;
}

// The columns to choose from, each title once, and the index of the current column among them.
QList<Choice> choicesOf(ClientDataSet *set, DBGrid *grid, int *current)
{
    QList<Choice> choices;
    QStringList titles;
    const auto add = [&](const QString &title, const QString &fieldName) {
        const QString clean = cleanTitle(title);
        if (clean.isEmpty() || titles.contains(clean, Qt::CaseInsensitive))
            return;
        titles << clean;
        choices << Choice{clean, fieldName};
    };
    *current = 0;
    if (grid) {
        const QString selected =
            grid->selectedField() ? grid->selectedField()->fieldName() : QString();
        for (GridColumn *column : grid->columns()) {
            if (!column->visible() || !column->field())
                continue;
            if (column->fieldName().compare(selected, Qt::CaseInsensitive) == 0)
                *current = int(choices.size());
            add(column->titleCaption(), column->field()->fieldName());
        }
        *current = qMin(*current, int(choices.size()) - 1);
    }
    if (choices.isEmpty()) {
        for (Field *field : set->fields())
            if (field->visible())
                add(field->displayLabel(), field->fieldName());
    }
    return choices;
}

// The last search, offered again by the next window.
struct LastSearch
{
    QString fieldName;
    QString value;
};
LastSearch &lastSearch()
{
    static LastSearch last;
    return last;
}

} // namespace

bool showFindDialog(ClientDataSet *dataSet, QWidget *parent)
{
    if (!dataSet || !dataSet->active() || dataSet->isEmpty())
        return false;

    int current = 0;
    const QList<Choice> choices = choicesOf(dataSet, shownGridOf(dataSet), &current);

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("frmProcura"));
    dialog.setWindowTitle(QStringLiteral("Procurar"));
    auto *form = new QFormLayout(&dialog);
    auto *fieldChoice = new QComboBox(&dialog);
    fieldChoice->setObjectName(QStringLiteral("cbbCampo"));
    for (const Choice &choice : choices)
        fieldChoice->addItem(choice.title, choice.fieldName);
    fieldChoice->setCurrentIndex(current);
    auto *value = new QLineEdit(&dialog);
    value->setObjectName(QStringLiteral("edtValor"));
    if (const int last = fieldChoice->findData(lastSearch().fieldName);
        last >= 0 && !lastSearch().value.isEmpty() && last == current) {
        value->setText(lastSearch().value);
        value->selectAll();
    }
    form->addRow(QStringLiteral("&Campo:"), fieldChoice);
    form->addRow(QStringLiteral("&Valor:"), value);
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *find =
        buttons->addButton(QStringLiteral("P&rocurar"), QDialogButtonBox::AcceptRole);
    QPushButton *next =
        buttons->addButton(QStringLiteral("Pró&ximo"), QDialogButtonBox::ActionRole);
    buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    find->setObjectName(QStringLiteral("btnProcurar"));
    next->setObjectName(QStringLiteral("btnProximo"));
    find->setDefault(true);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    // From the top, or from the row after the current one.
    const auto search = [&](bool fromNext) {
        guarded([&] {
            const QString wanted = value->text().trimmed();
            if (wanted.isEmpty()) {
                HostUi::instance()->message(MessageKind::Warning,
                                            QStringLiteral("Informe o valor a procurar."), &dialog);
                return;
            }
            const QString fieldName = fieldChoice->currentData().toString();
            lastSearch() = {fieldName, wanted};
            const int first = fromNext ? dataSet->recNo() : 0; // recNo counts from 1
            if (findRow(dataSet, fieldName, wanted, first)) {
                dialog.accept();
                return;
            }
            HostUi::instance()->message(
                MessageKind::Information,
                fromNext ? QStringLiteral("Nenhum outro registro contém \"%1\".").arg(wanted)
                         : QStringLiteral("Nenhum registro contém \"%1\".").arg(wanted),
                &dialog);
        });
    };
    QObject::connect(find, &QPushButton::clicked, &dialog, [&] { search(false); });
    QObject::connect(next, &QPushButton::clicked, &dialog, [&] { search(true); });
    value->setFocus();
    return dialog.exec() == QDialog::Accepted;
}

} // namespace fis
