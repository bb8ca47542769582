#pragma once
// The icons of the screens' toolbar actions, one for each action: the desktop theme's standard
// icon when the theme has it, else a picture of the host's own.
#include <QIcon>

namespace fis {

enum class ToolIcon { Print, Preview, SaveAs, PrinterSetup, Close, Find, Refresh, Filter };

QIcon toolIcon(ToolIcon kind);

} // namespace fis
