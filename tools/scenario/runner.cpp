// The statement loop: set-up, one statement at a time from the event loop (inside modal dialogs
// too), the transcript of each action, and the failure that ends the run.
#include "runner.h"

#include "dialogs.h"
#include "failure.h"
#include "finder.h"
#include "host.h"
#include "statements.h"
#include "transcript.h"

#include "data/packet.h"
#include "testkit/fakeappserver.h"
#include "testkit/recordinghostui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

#include <algorithm>

namespace fis::scenario {

namespace {

// Ends the set-up with the exit code already chosen.
struct SetupFailed
{
};

FieldType fieldType(ColumnType t)
{
    switch (t) {
    case ColumnType::String:
        return FieldType::String;
    case ColumnType::Fixed:
        return FieldType::FixedString;
    case ColumnType::Float:
        return FieldType::Float;
    case ColumnType::Date:
        return FieldType::DateTime;
    }
    return FieldType::String;
}

} // namespace

Runner::Runner(Script script, RunOptions options, QTextStream &out, QTextStream &err)
    : m_script(std::move(script)), m_options(std::move(options)), m_out(out), m_err(err),
      m_host(std::make_unique<ScenarioHost>(m_options.modulePath, m_options.moduleDir,
                                            m_script.baseDir)),
      m_dialogs(std::make_unique<DialogDriver>(m_recorder)),
      m_transcript(std::make_unique<Transcript>(m_out))
{
    m_dialogs->onDialogShown = [this] { postStep(); };
}

Runner::~Runner()
{
    m_recorder.stop();
}

int Runner::run()
{
    try {
        prepare();
    } catch (const SetupFailed &) {
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
    // The server: the script's last "server" statement, unless the command line names one.
    int firstAction = -1;
    for (int i = 0; i < m_script.statements.size(); ++i) {
        const Statement &st = m_script.statements[i];
        if (st.isAction() && firstAction < 0)
            firstAction = i;
        if (st.kind == StatementKind::Server) {
            if (firstAction >= 0) {
                reportFailure(&st, QStringLiteral("server"),
                              QStringLiteral("the server chosen before the first action"),
                              QStringLiteral("a server statement after it"));
                m_exitCode = 2;
                throw SetupFailed{};
            }
            m_realServer = st.text == QLatin1String("fake") ? QString() : st.text;
        }
    }
    if (!m_options.server.isEmpty())
        m_realServer = m_options.server;

    QString token;
    for (const Statement &st : std::as_const(m_script.statements))
        if (st.kind == StatementKind::Login && st.settings.contains(QStringLiteral("Token")))
            token = st.settings.value(QStringLiteral("Token"));
    QString error;
    if (!m_recorder.start(m_realServer, token, &error)) {
        m_err << "fis-scenario: cannot start the fake application server: " << error << Qt::endl;
        m_exitCode = 2;
        throw SetupFailed{};
    }
    m_recorder.ui().onFailure = [this](const QString &text) {
        m_pendingFailures << QStringLiteral("%1\n%2").arg(m_currentLine).arg(text);
    };
    if (!m_host->hasTempDir()) {
        m_err << "fis-scenario: cannot create a temporary directory" << Qt::endl;
        m_exitCode = 2;
        throw SetupFailed{};
    }
    if (!m_options.database.isEmpty()) {
        // As a "database" statement ahead of the script, which then keeps its own out.
        try {
            m_host->copyDatabase(QFileInfo(m_options.database).absoluteFilePath());
        } catch (const Failure &f) {
            reportFailure(nullptr, f.what, f.expected, f.found);
            m_exitCode = 2;
            throw SetupFailed{};
        }
    }
    m_host->setServerAddress(server().host(), server().port());
    m_host->applyLogin();
    m_dialogs->install();
    m_out << "# " << m_script.file << ": application server "
          << (m_realServer.isEmpty() ? QStringLiteral("fake")
                                     : QStringLiteral("%1 (through a recorder)").arg(m_realServer))
          << " at 127.0.0.1:" << server().port() << Qt::endl;
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
    if (m_dialogs->loopEnded()) {
        // A dialog still being shown: try again, in its loop.
        if (DialogDriver::dialogBeingShown()) {
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
    if (!m_dialogs->takeInjected(st)) {
        if (m_next < m_script.statements.size()) {
            st = m_script.statements[m_next++];
        } else {
            if (m_dialogs->actionRunning()) {
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
    }

    const bool action = st.isAction();
    const Statement *previous = m_current;
    const int previousLine = m_currentLine;
    m_current = &st;
    m_currentLine = st.line;
    int index = -1;
    if (action) {
        m_dialogs->actionStarted();
        index = m_transcript->beginAction(st, m_recorder.checkpoint(st.line));
    }
    const int previousEntry = m_transcript->entry();
    m_transcript->setEntry(index);
    try {
        execute(st);
    } catch (const Failure &f) {
        reportFailure(&st, f.what, f.expected, f.found);
        finish(1);
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
            tellConsequences(index);
        }
        m_dialogs->actionEnded();
        m_transcript->endAction(index);
        checkBackgroundFailures();
    }
    m_transcript->setEntry(previousEntry);
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

void Runner::execute(const Statement &st)
{
    st.form->run(*this, st);
    if (st.form->role == Role::Expectation)
        m_out << "  ok " << st.file << ":" << st.line << "  " << st.source << Qt::endl;
}

void Runner::tellConsequences(int action)
{
    // What the action caused, for the transcript. What happened inside a dialog it opened is
    // already told under the statements that ran there: each consequence is told once, under the
    // innermost action that was running.
    m_transcript->setEntry(action);
    for (const QString &line : m_recorder.untoldSince(m_transcript->action(action)))
        note(line);
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
    for (const QString &f : server().takeFailures())
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
    const QStringList tail = m_transcript->tail(m_options.transcriptTail);
    m_err << "Last " << tail.size() << " actions:" << Qt::endl;
    for (const QString &entry : tail)
        m_err << entry << Qt::endl;
    m_err.flush();
}

void Runner::note(const QString &line)
{
    m_transcript->note(line);
}

Checkpoint Runner::since(int line) const
{
    if (line == 0)
        return m_transcript->lastAction();
    const Checkpoint *c = m_transcript->actionAt(line);
    if (!c)
        fail(QStringLiteral("since"), QStringLiteral("line %1 to be an action that ran").arg(line),
             QStringLiteral("no action ran at line %1").arg(line));
    return *c;
}

DataPacket Runner::packetOf(const InlineTable &table) const
{
    QList<PacketField> fields;
    for (const TableColumn &c : table.columns)
        fields.append(PacketField{c.name, fieldType(c.type), c.size});
    try {
        return buildPacket(fields, table.rows);
    } catch (const std::exception &e) {
        throw ScriptError(m_current ? m_current->file : m_script.file, table.line,
                          QStringLiteral("the table cannot be made a packet: %1")
                              .arg(QString::fromUtf8(e.what())));
    }
}

DataPacket Runner::namedPacket(const QString &name) const
{
    if (!m_tables.contains(name))
        throw ScriptError(
            m_current->file, m_current->line,
            QStringLiteral("no table named %1 was defined before this line").arg(name));
    return packetOf(m_tables.value(name));
}

} // namespace fis::scenario
