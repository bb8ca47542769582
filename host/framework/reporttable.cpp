#include "framework/reporttable.h"

#include <algorithm>
#include <cmath>

namespace fis {

namespace {

constexpr qreal kPad = pageMm(0.8);

// Column widths as a browser lays out a table: each column gets at least its longest word (so
// that words are not broken while the page is wide enough), and what is left is shared in
// proportion to what the columns would need to show their texts on one line. A table narrower
// than the page is stretched to it; words break only when even the longest words do not fit.
QList<qreal> columnWidths(const ReportTable &table, const QFont &font, const QFont &bold,
                          qreal width)
{
    const qsizetype n = table.columns.size();
    QList<qreal> natural(n, 0), minimum(n, 0);
    const auto measure = [&](qsizetype c, const QString &text, const QFont &f) {
        natural[c] = qMax(natural[c], textWidth(f, text));
        for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            minimum[c] = qMax(minimum[c], textWidth(f, word));
    };
    for (qsizetype c = 0; c < n; ++c)
        measure(c, table.columns.at(c).title, bold);
    const auto measureRow = [&](const QStringList &row, const QFont &f) {
        for (qsizetype c = 0; c < n && c < row.size(); ++c)
            measure(c, row.at(c), f);
    };
    for (const QStringList &row : table.rows)
        measureRow(row, font);
    measureRow(table.totals, bold);
    const qreal floor = textWidth(font, QStringLiteral("0000"));
    qreal sumNatural = 0, sumMinimum = 0;
    for (qsizetype c = 0; c < n; ++c) {
        minimum[c] = qMax(floor, minimum[c]) + 2 * kPad;
        natural[c] = qMax(minimum[c], natural[c] + 2 * kPad);
        sumNatural += natural[c];
        sumMinimum += minimum[c];
    }
    QList<qreal> widths(n, 0);
    if (sumMinimum <= width) {
        for (qsizetype c = 0; c < n; ++c)
            widths[c] = sumNatural <= width
                            ? natural[c] * width / sumNatural
                            : minimum[c] + (natural[c] - minimum[c]) * (width - sumMinimum) /
                                               (sumNatural - sumMinimum);
        return widths;
    }
    // Some word is wider than the page allows: the columns whose longest word fits an even share
    // keep it, the others share what is left and break their words.
    QList<bool> fixed(n, false);
    qreal left = width;
    for (bool changed = true; changed;) {
        changed = false;
        const qsizetype open = std::count(fixed.cbegin(), fixed.cend(), false);
        const qreal share = open ? left / qreal(open) : 0;
        for (qsizetype c = 0; c < n; ++c) {
            if (!fixed[c] && minimum[c] <= share) {
                fixed[c] = true;
                widths[c] = minimum[c];
                left -= minimum[c];
                changed = true;
            }
        }
    }
    const qsizetype open = std::count(fixed.cbegin(), fixed.cend(), false);
    for (qsizetype c = 0; c < n; ++c) {
        if (!fixed[c])
            widths[c] = qMax(floor + 2 * kPad, left / qreal(open));
    }
    return widths;
}

class TableLayout
{
public:
    TableLayout(QList<ReportPage> &pages, const QSizeF &size, const ReportTable &table,
                const TablePageStart &start)
        : m_pages(pages), m_size(size), m_table(table), m_start(start), m_font(pageFont(7.5)),
          m_bold(pageFont(7.5, true)), m_lineHeight(lineHeight(m_font)),
          m_bottom(size.height() - pageFootReserve()),
          m_widths(columnWidths(table, m_font, m_bold, size.width()))
    {
        for (qsizetype c = 0; c < table.columns.size(); ++c)
            m_titles << wrapText(table.columns.at(c).title, m_bold, cellWidth(c));
    }

    qreal lay(qreal y)
    {
        if (m_pages.isEmpty())
            newPage(false);
        else
            startTable(y);
        for (const QStringList &row : m_table.rows)
            layRow(row, m_font);
        if (!m_table.totals.isEmpty())
            layRow(m_table.totals, m_bold);
        closePage();
        return m_y;
    }

private:
    qreal cellWidth(qsizetype c) const { return m_widths.at(c) - 2 * kPad; }
    ReportPage &page() { return m_pages.last(); }

