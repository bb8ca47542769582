#pragma once
// Finding what a script names, as the clerk would: controls, menu items and record sets by their
// objectName in every top-level window (the modal dialog first, then the active window, then the
// others; a visible one preferred), and moving the focus as a real focus move does. What cannot
// be found or focused fails the statement.
#include <QList>
#include <QString>

class QObject;
class QWidget;

namespace fis::scenario {

// The windows in search order.
QList<QWidget *> searchRoots();
// The object of that name ("window.control" narrows the search); null when there is none.
QObject *findObject(const QString &name);
// The control of that name; fails when there is none or it is no widget.
QWidget *findWidget(const QString &name);
// The visible windows and their MDI frames, for failures.
QString windowNames();

// Gives w the focus (activating its window); fails for a hidden or disabled control, or one that
// never takes the focus.
void focusWidget(QWidget *w);
// The same, unless w or a part of it has the focus already.
void focusUnlessHeld(QWidget *w);
// The control the Tab key moves to from `from`, in its window; null when there is none.
QWidget *nextInTabOrder(QWidget *from);

// The named control that stands for w: w itself, or its nearest named ancestor (the inner editor
// of a grid, the line edit of a combo).
QWidget *namedOwner(QWidget *w);
QString describeWidget(const QWidget *w); // its name, or "an unnamed CLASS"
QString stripMnemonic(QString text);      // a caption without & and shortcut

} // namespace fis::scenario
