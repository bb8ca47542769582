#include "framework/guideform.h"

#include <QPainter>

namespace fis::gps {

namespace {

// Fractions of the form: the left column holds the heading, box 1, box 2 and the notes; the
// right column boxes 3 to 11, one line each, over box 12.
constexpr qreal kSplit = 0.58;     // left column | right column
constexpr qreal kValueX = 0.79;    // title | value inside the line boxes
constexpr qreal kLine = 0.08;      // height of a line box
constexpr qreal kHeading = 0.17;   // height of the heading
constexpr qreal kBox1End = 0.57;   // bottom of box 1
constexpr qreal kBox2End = 0.68;   // bottom of box 2
constexpr qreal kAspect = 0.56;    // height / width
constexpr qreal kMaxWidthMm = 190; // the form's width on a wide page

QRectF part(const QRectF &form, qreal x0, qreal y0, qreal x1, qreal y1)
{
    return QRectF(form.left() + x0 * form.width(), form.top() + y0 * form.height(),
                  (x1 - x0) * form.width(), (y1 - y0) * form.height());
}

qreal titleHeight(const QRectF &form)
{
    return form.height() * 0.06;
}

} // namespace

QRectF formRect(const QSizeF &printable)
{
    const qreal width = qMin(printable.width(), pageMm(kMaxWidthMm));
    return QRectF((printable.width() - width) / 2, 0, width, width * kAspect);
}

bool isLineBox(int box)
{
    return box >= 3 && box <= 11;
}

bool isAmountBox(int box)
{
    return box >= 6 && box <= 11;
}

QRectF boxRect(int box, const QRectF &form)
{
    switch (box) {
    case 1:
        return part(form, 0, kHeading, kSplit, kBox1End);
    case 2:
        return part(form, 0, kBox1End, kSplit, kBox2End);
    case 12:
        return part(form, kSplit, 9 * kLine, 1, 1);
    default:
        break;
    }
    if (!isLineBox(box))
        return {};
    const qreal top = (box - 3) * kLine;
    return part(form, kSplit, top, 1, top + kLine);
}

QRectF valueRect(int box, const QRectF &form)
{
    const QRectF whole = boxRect(box, form);
    const qreal pad = pageMm(1.2);
    if (isLineBox(box)) {
        const qreal x = form.left() + kValueX * form.width();
        return QRectF(x + pad, whole.top(), whole.right() - x - 2 * pad, whole.height());
    }
    return whole.adjusted(pad, titleHeight(form), -pad, -pad / 2);
}

QString boxTitle(int box)
{
    static const char *const titles[] = {
        "NOME OU RAZÃO SOCIAL / FONE / ENDEREÇO",
        "VENCIMENTO (Uso do INSS)",
        "CÓDIGO DE PAGAMENTO",
        "COMPETÊNCIA",
        "IDENTIFICADOR",
        "VALOR DO INSS",
        "",
        "",
        "VALOR DE OUTRAS ENTIDADES",
        "ATM, MULTA E JUROS",
        "TOTAL",
        "AUTENTICAÇÃO BANCÁRIA",
    };
    if (box < kFirstBox || box > kLastBox)
        return {};
    const QString title = QString::fromUtf8(titles[box - 1]);
    return title.isEmpty() ? QStringLiteral("%1 -").arg(box)
                           : QStringLiteral("%1 - %2").arg(box).arg(title);
}

QRectF dueRect(const QRectF &form)
{
    const QRectF notes = part(form, 0, kBox2End, kSplit, 1);
    return QRectF(notes.left() + pageMm(1.2), notes.top() + pageMm(1), notes.width() - pageMm(2.4),
                  lineHeight(pageFont(10, true)));
}

void drawForm(ReportPage &page, const QRectF &form)
{
    const QFont title = pageFont(5.5, true);
    const qreal pad = pageMm(1.2);
    page.frame(form, pagePt(1));

    // Heading.
    const QRectF heading = part(form, 0, 0, kSplit, kHeading);
    page.frame(heading);
    const QFont big = pageFont(11, true);
    const QFont small = pageFont(7);
    const qreal bigHeight = lineHeight(big), smallHeight = lineHeight(small);
    const qreal top = heading.top() + (heading.height() - bigHeight - smallHeight) / 2;
    page.text(QRectF(heading.left(), top, heading.width(), smallHeight),
              QStringLiteral("PREVIDÊNCIA SOCIAL"), small, Qt::AlignCenter);
    page.text(QRectF(heading.left(), top + smallHeight, heading.width(), bigHeight),
              QStringLiteral("GUIA DA PREVIDÊNCIA SOCIAL - GPS"), big, Qt::AlignCenter);

    for (int box = kFirstBox; box <= kLastBox; ++box) {
        const QRectF whole = boxRect(box, form);
        page.frame(whole);
        if (isLineBox(box)) {
            const qreal x = form.left() + kValueX * form.width();
            page.line(QPointF(x, whole.top()), QPointF(x, whole.bottom()), pagePt(0.4));
            page.text(
                QRectF(whole.left() + pad, whole.top(), x - whole.left() - 2 * pad, whole.height()),
                boxTitle(box), title);
        } else {
            page.text(QRectF(whole.left() + pad, whole.top() + pad / 2, whole.width() - 2 * pad,
                             titleHeight(form) - pad / 2),
                      boxTitle(box), title, Qt::AlignLeft | Qt::AlignTop);
        }
    }

    // The note on the minimum amount, at the foot of the left column.
    const QRectF notes = part(form, 0, kBox2End, kSplit, 1);
    page.frame(notes);
    const QFont noteFont = pageFont(6);
    const qreal noteHeight = lineHeight(noteFont);
    const QStringList lines = wrapText(
        QStringLiteral("ATENÇÃO: guia de valor inferior a R$ 10,00 não deve ser recolhida. Some o "
                       "valor ao das competências seguintes até atingir o mínimo e recolha-o com "
                       "a última delas."),
        noteFont, notes.width() - 2 * pad);
    qreal y = notes.bottom() - pad / 2 - lines.size() * noteHeight;
    for (const QString &line : lines) {
        page.text(QRectF(notes.left() + pad, y, notes.width() - 2 * pad, noteHeight), line,
                  noteFont);
        y += noteHeight;
    }
}

QImage formPicture(int widthPixels)
{
    const QRectF form = formRect(QSizeF(pageMm(kMaxWidthMm), pageMm(kMaxWidthMm)));
    const qreal scale = widthPixels / form.width();
    QImage image(widthPixels, qRound(form.height() * scale), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(widthPixels / (kMaxWidthMm / 1000)));
    image.setDotsPerMeterY(image.dotsPerMeterX());
    image.fill(Qt::white);
    ReportPages pages;
    pages.pages.append(ReportPage());
    // The frame's outer half of the pen would fall outside the picture: inset by it.
    const qreal inset = pagePt(0.5);
    drawForm(pages.pages.first(),
             QRectF(inset, inset, form.width() - 2 * inset, form.height() - 2 * inset));
    {
        QPainter painter(&image);
        pages.paintPage(painter, 0, scale);
    }
    return image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
}

} // namespace fis::gps