    void newPage(bool continued)
    {
        m_pages.append(ReportPage());
        placeTitles(m_start(page(), continued));
    }

    // The table starting at y on the current page, or on a new one when the titles and one line
    // do not fit there.
    void startTable(qreal y)
    {
        if (y + titlesHeight() + m_lineHeight + 2 * kPad > m_bottom)
            newPage(true);
        else
            placeTitles(y);
    }

    qreal titlesHeight() const
    {
        qsizetype lines = 1;
        for (const QStringList &title : m_titles)
            lines = qMax(lines, title.size());
        return lines * m_lineHeight + 2 * kPad;
    }

    void placeTitles(qreal y)
    {
        m_top = y;
        const qreal height = titlesHeight();
        page().fill(QRectF(0, y, m_size.width(), height));
        qreal x = 0;
        for (qsizetype c = 0; c < m_titles.size(); ++c) {
            for (qsizetype i = 0; i < m_titles.at(c).size(); ++i)
                page().text(lineRect(x, y + kPad + i * m_lineHeight, c), m_titles.at(c).at(i),
                            m_bold, m_table.columns.at(c).alignment | Qt::AlignVCenter);
            x += m_widths.at(c);
        }
        m_y = y + height;
        page().line(QPointF(0, m_y), QPointF(m_size.width(), m_y));
        m_rowsOnPage = 0;
    }

    QRectF lineRect(qreal x, qreal y, qsizetype c) const
    {
        return QRectF(x + kPad, y, cellWidth(c), m_lineHeight);
    }

    void layRow(const QStringList &row, const QFont &font)
    {
        QList<QStringList> cells;
        qsizetype lines = 1;
        for (qsizetype c = 0; c < m_widths.size(); ++c) {
            cells << wrapText(c < row.size() ? row.at(c) : QString(), font, cellWidth(c));
            lines = qMax(lines, cells.last().size());
        }
        qsizetype done = 0;
        while (done < lines) {
            const qsizetype room =
                qsizetype(std::floor((m_bottom - m_y - 2 * kPad) / m_lineHeight + 1e-6));
            const qsizetype left = lines - done;
            if (room < left && m_rowsOnPage > 0) {
                // The row goes whole to the next page rather than split after other rows.
                closePage();
                newPage(true);
                continue;
            }
            const qsizetype take = qMax<qsizetype>(1, qMin(room, left));
            const qreal height = take * m_lineHeight + 2 * kPad;
            qreal x = 0;
            for (qsizetype c = 0; c < cells.size(); ++c) {
                for (qsizetype i = 0; i < take && done + i < cells.at(c).size(); ++i)
                    page().text(lineRect(x, m_y + kPad + i * m_lineHeight, c),
                                cells.at(c).at(done + i), font,
                                m_table.columns.at(c).alignment | Qt::AlignVCenter);
                x += m_widths.at(c);
            }
            m_y += height;
            page().line(QPointF(0, m_y), QPointF(m_size.width(), m_y), pagePt(0.3));
            ++m_rowsOnPage;
            done += take;
            if (done < lines) { // the rest of a row taller than a page
                closePage();
                newPage(true);
            }
        }
    }

    // The outer frame and the column rules of the part of the table on this page.
    void closePage()
    {
        const QRectF box(0, m_top, m_size.width(), m_y - m_top);
        page().frame(box);
        qreal x = 0;
        for (qsizetype c = 0; c + 1 < m_widths.size(); ++c) {
            x += m_widths.at(c);
            page().line(QPointF(x, m_top), QPointF(x, m_y), pagePt(0.3));
        }
    }

    QList<ReportPage> &m_pages;
    QSizeF m_size;
    const ReportTable &m_table;
    const TablePageStart &m_start;
    QFont m_font, m_bold;
    qreal m_lineHeight;
    qreal m_bottom;
    QList<qreal> m_widths;
    QList<QStringList> m_titles;
    qreal m_top = 0;
    qreal m_y = 0;
    int m_rowsOnPage = 0;
};

} // namespace

qreal layTable(QList<ReportPage> &pages, qreal y, const QSizeF &size, const ReportTable &table,
               const TablePageStart &start)
{
    if (table.columns.isEmpty())
        return y;
    return TableLayout(pages, size, table, start).lay(y);
}

} // namespace fis
