// The runner's life: the statement loop, failures and the transcript.
#include "runner_p.h"

namespace fis::scenario {

// ---- life ---------------------------------------------------------------------------------------

Runner::Runner(Script script, RunOptions options, QTextStream &out, QTextStream &err)
    : m_script(std::move(script)), m_options(std::move(options)), m_out(out), m_err(err)
{
    g_runner = this;
}

Runner::~Runner()
{
    if (m_server)
        m_server->stop();
    if (m_ui)
        m_ui->uninstall();
    qApp->removeEventFilter(this);
    g_runner = nullptr;
}

int Runner::run()
{
    try {
        prepare();
    } catch (const StepFailed &) {
        return m_exitCode;
    }
    QTimer::singleShot(0, this, &Runner::step);
    m_stepPosted = true;
    QCoreApplication::exec();
    m_out.flush();
    m_err.flush();
    return m_exitCode;
}

void Runner::prepare()
{
    m_ui = std::make_unique<RecordingHostUi>();
    m_ui->install();
    m_ui->onFailure = [this](const QString &text) {
        m_pendingFailures << QStringLiteral("%1\n%2").arg(m_currentLine).arg(text);
    };

    // The server: the script's last "server" statement, unless the command line names one.
    int firstAction = -1;
    for (int i = 0; i < m_script.statements.size(); ++i) {
        const Statement &st = m_script.statements[i];
        if (st.isAction() && firstAction < 0)
            firstAction = i;
        if (st.kind == StatementKind::Server) {
            if (firstAction >= 0) {
                m_current = &st;
                m_currentLine = st.line;
                reportFailure(&st, QStringLiteral("server"),
                              QStringLiteral("the server chosen before the first action"),
                              QStringLiteral("a server statement after it"));
                m_exitCode = 2;
                throw StepFailed{};
            }
            m_realServer = st.text == QLatin1String("fake") ? QString() : st.text;
        }
    }
    if (!m_options.server.isEmpty())
        m_realServer = m_options.server;

    m_server = std::make_unique<FakeAppServer>(QString::fromLatin1(rdmEmisGuiaPrv::kServerName));
    for (const rdmEmisGuiaPrv::MethodDecl &m : rdmEmisGuiaPrv::methods()) {
        QList<RpcParam> params;
        for (const rdmEmisGuiaPrv::ArgDecl &a : m.args)
            params.append(RpcParam{a.kind, a.byRef});
        m_server->declare(QString::fromLatin1(m.name), params);
    }
    QString token;
    for (const Statement &st : std::as_const(m_script.statements))
        if (st.kind == StatementKind::Login && st.settings.contains(QStringLiteral("Token")))
            token = st.settings.value(QStringLiteral("Token"));
    if (!m_realServer.isEmpty()) {
        const int colon = int(m_realServer.lastIndexOf(QLatin1Char(':')));
        m_server->setUpstream(m_realServer.left(colon), m_realServer.mid(colon + 1).toInt(), token);
    }
    m_server->onFailure = [this](const QString &text) {
        // Runs on a server thread while the module waits for the answer; only recorded here.
        Q_UNUSED(text);
    };
    if (!m_server->start()) {
        m_err << "fis-scenario: cannot start the fake application server: "
              << m_server->errorString() << Qt::endl;
        m_exitCode = 2;
        throw StepFailed{};
    }
    if (!m_tempDir.isValid()) {
        m_err << "fis-scenario: cannot create a temporary directory" << Qt::endl;
        m_exitCode = 2;
        throw StepFailed{};
    }
    m_databasePath = m_tempDir.filePath(QStringLiteral("host.sqlite"));
    if (!m_options.database.isEmpty()) {
        // As a "database" statement ahead of the script, which then keeps its own out.
        try {
            copyDatabase(QFileInfo(m_options.database).absoluteFilePath());
        } catch (const StepFailed &) {
            m_exitCode = 2;
            throw;
        }
    }
    applyLogin();
    qApp->installEventFilter(this);
    m_out << "# " << m_script.file << ": application server "
          << (m_realServer.isEmpty() ? QStringLiteral("fake")
                                     : QStringLiteral("%1 (through a recorder)").arg(m_realServer))
          << " at 127.0.0.1:" << m_server->port() << Qt::endl;
    if (!m_options.database.isEmpty())
        m_out << "# " << m_script.file << ": host database a copy of " << m_options.database
              << Qt::endl;
}

void Runner::postStep()
{
    if (m_stepPosted || m_finished)
        return;
    m_stepPosted = true;
    QTimer::singleShot(0, this, &Runner::step);
}

void Runner::step()
{
    m_stepPosted = false;
    if (m_finished)
        return;
    // Scheduled for a modal loop that has ended while the action that opened it is still
    // finishing: wait for that action to return.
    if (!m_actionLevels.isEmpty() &&
        QThread::currentThread()->loopLevel() <= m_actionLevels.last()) {
        // A dialog still being shown whose show handlers let events through (a progress window
        // over a call) before its loop starts: try again, in its loop.
        const QWidgetList windows = QApplication::topLevelWidgets();
        if (std::any_of(windows.begin(), windows.end(), [](const QWidget *w) {
                return qobject_cast<const QDialog *>(w) && w->isVisible() &&
                       w->testAttribute(Qt::WA_ShowModal);
            })) {
            m_stepPosted = true;
            QTimer::singleShot(0, this, &Runner::step);
            return;
        }
        m_deferred = true;
        return;
    }
    checkBackgroundFailures();
    if (m_finished)
        return;

    Statement st;
    if (!m_injected.isEmpty()) {
        st = m_injected.takeFirst();
    } else if (m_next < m_script.statements.size()) {
        st = m_script.statements[m_next++];
    } else {
        if (!m_actionLevels.isEmpty()) {
            QWidget *modal = QApplication::activeModalWidget();
            reportFailure(nullptr, QStringLiteral("the end of the script"),
                          QStringLiteral("every modal dialog closed"),
                          QStringLiteral("%1 still open").arg(describeWidget(modal)));
            finish(1);
            return;
        }
        m_out << "# " << m_script.file << ": every expectation held" << Qt::endl;
        finish(0);
        return;
    }

    const bool action = st.isAction();
    const Statement *previous = m_current;
    const int previousLine = m_currentLine;
    m_current = &st;
    m_currentLine = st.line;
    int actionIndex = -1;
    int entry = -1;
    if (action) {
        m_actionLevels.append(QThread::currentThread()->loopLevel());
        actionIndex = int(m_actions.size());
        m_actions.append(checkpoint(st.line));
        entry = logAction(st);
    }
    const int previousEntry = m_entry;
    m_entry = entry;
    try {
        execute(st);
    } catch (const StepFailed &) {
    } catch (const ScriptError &e) {
        reportFailure(&st, QStringLiteral("statement"), QString(), e.message());
        finish(1);
    } catch (const std::exception &e) {
        reportFailure(&st, QStringLiteral("statement"), QString(), QString::fromUtf8(e.what()));
        finish(1);
    }
    if (action) {
        if (!m_finished) {
            settle();
            // What the action caused, for the transcript. What happened inside a dialog it
            // opened is already told under the statements that ran there: each consequence is
            // told once, under the innermost action that was running.
            m_entry = entry;
            const Checkpoint before = m_actions[actionIndex];
            const auto &msgs = m_ui->messages();
            for (int i = before.messages; i < msgs.size(); ++i)
                if (!m_toldMessages.contains(i)) {
                    m_toldMessages.insert(i);
                    note(QStringLiteral("    -> message %1 %2")
                             .arg(RecordingHostUi::kindName(msgs[i].kind), quoted(msgs[i].text)));
                }
            const auto calls = m_server->calls();
            for (int i = before.calls; i < calls.size(); ++i)
                if (!m_toldCalls.contains(i)) {
                    m_toldCalls.insert(i);
                    note(QStringLiteral("    -> call %1 (%2 arguments)")
                             .arg(calls[i].method)
                             .arg(calls[i].args.size()));
                }
            for (int i = before.dialogs; i < m_dialogLog.size(); ++i)
                if (!m_toldDialogs.contains(i)) {
                    m_toldDialogs.insert(i);
                    note(QStringLiteral("    -> dialog %1 opened").arg(m_dialogLog[i]));
                }
        }
        m_actionLevels.removeLast();
        m_lastFinished = actionIndex;
        checkBackgroundFailures();
    }
    m_entry = previousEntry;
    m_current = previous;
    m_currentLine = previousLine;
    if (m_finished)
        return;
    if (m_deferred || !m_stepPosted) {
        m_deferred = false;
        m_stepPosted = false;
        postStep();
    }
}

void Runner::settle()
{
    // Let what the action posted (deferred focus moves, repaints, posted handlers) happen before
    // the next statement looks at the screen. A statement scheduled meanwhile waits (see step).
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

void Runner::finish(int code)
{
    if (m_finished)
        return;
    m_finished = true;
    m_exitCode = code;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows)
        if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible())
            dialog->reject();
    QCoreApplication::exit(code);
}

