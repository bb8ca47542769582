// The recording HostUi, the recording server and the dialogs that opened (see recorder.h).
#include "recorder.h"

#include "failure.h"
#include "framework/showavi.h"
#include "services/rdmEmisGuiaPrv.h"
#include "testkit/fakeappserver.h"
#include "testkit/recordinghostui.h"

namespace fis::scenario {

Recorder::Recorder() : m_ui(std::make_unique<RecordingHostUi>()) {}

Recorder::~Recorder()
{
    stop();
}

bool Recorder::start(const QString &upstream, const QString &token, QString *error)
{
    m_ui->install();
    m_server = std::make_unique<FakeAppServer>(QString::fromLatin1(rdmEmisGuiaPrv::kServerName));
    for (const rdmEmisGuiaPrv::MethodDecl &m : rdmEmisGuiaPrv::methods()) {
        QList<RpcParam> params;
        for (const rdmEmisGuiaPrv::ArgDecl &a : m.args)
            params.append(RpcParam{a.kind, a.byRef});
        m_server->declare(QString::fromLatin1(m.name), params);
    }
    if (!upstream.isEmpty()) {
        const int colon = int(upstream.lastIndexOf(QLatin1Char(':')));
        m_server->setUpstream(upstream.left(colon), upstream.mid(colon + 1).toInt(), token);
    }
    // The text of the module's progress window while it waits for each call.
    m_server->progressProbe = [] { return progressText(); };
    m_server->onFailure = [](const QString &text) {
        // Runs on a server thread while the module waits for the answer; only recorded here.
        Q_UNUSED(text);
    };
    if (!m_server->start()) {
        *error = m_server->errorString();
        return false;
    }
    return true;
}

void Recorder::stop()
{
    if (m_server)
        m_server->stop();
    if (m_ui)
        m_ui->uninstall();
}

Checkpoint Recorder::checkpoint(int line) const
{
    Checkpoint c;
    c.line = line;
    c.messages = int(m_ui->messages().size());
    c.calls = m_server->callCount();
    c.requests = int(m_ui->requests().size());
    c.dialogs = int(m_dialogs.size());
    return c;
}

QStringList Recorder::untoldSince(const Checkpoint &since)
{
    QStringList lines;
    const auto &msgs = m_ui->messages();
    for (int i = since.messages; i < msgs.size(); ++i)
        if (!m_toldMessages.contains(i)) {
            m_toldMessages.insert(i);
            lines << QStringLiteral("    -> message %1 %2")
                         .arg(RecordingHostUi::kindName(msgs[i].kind), quoted(msgs[i].text));
        }
    const auto calls = m_server->calls();
    for (int i = since.calls; i < calls.size(); ++i)
        if (!m_toldCalls.contains(i)) {
            m_toldCalls.insert(i);
            lines << QStringLiteral("    -> call %1 (%2 arguments)")
                         .arg(calls[i].method)
                         .arg(calls[i].args.size());
        }
    for (int i = since.dialogs; i < m_dialogs.size(); ++i)
        if (!m_toldDialogs.contains(i)) {
            m_toldDialogs.insert(i);
            lines << QStringLiteral("    -> dialog %1 opened").arg(m_dialogs[i]);
        }
    return lines;
}

} // namespace fis::scenario
