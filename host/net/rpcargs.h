#pragma once
// The checks every remote-call argument passes before any method sees it, whatever the method:
// numbers are finite, dates are within the years 1 to 9999, and texts hold no control
// character that no field may hold (C0 and C1 controls and DEL; tab, line feed and carriage
// return are text). Arrays are checked item by item and data packets cell by cell (a packet
// that does not decode is left for the method to refuse with its own words).
#include "data/variant.h"

#include <QString>

namespace fis {

// True when the value passes; otherwise *why says what is wrong, in Portuguese.
bool checkArgument(const Variant &value, QString *why);
bool checkText(const QString &text, QString *why);

} // namespace fis
