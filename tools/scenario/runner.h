#pragma once
// Runs a scenario script against the real module: a small host (main window with an MDI area,
// the module's form factory), the recording HostUi, a fake application server (or a recording
// proxy in front of a real one), the login values and a host database made for the script.
//
// Statements run one at a time from the event loop. An action that opens a modal dialog does not
// return until the dialog closes, so the statements after it run inside the dialog's own event
// loop: the dialog's showing schedules the next statement, and a statement that finds the modal
// loop it was scheduled for gone waits until the action that opened it has returned.
#include "script.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QLibrary;
class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QAction;
class QTextStream;
class QWidget;

namespace fis {
class ScreenWorkspace;
class FakeAppServer;
class RecordingHostUi;
} // namespace fis

namespace fis::scenario {

struct RunOptions
{
    QString server;     // "host:port" of a real server (overrides the script), empty = script's
    QString moduleDir;  // where libPKG_FIS02900.so is; empty = beside the executable
    QString modulePath; // the module file itself (overrides moduleDir)
    QString database;   // SQLite file the host database copies (overrides the script's)
    int transcriptTail = 20;
};

class Runner : public QObject
{
    Q_OBJECT
public:
    Runner(Script script, RunOptions options, QTextStream &out, QTextStream &err);
    ~Runner() override;

    // Runs the whole script in the application's event loop; returns the exit code: 0 when every
    // expectation held, 1 at the first one that failed (or an action that could not be done).
    int run();

    // For the host's form factory.
    QWidget *createForm(const void *request);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Failure;
    struct Checkpoint
    {
        int line = 0;
        int messages = 0;
        int calls = 0;
        int requests = 0;
        int dialogs = 0;
    };

    void step();
    void postStep();
    void execute(const Statement &st);
    void executeSetup(const Statement &st);
    void executeAction(const Statement &st);
    void executeAnswer(const Statement &st);
    void executeExpect(const Statement &st);
    void finish(int code);
    [[noreturn]] void failNow(const QString &what, const QString &expected, const QString &found);
    void reportFailure(const Statement *st, const QString &what, const QString &expected,
                       const QString &found);
    void checkBackgroundFailures();
    void settle();

    // setup
    void prepare();
    void ensureModule();
    void ensureDatabase();
    void applyLogin();
    QString resolvePath(const QString &path) const;
    DataPacket packetOf(const InlineTable &table) const;
    DataPacket namedPacket(const QString &name) const;
    void copyDatabase(const QString &source); // the host database becomes a copy of source
    qint64 countOnHostDatabase(const QString &sql);

    // finding things
    QObject *findObject(const QString &name) const;
    QWidget *findWidget(const QString &name) const;
    QList<QWidget *> searchRoots() const;
    QString windowNames() const; // the visible windows, for failures
    void focusWidget(QWidget *w);
    QWidget *nextInTabOrder(QWidget *from) const;
    int gridColumn(QWidget *grid, const QString &field, QString *fields) const;
    QString controlText(QObject *o, bool display) const;

    // transcript
    int logAction(const Statement &st); // its transcript entry
    void note(const QString &line);
    Checkpoint checkpoint(int line) const;
    const Checkpoint &lastAction() const;
    const Checkpoint *actionAt(int line) const;

    Script m_script;
    RunOptions m_options;
    QTextStream &m_out;
    QTextStream &m_err;

    std::unique_ptr<RecordingHostUi> m_ui;
    std::unique_ptr<FakeAppServer> m_server;
    QString m_realServer; // host:port, empty = fake only
    QTemporaryDir m_tempDir;
    QString m_databasePath;
    bool m_databaseUsed = false;
    bool m_databaseOpen = false;
    bool m_moduleLoaded = false;
    QLibrary *m_library = nullptr;
    QPointer<QMainWindow> m_mainWindow;
    QPointer<QMdiArea> m_mdi;
    QPointer<ScreenWorkspace> m_workspace; // frames and menu merging, as in the real host
    QMap<QString, QString> m_login;
    QMap<QString, InlineTable> m_tables;

    int m_next = 0;
    QList<Statement> m_injected; // actions queued for a dialog that opened ("answer dialog")
    QList<std::pair<QString, std::shared_ptr<Statement>>> m_dialogAnswers;
    QList<int> m_actionLevels; // loop level at the start of each running action
    bool m_stepPosted = false;
    bool m_deferred = false;
    bool m_finished = false;
    int m_exitCode = 0;
    const Statement *m_current = nullptr;
    int m_currentLine = 0;

    QList<Checkpoint> m_actions; // one per action run, in order
    int m_lastFinished = -1;     // the action that ended last
    int m_entry = -1;            // transcript entry of the running action
    QStringList m_dialogLog;     // objectNames of modal dialogs that opened, in order
    QList<int> m_dialogLines;    // the action line each opened during
    QSet<int> m_toldMessages;    // consequences already in the transcript, by index
    QSet<int> m_toldCalls;
    QSet<int> m_toldDialogs;
    QStringList m_pendingFailures; // from the HostUi / server, with their line
    bool m_lastResult = false;
    bool m_haveResult = false;
    QStringList m_transcript; // action entries (each possibly several lines)
};

} // namespace fis::scenario
