// Messages and modal windows. Answers are queued before the action that opens the window:
//   answer pick row N | FIELD=VALUE | cancel     the next pick list
//   answer find FIELD=VALUE | cancel             the next find dialog
//   answer integration same | cancel | packet NAME | table + block
//                      | edit ROW FIELD=VALUE [ROW FIELD=VALUE]...
//   answer confirm yes | no                      the next confirmation
//   answer dialog NAME ACTION                    when that real dialog opens, ACTION runs in it
// and what was shown is expected after it:
//   expect message [KIND] "text" / expect messages N / expect no message [since line N]
//   expect dialog NAME [opened] / expect no dialog
//   expect pick ["title"] / expect find / expect integration [row N FIELD VALUE]
#include "dialogs.h"
#include "failure.h"
#include "families.h"
#include "finder.h"
#include "reader.h"
#include "runner.h"
#include "statements.h"

#include "data/dataset.h"
#include "testkit/recordinghostui.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>

namespace fis::scenario {

namespace {

QString describeMessage(const RecordingHostUi::Message &m)
{
    return RecordingHostUi::kindName(m.kind) + QLatin1Char(' ') + quoted(m.text);
}

// FIELD=VALUE of a pick or find answer.
void fieldValue(ScriptReader &in, Statement &st, const QString &what)
{
    st.field = in.word(what);
    in.punct('=');
    st.value = in.value();
}

// A pick, find or integration window asked for since the last action (with this title).
void expectWindow(Runner &r, const Statement &st, RecordingHostUi::RequestKind kind)
{
    const Checkpoint since = r.since(0);
    const auto &requests = r.ui().requests();
    QStringList seen;
    for (int i = since.requests; i < requests.size(); ++i) {
        if (requests[i].kind != kind)
            continue;
        if (st.text.isEmpty() || requests[i].title == st.text)
            return;
        seen << quoted(requests[i].title);
    }
    fail(expectKindName(st.expectKind),
         QStringLiteral("a %1 window%2 since line %3")
             .arg(expectKindName(st.expectKind),
                  st.text.isEmpty() ? QString() : QLatin1Char(' ') + quoted(st.text))
             .arg(since.line),
         seen.isEmpty() ? QStringLiteral("none") : seen.join(QStringLiteral(", ")));
}

} // namespace

// ---- answers ------------------------------------------------------------------------------------

void parseAnswerPick(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Answer;
    if (in.accept("cancel")) {
        st.answerKind = AnswerKind::PickCancel;
    } else if (in.accept("row")) {
        st.answerKind = AnswerKind::PickRow;
        st.number = in.integer(QStringLiteral("a row number"), 1);
    } else {
        st.answerKind = AnswerKind::PickValue;
        fieldValue(in, st, QStringLiteral("'row N', 'cancel' or FIELD=VALUE"));
    }
}

void runAnswerPick(Runner &r, const Statement &st)
{
    if (st.answerKind == AnswerKind::PickRow)
        r.ui().queuePickRow(st.number);
    else if (st.answerKind == AnswerKind::PickValue)
        r.ui().queuePickValue(st.field, st.value);
    else
        r.ui().queuePickCancel();
}

void parseAnswerFind(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Answer;
    if (in.accept("cancel")) {
        st.answerKind = AnswerKind::FindCancel;
    } else {
        st.answerKind = AnswerKind::FindValue;
        fieldValue(in, st, QStringLiteral("'cancel' or FIELD=VALUE"));
    }
}

void runAnswerFind(Runner &r, const Statement &st)
{
    if (st.answerKind == AnswerKind::FindValue)
        r.ui().queueFindValue(st.field, st.value);
    else
        r.ui().queueFindCancel();
}

void parseAnswerIntegration(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Answer;
    const int how =
        in.oneOf({QStringLiteral("same"), QStringLiteral("cancel"), QStringLiteral("packet"),
                  QStringLiteral("table"), QStringLiteral("edit")},
                 QStringLiteral("the integration answer"));
    if (how == 4) {
        // edit ROW FIELD=VALUE [ROW FIELD=VALUE]...: the cells the clerk corrects, then OK.
        st.answerKind = AnswerKind::IntegrationEdit;
        do {
            CellValue cell;
            cell.row = in.integer(QStringLiteral("a row of the packet"), 1);
            cell.field = in.word(QStringLiteral("a field of the packet"));
            in.punct('=');
            cell.value = in.value();
            st.cells.append(cell);
        } while (!in.atEnd());
        return;
    }
    if (how == 0) {
        st.answerKind = AnswerKind::IntegrationSame;
    } else if (how == 1) {
        st.answerKind = AnswerKind::IntegrationCancel;
    } else if (how == 2) {
        st.answerKind = AnswerKind::IntegrationPacket;
        st.target = in.word(QStringLiteral("the name of a table"));
    } else {
        st.answerKind = AnswerKind::IntegrationPacket;
        in.done();
        st.table = in.table(QString());
    }
}

void runAnswerIntegration(Runner &r, const Statement &st)
{
    if (st.answerKind == AnswerKind::IntegrationSame)
        r.ui().queueIntegrationSame();
    else if (st.answerKind == AnswerKind::IntegrationCancel)
        r.ui().queueIntegrationCancel();
    else if (st.answerKind == AnswerKind::IntegrationEdit) {
        QList<RecordingHostUi::CellEdit> edits;
        for (const CellValue &c : st.cells)
            edits.append({c.row, c.field, c.value});
        r.ui().queueIntegrationEdits(edits);
    } else
        r.ui().queueIntegration(st.table ? r.packetOf(*st.table) : r.namedPacket(st.target));
}

void parseAnswerConfirm(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Answer;
    st.answerKind = AnswerKind::Confirm;
    st.flag =
        in.oneOf({QStringLiteral("no"), QStringLiteral("yes")}, QStringLiteral("yes or no")) == 1;
}

void runAnswerConfirm(Runner &r, const Statement &st)
{
    r.ui().queueConfirmation(st.flag);
}

void parseAnswerDialog(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Answer;
    st.answerKind = AnswerKind::Dialog;
    st.target = in.word(QStringLiteral("the dialog's name"));
    auto inner = std::make_shared<Statement>();
    inner->file = st.file;
    inner->line = st.line;
    inner->source = st.source;
    if (!in.peekName())
        in.word(QStringLiteral("an action to run in the dialog"));
    if (!isActionKeyword(in.peek()->text))
        in.fail(QStringLiteral("'%1' is not an action").arg(in.peek()->text));
    readStatement(in, *inner);
    st.nested = inner;
}

void runAnswerDialog(Runner &r, const Statement &st)
{
    r.dialogs().queueAnswer(st.target, st.nested);
}

// ---- messages -----------------------------------------------------------------------------------

void parseExpectMessage(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Message;
    if (in.peekName()) {
        static const QStringList kinds{QStringLiteral("info"), QStringLiteral("warning"),
                                       QStringLiteral("error"), QStringLiteral("confirm")};
        st.other = kinds.at(in.oneOf(kinds, QStringLiteral("a message kind")));
    }
    st.text = in.string(QStringLiteral("the message text"));
}

void runExpectMessage(Runner &r, const Statement &st)
{
    const Checkpoint since = r.since(0);
    const auto &msgs = r.ui().messages();
    const QString wanted =
        (st.other.isEmpty() ? QString() : st.other + QLatin1Char(' ')) + quoted(st.text);
    if (msgs.size() <= since.messages)
        fail(QStringLiteral("message"), wanted,
             msgs.isEmpty() ? QStringLiteral("no message at all")
                            : QStringLiteral("no message since line %1 (the last one, earlier: %2)")
                                  .arg(since.line)
                                  .arg(describeMessage(msgs.last())));
    const auto &m = msgs.last();
    if (m.text != st.text || (!st.other.isEmpty() && RecordingHostUi::kindName(m.kind) != st.other))
        fail(QStringLiteral("message"), wanted, describeMessage(m));
}

void parseExpectMessages(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Messages;
    st.number = in.integer(QStringLiteral("a message count"));
}

void runExpectMessages(Runner &r, const Statement &st)
{
    const Checkpoint since = r.since(0);
    const auto &msgs = r.ui().messages();
    const int n = int(msgs.size()) - since.messages;
    if (n != st.number) {
        QStringList shown;
        for (int i = since.messages; i < msgs.size(); ++i)
            shown << describeMessage(msgs[i]);
        fail(QStringLiteral("messages"), QString::number(st.number),
             QStringLiteral("%1 %2").arg(n).arg(
                 shown.isEmpty() ? QString() : shown.join(QStringLiteral("; "))));
    }
}

void parseExpectNoMessage(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::NoMessage;
    st.sinceLine = in.sinceLine();
}

void runExpectNoMessage(Runner &r, const Statement &st)
{
    const Checkpoint c = r.since(st.sinceLine);
    const auto &msgs = r.ui().messages();
    if (msgs.size() > c.messages)
        fail(QStringLiteral("no message"), QStringLiteral("no message since line %1").arg(c.line),
             describeMessage(msgs[c.messages]));
}

// ---- dialogs and windows ------------------------------------------------------------------------

void parseExpectDialog(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Dialog;
    st.target = in.word(QStringLiteral("the dialog's name"));
    st.flag = in.accept("opened");
}

void runExpectDialog(Runner &r, const Statement &st)
{
    if (st.flag) {
        const Checkpoint since = r.since(0);
        const QStringList opened = r.recorder().dialogs().mid(since.dialogs);
        if (!opened.contains(st.target))
            fail(QStringLiteral("dialog"),
                 st.target + QStringLiteral(" opened since line %1").arg(since.line),
                 opened.isEmpty() ? QStringLiteral("no dialog opened")
                                  : opened.join(QStringLiteral(", ")));
        return;
    }
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal->objectName() != st.target)
        fail(QStringLiteral("dialog"), st.target + QStringLiteral(" open"),
             modal ? describeWidget(modal) + QStringLiteral(" open")
                   : QStringLiteral("no modal dialog open"));
}

