#pragma once
// The printed pages of a report, laid out once and then painted the same way on every output:
// the print preview, a printer, a PDF file. Coordinates are in page units of 1/720 inch from the
// top left corner of the page's printable area, and fonts carry their pixel size in the same
// unit, so a page breaks its lines and its pages identically whatever the device.
//
// Texts are placed line by line (wrapText breaks them beforehand), so a device whose font
// metrics differ a little never wraps a line differently from the layout.
#include <QFont>
#include <QImage>
#include <QList>
#include <QPageLayout>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;
class QPrinter;

namespace fis {

constexpr qreal kPageUnitsPerInch = 720;
// Millimetres and points in page units.
constexpr qreal pageMm(qreal mm)
{
    return mm * kPageUnitsPerInch / 25.4;
}
constexpr qreal pagePt(qreal pt)
{
    return pt * kPageUnitsPerInch / 72;
}

// A font of the reports: the application's sans-serif family at a size in points.
QFont pageFont(qreal points, bool bold = false);
// The width of a text in a page font, and the height of one of its lines.
qreal textWidth(const QFont &font, const QString &text);
qreal lineHeight(const QFont &font);
// Breaks a text into lines no wider than width: at blanks where it can, inside a word that is
// wider than the line by itself, and at every line break of the text. Nothing is dropped.
QStringList wrapText(const QString &text, const QFont &font, qreal width);
// The height kept free at the foot of every page for its number.
qreal pageFootReserve();

struct PageItem
{
    enum class Kind { Text, Frame, Line, Fill, Picture };
    Kind kind = Kind::Text;
    QRectF rect; // a line runs from the top left to the bottom right corner
    QString text;
    QFont font;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    qreal penWidth = 0; // frames and lines
    QImage picture;
};

class ReportPage
{
public:
    // One line of text inside rect, aligned there; never wrapped or clipped by the painter.
    void text(const QRectF &rect, const QString &text, const QFont &font,
              Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
    void frame(const QRectF &rect, qreal penWidth = pagePt(0.6));
    void line(const QPointF &from, const QPointF &to, qreal penWidth = pagePt(0.5));
    void fill(const QRectF &rect); // light grey band
    void picture(const QRectF &rect, const QImage &picture);

    const QList<PageItem> &items() const { return m_items; }
    // The page's texts in the order they were placed, one a line.
    QString text() const;

private:
    QList<PageItem> m_items;
};

struct ReportPages
{
    QString title;
    QPageLayout layout; // the page the texts were laid out on
    QList<ReportPage> pages;

    // The size of the printable area in page units.
    static QSizeF printableSize(const QPageLayout &layout);
    // Adds "Página N de M" at the foot of every page, with the title at its left.
    void numberPages();

    // Paints one page with the painter's origin at the top left of the printable area; scale is
    // device pixels per page unit.
    void paintPage(QPainter &painter, qsizetype index, qreal scale) const;
    // Paints every page on the printer, which already has its page layout.
    void print(QPrinter *printer) const;
};

} // namespace fis
