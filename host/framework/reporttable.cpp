#include "framework/reporttable.h"

#include <cmath>

namespace fis {

namespace {

constexpr qreal kPad = pageMm(0.8);

// Natural widths (the widest text of each column), shrunk or stretched to fill the width. A
// column never gets less than a few characters, so every text still fits by wrapping.
QList<qreal> columnWidths(const ReportTable &table, const QFont &font, const QFont &bold,
                          qreal width)
{
    const qsizetype n = table.columns.size();
    QList<qreal> natural(n, 0);
    for (qsizetype c = 0; c < n; ++c)
        natural[c] = textWidth(bold, table.columns.at(c).title);
    const auto widen = [&](const QStringList &row, const QFont &f) {
        for (qsizetype c = 0; c < n && c < row.size(); ++c)
            natural[c] = qMax(natural[c], textWidth(f, row.at(c)));
    };
    for (const QStringList &row : table.rows)
        widen(row, font);
    widen(table.totals, bold);
    const qreal minimum = textWidth(font, QStringLiteral("0000")) + 2 * kPad;
    qreal sum = 0;
    for (qreal &w : natural) {
        w = qMax(minimum, w + 2 * kPad);
        sum += w;
    }
    if (sum <= 0)
        return natural;
    // Columns that need less than an even share keep what they need; the others share the rest
    // in proportion to what they would like.
    QList<qreal> widths = natural;
    if (sum > width) {
        qreal fixed = 0, wide = 0;
        const qreal share = width / qreal(n);
        for (qreal w : natural)
            (w <= share ? fixed : wide) += w;
        for (qsizetype c = 0; c < n; ++c) {
            if (natural[c] > share)
                widths[c] = qMax(minimum, natural[c] * (width - fixed) / wide);
        }
    } else {
        for (qreal &w : widths)
            w = w * width / sum;
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
