#include "framework/lookup.h"

#include "data/datalink.h"
#include "data/dataset.h"
#include "framework/defaulthostui.h"
#include "framework/tadoibquery.h"
#include "widgets/errorguard.h"
#include "widgets/hostui.h"

#include <QStyle>

namespace fis {

bool findRow(ClientDataSet *dataSet, const QString &fieldName, const QString &value, int fromRow)
{
    if (!dataSet || !dataSet->active() || value.isEmpty())
        return false;
    Field *field = dataSet->findField(fieldName);
    if (!field)
        return false;
    const int rows = dataSet->recordCount();
    for (int row = qMax(fromRow, 0); row < rows; ++row) {
        if (field->displayTextAt(row).contains(value, Qt::CaseInsensitive)) {
            dataSet->setRecNo(row + 1);
            return true;
        }
    }
    return false;
}

namespace {

// The default HostUi opens the real windows (pickdialog.cpp, finddialog.cpp).
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
