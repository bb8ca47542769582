#include "framework/guidelayout.h"

#include "framework/guideform.h"
#include "framework/reporttable.h"

namespace fis {

namespace {

const QString kAmount = QStringLiteral("#,##0.00");

// The text of a box: as large as fits, down to a small size, then wrapped; nothing is dropped.
void placeBox(ReportPage &page, int box, const QRectF &form, const QStringList &lines)
{
    const QRectF area = gps::valueRect(box, form);
    if (gps::isLineBox(box)) {
        const QString text = lines.join(QLatin1Char(' '));
        for (qreal size = 10; size >= 5; size -= 0.5) {
            const QFont font = pageFont(size, true);
            if (textWidth(font, text) <= area.width() || size <= 5) {
                const QStringList wrapped = wrapText(text, font, area.width());
                const qreal height = lineHeight(font);
                qreal y = area.center().y() - wrapped.size() * height / 2;
                for (const QString &line : wrapped) {
                    page.text(QRectF(area.left(), y, area.width(), height), line, font,
                              Qt::AlignRight | Qt::AlignVCenter);
                    y += height;
                }
                return;
            }
        }
    }
    for (qreal size = 9; size >= 4; size -= 0.5) {
        const QFont font = pageFont(size);
        const QFont first = pageFont(size, true);
        QList<QPair<QString, QFont>> wrapped;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QFont &f = i == 0 ? first : font;
            for (const QString &line : wrapText(lines.at(i), f, area.width()))
                wrapped.append({line, f});
        }
        const qreal height = lineHeight(font);
        if (wrapped.size() * height <= area.height() || size <= 4) {
            qreal y = area.top();
            for (const auto &[line, f] : wrapped) {
                page.text(QRectF(area.left(), y, area.width(), height), line, f);
                y += height;
            }
            return;
        }
    }
}

QString annexHeading(const Guide &guide)
{
    const auto first = [&](int box) {
        const QStringList &lines = guide.box.at(box - 1);
        return lines.isEmpty() ? QString() : lines.first();
    };
    QStringList parts;
    if (!first(1).isEmpty())
        parts << QStringLiteral("Contribuinte: %1").arg(first(1));
    if (!first(5).isEmpty())
        parts << QStringLiteral("Identificador: %1").arg(first(5));
    if (!first(3).isEmpty())
        parts << QStringLiteral("Código de pagamento: %1").arg(first(3));
    if (!first(4).isEmpty())
        parts << QStringLiteral("Competência: %1").arg(first(4));
    if (!guide.due.isEmpty())
        parts << QStringLiteral("Vencimento: %1").arg(guide.due);
    return parts.join(QStringLiteral(" | "));
}

ReportTable annexTable(const GuideLayout &layout, const ReportRows &rows, const Guide &guide)
{
    ReportTable table;
    QList<int> indexes;
    for (const ReportColumn &column : layout.annexColumns) {
        table.columns << TableColumn{column.title, column.alignment};
        indexes << rows.indexOf(column.field);
    }
    for (int row : guide.rows) {
        QStringList cells;
        for (qsizetype c = 0; c < indexes.size(); ++c)
            cells << displayValue(rows.values.at(row).at(indexes.at(c)),
                                  layout.annexColumns.at(c).format);
        table.rows << cells;
    }
    if (!layout.annexTotals.isEmpty()) {
        table.totals.resize(indexes.size());
        table.totals[0] = QStringLiteral("Total");
        for (qsizetype c = 0; c < indexes.size(); ++c) {
            const ReportColumn &column = layout.annexColumns.at(c);
            if (!layout.annexTotals.contains(column.field, Qt::CaseInsensitive))
                continue;
            double sum = 0;
            for (int row : guide.rows)
                sum += reportNumber(rows.values.at(row).at(indexes.at(c)));
            table.totals[c] = formatNumber(sum, column.format.isEmpty() ? kAmount : column.format);
        }
    }
    return table;
}

} // namespace

ReportPages guidePages(const QString &title, const GuideLayout &layout, const ReportRows &rows,
                       const QPageLayout &pageLayout, const QImage &picture)
{
    ReportPages out;
    out.title = title;
    out.layout = pageLayout;
    const QSizeF size = ReportPages::printableSize(pageLayout);
    const QRectF form = gps::formRect(size);
    const QList<Guide> guides = buildGuides(layout, rows);
    const QFont headingFont = pageFont(11, true);
    const QFont textFont = pageFont(8);
    const QFont dueFont = pageFont(10, true);

    if (guides.isEmpty()) {
        out.pages.append(ReportPage());
        out.pages.last().text(QRectF(0, 0, size.width(), lineHeight(headingFont)), title,
                              headingFont);
        out.pages.last().text(
            QRectF(0, lineHeight(headingFont) * 2, size.width(), lineHeight(textFont)),
            QStringLiteral("Nenhum documento para as guias."), textFont);
    }
    for (int g = 0; g < guides.size(); ++g) {
        const Guide &guide = guides.at(g);
        out.pages.append(ReportPage());
        ReportPage &page = out.pages.last();
        if (picture.isNull())
            gps::drawForm(page, form);
        else
            page.picture(form, picture);
        for (int box = gps::kFirstBox; box <= gps::kLastBox; ++box) {
            if (!guide.box.at(box - 1).isEmpty())
                placeBox(page, box, form, guide.box.at(box - 1));
        }
        if (!guide.due.isEmpty())
            page.text(gps::dueRect(form), QStringLiteral("Vencimento: %1").arg(guide.due), dueFont);
        const qreal below = form.bottom() + pageMm(3);
        page.text(QRectF(form.left(), below, form.width(), lineHeight(textFont)),
                  QStringLiteral("Guia %1 de %2 - %3 documento(s), relacionados no anexo.")
                      .arg(g + 1)
                      .arg(guides.size())
                      .arg(guide.rows.size()),
                  textFont);
        if (layout.annexColumns.isEmpty())
            continue;

        const QString heading =
            annexHeading(guide) + QStringLiteral(" | %1 documento(s)").arg(guide.rows.size());
        const QString annexTitle =
            layout.annexTitle.isEmpty() ? QStringLiteral("Anexo") : layout.annexTitle;
        const TablePageStart start = [&](ReportPage &annexPage, bool continued) {
            qreal y = 0;
            const QString caption =
                QStringLiteral("%1 - guia %2 de %3%4")
                    .arg(annexTitle)
                    .arg(g + 1)
                    .arg(guides.size())
                    .arg(continued ? QStringLiteral(" (continuação)") : QString());
            for (const QString &line : wrapText(caption, headingFont, size.width())) {
                annexPage.text(QRectF(0, y, size.width(), lineHeight(headingFont)), line,
                               headingFont);
                y += lineHeight(headingFont);
            }
            y += pageMm(1);
            for (const QString &line : wrapText(heading, textFont, size.width())) {
                annexPage.text(QRectF(0, y, size.width(), lineHeight(textFont)), line, textFont);
                y += lineHeight(textFont);
            }
            return y + pageMm(3);
        };
        out.pages.append(ReportPage());
        layTable(out.pages, start(out.pages.last(), false), size, annexTable(layout, rows, guide),
                 start);
    }
    out.numberPages();
    return out;
}

} // namespace fis
