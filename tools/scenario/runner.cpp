#include "runner.h"

#include "app/screenworkspace.h"
#include "data/dataset.h"
#include "data/packet.h"
#include "framework/hostdatabase.h"
#include "framework/quorvin.h"
#include "module/packageprotocol.h"
#include "services/rdmEmisGuiaPrv.h"
#include "testkit/fakeappserver.h"
#include "testkit/recordinghostui.h"
#include "widgets/errorguard.h"
#include "widgets/maskedit.h"

#if __has_include("widgets/dbgrid.h")
#include "widgets/dbgrid.h"
#define FIS_SCENARIO_HAVE_DBGRID 1
#endif

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace fis::scenario {

namespace {

// Thrown to end the statement that failed; the failure is already reported.
struct StepFailed
{
};

const QString kModuleFile = QStringLiteral("libPKG_FIS02900.so");
const QString kDefaultDate = QStringLiteral("02/01/2026");

Runner *g_runner = nullptr;

QWidget *formFactory(const FisFormRequest *request)
{
    return g_runner ? g_runner->createForm(request) : nullptr;
}

QString stripMnemonic(QString text)
{
    const int tab = int(text.indexOf(QLatin1Char('\t')));
    if (tab >= 0)
        text.truncate(tab);
    text.remove(QLatin1Char('&'));
    return text.trimmed();
}

QString describeWidget(const QWidget *w)
{
    if (!w)
        return QStringLiteral("nothing");
    if (!w->objectName().isEmpty())
        return w->objectName();
    return QStringLiteral("an unnamed %1").arg(QString::fromLatin1(w->metaObject()->className()));
}

// The named control that stands for w: w itself, or its nearest named ancestor (the inner
// editor of a grid, the line edit of a combo).
QWidget *namedOwner(QWidget *w)
{
    while (w && w->objectName().isEmpty() && !w->isWindow())
        w = w->parentWidget();
    return w;
}

QString quoted(const QString &s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

QString sqlType(const TableColumn &c)
{
    switch (c.type) {
    case ColumnType::String:
        return QStringLiteral("VARCHAR(%1)").arg(c.size > 0 ? c.size : kDefaultStringSize);
    case ColumnType::Fixed:
        return QStringLiteral("CHAR(%1)").arg(c.size);
    case ColumnType::Float:
        return QStringLiteral("DOUBLE PRECISION");
    case ColumnType::Date:
        return QStringLiteral("DATE");
    }
    return QString();
}

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

// SQL statements of a block, split at the semicolons outside quotes.
QStringList splitSql(const QString &text)
{
    QStringList out;
    QString current;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (c == QLatin1Char(';') && !quoted) {
            if (!current.trimmed().isEmpty())
                out << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        out << current.trimmed();
    return out;
}

} // namespace

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

QString Runner::resolvePath(const QString &path) const
{
    if (QFileInfo(path).isAbsolute())
        return path;
    QString base = QDir::currentPath();
    if (!m_script.baseDir.isEmpty())
        base = m_script.baseDir;
    return QDir(base).absoluteFilePath(path);
}

void Runner::applyLogin()
{
    LoginValues v;
    v.filiProc = m_login.value(QStringLiteral("FiliProc"), QStringLiteral("0001"));
    v.dataProc = *parseDateLiteral(m_login.value(QStringLiteral("DataProc"), kDefaultDate));
    for (auto it = m_login.cbegin(); it != m_login.cend(); ++it)
        if (it.key().startsWith(QLatin1String("DataProc@")))
            v.branchDates.insert(it.key().mid(9), *parseDateLiteral(it.value()));
    v.nomeOperador = m_login.value(QStringLiteral("NomeOperador"), QStringLiteral("TESTE"));
    const QString reports = m_login.value(QStringLiteral("ReportDir"));
    if (!reports.isEmpty())
        v.reportDir = resolvePath(reports);
    else
        v.reportDir = QDir(QCoreApplication::applicationDirPath())
                          .absoluteFilePath(QStringLiteral("reports"));
    v.webUrl = m_server ? m_server->host() : QStringLiteral("127.0.0.1");
    v.webPort = m_server ? m_server->port() : 0;
    // The module talks to the recorder; the recorder carries the token to a real server.
    v.authToken = QString();
    Quorvin::setLogin(v);
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

void Runner::copyDatabase(const QString &source)
{
    if (!QFileInfo::exists(source))
        failNow(QStringLiteral("database"), QStringLiteral("an existing SQLite file"),
                QStringLiteral("no file %1").arg(source));
    // The script works on a copy: whatever the run does, the file stays as it was.
    QFile::remove(m_databasePath);
    if (!QFile::copy(source, m_databasePath))
        failNow(QStringLiteral("database"), QStringLiteral("a readable SQLite file"),
                QStringLiteral("%1 cannot be copied").arg(source));
    QFile::setPermissions(m_databasePath, QFile::ReadOwner | QFile::WriteOwner);
    // A database in WAL mode keeps its latest writes beside the file: they belong to it.
    const QString wal = m_databasePath + QStringLiteral("-wal");
    QFile::remove(wal);
    QFile::remove(m_databasePath + QStringLiteral("-shm"));
    if (QFileInfo::exists(source + QStringLiteral("-wal")) &&
        !QFile::copy(source + QStringLiteral("-wal"), wal))
        failNow(QStringLiteral("database"), QStringLiteral("a readable SQLite file"),
                QStringLiteral("%1-wal cannot be copied").arg(source));
    m_databaseUsed = true;
    if (m_databaseOpen)
        HostDatabase::open(m_databasePath);
}

void Runner::executeSetup(const Statement &st)
{
    switch (st.kind) {
    case StatementKind::Login:
        for (auto it = st.settings.cbegin(); it != st.settings.cend(); ++it)
            m_login.insert(it.key(), it.value());
        applyLogin();
        return;
    case StatementKind::Server:
        return; // chosen before the run starts
    case StatementKind::Table:
        m_tables.insert(st.table->name, *st.table);
        return;
    case StatementKind::Reply: {
        FakeAppServer::Answer answer;
        answer.isError = st.reply.isError;
        answer.errorText = st.reply.errorText;
        answer.outputs = st.reply.outputs;
        if (st.reply.table)
            answer.result = makePacket(packetOf(*st.reply.table));
        else if (!st.reply.packetName.isEmpty())
            answer.result = makePacket(namedPacket(st.reply.packetName));
        else
            answer.result = st.reply.result;
        if (st.reply.once)
            m_server->queueAnswer(st.target, answer);
        else
            m_server->setDefaultAnswer(st.target, answer);
        return;
    }
    case StatementKind::Database: {
        if (!m_options.database.isEmpty()) {
            m_out << "  # " << st.file << ":" << st.line << "  " << st.source
                  << ": the database of the command line is used instead" << Qt::endl;
            return;
        }
        if (m_databaseUsed)
            failNow(QStringLiteral("database"),
                    QStringLiteral("the database file named before any inline table or SQL"),
                    QStringLiteral("the host database already written"));
        copyDatabase(resolvePath(st.text));
        return;
    }
    case StatementKind::DbTable:
    case StatementKind::DbSql: {
        m_databaseUsed = true;
        const QString connection = QStringLiteral("fis_scenario_setup");
        QString error;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(m_databasePath);
            if (!db.open()) {
                error = db.lastError().text();
            } else {
                QSqlQuery q(db);
                QStringList statements;
                if (st.kind == StatementKind::DbSql) {
                    statements = splitSql(st.text);
                } else {
                    QStringList cols;
                    for (const TableColumn &c : st.table->columns)
                        cols << c.name + QLatin1Char(' ') + sqlType(c);
                    statements << QStringLiteral("CREATE TABLE %1 (%2)")
                                      .arg(st.table->name, cols.join(QStringLiteral(", ")));
                }
                db.transaction();
                for (const QString &sql : std::as_const(statements)) {
                    if (!q.exec(sql)) {
                        error = QStringLiteral("%1: %2").arg(sql, q.lastError().text());
                        break;
                    }
                }
                if (error.isEmpty() && st.kind == StatementKind::DbTable) {
                    QStringList marks;
                    for (qsizetype i = 0; i < st.table->columns.size(); ++i)
                        marks << QStringLiteral("?");
                    q.prepare(QStringLiteral("INSERT INTO %1 VALUES (%2)")
                                  .arg(st.table->name, marks.join(QStringLiteral(", "))));
                    for (const QVariantList &row : st.table->rows) {
                        for (int i = 0; i < row.size(); ++i) {
                            const Variant &v = row[i];
                            if (kindOf(v) == VariantKind::Date)
                                q.bindValue(i, v.value<TDateTime>().toDate());
                            else if (kindOf(v) == VariantKind::Null)
                                q.bindValue(i, QVariant());
                            else
                                q.bindValue(i, v);
                        }
                        if (!q.exec()) {
                            error = q.lastError().text();
                            break;
                        }
                    }
                }
                if (error.isEmpty())
                    db.commit();
                else
                    db.rollback();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        if (!error.isEmpty())
            failNow(QStringLiteral("database"), QStringLiteral("the statements to run"), error);
        return;
    }
    default:
        return;
    }
}

void Runner::executeAnswer(const Statement &st)
{
    switch (st.answerKind) {
    case AnswerKind::PickRow:
        m_ui->queuePickRow(st.number);
        return;
    case AnswerKind::PickValue:
        m_ui->queuePickValue(st.field, st.value);
        return;
    case AnswerKind::PickCancel:
        m_ui->queuePickCancel();
        return;
    case AnswerKind::FindValue:
        m_ui->queueFindValue(st.field, st.value);
        return;
    case AnswerKind::FindCancel:
        m_ui->queueFindCancel();
        return;
    case AnswerKind::IntegrationSame:
        m_ui->queueIntegrationSame();
        return;
    case AnswerKind::IntegrationCancel:
        m_ui->queueIntegrationCancel();
        return;
    case AnswerKind::IntegrationPacket:
        m_ui->queueIntegration(st.table ? packetOf(*st.table) : namedPacket(st.target));
        return;
    case AnswerKind::Confirm:
        m_ui->queueConfirmation(st.flag);
        return;
    case AnswerKind::Dialog:
        m_dialogAnswers.append({st.target, st.nested});
        return;
    }
}

qint64 Runner::countOnHostDatabase(const QString &sql)
{
    // Read-only: an expectation looks at the data, it never changes it.
    const QString connection = QStringLiteral("fis_scenario_count");
    QString error;
    qint64 count = -1;
    if (!QFileInfo::exists(m_databasePath)) {
        error = QStringLiteral("the host database is still empty (no database statement ran)");
    } else {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(m_databasePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            try {
                HostDatabase::installNvl(db); // as the screens' own statements have it
                QSqlQuery q(db);
                q.setForwardOnly(true);
                if (!q.exec(sql)) {
                    error = q.lastError().text();
                } else if (q.record().count() != 1) {
                    error = QStringLiteral("the query gives %1 columns, not one count")
                                .arg(q.record().count());
                } else if (!q.next()) {
                    error = QStringLiteral("the query gives no row");
                } else {
                    bool ok = false;
                    const QVariant v = q.value(0);
                    count = v.toLongLong(&ok);
                    // A count is a whole number: 2.5 is not rounded into one.
                    if (ok && v.typeId() == QMetaType::Double && v.toDouble() != double(count))
                        ok = false;
                    if (v.isNull() || !ok || count < 0)
                        error =
                            QStringLiteral("the query gives %1, not a count")
                                .arg(v.isNull() ? QStringLiteral("null") : quoted(v.toString()));
                    else if (q.next())
                        error = QStringLiteral("the query gives more than one row");
                }
            } catch (const std::exception &e) {
                error = QString::fromUtf8(e.what());
            }
            db.close();
        }
        db = QSqlDatabase();
    }
    QSqlDatabase::removeDatabase(connection);
    if (!error.isEmpty())
        failNow(QStringLiteral("records"), QStringLiteral("a count from the host database"), error);
    return count;
}

// ---- the module and its host ------------------------------------------------------------------

void Runner::ensureDatabase()
{
    if (m_databaseOpen)
        return;
    if (!QFileInfo::exists(m_databasePath)) {
        // A fresh, empty database: the screens find no lookup rows unless the script gives some.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("fis_scenario_create"));
        db.setDatabaseName(m_databasePath);
        db.open();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("fis_scenario_create"));
    }
    try {
        HostDatabase::open(m_databasePath);
    } catch (const std::exception &e) {
        failNow(QStringLiteral("host database"), QStringLiteral("the script's database open"),
                QString::fromUtf8(e.what()));
    }
    m_databaseOpen = true;
}

void Runner::ensureModule()
{
    if (m_moduleLoaded)
        return;
    ensureDatabase();
    QString path = m_options.modulePath;
    if (path.isEmpty()) {
        const QString dir = m_options.moduleDir.isEmpty() ? QCoreApplication::applicationDirPath()
                                                          : m_options.moduleDir;
        path = QDir(dir).absoluteFilePath(kModuleFile);
    }
    m_library = new QLibrary(path, this);
    if (!m_library->load())
        failNow(QStringLiteral("module"), QStringLiteral("the module loaded from ") + path,
                m_library->errorString());

    auto *window = new QMainWindow;
    window->setObjectName(QStringLiteral("frmPrincipal"));
    window->setWindowTitle(QStringLiteral("fis-scenario"));
    auto *mdi = new QMdiArea(window);
    mdi->setObjectName(QStringLiteral("mdiArea"));
    window->setCentralWidget(mdi);
    window->menuBar()->setObjectName(QStringLiteral("mnuPrincipal"));
    window->resize(1024, 700);
    window->show();
    QApplication::setActiveWindow(window);
    m_mainWindow = window;
    m_mdi = mdi;
    m_workspace = new ScreenWorkspace(window, mdi, this);

    if (auto setFactory =
            reinterpret_cast<FisSetFormFactoryFunc>(m_library->resolve("SetFormFactory")))
        setFactory(&formFactory);
    if (auto init = reinterpret_cast<FisProc>(m_library->resolve("Initialize")))
        init();
    m_moduleLoaded = true;
}

QWidget *Runner::createForm(const void *requestPtr)
{
    const auto *request = static_cast<const FisFormRequest *>(requestPtr);
    return request && m_workspace ? m_workspace->createForm(*request) : nullptr;
}

bool Runner::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *w = static_cast<QWidget *>(watched);
        if (w->isWindow() && qobject_cast<QDialog *>(w) && w->isModal()) {
            const QString name = describeWidget(w);
            m_dialogLog.append(name);
            m_dialogLines.append(m_currentLine);
            for (int i = 0; i < m_dialogAnswers.size(); ++i) {
                if (m_dialogAnswers[i].first == w->objectName()) {
                    m_injected.append(*m_dialogAnswers[i].second);
                    m_dialogAnswers.removeAt(i);
                    break;
                }
            }
            // The action that opened it waits in the dialog's event loop: go on with the script
            // there.
            if (!m_actionLevels.isEmpty())
                postStep();
        }
    }
    return QObject::eventFilter(watched, event);
}

// ---- finding controls -------------------------------------------------------------------------

QList<QWidget *> Runner::searchRoots() const
{
    // The modal dialog first, then the active window, then every other window.
    QList<QWidget *> roots;
    if (QWidget *modal = QApplication::activeModalWidget())
        roots << modal;
    if (QWidget *active = QApplication::activeWindow(); active && !roots.contains(active))
        roots << active;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (!roots.contains(w))
            roots << w;
    return roots;
}

QString Runner::windowNames() const
{
    QStringList names;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible()) {
            QStringList inner;
            for (QMdiSubWindow *sub : w->findChildren<QMdiSubWindow *>())
                inner << describeWidget(sub) + QStringLiteral(" > ") +
                             describeWidget(sub->widget());
            names << describeWidget(w) + (inner.isEmpty() ? QString()
                                                          : QStringLiteral(" [") +
                                                                inner.join(QStringLiteral(", ")) +
                                                                QLatin1Char(']'));
        }
    return QStringLiteral("windows: ") + names.join(QStringLiteral("; "));
}

QObject *Runner::findObject(const QString &name) const
{
    // "window.control" narrows the search to one window (or any named container).
    QString scope;
    QString leaf = name;
    const int dot = int(name.lastIndexOf(QLatin1Char('.')));
    if (dot > 0) {
        scope = name.left(dot);
        leaf = name.mid(dot + 1);
    }
    QList<QObject *> candidates;
    for (QWidget *root : searchRoots()) {
        QObject *base = root;
        if (!scope.isEmpty()) {
            base = root->objectName() == scope ? root : root->findChild<QObject *>(scope);
            if (!base)
                continue;
        }
        if (base->objectName() == leaf)
            candidates << base;
        for (QObject *o : base->findChildren<QObject *>(leaf))
            if (!candidates.contains(o))
                candidates << o;
    }
    if (candidates.isEmpty())
        return nullptr;
    // Prefer what the clerk can see.
    for (QObject *o : candidates)
        if (auto *w = qobject_cast<QWidget *>(o); w && w->isVisible())
            return o;
    return candidates.first();
}

QWidget *Runner::findWidget(const QString &name) const
{
    QObject *o = findObject(name);
    if (!o)
        const_cast<Runner *>(this)->failNow(
            name, QStringLiteral("a control named ") + name,
            QStringLiteral("no such control in any window (%1)").arg(windowNames()));
    auto *w = qobject_cast<QWidget *>(o);
    if (!w)
        const_cast<Runner *>(this)->failNow(
            name, QStringLiteral("a control named ") + name,
            QStringLiteral("%1 is a %2, not a control")
                .arg(name, QString::fromLatin1(o->metaObject()->className())));
    return w;
}

void Runner::focusWidget(QWidget *w)
{
    if (!w->isVisible())
        failNow(w->objectName(), w->objectName() + QStringLiteral(" visible to take the focus"),
                QStringLiteral("it is hidden"));
    if (!w->isEnabled())
        failNow(w->objectName(), w->objectName() + QStringLiteral(" enabled to take the focus"),
                QStringLiteral("it is disabled"));
    QWidget *target = w->focusProxy() ? w->focusProxy() : w;
    if (target->focusPolicy() == Qt::NoFocus)
        failNow(w->objectName(), w->objectName() + QStringLiteral(" able to take the focus"),
                QStringLiteral("it never takes the focus"));
    QWidget *window = w->window();
    if (QApplication::activeWindow() != window) {
        window->activateWindow();
        QApplication::setActiveWindow(window);
    }
    w->setFocus(Qt::OtherFocusReason);
}

QWidget *Runner::nextInTabOrder(QWidget *from) const
{
    QWidget *window = from->window();
    QWidget *w = from->nextInFocusChain();
    while (w && w != from) {
        if (w->window() == window && !from->isAncestorOf(w) && w->isVisible() && w->isEnabled() &&
            (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
            return w;
        w = w->nextInFocusChain();
    }
    return nullptr;
}

int Runner::gridColumn(QWidget *gridWidget, const QString &field, QString *fields) const
{
    auto *view = qobject_cast<QTableView *>(gridWidget);
    if (!view || !view->model())
        return -1;
#ifdef FIS_SCENARIO_HAVE_DBGRID
    if (auto *grid = qobject_cast<DBGrid *>(gridWidget)) {
        QStringList names;
        for (int i = 0; i < grid->columnCount(); ++i) {
            const QString name = grid->column(i)->fieldName();
            names << name;
            if (name.compare(field, Qt::CaseInsensitive) == 0) {
                if (fields)
                    *fields = names.join(QStringLiteral(", "));
                return i;
            }
        }
        if (fields)
            *fields = names.join(QStringLiteral(", "));
        return -1;
    }
#endif
    // A plain table view: its columns by title.
    QStringList names;
    const int columns = view->model()->columnCount();
    for (int i = 0; i < columns; ++i) {
        const QString title = view->model()->headerData(i, Qt::Horizontal).toString();
        names << title;
        if (title.compare(field, Qt::CaseInsensitive) == 0)
            return i;
    }
    if (fields)
        *fields = names.join(QStringLiteral(", "));
    return -1;
}

QString Runner::controlText(QObject *o, bool display) const
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
