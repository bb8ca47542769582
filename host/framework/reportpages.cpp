#include "framework/reportpages.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>

namespace fis {

QFont pageFont(qreal points, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qMax(1, qRound(pagePt(points))));
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

qreal textWidth(const QFont &font, const QString &text)
{
    return QFontMetricsF(font).horizontalAdvance(text);
}

qreal lineHeight(const QFont &font)
{
    return QFontMetricsF(font).lineSpacing();
}

QStringList wrapText(const QString &text, const QFont &font, qreal width)
{
    const QFontMetricsF metrics(font);
    QStringList lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        const auto flush = [&] {
            lines << line;
            line.clear();
        };
        for (const QString &word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (metrics.horizontalAdvance(joined) <= width) {
                line = joined;
                continue;
            }
            if (!line.isEmpty())
                flush();
            // A word wider than the line goes on in pieces.
            QString rest = word;
            while (metrics.horizontalAdvance(rest) > width && rest.size() > 1) {
                qsizetype fit = 1;
                while (fit < rest.size() && metrics.horizontalAdvance(rest.left(fit + 1)) <= width)
                    ++fit;
                lines << rest.left(fit);
                rest = rest.mid(fit);
            }
            line = rest;
        }
        flush();
    }
    return lines;
}

qreal pageFootReserve()
{
    return lineHeight(pageFont(7)) + pageMm(3);
}

void ReportPage::text(const QRectF &rect, const QString &text, const QFont &font,
                      Qt::Alignment alignment)
{
    if (text.isEmpty())
        return;
    PageItem item;
    item.kind = PageItem::Kind::Text;
    item.rect = rect;
    item.text = text;
    item.font = font;
    item.alignment = alignment;
    m_items << item;
}

void ReportPage::frame(const QRectF &rect, qreal penWidth)
{
    PageItem item;
    item.kind = PageItem::Kind::Frame;
    item.rect = rect;
    item.penWidth = penWidth;
    m_items << item;
}

void ReportPage::line(const QPointF &from, const QPointF &to, qreal penWidth)
{
    PageItem item;
    item.kind = PageItem::Kind::Line;
    item.rect = QRectF(from, to);
    item.penWidth = penWidth;
    m_items << item;
}

void ReportPage::fill(const QRectF &rect)
{
    PageItem item;
    item.kind = PageItem::Kind::Fill;
    item.rect = rect;
    m_items << item;
}

void ReportPage::picture(const QRectF &rect, const QImage &picture)
{
    PageItem item;
    item.kind = PageItem::Kind::Picture;
    item.rect = rect;
    item.picture = picture;
    m_items << item;
}

QString ReportPage::text() const
{
    QStringList texts;
    for (const PageItem &item : m_items) {
        if (item.kind == PageItem::Kind::Text)
            texts << item.text;
    }
    return texts.join(QLatin1Char('\n'));
}

QSizeF ReportPages::printableSize(const QPageLayout &layout)
{
    const QRectF points = layout.paintRect(QPageLayout::Point);
    return QSizeF(pagePt(points.width()), pagePt(points.height()));
}

void ReportPages::numberPages()
{
    const QSizeF size = printableSize(layout);
    const QFont font = pageFont(7);
    const qreal height = lineHeight(font);
    const QRectF foot(0, size.height() - height, size.width(), height);
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const QString number = QStringLiteral("Página %1 de %2").arg(i + 1).arg(pages.size());
        const qreal numberWidth = textWidth(font, number) + pageMm(4);
        pages[i].text(foot.adjusted(0, 0, -numberWidth, 0), title, font);
        pages[i].text(foot, number, font, Qt::AlignRight | Qt::AlignVCenter);
    }
}

void ReportPages::paintPage(QPainter &painter, qsizetype index, qreal scale) const
{
    painter.save();
    painter.scale(scale, scale);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const PageItem &item : pages.at(index).items()) {
        switch (item.kind) {
        case PageItem::Kind::Text:
            painter.setFont(item.font);
            painter.setPen(Qt::black);
            painter.drawText(item.rect, int(item.alignment) | Qt::TextDontClip | Qt::TextSingleLine,
                             item.text);
            break;
        case PageItem::Kind::Frame:
            painter.setPen(QPen(Qt::black, item.penWidth));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(item.rect);
            break;
        case PageItem::Kind::Line:
            painter.setPen(QPen(Qt::black, item.penWidth));
            painter.drawLine(item.rect.topLeft(), item.rect.bottomRight());
            break;
        case PageItem::Kind::Fill:
            painter.fillRect(item.rect, QColor(0xe8, 0xe8, 0xe8));
            break;
        case PageItem::Kind::Picture:
            painter.drawImage(item.rect, item.picture);
            break;
        }
    }
    painter.restore();
}

void ReportPages::print(QPrinter *printer) const
{
    QPainter painter;
    if (!painter.begin(printer))
        return; // the printer says why itself (QPrinter::printerState); writers check the file
    const qreal scale = printer->resolution() / kPageUnitsPerInch;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (i > 0)
            printer->newPage();
        paintPage(painter, i, scale);
    }
    painter.end();
}

} // namespace fis
