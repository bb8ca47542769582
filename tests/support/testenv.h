#pragma once
#include <QLocale>
#include <QtGlobal>

namespace fis::test {

// Before QApplication exists: offscreen platform by default, so tests (and test discovery at
// build time) run without a display.
inline void prepareEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// After QApplication exists: the program always works in the Brazilian locale.
inline void prepareApplication()
{
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
}

} // namespace fis::test