void Runner::checkBackgroundFailures()
{
    if (m_finished)
        return;
    QStringList failures = m_pendingFailures;
    m_pendingFailures.clear();
    for (const QString &f : m_server->takeFailures())
        failures << QStringLiteral("%1\n%2").arg(m_currentLine).arg(f);
    if (failures.isEmpty())
        return;
    const QString first = failures.first();
    const int nl = int(first.indexOf(QLatin1Char('\n')));
    const int line = first.left(nl).toInt();
    m_err << "FAILED " << m_script.file << ":" << line << ": " << first.mid(nl + 1) << Qt::endl;
    for (int i = 1; i < failures.size(); ++i)
        m_err << "  also: " << failures[i].mid(failures[i].indexOf(QLatin1Char('\n')) + 1)
              << Qt::endl;
    reportFailure(nullptr, QString(), QString(), QString());
    finish(1);
}

void Runner::reportFailure(const Statement *st, const QString &what, const QString &expected,
                           const QString &found)
{
    if (st) {
        m_err << "FAILED " << st->file << ":" << st->line << ": " << st->source << Qt::endl;
        if (!expected.isEmpty())
            m_err << "  expected: " << expected << Qt::endl;
        if (!found.isEmpty())
            m_err << "  found:    " << found << Qt::endl;
    } else if (!what.isEmpty()) {
        m_err << "FAILED " << m_script.file << ": " << what << Qt::endl;
        if (!expected.isEmpty())
            m_err << "  expected: " << expected << Qt::endl;
        if (!found.isEmpty())
            m_err << "  found:    " << found << Qt::endl;
    }
    const int tail = std::min<int>(m_options.transcriptTail, int(m_transcript.size()));
    m_err << "Last " << tail << " actions:" << Qt::endl;
    for (int i = int(m_transcript.size()) - tail; i < m_transcript.size(); ++i)
        m_err << m_transcript[i] << Qt::endl;
    m_err.flush();
}

