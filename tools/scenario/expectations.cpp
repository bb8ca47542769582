// Expectations.
#include "runner_p.h"

namespace fis::scenario {

// ---- expectations -----------------------------------------------------------------------------

void Runner::executeExpect(const Statement &st)
{
    const Checkpoint &since = lastAction();
    auto sinceCheckpoint = [&](int line) -> Checkpoint {
        if (line == 0)
            return since;
        const Checkpoint *c = actionAt(line);
        if (!c)
            failNow(expectKindName(st.expectKind),
                    QStringLiteral("line %1 to be an action that ran").arg(line),
                    QStringLiteral("no action ran at line %1").arg(line));
        return *c;
    };
    auto describeMessage = [](const RecordingHostUi::Message &m) {
        return RecordingHostUi::kindName(m.kind) + QLatin1Char(' ') + quoted(m.text);
    };

    switch (st.expectKind) {
    case ExpectKind::Message: {
        const auto &msgs = m_ui->messages();
        const QString wanted =
            (st.other.isEmpty() ? QString() : st.other + QLatin1Char(' ')) + quoted(st.text);
        if (msgs.size() <= since.messages)
            failNow(QStringLiteral("message"), wanted,
                    msgs.isEmpty()
                        ? QStringLiteral("no message at all")
                        : QStringLiteral("no message since line %1 (the last one, earlier: %2)")
                              .arg(since.line)
                              .arg(describeMessage(msgs.last())));
        const auto &m = msgs.last();
        if (m.text != st.text ||
            (!st.other.isEmpty() && RecordingHostUi::kindName(m.kind) != st.other))
            failNow(QStringLiteral("message"), wanted, describeMessage(m));
        return;
    }
    case ExpectKind::NoMessage: {
        const Checkpoint c = sinceCheckpoint(st.sinceLine);
        const auto &msgs = m_ui->messages();
        if (msgs.size() > c.messages)
            failNow(QStringLiteral("no message"),
                    QStringLiteral("no message since line %1").arg(c.line),
                    describeMessage(msgs[c.messages]));
        return;
    }
    case ExpectKind::Messages: {
        const int n = int(m_ui->messages().size()) - since.messages;
        if (n != st.number) {
            QStringList shown;
            for (int i = since.messages; i < m_ui->messages().size(); ++i)
                shown << describeMessage(m_ui->messages()[i]);
            failNow(QStringLiteral("messages"), QString::number(st.number),
                    QStringLiteral("%1 %2").arg(n).arg(
                        shown.isEmpty() ? QString() : shown.join(QStringLiteral("; "))));
        }
        return;
    }
    case ExpectKind::Focus: {
        QWidget *focus = QApplication::focusWidget();
        QWidget *owner = namedOwner(focus);
        const QString leaf = st.target.section(QLatin1Char('.'), -1);
        if (!owner || owner->objectName() != leaf)
            failNow(QStringLiteral("focus"), st.target,
                    focus ? describeWidget(owner) : QStringLiteral("no control has the focus"));
        return;
    }
    case ExpectKind::State: {
        QObject *o = findObject(st.target);
        if (st.text == QLatin1String("absent")) {
            if (o)
                failNow(st.target, QStringLiteral("absent"),
                        QStringLiteral("%1 exists (%2)")
                            .arg(st.target, qobject_cast<QWidget *>(o) &&
                                                    static_cast<QWidget *>(o)->isVisible()
                                                ? QStringLiteral("visible")
                                                : QStringLiteral("not visible")));
            return;
        }
        if (!o)
            failNow(st.target, st.text,
                    QStringLiteral("no control named %1 (%2)").arg(st.target, windowNames()));
        bool holds = false;
        QString actual;
        auto *w = qobject_cast<QWidget *>(o);
        auto *action = qobject_cast<QAction *>(o);
        const QString s = st.text;
        if (s == QLatin1String("enabled") || s == QLatin1String("disabled")) {
            const bool on = w ? w->isEnabled() : action ? action->isEnabled() : false;
            holds = (s == QLatin1String("enabled")) == on;
            actual = on ? QStringLiteral("enabled") : QStringLiteral("disabled");
        } else if (s == QLatin1String("visible") || s == QLatin1String("hidden")) {
            bool on = w ? w->isVisible() : action ? action->isVisible() : false;
#ifdef FIS_SCENARIO_HAVE_DBGRID
            // A grid's column (grid.FIELD): shown when the grid shows it.
            if (auto *column = qobject_cast<GridColumn *>(o))
                on = column->visible() && column->grid()->isVisible();
#endif
            holds = (s == QLatin1String("visible")) == on;
            actual = on ? QStringLiteral("visible") : QStringLiteral("hidden");
        } else if (s == QLatin1String("maximized")) {
            bool on = w && w->isMaximized();
            if (w)
                if (auto *sub = qobject_cast<QMdiSubWindow *>(w->parentWidget()))
                    on = sub->isMaximized();
            holds = on;
            actual = on ? QStringLiteral("maximized") : QStringLiteral("not maximized");
        } else if (s == QLatin1String("highlighted") || s == QLatin1String("not highlighted")) {
            // A required field's background is the information colour of the application's
            // palette (the colour of tool tips), which must differ from the ordinary base. The
            // active colours count: a disabled field still shows it is required once enabled.
            if (!w)
                failNow(st.target, s, QStringLiteral("%1 is not a control").arg(st.target));
            const QPalette app = QApplication::palette(w);
            const QColor base = w->palette().color(QPalette::Active, QPalette::Base);
            const QColor info = app.color(QPalette::Active, QPalette::ToolTipBase);
            const bool on = base == info && info != app.color(QPalette::Active, QPalette::Base);
            holds = (s == QLatin1String("highlighted")) == on;
            actual = on ? QStringLiteral("highlighted")
                        : QStringLiteral("not highlighted (background %1, information colour %2)")
                              .arg(base.name(), info.name());
        } else if (s == QLatin1String("checked") || s == QLatin1String("unchecked")) {
            bool on = false;
            if (auto *b = qobject_cast<QAbstractButton *>(o))
                on = b->isChecked();
            else if (action)
                on = action->isChecked();
            holds = (s == QLatin1String("checked")) == on;
            actual = on ? QStringLiteral("checked") : QStringLiteral("unchecked");
        } else {
            auto *edit = qobject_cast<QLineEdit *>(o);
            const bool ro = edit ? edit->isReadOnly() : o->property("readOnly").toBool();
            holds = (s == QLatin1String("readonly")) == ro;
            actual = ro ? QStringLiteral("readonly") : QStringLiteral("editable");
        }
        if (!holds)
            failNow(st.target, s, actual);
        return;
    }
    case ExpectKind::Text:
    case ExpectKind::Display: {
        QObject *o = findObject(st.target);
        if (!o)
            failNow(st.target, quoted(st.text), QStringLiteral("no control named ") + st.target);
        const QString actual = controlText(o, st.expectKind == ExpectKind::Display);
        if (actual != st.text)
            failNow(st.target, quoted(st.text), quoted(actual));
        return;
    }
    case ExpectKind::Index:
    case ExpectKind::Count: {
        QWidget *w = findWidget(st.target);
        int index = -1;
        int count = 0;
        if (auto *combo = qobject_cast<QComboBox *>(w)) {
            index = combo->currentIndex();
            count = combo->count();
        } else if (auto *tabs = qobject_cast<QTabWidget *>(w)) {
            index = tabs->currentIndex();
            count = tabs->count();
        } else if (auto *stack = qobject_cast<QStackedWidget *>(w)) {
            index = stack->currentIndex();
            count = stack->count();
        } else if (auto *view = qobject_cast<QAbstractItemView *>(w)) {
            index = view->currentIndex().row();
            count = view->model() ? view->model()->rowCount() : 0;
        } else {
            const QList<QRadioButton *> radios = w->findChildren<QRadioButton *>();
            count = int(radios.size());
            for (int i = 0; i < radios.size(); ++i)
                if (radios[i]->isChecked())
                    index = i;
        }
        const int actual = st.expectKind == ExpectKind::Index ? index : count;
        if (actual != st.number)
            failNow(st.target, QString::number(st.number), QString::number(actual));
        return;
    }
    case ExpectKind::Row: {
        auto *view = qobject_cast<QAbstractItemView *>(findWidget(st.target));
        if (!view)
            failNow(st.target, QStringLiteral("a grid"), QStringLiteral("not a grid"));
        const int row = view->currentIndex().isValid() ? view->currentIndex().row() + 1 : 0;
        if (row != st.number)
            failNow(st.target, QStringLiteral("row %1").arg(st.number),
                    QStringLiteral("row %1").arg(row));
        return;
    }
    case ExpectKind::Property: {
        QObject *o = findObject(st.target);
        if (!o)
            failNow(st.target, st.expected.describe(),
                    QStringLiteral("no object named ") + st.target);
        const QVariant v = o->property(st.field.toLatin1().constData());
        if (!v.isValid())
            failNow(st.target, QStringLiteral("a property ") + st.field,
                    QStringLiteral("%1 has no such property").arg(st.target));
        QString found;
        if (!st.expected.matches(v, &found))
            failNow(st.target, st.expected.describe(), found);
        return;
    }
    case ExpectKind::Cell: {
        auto *view = qobject_cast<QTableView *>(findWidget(st.target));
        if (!view || !view->model())
            failNow(st.target, QStringLiteral("a grid"), QStringLiteral("not a grid"));
        QString fields;
        const int column = gridColumn(view, st.field, &fields);
        if (column < 0)
            failNow(st.target, QStringLiteral("a column of field ") + st.field,
                    QStringLiteral("columns: ") + fields);
        const int rows = view->model()->rowCount();
        if (st.number > rows)
            failNow(st.target, quoted(st.text),
                    QStringLiteral("the grid has %1 rows, no row %2").arg(rows).arg(st.number));
        const QString actual =
            view->model()->index(st.number - 1, column).data(Qt::DisplayRole).toString();
        if (actual != st.text)
            failNow(st.target, quoted(st.text), quoted(actual));
        return;
    }
    case ExpectKind::Records:
    case ExpectKind::Field: {
        QObject *o = findObject(st.target);
        auto *set = qobject_cast<ClientDataSet *>(o);
        if (!set)
            failNow(st.target, QStringLiteral("a record set named ") + st.target,
                    o ? QString::fromLatin1(o->metaObject()->className())
                      : QStringLiteral("none in any window"));
        if (st.expectKind == ExpectKind::Records) {
            const bool byQuery = !st.text.isEmpty();
            const qint64 wanted = byQuery ? countOnHostDatabase(st.text) : st.number;
            if (set->recordCount() != wanted)
                failNow(
                    st.target,
                    QStringLiteral("%1 records%2")
                        .arg(wanted)
                        .arg(byQuery ? QStringLiteral(" (the count the query gives)") : QString()),
                    QStringLiteral("%1 records%2")
                        .arg(set->recordCount())
                        .arg(set->active() ? QString() : QStringLiteral(" (closed)")));
            return;
        }
        Field *field = set->findField(st.field);
        if (!field)
            failNow(st.target, QStringLiteral("a field ") + st.field,
                    QStringLiteral("%1 has no such field").arg(st.target));
        if (st.number > set->recordCount())
            failNow(st.target, st.expected.describe(),
                    QStringLiteral("%1 records, no row %2").arg(set->recordCount()).arg(st.number));
        QString found;
        if (!st.expected.matches(set->valueAt(st.number - 1, field->index()), &found))
            failNow(st.target, st.expected.describe(), found);
        return;
    }
    case ExpectKind::Call: {
        const QList<FakeAppServer::Call> calls = m_server->calls();
        if (calls.size() < st.number)
            failNow(QStringLiteral("call"),
                    QStringLiteral("%1 (call %2 back)").arg(st.target).arg(st.number),
                    QStringLiteral("only %1 calls so far").arg(calls.size()));
        const FakeAppServer::Call &call = calls[calls.size() - st.number];
        if (call.method != st.target)
            failNow(QStringLiteral("call"), st.target, call.method);
        for (const auto &[pos, expected] : st.args) {
            if (pos > call.args.size())
                failNow(
                    QStringLiteral("call"),
                    QStringLiteral("argument %1 = %2").arg(pos).arg(expected.describe()),
                    QStringLiteral("%1 has %2 arguments").arg(call.method).arg(call.args.size()));
            QString found;
            if (!expected.matches(call.args[pos - 1], &found))
                failNow(QStringLiteral("call"),
                        QStringLiteral("argument %1 = %2").arg(pos).arg(expected.describe()),
                        QStringLiteral("argument %1 = %2").arg(pos).arg(found));
        }
        return;
    }
    case ExpectKind::NoCall: {
        const Checkpoint c = sinceCheckpoint(st.sinceLine);
        const QList<FakeAppServer::Call> calls = m_server->calls();
        if (calls.size() > c.calls)
            failNow(QStringLiteral("no call"),
                    QStringLiteral("no remote call since line %1").arg(c.line),
                    QStringLiteral("%1 (and %2 more)")
                        .arg(calls[c.calls].method)
                        .arg(calls.size() - c.calls - 1));
        return;
    }
    case ExpectKind::Calls: {
        const QList<FakeAppServer::Call> calls = m_server->calls();
        int n = 0;
        for (int i = since.calls; i < calls.size(); ++i)
            if (calls[i].method == st.target)
                ++n;
        if (n != st.number)
            failNow(QStringLiteral("calls"),
                    QStringLiteral("%1 calls of %2 since line %3")
                        .arg(st.number)
                        .arg(st.target)
                        .arg(since.line),
                    QString::number(n));
        return;
    }
    case ExpectKind::Dialog: {
        if (st.flag) {
            const QStringList opened = m_dialogLog.mid(since.dialogs);
            if (!opened.contains(st.target))
                failNow(QStringLiteral("dialog"),
                        st.target + QStringLiteral(" opened since line %1").arg(since.line),
                        opened.isEmpty() ? QStringLiteral("no dialog opened")
                                         : opened.join(QStringLiteral(", ")));
            return;
        }
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != st.target)
            failNow(QStringLiteral("dialog"), st.target + QStringLiteral(" open"),
                    modal ? describeWidget(modal) + QStringLiteral(" open")
                          : QStringLiteral("no modal dialog open"));
        return;
    }
    case ExpectKind::NoDialog: {
        if (QWidget *modal = QApplication::activeModalWidget())
            failNow(QStringLiteral("no dialog"), QStringLiteral("no modal dialog open"),
                    describeWidget(modal) + QStringLiteral(" open"));
        return;
    }
    case ExpectKind::Pick:
    case ExpectKind::Find:
    case ExpectKind::Integration: {
        const auto kind = st.expectKind == ExpectKind::Pick ? RecordingHostUi::RequestKind::Pick
                          : st.expectKind == ExpectKind::Find
                              ? RecordingHostUi::RequestKind::Find
                              : RecordingHostUi::RequestKind::Integration;
        const auto &requests = m_ui->requests();
        QStringList seen;
        for (int i = since.requests; i < requests.size(); ++i) {
            if (requests[i].kind != kind)
                continue;
            if (st.text.isEmpty() || requests[i].title == st.text)
                return;
            seen << quoted(requests[i].title);
        }
        failNow(expectKindName(st.expectKind),
                QStringLiteral("a %1 window%2 since line %3")
                    .arg(expectKindName(st.expectKind),
                         st.text.isEmpty() ? QString() : QLatin1Char(' ') + quoted(st.text))
                    .arg(since.line),
                seen.isEmpty() ? QStringLiteral("none") : seen.join(QStringLiteral(", ")));
    }
    case ExpectKind::Result:
        if (!m_haveResult)
            failNow(QStringLiteral("result"),
                    st.flag ? QStringLiteral("true") : QStringLiteral("false"),
                    QStringLiteral("no entry point with a result was called"));
        if (m_lastResult != st.flag)
            failNow(QStringLiteral("result"),
                    st.flag ? QStringLiteral("true") : QStringLiteral("false"),
                    m_lastResult ? QStringLiteral("true") : QStringLiteral("false"));
        return;
    }
}

} // namespace fis::scenario