void parseExpectNoDialog(ScriptReader &, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::NoDialog;
}

void runExpectNoDialog(Runner &, const Statement &)
{
    if (QWidget *modal = QApplication::activeModalWidget())
        fail(QStringLiteral("no dialog"), QStringLiteral("no modal dialog open"),
             describeWidget(modal) + QStringLiteral(" open"));
}

void parseExpectPick(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Pick;
    if (!in.atEnd())
        st.text = in.string(QStringLiteral("the pick list's title"));
}

void runExpectPick(Runner &r, const Statement &st)
{
    expectWindow(r, st, RecordingHostUi::RequestKind::Pick);
}

void parseExpectFind(ScriptReader &, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Find;
}

void runExpectFind(Runner &r, const Statement &st)
{
    expectWindow(r, st, RecordingHostUi::RequestKind::Find);
}

void parseExpectIntegration(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Integration;
    // row N FIELD VALUE: a cell of the packet the window was given.
    if (in.accept("row")) {
        st.number = in.integer(QStringLiteral("a row of the packet"), 1);
        st.field = in.word(QStringLiteral("a field of the packet"));
        st.expected = in.expectedValue();
    }
}

void runExpectIntegration(Runner &r, const Statement &st)
{
    expectWindow(r, st, RecordingHostUi::RequestKind::Integration);
    if (st.number == 0)
        return;
    const auto &requests = r.ui().requests();
    auto last = std::find_if(requests.crbegin(), requests.crend(), [](const auto &req) {
        return req.kind == RecordingHostUi::RequestKind::Integration;
    });
    ClientDataSet set;
    set.setData(last->packet);
    const Field *field = set.findField(st.field);
    const QString what =
        QStringLiteral("row %1 %2 = %3").arg(st.number).arg(st.field, st.expected.describe());
    if (!field)
        fail(QStringLiteral("integration"), what,
             QStringLiteral("the window's packet has no field %1").arg(st.field));
    if (st.number > set.recordCount())
        fail(QStringLiteral("integration"), what,
             QStringLiteral("the window's packet has %1 rows").arg(set.recordCount()));
    QString found;
    if (!st.expected.matches(set.valueAt(st.number - 1, field->index()), &found))
        fail(QStringLiteral("integration"), what, found);
}

} // namespace fis::scenario
