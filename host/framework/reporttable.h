#pragma once
// A table laid out over as many pages as its rows need: the column titles repeated at the top of
// every page, cells wrapped inside their column (nothing is cut off), a row too tall for a whole
// page continued on the next one, and an optional total row in bold at the end.
#include "framework/reportpages.h"

#include <functional>

namespace fis {

struct TableColumn
{
    QString title;
    Qt::Alignment alignment = Qt::AlignLeft;
};

struct ReportTable
{
    QList<TableColumn> columns;
    QList<QStringList> rows; // display texts, one per column
    QStringList totals;      // the total row; empty = none
};

// Called when the table starts a page (the first one included, continued = false): draws what
// the page shows above the table and answers the y where the table begins.
using TablePageStart = std::function<qreal(ReportPage &page, bool continued)>;

// Lays the table out from y on the last page of pages (a new page when pages is empty), adding
// pages as needed; each new page is started through start. Answers the y below the table on the
// last page.
qreal layTable(QList<ReportPage> &pages, qreal y, const QSizeF &size, const ReportTable &table,
               const TablePageStart &start);

} // namespace fis
