// Drawing a grid cell that holds one line of text and nothing else, the way the style draws it,
// at a fraction of the cost: the style lays such a text out and shapes it about five times per
// cell (size, rectangle, eliding, drawing); here it is shaped once.
#pragma once

#include <QStyleOptionViewItem>

class QPainter;

namespace fis {

// Draws the cell as the style's CE_ItemViewItem would and returns true; returns false without
// drawing anything when the cell needs the style's own path (an icon, a check box, wrapped or
// several lines, a text that must be elided, the focus frame, an editor, a style sheet).
// `option` has been through the delegate's initStyleOption.
bool paintPlainCell(QPainter *painter, const QStyleOptionViewItem &option);

namespace detail {
// Off: every cell goes through the style (tests compare both ways).
void setPlainCellPainting(bool on);
} // namespace detail

} // namespace fis
