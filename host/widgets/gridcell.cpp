#include "widgets/gridcell.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QWidget>

#include <atomic>

namespace fis {

namespace {

std::atomic<bool> plainCells = true;

bool needsTheStyle(const QStyleOptionViewItem &o, const QStyle *style)
{
    using F = QStyleOptionViewItem::ViewItemFeature;
    if (o.features & (F::WrapText | F::HasCheckIndicator | F::HasDecoration))
        return true;
    if (o.state & (QStyle::State_HasFocus | QStyle::State_Editing))
        return true;
    // A style sheet draws items its own way.
    if (style->inherits("QStyleSheetStyle"))
        return true;
    return o.text.contains(QChar::LineSeparator);
}

} // namespace

void detail::setPlainCellPainting(bool on)
{
    plainCells = on;
}

bool paintPlainCell(QPainter *painter, const QStyleOptionViewItem &option)
{
    if (!plainCells)
        return false;
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    if (needsTheStyle(option, style))
        return false;

    // The text's room, as the style leaves it: the whole cell less a margin on each side.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = option.rect.adjusted(margin, 0, -margin, 0);
    QTextLayout layout;
    qreal height = 0;
    if (!option.text.isEmpty()) {
        QTextOption textOption;
        textOption.setWrapMode(QTextOption::ManualWrap);
        textOption.setTextDirection(option.direction);
        textOption.setAlignment(QStyle::visualAlignment(option.direction, option.displayAlignment));
        layout.setText(option.text);
        layout.setFont(option.font);
        layout.setTextOption(textOption);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(textRect.width());
        line.setPosition(QPointF(0, 0));
        layout.endLayout();
        if (line.naturalTextWidth() > textRect.width())
            return false; // elided: the style knows how
        height = line.height();
    }

    painter->save();
    painter->setClipRect(option.rect);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, widget);
    if (!option.text.isEmpty()) {
        QPalette::ColorGroup group =
            option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        if (group == QPalette::Normal && !(option.state & QStyle::State_Active))
            group = QPalette::Inactive;
        painter->setPen(option.palette.color(group, option.state & QStyle::State_Selected
                                                        ? QPalette::HighlightedText
                                                        : QPalette::Text));
        const Qt::Alignment vertical = option.displayAlignment & Qt::AlignVertical_Mask;
        qreal top = textRect.top(); // no vertical alignment given: at the top
        if (vertical & Qt::AlignVCenter)
            top = (textRect.top() + textRect.bottom() - height) / 2.0;
        else if (vertical & Qt::AlignBottom)
            top = textRect.bottom() + 1 - height;
        layout.draw(painter, QPointF(textRect.left(), top));
    }
    painter->restore();
    return true;
}

} // namespace fis
