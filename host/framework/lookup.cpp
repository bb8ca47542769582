#include "framework/lookup.h"

#include "data/datalink.h"
#include "data/dataset.h"
#include "framework/defaulthostui.h"
#include "framework/tadoibquery.h"
#include "widgets/dbgrid.h"
#include "widgets/errorguard.h"
#include "widgets/hostui.h"
#include "widgets/maskedit.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace fis {

namespace {

// The pick window's grid: Enter picks instead of moving down.
class PickGrid : public DBGrid
{
public:
    using DBGrid::DBGrid;
    std::function<void()> onPick;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && onPick) {
            onPick();
            return;
        }
        DBGrid::keyPressEvent(event);
    }
};

// The first visible field of the set, used by the pick window's search line.
Field *firstVisibleField(ClientDataSet *set)
{
    for (Field *field : set->fields())
        if (field->visible())
            return field;
    return nullptr;
}

} // namespace

bool findRow(ClientDataSet *dataSet, const QString &fieldName, const QString &value)
{
    if (!dataSet || !dataSet->active() || value.isEmpty())
        return false;
    Field *field = dataSet->findField(fieldName);
    if (!field)
        return false;
    const int rows = dataSet->recordCount();
    for (int row = 0; row < rows; ++row) {
        if (field->displayTextAt(row).contains(value, Qt::CaseInsensitive)) {
            dataSet->setRecNo(row + 1);
            return true;
        }
    }
    return false;
}

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
    auto *searchLabel = new QLabel(QStringLiteral("Procurar:"), &dialog);
    auto *search = new QLineEdit(&dialog);
    search->setObjectName(QStringLiteral("edtProcura"));
    searchLabel->setBuddy(search);
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(search, 1);
    layout->addLayout(searchRow);

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
    layout->addWidget(grid, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    grid->onPick = [&dialog] { dialog.accept(); };
    QObject::connect(grid, &QAbstractItemView::doubleClicked, &dialog, &QDialog::accept);

    // Typing in the search line moves to the first row whose chosen (or first visible) column
    // contains the text.
    QObject::connect(search, &QLineEdit::textEdited, &dialog, [set, grid](const QString &text) {
        guarded([&] {
            Field *field = grid->selectedField();
            if (!field)
                field = firstVisibleField(set);
            if (field)
                findRow(set, field->fieldName(), text);
        });
    });
    QObject::connect(search, &QLineEdit::returnPressed, &dialog, &QDialog::accept);

    dialog.resize(560, 380);
    grid->setFocus();
    const bool picked = dialog.exec() == QDialog::Accepted && set->active() && !set->isEmpty();
    grid->setDataLink(nullptr);
    if (!picked && set->active() && start.isValid() && set->bookmarkValid(start))
        set->gotoBookmark(start);
    return picked;
}

bool showFindDialog(ClientDataSet *dataSet, QWidget *parent)
{
    if (!dataSet || !dataSet->active() || dataSet->isEmpty())
        return false;

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("frmProcura"));
    dialog.setWindowTitle(QStringLiteral("Procurar"));
    auto *form = new QFormLayout(&dialog);
    auto *fieldChoice = new QComboBox(&dialog);
    fieldChoice->setObjectName(QStringLiteral("cbbCampo"));
    for (Field *field : dataSet->fields())
        if (field->visible())
            fieldChoice->addItem(field->displayLabel(), field->fieldName());
    auto *value = new QLineEdit(&dialog);
    value->setObjectName(QStringLiteral("edtValor"));
    form->addRow(QStringLiteral("Campo:"), fieldChoice);
    form->addRow(QStringLiteral("Valor:"), value);
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *find =
        buttons->addButton(QStringLiteral("Procurar"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    find->setDefault(true);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        guarded([&] {
            if (value->text().trimmed().isEmpty()) {
                HostUi::instance()->message(MessageKind::Warning,
                                            QStringLiteral("Informe o valor a procurar."), &dialog);
                return;
            }
            if (findRow(dataSet, fieldChoice->currentData().toString(), value->text().trimmed()))
                dialog.accept();
            else
                HostUi::instance()->message(
                    MessageKind::Information,
                    QStringLiteral("Nenhum registro contém \"%1\".").arg(value->text().trimmed()),
                    &dialog);
        });
    });
    value->setFocus();
    return dialog.exec() == QDialog::Accepted;
}

namespace {

// The default HostUi opens the windows of this file.
const bool hooksInstalled = [] {
    DefaultHostUi::Hooks &hooks = DefaultHostUi::hooks();
    hooks.pick = [](DataLink *link, const QString &title, QWidget *parent) {
        return showPickDialog(link, title, parent);
    };
    hooks.find = [](ClientDataSet *set, QWidget *parent) { return showFindDialog(set, parent); };
    return true;
}();

} // namespace

} // namespace fis

bool Pesquisar(fis::DataLink *link, const QString &title, bool, bool, QWidget *parent)
{
    if (!link)
        return false;
    return fis::HostUi::instance()->pick(link, title, parent);
}

bool Procura(fis::ClientDataSet *dataSet, QWidget *parent)
{
    if (!dataSet)
        return false;
    return fis::HostUi::instance()->find(dataSet, parent);
}

TBtnPesquisa::TBtnPesquisa(QWidget *parent) : QToolButton(parent)
{
    setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    setToolTip(QStringLiteral("Pesquisar"));
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QToolButton::clicked, this, [this] { fis::guarded([this] { execute(); }); });
}

bool TBtnPesquisa::execute()
{
    bool cancel = false;
    if (OnBeforePesq)
        OnBeforePesq(this, cancel);
    if (cancel)
        return false;

    fis::ClientDataSet *set = m_link ? m_link->dataSet() : nullptr;
    if (set && !set->active())
        if (auto *query = qobject_cast<TADOIBQuery *>(set))
            query->Open();
    if (!set || set->isEmpty()) {
        fis::HostUi::instance()->message(fis::MessageKind::Information,
                                         m_emptyError.isEmpty()
                                             ? QStringLiteral("Não há registros para pesquisar.")
                                             : m_emptyError,
                                         window());
        return false;
    }
    if (!Pesquisar(m_link, m_title, false, true, window()))
        return false;
    if (OnAfterPesq)
        OnAfterPesq(this);
    if (m_associate)
        m_associate->setFocus();
    return true;
}
