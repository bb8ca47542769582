// Pictures of the screen, for the documentation (scripts/screenshots.sh):
//   screenshot "FILE.png"               what the screen shows now, every window and popup
//   screenshot "FILE.png" of CONTROL    only the part of the screen the control covers
// A relative path starts at $FIS_SCREENSHOT_DIR when it is set, else at the script's folder. On a
// real window system (xcb, under Xvfb) the picture is the screen's; on the offscreen platform,
// the window's own rendering.
#include "failure.h"
#include "families.h"
#include "finder.h"
#include "host.h"
#include "reader.h"
#include "runner.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace fis::scenario {

void parseScreenshot(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Shot;
    st.text = in.string(QStringLiteral("the picture's file name"));
    if (!st.text.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        in.fail(QStringLiteral("the picture is a .png file, not '%1'").arg(st.text));
    if (in.accept("of"))
        st.target = in.word(QStringLiteral("the control to show"));
}

void runScreenshot(Runner &r, const Statement &st)
{
    // What the last action changed is painted first.
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    QWidget *control = st.target.isEmpty() ? nullptr : findWidget(st.target);
    QPixmap picture;
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            picture = screen->grabWindow(0);
            if (control)
                picture = picture.copy(QRect(control->mapToGlobal(QPoint(0, 0)), control->size()));
        }
    }
    if (picture.isNull()) {
        QWidget *shown = control ? control : QApplication::activeModalWidget();
        if (!shown)
            shown = QApplication::activeWindow();
        if (shown)
            picture = shown->grab();
    }
    if (picture.isNull())
        fail(QStringLiteral("screenshot"), QStringLiteral("a window to take"),
             QStringLiteral("no window is shown"));
    const QString dir = qEnvironmentVariable("FIS_SCREENSHOT_DIR");
    const QString file = dir.isEmpty() || QFileInfo(st.text).isAbsolute()
                             ? r.host().resolvePath(st.text)
                             : QDir(dir).absoluteFilePath(st.text);
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!picture.save(file, "PNG"))
        fail(QStringLiteral("screenshot"), QStringLiteral("the picture written to ") + file,
             QStringLiteral("it cannot be written"));
    r.note(QStringLiteral("    -> %1 (%2 x %3)")
               .arg(QDir::current().relativeFilePath(file))
               .arg(picture.width())
               .arg(picture.height()));
}

} // namespace fis::scenario
