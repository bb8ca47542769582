#include "data/datalink.h"

namespace fis {

DataLink::DataLink(QObject *parent) : QObject(parent) {}

DataLink::DataLink(const QString &name, QObject *parent) : QObject(parent)
{
    setObjectName(name);
}

// The destructor and setDataSet() live beside the data set, which keeps the link list.

DataSetState DataLink::state() const
{
    return m_set ? m_set->state() : DataSetState::Inactive;
}

bool DataLink::active() const
{
    return m_set && m_set->active();
}

int DataLink::rowCount() const
{
    return m_set ? m_set->recordCount() : 0;
}

int DataLink::currentRow() const
{
    return m_set ? m_set->currentRow() : -1;
}

void DataLink::notifyDataSetChanged()
{
    emit dataSetChanged();
}

void DataLink::notifyFieldsChanged()
{
    emit fieldsChanged();
}

void DataLink::notifyRowInserted(int row)
{
    emit rowInserted(row);
}

void DataLink::notifyRowRemoved(int row)
{
    emit rowRemoved(row);
}

void DataLink::notifyRowMoved(int from, int to)
{
    emit rowMoved(from, to);
}

void DataLink::notifyRecordChanged(int row)
{
    emit recordChanged(row);
}

void DataLink::notifyActiveRow(int row)
{
    emit activeRowChanged(row);
}

void DataLink::notifyState(DataSetState state)
{
    if (onStateChange)
        onStateChange(*this);
    emit stateChanged(state);
}

void DataLink::detachFromSet()
{
    m_set = nullptr;
    emit dataSetChanged();
}

} // namespace fis
