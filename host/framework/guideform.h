#pragma once
// The GPS form as the guide layout prints it: the boxes numbered 1 to 12 as on the form, their
// titles, where each value goes and where the due date is printed (box 2 is the social-security
// body's own). The installation's picture of the form (guia_gps.bmp) is drawn from this same
// geometry, so values printed over the picture fall inside its boxes.
#include "framework/reportpages.h"

namespace fis::gps {

constexpr int kFirstBox = 1;
constexpr int kLastBox = 12;

// The form at the top of the printable area, centred, at most 190 mm wide.
QRectF formRect(const QSizeF &printable);
// The whole box, and the part of it where its value goes.
QRectF boxRect(int box, const QRectF &form);
QRectF valueRect(int box, const QRectF &form);
// Boxes 3 to 11 are one line each, their title at the left and the value at the right; 1, 2 and
// 12 are areas with the title on top.
bool isLineBox(int box);
// Boxes whose values are amounts (6 to 11).
bool isAmountBox(int box);
QString boxTitle(int box);
// Where the guide's due date is printed, under box 2.
QRectF dueRect(const QRectF &form);

// Draws the empty form on the page: frames, titles and the note on the minimum amount.
void drawForm(ReportPage &page, const QRectF &form);
// The empty form as a picture widthPixels wide, in black and white.
QImage formPicture(int widthPixels);

} // namespace fis::gps
