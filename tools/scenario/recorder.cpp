// The recording HostUi, the recording server and the dialogs that opened (see recorder.h).
#include "recorder.h"

#include "failure.h"
#include "framework/frmdadosgerrel.h"
#include "framework/reportdesigner.h"
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
    watchReports();
    return true;
}

void Recorder::watchReports()
{
    m_watchingReports = true;
    m_previousChooser = TfrmDadosGerRel::setFileNameChooser(
        [this](QWidget *, const QString &caption, const QString &) {
            ReportOutput question{QStringLiteral("file"), QString(), caption, {}};
            if (m_fileAnswers.isEmpty()) {
                m_outputs.append(question);
                if (m_ui->onFailure)
                    m_ui->onFailure(QStringLiteral("a file name was asked for (%1) with no answer "
                                                   "queued (answer file ...)")
                                        .arg(quoted(caption)));
                return QString();
            }
            question.file = m_fileAnswers.takeFirst();
            m_outputs.append(question);
            return question.file;
        });
    TReportDesignerDialog::setOutputObserver(
        [this](const ReportPages &pages, const QString &kind, const QString &file) {
            ReportOutput output{kind, file, QString(), {}};
            for (const ReportPage &page : pages.pages)
                output.pages << page.text();
            m_outputs.append(output);
        });
}

const ReportOutput *Recorder::lastReportOutput() const
{
    for (qsizetype i = m_outputs.size() - 1; i >= 0; --i)
        if (m_outputs[i].kind != QLatin1String("file"))
            return &m_outputs[i];
    return nullptr;
}

void Recorder::stop()
{
    if (m_watchingReports) {
        m_watchingReports = false;
        TReportDesignerDialog::setOutputObserver(nullptr);
        TfrmDadosGerRel::setFileNameChooser(m_previousChooser);
    }
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
    c.outputs = int(m_outputs.size());
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
    for (int i = since.outputs; i < m_outputs.size(); ++i)
        if (!m_toldOutputs.contains(i)) {
            m_toldOutputs.insert(i);
            const ReportOutput &o = m_outputs[i];
            if (o.kind == QLatin1String("file"))
                lines << QStringLiteral("    -> file name asked (%1): %2")
                             .arg(quoted(o.caption),
                                  o.file.isEmpty() ? QStringLiteral("cancelled") : o.file);
            else
                lines << QStringLiteral("    -> report %1%2, %3 page(s)")
                             .arg(o.kind, o.file.isEmpty() ? QString() : QLatin1Char(' ') + o.file)
                             .arg(o.pages.size());
        }
    return lines;
}

} // namespace fis::scenario
