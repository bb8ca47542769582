#pragma once
// A data link points a view (grid, lookup) at a data set and forwards the set's notifications as
// Qt signals. The protocol is precise enough for a QAbstractTableModel to stay exact without
// resetting on every change:
//
//   dataSetChanged()          everything may have changed: reset the model (open, close, load,
//                             filter/index change, the last enableControls, link switched)
//   fieldsChanged()           field list or presentation (label, width, visibility) changed:
//                             columns may differ, rows are the same
//   rowInserted(row)          a row now exists at view position `row` (rows after it shift down)
//   rowRemoved(row)           the row at view position `row` is gone (rows after it shift up)
//   rowMoved(from, to)        a row left position `from` and now sits at `to` (after removal)
//   recordChanged(row)        the values of the row at `row` changed (a field write, post, cancel)
//   activeRowChanged(row)     the current row is now `row` (-1 = none)
//   stateChanged(state)       the set's state changed (also on switching the link)
//
// Every signal is emitted after the change has happened (rowCount() already counts an inserted
// row), so a model keeps its own row count and calls begin/end…Rows back to back on each signal.
// Row numbers are 0-based positions in the set's view order (filter + active index), valid at the
// moment the signal is emitted. While the set's controls are disabled the link sends nothing
// except stateChanged; the last enableControls sends one dataSetChanged and activeRowChanged.
#include "data/dataset.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace fis {

class DataLink : public QObject
{
    Q_OBJECT
public:
    explicit DataLink(QObject *parent = nullptr);
    explicit DataLink(const QString &name, QObject *parent = nullptr);
    ~DataLink() override;

    ClientDataSet *dataSet() const;
    void setDataSet(ClientDataSet *set); // may be switched at any time; nullptr detaches

    // Convenience reads through the current set (safe without a set: Inactive, 0, -1).
    DataSetState state() const;
    bool active() const;
    int rowCount() const;   // rows in view order (includes a row being inserted)
    int currentRow() const; // 0-based, -1 when none
    bool editing() const
    {
        return state() == DataSetState::Edit || state() == DataSetState::Insert;
    }

    // Called whenever the set's state changes or the link is switched (may throw; the caller's
    // error guard handles it). Also emitted as the stateChanged signal.
    std::function<void(DataLink &link)> onStateChange;

signals:
    void dataSetChanged();
    void fieldsChanged();
    void rowInserted(int row);
    void rowRemoved(int row);
    void rowMoved(int from, int to);
    void recordChanged(int row);
    void activeRowChanged(int row);
    void stateChanged(fis::DataSetState state);
    void linkChanged(fis::ClientDataSet *set); // after setDataSet switched the set

private:
    friend class ClientDataSet;
    // Entry points used by the data set.
    void notifyDataSetChanged();
    void notifyFieldsChanged();
    void notifyRowInserted(int row);
    void notifyRowRemoved(int row);
    void notifyRowMoved(int from, int to);
    void notifyRecordChanged(int row);
    void notifyActiveRow(int row);
    void notifyState(DataSetState state);
    void detachFromSet(); // the set is being destroyed

    ClientDataSet *m_set = nullptr;
};

} // namespace fis
