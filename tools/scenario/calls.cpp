// The module's entry points and the remote calls:
//   call ENTRY | call SCREEN.METHOD       the host calls an entry point / a screen's method
//   reply METHOD [once] [out N=V]... VALUE | table + block | packet NAME | error "text"
//                                         the answer the server gives the method; an array
//                                         VALUE may hold packets: [packet NAME, null, "text"]
//   reply METHOD [once] match N COLUMN table + block
//                                         the rows of the table whose COLUMN holds argument N
//   expect call[K] METHOD [N=VALUE]... [progress "text"]
//                                         the last (K-th last) call, its arguments and the text
//                                         of the progress window while it ran ("": none)
//   expect calls METHOD N                 how many calls of it since the last action
//   expect no call [since line N]         none since the last action (or that line)
//   expect result true|false              the last entry point's result
#include "failure.h"
#include "families.h"
#include "finder.h"
#include "host.h"
#include "reader.h"
#include "runner.h"

#include "testkit/fakeappserver.h"
#include "widgets/errorguard.h"

#include <algorithm>

namespace fis::scenario {

void parseCall(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Call;
    st.target = in.word(QStringLiteral("an entry point"));
    static const QStringList entries{QStringLiteral("IniProc"), QStringLiteral("CriaEmiPrevSocial"),
                                     QStringLiteral("CriaFiltroEmiPrevSocial")};
    // OBJECT.METHOD names an invokable method of a screen instead.
    const qsizetype dot = st.target.indexOf(QLatin1Char('.'));
    const bool method = dot > 0 && dot < st.target.size() - 1;
    if (!method && !entries.contains(st.target))
        in.fail(QStringLiteral("unknown entry point '%1' (known: %2)")
                    .arg(st.target, entries.join(QStringLiteral(", "))));
}

void runCall(Runner &r, const Statement &st)
{
    r.host().ensureModule();
    if (const qsizetype dot = st.target.indexOf(QLatin1Char('.')); dot > 0) {
        // OBJECT.METHOD: an invokable method of a screen, run as the toolkit would run it.
        QObject *target = findObject(st.target.left(dot));
        const QByteArray method = st.target.mid(dot + 1).toLatin1();
        // Known before it runs: a method that abandons (a refusal shown to the clerk) exists.
        if (target->metaObject()->indexOfMethod(method + "()") < 0)
            fail(st.target, QStringLiteral("an invokable method ") + st.target,
                 QStringLiteral("no such method"));
        fis::guarded(
            [&] { QMetaObject::invokeMethod(target, method.constData(), Qt::DirectConnection); });
        return;
    }
    std::optional<bool> result;
    if (!r.host().callEntryPoint(st.target, &result))
        fail(st.target, QStringLiteral("the module exporting ") + st.target,
             QStringLiteral("no such entry point"));
    if (result) {
        r.setResult(*result);
        r.note(QStringLiteral("    -> result %1").arg(*result ? "true" : "false"));
    }
}

void parseReply(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Reply;
    st.target = in.word(QStringLiteral("the remote method"));
    ReplySpec &reply = st.reply;
    reply.once = in.accept("once");
    while (in.accept("out")) {
        const int pos = in.integer(QStringLiteral("an argument position"), 1);
        in.punct('=');
        reply.outputs.insert(pos, in.value());
    }
    if (in.accept("match")) {
        reply.matchArgument = in.integer(QStringLiteral("the argument position to match"), 1);
        reply.matchColumn = in.word(QStringLiteral("the column that holds it"));
        if (!in.accept("table"))
            in.fail(QStringLiteral("expected 'table' and its block after the matched column"));
        in.done();
        reply.table = in.table(QString());
        const bool known =
            std::any_of(reply.table->columns.cbegin(), reply.table->columns.cend(),
                        [&](const TableColumn &c) { return c.name == reply.matchColumn; });
        if (!known)
            in.failAt(reply.table->line,
                      QStringLiteral("the table has no column %1").arg(reply.matchColumn));
    } else if (in.accept("table")) {
        in.done();
        reply.table = in.table(QString());
    } else if (in.accept("packet")) {
        reply.packetName = in.word(QStringLiteral("the name of a table"));
    } else if (in.accept("error")) {
        reply.isError = true;
        reply.errorText = in.string(QStringLiteral("the error text"));
    } else if (in.peekPunct('[')) {
        // An array, whose items may be packets of named tables: [packet RESULT, null, "text"].
        in.skip();
        QVariantList items;
        while (!in.peekPunct(']')) {
            if (in.accept("packet")) {
                reply.arrayPackets.insert(int(items.size()),
                                          in.word(QStringLiteral("the name of a table")));
                items.append(Variant());
            } else {
                items.append(in.value());
            }
            if (!in.peekPunct(','))
                break;
            in.skip();
        }
        in.punct(']');
        reply.result = QVariant(items);
    } else {
        reply.result = in.value();
    }
}

void runReply(Runner &r, const Statement &st)
{
    FakeAppServer::Answer answer;
    answer.isError = st.reply.isError;
    answer.errorText = st.reply.errorText;
    answer.outputs = st.reply.outputs;
    if (st.reply.table && st.reply.matchArgument > 0) {
        // The packet of each value the column holds, made now: the server thread only looks up.
        const InlineTable &table = *st.reply.table;
        qsizetype column = 0;
        while (table.columns[column].name != st.reply.matchColumn)
            ++column;
        QMap<QString, InlineTable> byValue;
        InlineTable none = table;
        none.rows.clear();
        for (const QVariantList &row : table.rows) {
            const QString key = row.value(column).toString().trimmed();
            if (!byValue.contains(key))
                byValue.insert(key, none);
            byValue[key].rows.append(row);
        }
        QMap<QString, Variant> packets;
        for (auto it = byValue.cbegin(); it != byValue.cend(); ++it)
            packets.insert(it.key(), makePacket(r.packetOf(it.value())));
        const Variant empty = makePacket(r.packetOf(none));
        const int position = st.reply.matchArgument - 1;
        answer.resultOf = [packets, empty, position](const QList<Variant> &args) {
            const QString key = args.value(position).toString().trimmed();
            return packets.value(key, empty);
        };
    } else if (st.reply.table) {
        answer.result = makePacket(r.packetOf(*st.reply.table));
    } else if (!st.reply.packetName.isEmpty()) {
        answer.result = makePacket(r.namedPacket(st.reply.packetName));
    } else if (!st.reply.arrayPackets.isEmpty()) {
        QVariantList items = st.reply.result.toList();
        for (auto it = st.reply.arrayPackets.cbegin(); it != st.reply.arrayPackets.cend(); ++it)
            items[it.key()] = makePacket(r.namedPacket(it.value()));
        answer.result = QVariant(items);
    } else {
        answer.result = st.reply.result;
    }
    if (st.reply.once)
        r.server().queueAnswer(st.target, answer);
    else
        r.server().setDefaultAnswer(st.target, answer);
}

void parseExpectCall(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Call;
    st.number = 1;
    if (in.peekPunct('[')) {
        in.skip();
        st.number = in.integer(QStringLiteral("which call back (1 = the last)"), 1);
        in.punct(']');
    }
    st.target = in.word(QStringLiteral("the remote method"));
    while (!in.atEnd()) {
        if (in.accept("progress")) {
            st.flag = true;
            st.text = in.string(QStringLiteral("the text of the progress window"));
            continue;
        }
        const int pos = in.integer(QStringLiteral("an argument position"), 1);
        in.punct('=');
        st.args.append({pos, in.expectedValue()});
    }
}

void runExpectCall(Runner &r, const Statement &st)
{
    const QList<FakeAppServer::Call> calls = r.server().calls();
    if (calls.size() < st.number)
        fail(QStringLiteral("call"),
             QStringLiteral("%1 (call %2 back)").arg(st.target).arg(st.number),
             QStringLiteral("only %1 calls so far").arg(calls.size()));
    const FakeAppServer::Call &call = calls[calls.size() - st.number];
    if (call.method != st.target)
        fail(QStringLiteral("call"), st.target, call.method);
    for (const auto &[pos, expected] : st.args) {
        if (pos > call.args.size())
            fail(QStringLiteral("call"),
                 QStringLiteral("argument %1 = %2").arg(pos).arg(expected.describe()),
                 QStringLiteral("%1 has %2 arguments").arg(call.method).arg(call.args.size()));
        QString found;
        if (!expected.matches(call.args[pos - 1], &found))
            fail(QStringLiteral("call"),
                 QStringLiteral("argument %1 = %2").arg(pos).arg(expected.describe()),
                 QStringLiteral("argument %1 = %2").arg(pos).arg(found));
    }
    if (st.flag && call.progress != st.text)
        fail(QStringLiteral("call"),
             st.text.isEmpty() ? QStringLiteral("no progress window while %1 ran").arg(call.method)
                               : QStringLiteral("progress window %1").arg(quoted(st.text)),
             call.progress.isEmpty()
                 ? QStringLiteral("no progress window")
                 : QStringLiteral("progress window %1").arg(quoted(call.progress)));
}

void parseExpectCalls(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Calls;
    st.target = in.word(QStringLiteral("the remote method"));
    st.number = in.integer(QStringLiteral("a call count"));
}

void runExpectCalls(Runner &r, const Statement &st)
{
    const Checkpoint since = r.since(0);
    const QList<FakeAppServer::Call> calls = r.server().calls();
    int n = 0;
    for (int i = since.calls; i < calls.size(); ++i)
        if (calls[i].method == st.target)
            ++n;
    if (n != st.number)
        fail(QStringLiteral("calls"),
             QStringLiteral("%1 calls of %2 since line %3")
                 .arg(st.number)
                 .arg(st.target)
                 .arg(since.line),
             QString::number(n));
}

void parseExpectNoCall(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::NoCall;
    st.sinceLine = in.sinceLine();
}

void runExpectNoCall(Runner &r, const Statement &st)
{
    const Checkpoint c = r.since(st.sinceLine);
    const QList<FakeAppServer::Call> calls = r.server().calls();
    if (calls.size() > c.calls)
        fail(QStringLiteral("no call"), QStringLiteral("no remote call since line %1").arg(c.line),
             QStringLiteral("%1 (and %2 more)")
                 .arg(calls[c.calls].method)
                 .arg(calls.size() - c.calls - 1));
}

void parseExpectResult(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Result;
    st.flag = in.oneOf({QStringLiteral("false"), QStringLiteral("true")},
                       QStringLiteral("true or false")) == 1;
}

void runExpectResult(Runner &r, const Statement &st)
{
    const QString wanted = st.flag ? QStringLiteral("true") : QStringLiteral("false");
    if (!r.result())
        fail(QStringLiteral("result"), wanted,
             QStringLiteral("no entry point with a result was called"));
    if (*r.result() != st.flag)
        fail(QStringLiteral("result"), wanted,
             *r.result() ? QStringLiteral("true") : QStringLiteral("false"));
}

} // namespace fis::scenario
