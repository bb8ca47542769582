#pragma once
// The guide layout of a report definition: instead of a listing, one GPS per group of the
// query's rows, with the values of its boxes taken from the rows of the group, the due date, and
// an annex after each guide that lists every row of the group with its totals. The format is in
// docs/reports.md ("guide"). guidelayout.cpp reads the layout and works the guides out;
// guidepages.cpp lays their pages out.
#include "framework/reportformat.h"
#include "framework/reportpages.h"

#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <QVariantList>

#include <optional>

namespace fis {

class ReportParams;

// Where a box (or the due date) takes its value from.
struct GuideValue
{
    enum class Kind { Field, Sum, Max, Min, Boxes, Text };
    Kind kind = Kind::Field;
    QString field;    // Field (first row of the group), Sum, Max, Min
    QList<int> boxes; // Boxes: the sum of these boxes' amounts
    QString text;     // Text: printed as it is
    QString format;   // as a column's; amount boxes default to "#,##0.00"
};

struct GuideBox
{
    int box = 0;
    QList<GuideValue> lines; // one line each (box 1: name, address, phone...)
};

struct GuideLayout
{
    QStringList groupBy;  // rows with the same values of these fields make one guide
    QString pictureParam; // the parameter that holds the path of the form's picture
    QList<GuideBox> boxes;
    std::optional<GuideValue> due;
    QString annexTitle;
    QList<ReportColumn> annexColumns;
    QStringList annexTotals; // fields of annexColumns totalled at the end of the annex

    // Reads the "guide" object of a definition; throws ReportDefinitionError naming the file and
    // what is wrong. params are the definition's declared parameters.
    static GuideLayout parse(const QJsonObject &object, const QString &fileName,
                             const ReportParams &params);
    // Every field of the query's result the layout reads.
    QStringList fieldsUsed() const;
};

// The rows of a run of the query, as they came.
struct ReportRows
{
    QStringList fields;
    QList<QVariantList> values;
    int indexOf(const QString &field) const; // without regard to case; -1 when absent
};

// One guide: the rows of its group and the texts of its boxes.
struct Guide
{
    QList<int> rows;        // indexes into ReportRows::values, in the query's order
    QList<QStringList> box; // lines of each box, index 0 = box 1
    QString due;
};

// Groups the rows (in the order each group first appears) and works out every box.
QList<Guide> buildGuides(const GuideLayout &layout, const ReportRows &rows);
// The pages: each guide over the picture of the form (or over the form drawn here when the
// picture is null), followed by its annex.
ReportPages guidePages(const QString &title, const GuideLayout &layout, const ReportRows &rows,
                       const QPageLayout &pageLayout, const QImage &picture);

} // namespace fis
