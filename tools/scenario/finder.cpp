// Finding controls by name and moving the focus (see finder.h).
#include "finder.h"

#include "failure.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <QWidget>

namespace fis::scenario {

QList<QWidget *> searchRoots()
{
    // The modal dialog first, then the active window, then every other window.
    QList<QWidget *> roots;
    if (QWidget *modal = QApplication::activeModalWidget())
        roots << modal;
    if (QWidget *active = QApplication::activeWindow(); active && !roots.contains(active))
        roots << active;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (!roots.contains(w))
            roots << w;
    return roots;
}

QString windowNames()
{
    QStringList names;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible()) {
            QStringList inner;
            for (QMdiSubWindow *sub : w->findChildren<QMdiSubWindow *>())
                inner << describeWidget(sub) + QStringLiteral(" > ") +
                             describeWidget(sub->widget());
            names << describeWidget(w) + (inner.isEmpty() ? QString()
                                                          : QStringLiteral(" [") +
                                                                inner.join(QStringLiteral(", ")) +
                                                                QLatin1Char(']'));
        }
    return QStringLiteral("windows: ") + names.join(QStringLiteral("; "));
}

QObject *findObject(const QString &name)
{
    // "window.control" narrows the search to one window (or any named container).
    QString scope;
    QString leaf = name;
    const int dot = int(name.lastIndexOf(QLatin1Char('.')));
    if (dot > 0) {
        scope = name.left(dot);
        leaf = name.mid(dot + 1);
    }
    QList<QObject *> candidates;
    for (QWidget *root : searchRoots()) {
        QObject *base = root;
        if (!scope.isEmpty()) {
            base = root->objectName() == scope ? root : root->findChild<QObject *>(scope);
            if (!base)
                continue;
        }
        if (base->objectName() == leaf)
            candidates << base;
        for (QObject *o : base->findChildren<QObject *>(leaf))
            if (!candidates.contains(o))
                candidates << o;
    }
    if (candidates.isEmpty())
        return nullptr;
    // Prefer what the clerk can see.
    for (QObject *o : candidates)
        if (auto *w = qobject_cast<QWidget *>(o); w && w->isVisible())
            return o;
    return candidates.first();
}

QWidget *findWidget(const QString &name)
{
    QObject *o = findObject(name);
    if (!o)
        fail(name, QStringLiteral("a control named ") + name,
             QStringLiteral("no such control in any window (%1)").arg(windowNames()));
    auto *w = qobject_cast<QWidget *>(o);
    if (!w)
        fail(name, QStringLiteral("a control named ") + name,
             QStringLiteral("%1 is a %2, not a control")
                 .arg(name, QString::fromLatin1(o->metaObject()->className())));
    return w;
}

void focusWidget(QWidget *w)
{
    if (!w->isVisible())
        fail(w->objectName(), w->objectName() + QStringLiteral(" visible to take the focus"),
             QStringLiteral("it is hidden"));
    if (!w->isEnabled())
        fail(w->objectName(), w->objectName() + QStringLiteral(" enabled to take the focus"),
             QStringLiteral("it is disabled"));
    QWidget *target = w->focusProxy() ? w->focusProxy() : w;
    if (target->focusPolicy() == Qt::NoFocus)
        fail(w->objectName(), w->objectName() + QStringLiteral(" able to take the focus"),
             QStringLiteral("it never takes the focus"));
    QWidget *window = w->window();
    if (QApplication::activeWindow() != window) {
        window->activateWindow();
        QApplication::setActiveWindow(window);
    }
    w->setFocus(Qt::OtherFocusReason);
}

QWidget *nextInTabOrder(QWidget *from)
{
    QWidget *window = from->window();
    QWidget *w = from->nextInFocusChain();
    while (w && w != from) {
        if (w->window() == window && !from->isAncestorOf(w) && w->isVisible() && w->isEnabled() &&
            (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
            return w;
        w = w->nextInFocusChain();
    }
    return nullptr;
}

void focusUnlessHeld(QWidget *w)
{
    if (QApplication::focusWidget() != w && !w->isAncestorOf(QApplication::focusWidget()))
        focusWidget(w);
}

QWidget *namedOwner(QWidget *w)
{
    while (w && w->objectName().isEmpty() && !w->isWindow())
        w = w->parentWidget();
    return w;
}

QString describeWidget(const QWidget *w)
{
    if (!w)
        return QStringLiteral("nothing");
    if (!w->objectName().isEmpty())
        return w->objectName();
    return QStringLiteral("an unnamed %1").arg(QString::fromLatin1(w->metaObject()->className()));
}

QString stripMnemonic(QString text)
{
    const int tab = int(text.indexOf(QLatin1Char('\t')));
    if (tab >= 0)
        text.truncate(tab);
    text.remove(QLatin1Char('&'));
    return text.trimmed();
}

} // namespace fis::scenario