void Runner::failNow(const QString &what, const QString &expected, const QString &found)
{
    reportFailure(m_current, what, expected, found);
    finish(1);
    throw StepFailed{};
}

// ---- transcript -------------------------------------------------------------------------------

int Runner::logAction(const Statement &st)
{
    const QString entry = QStringLiteral("  %1:%2  %3").arg(st.file).arg(st.line).arg(st.source);
    m_transcript.append(entry);
    m_out << entry << Qt::endl;
    return int(m_transcript.size()) - 1;
}

void Runner::note(const QString &line)
{
    if (m_entry < 0 || m_entry >= m_transcript.size()) {
        m_out << line << Qt::endl;
        return;
    }
    m_transcript[m_entry] += QLatin1Char('\n') + line;
    // An action that ends after others ran inside its dialog: say whose consequence this is.
    if (m_entry + 1 < m_transcript.size())
        m_out << line << "  (" << m_transcript[m_entry].section(QLatin1Char('\n'), 0, 0).trimmed()
              << ")" << Qt::endl;
    else
        m_out << line << Qt::endl;
}

Runner::Checkpoint Runner::checkpoint(int line) const
{
    Checkpoint c;
    c.line = line;
    c.messages = int(m_ui->messages().size());
    c.calls = m_server->callCount();
    c.requests = int(m_ui->requests().size());
    c.dialogs = int(m_dialogLog.size());
    return c;
}

const Runner::Checkpoint &Runner::lastAction() const
{
    // The action that ended last: after a dialog closed, that is the action that opened it.
    static const Checkpoint none;
    return m_lastFinished < 0 ? none : m_actions[m_lastFinished];
}

const Runner::Checkpoint *Runner::actionAt(int line) const
{
    for (int i = int(m_actions.size()) - 1; i >= 0; --i)
        if (m_actions[i].line == line)
            return &m_actions[i];
    return nullptr;
}

// ---- statements -------------------------------------------------------------------------------

void Runner::execute(const Statement &st)
{
    switch (st.kind) {
    case StatementKind::Login:
    case StatementKind::Server:
    case StatementKind::Database:
    case StatementKind::DbTable:
    case StatementKind::DbSql:
    case StatementKind::Table:
    case StatementKind::Reply:
        return executeSetup(st);
    case StatementKind::Answer:
        return executeAnswer(st);
    case StatementKind::Note:
        m_out << "  # " << st.text << Qt::endl;
        return;
    case StatementKind::Expect:
        executeExpect(st);
        m_out << "  ok " << st.file << ":" << st.line << "  " << st.source << Qt::endl;
        return;
    default:
        return executeAction(st);
    }
}

} // namespace fis::scenario
