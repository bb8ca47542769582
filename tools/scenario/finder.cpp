// Finding controls by name, moving the focus, reading a control's text.
#include "runner_p.h"

namespace fis::scenario {

// ---- finding controls -------------------------------------------------------------------------

QList<QWidget *> Runner::searchRoots() const
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

QString Runner::windowNames() const
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

QObject *Runner::findObject(const QString &name) const
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

QWidget *Runner::findWidget(const QString &name) const
{
    QObject *o = findObject(name);
    if (!o)
        const_cast<Runner *>(this)->failNow(
            name, QStringLiteral("a control named ") + name,
            QStringLiteral("no such control in any window (%1)").arg(windowNames()));
    auto *w = qobject_cast<QWidget *>(o);
    if (!w)
        const_cast<Runner *>(this)->failNow(
            name, QStringLiteral("a control named ") + name,
            QStringLiteral("%1 is a %2, not a control")
                .arg(name, QString::fromLatin1(o->metaObject()->className())));
    return w;
}

void Runner::focusWidget(QWidget *w)
{
    if (!w->isVisible())
        failNow(w->objectName(), w->objectName() + QStringLiteral(" visible to take the focus"),
                QStringLiteral("it is hidden"));
    if (!w->isEnabled())
        failNow(w->objectName(), w->objectName() + QStringLiteral(" enabled to take the focus"),
                QStringLiteral("it is disabled"));
    QWidget *target = w->focusProxy() ? w->focusProxy() : w;
    if (target->focusPolicy() == Qt::NoFocus)
        failNow(w->objectName(), w->objectName() + QStringLiteral(" able to take the focus"),
                QStringLiteral("it never takes the focus"));
    QWidget *window = w->window();
    if (QApplication::activeWindow() != window) {
        window->activateWindow();
        QApplication::setActiveWindow(window);
    }
    w->setFocus(Qt::OtherFocusReason);
}

QWidget *Runner::nextInTabOrder(QWidget *from) const
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

int Runner::gridColumn(QWidget *gridWidget, const QString &field, QString *fields) const
{
    auto *view = qobject_cast<QTableView *>(gridWidget);
    if (!view || !view->model())
        return -1;
#ifdef FIS_SCENARIO_HAVE_DBGRID
    if (auto *grid = qobject_cast<DBGrid *>(gridWidget)) {
        QStringList names;
        for (int i = 0; i < grid->columnCount(); ++i) {
            const QString name = grid->column(i)->fieldName();
            names << name;
            if (name.compare(field, Qt::CaseInsensitive) == 0) {
                if (fields)
                    *fields = names.join(QStringLiteral(", "));
                return i;
            }
        }
        if (fields)
            *fields = names.join(QStringLiteral(", "));
        return -1;
    }
#endif
    // A plain table view: its columns by title.
    QStringList names;
    const int columns = view->model()->columnCount();
    for (int i = 0; i < columns; ++i) {
        const QString title = view->model()->headerData(i, Qt::Horizontal).toString();
        names << title;
        if (title.compare(field, Qt::CaseInsensitive) == 0)
            return i;
    }
    if (fields)
        *fields = names.join(QStringLiteral(", "));
    return -1;
}

QString Runner::controlText(QObject *o, bool display) const
{
    if (auto *edit = qobject_cast<MaskEdit *>(o))
        return display ? edit->displayText() : edit->Text();
    if (auto *edit = qobject_cast<QLineEdit *>(o))
        return display ? edit->displayText() : edit->text();
    if (auto *combo = qobject_cast<QComboBox *>(o))
        return combo->currentText();
    if (auto *label = qobject_cast<QLabel *>(o))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(o))
        return display ? stripMnemonic(button->text()) : button->text();
    if (auto *action = qobject_cast<QAction *>(o))
        return display ? stripMnemonic(action->text()) : action->text();
    if (auto *w = qobject_cast<QWidget *>(o); w && w->isWindow())
        return w->windowTitle();
    if (auto *sub = qobject_cast<QWidget *>(o);
        sub && qobject_cast<QMdiSubWindow *>(sub->parentWidget()))
        return sub->windowTitle();
    const QVariant text = o->property("text");
    return text.isValid() ? text.toString() : QString();
}

} // namespace fis::scenario
