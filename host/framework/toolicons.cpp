#include "framework/toolicons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>

namespace fis {

namespace {

const QColor kInk(60, 60, 60);
const QColor kBody(150, 150, 150);
const QColor kPaper(Qt::white);
const QColor kBlue(40, 90, 170);

// A 22 x 22 picture drawn by the function.
QPixmap drawn(const std::function<void(QPainter &)> &draw)
{
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 1.2));
    draw(p);
    return pixmap;
}

void printer(QPainter &p, const QRectF &body)
{
    // The sheet going in at the back, the body, the sheet coming out at the front.
    p.setBrush(kPaper);
    p.drawRect(QRectF(body.left() + 4, body.top() - 5, body.width() - 8, 6));
    p.setBrush(kBody);
    p.drawRoundedRect(body, 2, 2);
    p.setBrush(kPaper);
    p.drawRect(QRectF(body.left() + 3, body.bottom() - 3, body.width() - 6, 6));
    p.fillRect(QRectF(body.right() - 4, body.top() + 2, 2, 2), QColor(60, 170, 60));
}

void magnifier(QPainter &p, const QPointF &centre, double radius)
{
    p.setBrush(QColor(210, 230, 250));
    p.drawEllipse(centre, radius, radius);
    p.setPen(QPen(kInk, 2.4, Qt::SolidLine, Qt::RoundCap));
    const double d = radius * 0.72;
    p.drawLine(centre + QPointF(d, d), centre + QPointF(d + radius * 0.9, d + radius * 0.9));
    p.setPen(QPen(kInk, 1.2));
}

QPixmap printIcon()
{
    return drawn([](QPainter &p) { printer(p, QRectF(2, 8, 18, 8)); });
}

QPixmap previewIcon()
{
    return drawn([](QPainter &p) {
        p.setBrush(kPaper);
        p.drawRect(QRectF(2.5, 1.5, 12, 16));
        for (double y = 5; y < 15; y += 3)
            p.drawLine(QPointF(5, y), QPointF(12, y));
        magnifier(p, QPointF(13, 12), 4.5);
    });
}

QPixmap printerSetupIcon()
{
    return drawn([](QPainter &p) {
        printer(p, QRectF(1, 6, 14, 7));
        // A gear beside the printer.
        p.setBrush(kBlue);
        p.setPen(QPen(kBlue, 2.2));
        const QPointF c(16, 16);
        for (int i = 0; i < 8; ++i) {
            QLineF tooth(c, c + QPointF(5, 0));
            tooth.setAngle(i * 45.0);
            p.drawLine(tooth);
        }
        p.setPen(QPen(kInk, 1));
        p.drawEllipse(c, 3.2, 3.2);
        p.setBrush(kPaper);
        p.drawEllipse(c, 1.2, 1.2);
    });
}

QPixmap findIcon()
{
    return drawn([](QPainter &p) { magnifier(p, QPointF(9, 9), 6); });
}

QPixmap filterIcon()
{
    return drawn([](QPainter &p) {
        QPainterPath funnel;
        funnel.moveTo(2, 3);
        funnel.lineTo(20, 3);
        funnel.lineTo(13, 11);
        funnel.lineTo(13, 19);
        funnel.lineTo(9, 17);
        funnel.lineTo(9, 11);
        funnel.closeSubpath();
        p.setBrush(kBlue);
        p.drawPath(funnel);
    });
}

QIcon themed(const char *name, const QIcon &fallback)
{
    return QIcon::fromTheme(QLatin1String(name), fallback);
}

QIcon styleIcon(QStyle::StandardPixmap pixmap)
{
    return QApplication::style()->standardIcon(pixmap);
}

} // namespace

QIcon toolIcon(ToolIcon kind)
{
    switch (kind) {
    case ToolIcon::Print:
        return themed("document-print", QIcon(printIcon()));
    case ToolIcon::Preview:
        return themed("document-print-preview", QIcon(previewIcon()));
    case ToolIcon::SaveAs:
        return themed("document-save-as", styleIcon(QStyle::SP_DialogSaveButton));
    case ToolIcon::PrinterSetup:
        return themed("document-page-setup", QIcon(printerSetupIcon()));
    case ToolIcon::Close:
        return themed("window-close", styleIcon(QStyle::SP_DialogCloseButton));
    case ToolIcon::Find:
        return themed("edit-find", QIcon(findIcon()));
    case ToolIcon::Refresh:
        return themed("view-refresh", styleIcon(QStyle::SP_BrowserReload));
    case ToolIcon::Filter:
        return themed("view-filter", QIcon(filterIcon()));
    }
    return {};
}

} // namespace fis
