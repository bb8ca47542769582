// Clicks, menus, choices and windows, and what a control shows:
//   click CONTROL | MENUITEM        a mouse click (a menu item by name is triggered)
//   menu "Caption/Caption"          the menu item found by its captions
//   choose CONTROL N | "text"       an item of a combo or a radio group
//   close WINDOW                    closes the window (a screen: its MDI frame)
//   snapshot WINDOW "file.png" [W H] saves a picture of the top-level window that holds WINDOW
//                                   (resized to W x H pixels first)
//   expect CONTROL STATE            enabled, disabled, visible, hidden, maximized, checked,
//                                   unchecked, readonly, editable, absent, [not] highlighted
//   expect CONTROL text "..." | display "..." | index N | count N | property NAME VALUE
#include "failure.h"
#include "families.h"
#include "finder.h"
#include "host.h"
#include "reader.h"
#include "runner.h"
#include "statements.h"

#include "widgets/maskedit.h"

#if __has_include("widgets/dbgrid.h")
#include "widgets/dbgrid.h"
#define FIS_SCENARIO_HAVE_DBGRID 1
#endif

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

namespace fis::scenario {

namespace {

// The control's text as the program reads it (display: as shown, with mask literals and blanks).
QString controlText(QObject *o, bool display)
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

// "expect CONTROL ..." names the control in the phrase; the statement is an expectation.
void expectOfControl(Statement &st, ExpectKind kind)
{
    st.kind = StatementKind::Expect;
    st.expectKind = kind;
}

} // namespace

// ---- actions ------------------------------------------------------------------------------------

void parseClick(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Click;
    st.target = in.word(QStringLiteral("the control or menu item"));
}

void runClick(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    QObject *o = findObject(st.target);
    if (!o)
        fail(st.target, QStringLiteral("a control or menu item named ") + st.target,
             QStringLiteral("none in any window"));
    if (auto *action = qobject_cast<QAction *>(o)) {
        if (!action->isEnabled()) {
            r.note(QStringLiteral("    (disabled: nothing happens)"));
            return;
        }
        action->trigger();
        return;
    }
    auto *w = qobject_cast<QWidget *>(o);
    if (!w)
        fail(st.target, QStringLiteral("a control or menu item"),
             QString::fromLatin1(o->metaObject()->className()));
    if (!w->isVisible())
        fail(st.target, st.target + QStringLiteral(" visible to be clicked"),
             QStringLiteral("it is hidden"));
    if (!w->isEnabled()) {
        r.note(QStringLiteral("    (disabled: nothing happens)"));
        return;
    }
    if (QApplication::activeWindow() != w->window())
        QApplication::setActiveWindow(w->window());
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

void parseMenu(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Menu;
    st.text = in.string(QStringLiteral("the menu path (\"Operação/Imprimir\")"));
}

void runMenu(Runner &r, const Statement &st)
{
    r.host().ensureModule();
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
            fail(QStringLiteral("menu"), QStringLiteral("a menu item ") + quoted(path[i]),
                 QStringLiteral("items: ") + seen.join(QStringLiteral(", ")));
        }
        if (i + 1 < path.size()) {
            if (!found->menu())
                fail(QStringLiteral("menu"), quoted(path[i]) + QStringLiteral(" a submenu"),
                     QStringLiteral("a plain item"));
            level = found->menu()->actions();
        }
    }
    if (!found->isEnabled()) {
        r.note(QStringLiteral("    (disabled: nothing happens)"));
        return;
    }
    found->trigger();
}

void parseChoose(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Choose;
    st.target = in.word(QStringLiteral("the combo or radio group"));
    if (in.peekString()) {
        st.text = in.string(QString());
    } else {
        st.number = in.integer(QStringLiteral("an item index or \"text\""));
        st.hasNumber = true;
    }
}

