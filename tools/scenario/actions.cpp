// The clerk's actions.
#include "runner_p.h"

namespace fis::scenario {

// ---- actions ----------------------------------------------------------------------------------

void Runner::executeAction(const Statement &st)
{
    if (st.kind != StatementKind::Call && !m_moduleLoaded && st.kind != StatementKind::Key)
        ensureModule();
    switch (st.kind) {
    case StatementKind::Call: {
        ensureModule();
        if (const qsizetype dot = st.target.indexOf(QLatin1Char('.')); dot > 0) {
            // OBJECT.METHOD: an invokable method of a screen, run as the toolkit would run it.
            QObject *target = findObject(st.target.left(dot));
            const QByteArray method = st.target.mid(dot + 1).toLatin1();
            bool invoked = false;
            fis::guarded([&] {
                invoked =
                    QMetaObject::invokeMethod(target, method.constData(), Qt::DirectConnection);
            });
            if (!invoked)
                failNow(st.target, QStringLiteral("an invokable method ") + st.target,
                        QStringLiteral("no such method"));
            return;
        }
        const QByteArray symbol = st.target.toLatin1();
        QFunctionPointer f = m_library->resolve(symbol.constData());
        if (!f)
            failNow(st.target, QStringLiteral("the module exporting ") + st.target,
                    QStringLiteral("no such entry point"));
        if (st.target == QLatin1String("CriaFiltroEmiPrevSocial")) {
            bool result = false;
            fis::guarded([&] { result = reinterpret_cast<FisBoolFunc>(f)(); });
            m_lastResult = result;
            m_haveResult = true;
            note(QStringLiteral("    -> result %1").arg(result ? "true" : "false"));
        } else {
            fis::guarded([&] { reinterpret_cast<FisProc>(f)(); });
        }
        return;
    }
    case StatementKind::Type: {
        QWidget *w = nullptr;
        if (!st.target.isEmpty()) {
            w = findWidget(st.target);
            if (QApplication::focusWidget() != w && !w->isAncestorOf(QApplication::focusWidget()))
                focusWidget(w);
            w = QApplication::focusWidget() ? QApplication::focusWidget() : w;
            // Typing replaces what the control holds; an empty text clears it.
            if (auto *edit = qobject_cast<QLineEdit *>(w)) {
                edit->selectAll();
                if (st.text.isEmpty())
                    QTest::keyClick(w, Qt::Key_Delete);
            }
        } else {
            w = QApplication::focusWidget();
            if (!w)
                failNow(QStringLiteral("type"), QStringLiteral("a control with the focus"),
                        QStringLiteral("no control has the focus"));
        }
        QTest::keyClicks(w, st.text);
        return;
    }
    case StatementKind::Key: {
        if (!st.target.isEmpty()) {
            QWidget *w = findWidget(st.target);
            if (QApplication::focusWidget() != w && !w->isAncestorOf(QApplication::focusWidget()))
                focusWidget(w);
        }
        for (const QKeyCombination &k : st.keys) {
            QWidget *receiver = QApplication::focusWidget();
            if (!receiver)
                receiver = QApplication::activeWindow();
            if (!receiver)
                failNow(QStringLiteral("key"), QStringLiteral("a window to receive the key"),
                        QStringLiteral("no active window"));
            QTest::keyClick(receiver, k.key(), k.keyboardModifiers());
        }
        return;
    }
    case StatementKind::Click: {
        QObject *o = findObject(st.target);
        if (!o)
            failNow(st.target, QStringLiteral("a control or menu item named ") + st.target,
                    QStringLiteral("none in any window"));
        if (auto *action = qobject_cast<QAction *>(o)) {
            if (!action->isEnabled()) {
                note(QStringLiteral("    (disabled: nothing happens)"));
                return;
            }
            action->trigger();
            return;
        }
        auto *w = qobject_cast<QWidget *>(o);
        if (!w)
            failNow(st.target, QStringLiteral("a control or menu item"),
                    QString::fromLatin1(o->metaObject()->className()));
        if (!w->isVisible())
            failNow(st.target, st.target + QStringLiteral(" visible to be clicked"),
                    QStringLiteral("it is hidden"));
        if (!w->isEnabled()) {
            note(QStringLiteral("    (disabled: nothing happens)"));
            return;
        }
        if (QApplication::activeWindow() != w->window())
            QApplication::setActiveWindow(w->window());
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
        return;
    }
    case StatementKind::Menu: {
        const QStringList path = st.text.split(QLatin1Char('/'));
        QList<QAction *> level;
        for (QWidget *root : searchRoots())
            for (QMenuBar *bar : root->findChildren<QMenuBar *>())
                if (bar->isVisible())
                    level += bar->actions();
        QAction *found = nullptr;
        for (int i = 0; i < path.size(); ++i) {
            found = nullptr;
            for (QAction *a : std::as_const(level))
                if (stripMnemonic(a->text()) == stripMnemonic(path[i])) {
                    found = a;
                    break;
                }
            if (!found) {
                QStringList seen;
                for (QAction *a : std::as_const(level))
                    if (!a->isSeparator())
                        seen << stripMnemonic(a->text());
                failNow(QStringLiteral("menu"), QStringLiteral("a menu item ") + quoted(path[i]),
                        QStringLiteral("items: ") + seen.join(QStringLiteral(", ")));
            }
            if (i + 1 < path.size()) {
                if (!found->menu())
                    failNow(QStringLiteral("menu"), quoted(path[i]) + QStringLiteral(" a submenu"),
                            QStringLiteral("a plain item"));
                level = found->menu()->actions();
            }
        }
        if (!found->isEnabled()) {
            note(QStringLiteral("    (disabled: nothing happens)"));
            return;
        }
        found->trigger();
        return;
    }
    case StatementKind::Focus:
        focusWidget(findWidget(st.target));
        return;
    case StatementKind::Leave: {
        if (!st.target.isEmpty()) {
            QWidget *w = findWidget(st.target);
            if (QApplication::focusWidget() != w && !w->isAncestorOf(QApplication::focusWidget()))
                focusWidget(w);
        }
        QWidget *from = QApplication::focusWidget();
        if (!from)
            failNow(QStringLiteral("leave"), QStringLiteral("a control with the focus"),
                    QStringLiteral("no control has the focus"));
        QWidget *to = st.other.isEmpty() ? nextInTabOrder(from) : findWidget(st.other);
        if (!to) {
            from->clearFocus();
            return;
        }
        if (!to->isVisible() || !to->isEnabled())
            failNow(st.other, st.other + QStringLiteral(" able to take the focus"),
                    to->isVisible() ? QStringLiteral("it is disabled")
                                    : QStringLiteral("it is hidden"));
        if (QApplication::activeWindow() != to->window())
            QApplication::setActiveWindow(to->window());
        to->setFocus(Qt::TabFocusReason);
        // An exit handler may have opened a dialog that has closed by now: the focus comes back
        // to the window with the activation events that closing posted.
        settle();
        note(QStringLiteral("    (focus now on %1)")
                 .arg(describeWidget(namedOwner(QApplication::focusWidget()))));
        return;
    }
    case StatementKind::Choose: {
        QWidget *w = findWidget(st.target);
        if (auto *combo = qobject_cast<QComboBox *>(w)) {
            if (QApplication::focusWidget() != combo &&
                !combo->isAncestorOf(QApplication::focusWidget()))
                focusWidget(combo);
            int index = st.number;
            if (!st.hasNumber)
                index = combo->findText(st.text);
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items << QStringLiteral("%1 \"%2\"").arg(i).arg(combo->itemText(i));
            if (index < 0 || index >= combo->count())
                failNow(st.target,
                        st.hasNumber ? QStringLiteral("an item %1").arg(st.number)
                                     : QStringLiteral("an item ") + quoted(st.text),
                        items.isEmpty()
                            ? QStringLiteral("no items")
                            : QStringLiteral("items ") + items.join(QStringLiteral(", ")));
            // As a choice from the drop-down list: the index changes, then "activated".
            combo->setCurrentIndex(index);
            QMetaObject::invokeMethod(combo, "activated", Qt::DirectConnection, Q_ARG(int, index));
            QMetaObject::invokeMethod(combo, "textActivated", Qt::DirectConnection,
                                      Q_ARG(QString, combo->itemText(index)));
            return;
        }
        const QList<QRadioButton *> radios = w->findChildren<QRadioButton *>();
        if (radios.isEmpty())
            failNow(st.target, QStringLiteral("a combo box or a radio group"),
                    QString::fromLatin1(w->metaObject()->className()));
        int index = st.number;
        QStringList items;
        for (int i = 0; i < radios.size(); ++i) {
            items << QStringLiteral("%1 \"%2\"").arg(i).arg(stripMnemonic(radios[i]->text()));
            if (!st.hasNumber && stripMnemonic(radios[i]->text()) == st.text)
                index = i;
        }
        if (!st.hasNumber && (index < 0 || stripMnemonic(radios[index]->text()) != st.text))
            index = -1;
        if (index < 0 || index >= radios.size())
            failNow(st.target, QStringLiteral("a radio item"),
                    QStringLiteral("items ") + items.join(QStringLiteral(", ")));
        QRadioButton *r = radios[index];
        if (QApplication::activeWindow() != r->window())
            QApplication::setActiveWindow(r->window());
        QTest::mouseClick(r, Qt::LeftButton, {}, r->rect().center());
        return;
    }
    case StatementKind::Cell:
    case StatementKind::Title: {
        QWidget *w = findWidget(st.target);
        auto *view = qobject_cast<QTableView *>(w);
        if (!view)
            failNow(st.target, QStringLiteral("a grid"),
                    QString::fromLatin1(w->metaObject()->className()));
        if (!view->isVisible())
            failNow(st.target, st.target + QStringLiteral(" visible"), QStringLiteral("hidden"));
        QString fields;
        const int column = gridColumn(view, st.field, &fields);
        if (column < 0)
            failNow(st.target, QStringLiteral("a column of field ") + st.field,
                    QStringLiteral("columns: ") + fields);
        if (QApplication::activeWindow() != view->window())
            QApplication::setActiveWindow(view->window());
        if (st.kind == StatementKind::Title) {
            QHeaderView *header = view->horizontalHeader();
            if (!header->isVisible())
                failNow(st.target, QStringLiteral("column titles shown"),
                        QStringLiteral("the grid shows no titles"));
            const QPoint at(header->sectionViewportPosition(column) +
                                header->sectionSize(column) / 2,
                            header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
            return;
        }
        const int rows = view->model()->rowCount();
        if (st.number > rows)
            failNow(st.target, QStringLiteral("a row %1").arg(st.number),
                    QStringLiteral("the grid has %1 rows").arg(rows));
        const QModelIndex index = view->model()->index(st.number - 1, column);
        view->scrollTo(index);
        const QPoint at = view->visualRect(index).center();
        if (st.flag)
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        else
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        return;
    }
    case StatementKind::Load: {
        QObject *o = findObject(st.target);
        auto *set = qobject_cast<ClientDataSet *>(o);
        if (!set)
            failNow(st.target, QStringLiteral("a record set named ") + st.target,
                    o ? QString::fromLatin1(o->metaObject()->className())
                      : QStringLiteral("none in any window"));
        const DataPacket packet = st.table ? packetOf(*st.table) : namedPacket(st.other);
        // As the filter loads the server's answer: the set's before-open rules run, and what
        // they raise is reported as any handler's would be.
        fis::guarded([&] { set->setData(packet); });
        note(QStringLiteral("    -> %1 %2 records").arg(st.target).arg(set->recordCount()));
        return;
    }
    case StatementKind::Close: {
        QWidget *w = findWidget(st.target);
        if (auto *sub = qobject_cast<QMdiSubWindow *>(w->parentWidget()))
            sub->close();
        else
            w->close();
        return;
    }
    default:
        return;
    }
}

} // namespace fis::scenario
