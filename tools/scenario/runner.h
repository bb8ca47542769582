#pragma once
// Runs a scenario script against the real module: the host (host.h), the recording HostUi and
// server (recorder.h), modal dialogs driven in place (dialogs.h) and the transcript
// (transcript.h). Statements run one at a time from the event loop; each runs through its row of
// the table of statements (statements.h), whose functions reach the run through this class.
#include "recorder.h"
#include "script.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QTextStream;

namespace fis::scenario {

class DialogDriver;
class ScenarioHost;
class Transcript;

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

    // ---- what the statements work with ----
    const RunOptions &options() const { return m_options; }
    QTextStream &out() { return m_out; }
    ScenarioHost &host() { return *m_host; }
    Recorder &recorder() { return m_recorder; }
    RecordingHostUi &ui() { return m_recorder.ui(); }
    FakeAppServer &server() { return m_recorder.server(); }
    DialogDriver &dialogs() { return *m_dialogs; }

    // Prints a line of the transcript under the running action.
    void note(const QString &line);
    // Lets what an action posted (deferred focus moves, repaints, posted handlers) happen.
    void settle();

    // The checkpoint of the action that ended last, or (line > 0) of the latest action that ran
    // at that line of the script; fails when no action ran there.
    Checkpoint since(int line) const;

    // Inline tables named by "table NAME", as data packets.
    void defineTable(const InlineTable &table) { m_tables.insert(table.name, table); }
    DataPacket packetOf(const InlineTable &table) const;
    DataPacket namedPacket(const QString &name) const;

    // The result of the last entry point called that has one.
    void setResult(bool result) { m_result = result; }
    std::optional<bool> result() const { return m_result; }

private:
    void prepare();
    void step();
    void postStep();
    void execute(const Statement &st);
    void tellConsequences(int action);
    void finish(int code);
    void reportFailure(const Statement *st, const QString &what, const QString &expected,
                       const QString &found);
    void checkBackgroundFailures();

    Script m_script;
    RunOptions m_options;
    QTextStream &m_out;
    QTextStream &m_err;

    Recorder m_recorder;
    std::unique_ptr<ScenarioHost> m_host;
    std::unique_ptr<DialogDriver> m_dialogs;
    std::unique_ptr<Transcript> m_transcript;
    QString m_realServer; // host:port, empty = fake only
    QMap<QString, InlineTable> m_tables;
    std::optional<bool> m_result;

    int m_next = 0;
    bool m_stepPosted = false;
    bool m_deferred = false;
    bool m_finished = false;
    int m_exitCode = 0;
    const Statement *m_current = nullptr;
    int m_currentLine = 0;
    QStringList m_pendingFailures; // from the HostUi, with their line
};

} // namespace fis::scenario