void runChoose(Runner &r, const Statement &st)
{
    r.host().ensureModule();
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
            fail(st.target,
                 st.hasNumber ? QStringLiteral("an item %1").arg(st.number)
                              : QStringLiteral("an item ") + quoted(st.text),
                 items.isEmpty() ? QStringLiteral("no items")
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
        fail(st.target, QStringLiteral("a combo box or a radio group"),
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
        fail(st.target, QStringLiteral("a radio item"),
             QStringLiteral("items ") + items.join(QStringLiteral(", ")));
    QRadioButton *radio = radios[index];
    if (QApplication::activeWindow() != radio->window())
        QApplication::setActiveWindow(radio->window());
    QTest::mouseClick(radio, Qt::LeftButton, {}, radio->rect().center());
}

void parseClose(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Close;
    st.target = in.word(QStringLiteral("the window"));
}

void runClose(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    QWidget *w = findWidget(st.target);
    if (auto *sub = qobject_cast<QMdiSubWindow *>(w->parentWidget()))
        sub->close();
    else
        w->close();
}

void parseSnapshot(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Snapshot;
    st.target = in.word(QStringLiteral("the window"));
    st.text = in.string(QStringLiteral("the picture's file name"));
    if (!st.text.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        in.fail(QStringLiteral("the picture is saved as PNG: name a .png file"));
    if (!in.atEnd()) {
        st.number = in.integer(QStringLiteral("the window's width"), 200);
        st.value = in.integer(QStringLiteral("the window's height"), 150);
    }
}

void runSnapshot(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    QWidget *window = findWidget(st.target)->window();
    if (st.number > 0)
        window->resize(st.number, st.value.toInt());
    QApplication::processEvents(); // every pending paint, so the picture is what is shown
    const QString file = r.host().resolvePath(st.text);
    if (!window->grab().save(file, "PNG"))
        fail(QStringLiteral("snapshot"), QStringLiteral("a picture saved as ") + file,
             QStringLiteral("the file could not be written"));
    r.note(QStringLiteral("    -> picture %1").arg(file));
}

// ---- expectations of a control ------------------------------------------------------------------

void parseExpectState(ScriptReader &, Statement &st)
{
    expectOfControl(st, ExpectKind::State);
    st.text = phraseAfter(*st.form, 2); // "enabled", ..., "not highlighted"
}

void runExpectState(Runner &, const Statement &st)
{
    QObject *o = findObject(st.target);
    if (st.text == QLatin1String("absent")) {
        if (o)
            fail(st.target, QStringLiteral("absent"),
                 QStringLiteral("%1 exists (%2)")
                     .arg(st.target,
                          qobject_cast<QWidget *>(o) && static_cast<QWidget *>(o)->isVisible()
                              ? QStringLiteral("visible")
                              : QStringLiteral("not visible")));
        return;
    }
    if (!o)
        fail(st.target, st.text,
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
            fail(st.target, s, QStringLiteral("%1 is not a control").arg(st.target));
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
        fail(st.target, s, actual);
}

void parseExpectText(ScriptReader &in, Statement &st)
{
    expectOfControl(st, ExpectKind::Text);
    st.text = in.string(QStringLiteral("the text"));
}

void runExpectText(Runner &, const Statement &st)
{
    QObject *o = findObject(st.target);
    if (!o)
        fail(st.target, quoted(st.text), QStringLiteral("no control named ") + st.target);
    const QString actual = controlText(o, st.expectKind == ExpectKind::Display);
    if (actual != st.text)
        fail(st.target, quoted(st.text), quoted(actual));
}

void parseExpectDisplay(ScriptReader &in, Statement &st)
{
    expectOfControl(st, ExpectKind::Display);
    st.text = in.string(QStringLiteral("the displayed text"));
}

void runExpectDisplay(Runner &r, const Statement &st)
{
    runExpectText(r, st);
}

void parseExpectIndex(ScriptReader &in, Statement &st)
{
    expectOfControl(st, ExpectKind::Index);
    st.number = in.integer(QStringLiteral("an index"), -1);
}

void runExpectIndex(Runner &, const Statement &st)
{
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
        fail(st.target, QString::number(st.number), QString::number(actual));
}

void parseExpectCount(ScriptReader &in, Statement &st)
{
    expectOfControl(st, ExpectKind::Count);
    st.number = in.integer(QStringLiteral("a count"));
}

void runExpectCount(Runner &r, const Statement &st)
{
    runExpectIndex(r, st);
}

void parseExpectProperty(ScriptReader &in, Statement &st)
{
    expectOfControl(st, ExpectKind::Property);
    st.field = in.word(QStringLiteral("the property name"));
    st.expected = in.expectedValue();
}

void runExpectProperty(Runner &, const Statement &st)
{
    QObject *o = findObject(st.target);
    if (!o)
        fail(st.target, st.expected.describe(), QStringLiteral("no object named ") + st.target);
    const QVariant v = o->property(st.field.toLatin1().constData());
    if (!v.isValid())
        fail(st.target, QStringLiteral("a property ") + st.field,
             QStringLiteral("%1 has no such property").arg(st.target));
    QString found;
    if (!st.expected.matches(v, &found))
        fail(st.target, st.expected.describe(), found);
}

void parseUnknownAspect(ScriptReader &in, Statement &st)
{
    const QString aspect = in.word(QStringLiteral("what to expect of ") + st.target);
    in.fail(QStringLiteral("unknown expectation '%1 %2' (a control takes: %3)")
                .arg(st.target, aspect, controlAspects().join(QStringLiteral(", "))));
}

} // namespace fis::scenario
