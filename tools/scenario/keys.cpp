// Typing, keys and the focus:
//   type [CONTROL] "text"           the control gets the focus and the text as key presses
//   key KEY... [in CONTROL]         key presses, each to the control that has the focus then
//   focus CONTROL                   a real focus move there
//   leave [CONTROL] [to CONTROL]    the focus leaves for the next control of the tab order
//   expect focus CONTROL            the control (or an unnamed part of it) has the focus
#include "failure.h"
#include "families.h"
#include "finder.h"
#include "host.h"
#include "reader.h"
#include "runner.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

namespace fis::scenario {

void parseType(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Type;
    if (in.peekName())
        st.target = in.word(QString());
    st.text = in.string(QStringLiteral("the text to type"));
}

void runType(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    QWidget *w = nullptr;
    if (!st.target.isEmpty()) {
        w = findWidget(st.target);
        focusUnlessHeld(w);
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
            fail(QStringLiteral("type"), QStringLiteral("a control with the focus"),
                 QStringLiteral("no control has the focus"));
    }
    QTest::keyClicks(w, st.text);
}

void parseKey(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Key;
    while (!in.atEnd() && !in.peekWord("in"))
        st.keys.append(in.keyCombination(in.word(QStringLiteral("a key"))));
    if (st.keys.isEmpty())
        in.fail(QStringLiteral("expected at least one key"));
    if (in.accept("in"))
        st.target = in.word(QStringLiteral("the control"));
}

void runKey(Runner &, const Statement &st)
{
    // Keys go to whatever has the focus, even before the module is loaded.
    if (!st.target.isEmpty())
        focusUnlessHeld(findWidget(st.target));
    for (const QKeyCombination &k : st.keys) {
        QWidget *receiver = QApplication::focusWidget();
        if (!receiver)
            receiver = QApplication::activeWindow();
        if (!receiver)
            fail(QStringLiteral("key"), QStringLiteral("a window to receive the key"),
                 QStringLiteral("no active window"));
        QTest::keyClick(receiver, k.key(), k.keyboardModifiers());
    }
}

void parseFocus(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Focus;
    st.target = in.word(QStringLiteral("the control"));
}

void runFocus(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    focusWidget(findWidget(st.target));
}

void parseLeave(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Leave;
    if (!in.atEnd() && !in.peekWord("to"))
        st.target = in.word(QStringLiteral("the control"));
    if (in.accept("to"))
        st.other = in.word(QStringLiteral("the control that gets the focus"));
}

void runLeave(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    if (!st.target.isEmpty())
        focusUnlessHeld(findWidget(st.target));
    QWidget *from = QApplication::focusWidget();
    if (!from)
        fail(QStringLiteral("leave"), QStringLiteral("a control with the focus"),
             QStringLiteral("no control has the focus"));
    QWidget *to = st.other.isEmpty() ? nextInTabOrder(from) : findWidget(st.other);
    if (!to) {
        from->clearFocus();
        return;
    }
    if (!to->isVisible() || !to->isEnabled())
        fail(st.other, st.other + QStringLiteral(" able to take the focus"),
             to->isVisible() ? QStringLiteral("it is disabled") : QStringLiteral("it is hidden"));
    if (QApplication::activeWindow() != to->window())
        QApplication::setActiveWindow(to->window());
    to->setFocus(Qt::TabFocusReason);
    // An exit handler may have opened a dialog that has closed by now: the focus comes back to
    // the window with the activation events that closing posted.
    r.settle();
    r.note(QStringLiteral("    (focus now on %1)")
               .arg(describeWidget(namedOwner(QApplication::focusWidget()))));
}

void parseExpectFocus(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Focus;
    st.target = in.word(QStringLiteral("the control"));
}

void runExpectFocus(Runner &, const Statement &st)
{
    QWidget *focus = QApplication::focusWidget();
    QWidget *owner = namedOwner(focus);
    const QString leaf = st.target.section(QLatin1Char('.'), -1);
    if (!owner || owner->objectName() != leaf)
        fail(QStringLiteral("focus"), st.target,
             focus ? describeWidget(owner) : QStringLiteral("no control has the focus"));
}

} // namespace fis::scenario
