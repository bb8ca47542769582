#pragma once
// Lookups: the pick list over a data link, the find dialog over a record set, and the lookup
// button that ties a before handler, the pick list and an after handler together.
//
// Pesquisar and Procura go through fis::HostUi (pick / find) so that tests can answer them; the
// default HostUi shows the real windows of fis::showPickDialog / fis::showFindDialog.
#include <QString>
#include <QToolButton>

#include <functional>

namespace fis {
class ClientDataSet;
class DataLink;

// The real pick window: a search line over a grid of the link's set, with OK / Cancelar. What is
// typed moves to the first row that holds it in any column shown (code or description); a text
// no row holds is told in the window and cannot be picked. Double-click or Enter picks, Escape
// closes. True when a row was picked, which is then the set's current row. On cancel the set's
// current row is put back where it was.
bool showPickDialog(DataLink *link, const QString &title, QWidget *parent = nullptr);

// The real find window: a column choice and a value. The columns are those shown in the grid
// over the set, by title, starting on the grid's current column (without a grid: the visible
// fields by label). "Procurar" finds the first row from the top whose text in that column holds
// the value regardless of case, "Próximo" the next one after the current row; either makes it
// current and closes. True when a row was found. A value not found is told and the window stays
// open. The next window offers the last value again.
bool showFindDialog(ClientDataSet *dataSet, QWidget *parent = nullptr);

// Case-insensitive "contains" search over one field's display text from a row (0 = the first);
// moves to the row and returns true when found, leaves the current row alone otherwise.
bool findRow(ClientDataSet *dataSet, const QString &fieldName, const QString &value,
             int fromRow = 0);
} // namespace fis

// Pick list over the link's set (through fis::HostUi::pick). The two flags are accepted as the
// callers pass them (false, true): multiple selection is not offered and the pick window always
// has its search line.
bool Pesquisar(fis::DataLink *link, const QString &title, bool multiSelect = false,
               bool withSearch = true, QWidget *parent = nullptr);

// Find dialog over the set (through fis::HostUi::find); true when the current row moved to a find.
bool Procura(fis::ClientDataSet *dataSet, QWidget *parent = nullptr);

// The lookup button (a magnifier tool button). A click runs, inside the error guard:
//   1. the before handler, which may set cancel = true to stop here;
//   2. opens the link's set when it is a closed query (TADOIBQuery);
//   3. an empty set (or none) shows EmptyError through HostUi and stops;
//   4. the pick list (Pesquisar) titled Title; nothing picked stops;
//   5. the after handler (the picked row is the set's current row).
class TBtnPesquisa : public QToolButton
{
    Q_OBJECT
    Q_PROPERTY(QString Title READ title WRITE setTitle)
    Q_PROPERTY(QString EmptyError READ emptyError WRITE setEmptyError)
public:
    using BeforePesq = std::function<void(TBtnPesquisa *sender, bool &cancel)>;
    using AfterPesq = std::function<void(TBtnPesquisa *sender)>;

    explicit TBtnPesquisa(QWidget *parent = nullptr);

    void SetDataSource(fis::DataLink *link) { m_link = link; }
    fis::DataLink *DataSource() const { return m_link; }

    QString title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }
    QString emptyError() const { return m_emptyError; }
    void setEmptyError(const QString &text) { m_emptyError = text; }

    // The edit the button serves (focus goes back to it after a pick); optional.
    QWidget *associate() const { return m_associate; }
    void setAssociate(QWidget *edit) { m_associate = edit; }

    BeforePesq OnBeforePesq;
    AfterPesq OnAfterPesq;

    // The click's work, outside the guard: true when a row was picked (after handler run).
    // Exceptions of the handlers (EAbort included) propagate to the caller.
    bool execute();

private:
    fis::DataLink *m_link = nullptr;
    QString m_title;
    QString m_emptyError;
    QWidget *m_associate = nullptr;
};
